// SPDX-License-Identifier: GPL-2.0-or-later
// capture.h - the source module "capture": interface discovery, the live
// capture thread with its capture filter, and the traffic dump file.
//
// The capture thread runs the library's capture loop; for every packet the
// handler stores it in the packet ring, writes it to every rawshark process
// (in that order, while the handler switch is on) and appends it to the dump
// file while one is open (whatever the switch says).
//
// Guards (the only locks of the module): the handler switch waits for a
// handler call in progress; the capture handle is published and withdrawn
// under a lock that the stop's break-loop request takes too; the dump's
// append, start and close exclude each other.
#pragma once

#include <cstdint>

#include "capture/interfaceinfo.h"
#include "platform/error.h"
#include "pipeline/record.h"
#include "capture/captureblock.h"
#include "capture/pcaprecord.h"

struct pcap_pkthdr;

// ---------------------------------------------------------------- discovery
// UI thread.

// Lists the library's devices: fills table[0..max-1] (link type probed by an
// open, IPv4 address and netmask of the first address entry that is not
// link-layer, name and description cut to 255 characters), logs each device.
// Returns the number of devices listed (may exceed max), or -1 when the
// library fails. A hook set by CaptureSetInterfaceListHook answers instead.
int CaptureGetInterfaceList(int max, InterfaceInfo* table);

// Tests only: makes CaptureGetInterfaceList return hook(max, table) (for
// example 0 for "no interface", -1 for a library failure); nullptr restores
// the library's list. Call while no other thread lists interfaces.
using CaptureInterfaceListFn = int (*)(int max, InterfaceInfo* table);
void CaptureSetInterfaceListHook(CaptureInterfaceListFn hook);

// Opens and closes interface name as the capture thread will. Returns 1
// when it can capture there; else 0 with the library's reason in err and
// *denied 1 when the reason is a missing right (root, or the capabilities
// cap_net_raw and cap_net_admin). Any thread.
int CaptureProbe(const char* name, int* denied, char* err);

// 1 when filter compiles for interface name, 0 when it does not, -1 when the
// interface cannot be opened. Opens and closes the device.
int CaptureTestFilter(const char* name, const char* filter);

// ---------------------------------------------------------------- capture thread

// The snap length rule shared by the capture and the dump header:
// limitBytes when enableLimitBytes is on, else 65535. Any thread.
int CaptureSnapLength(const CaptureBlock* block);

// Starts the capture thread on a copy of the capture block (the caller's
// block need not outlive the call). Returns 1 when the thread runs, 0 when
// it could not be started: thread creation failed, a capture thread is
// already running, or an earlier thread whose stop timed out has not ended
// yet. UI thread.
int CaptureStartThread(const CaptureBlock* block);

// Breaks the capture loop and waits for the thread (at most 3000 ms). A
// thread that has not opened its interface yet is told not to. Returns 1
// when it has ended or none ran, 0 on a time-out (the thread is then
// reaped by a later CaptureStartThread once it has ended). UI thread.
int CaptureStopThread();

// Switches handing packets to the pipeline (ring, rawshark processes) on or
// off. Switching off returns only after a handler call in progress has
// finished, so the pipeline may be torn down right after. UI thread.
void CapturePacketHandlerControl(int on);

// The data-link value of the running capture, or -1 when no capture is open.
// Any thread.
int CaptureLinkType();

// The library's counters (pcap_stats) of the last capture that ended, taken
// by the capture thread just before it closed the interface. Returns 1 and
// fills the non-null outputs, or 0 when no capture has ended with counters
// since the last CaptureStartThread. UI thread.
int CaptureLastStats(uint64_t* received, uint64_t* dropped);

// ---------------------------------------------------------------- dump file

// Creates the dump file and writes its pcap header (snap length rule of the
// block, link type of the running capture); only then does the capture
// thread see it. A dump still open is closed first. Returns 1 with err
// emptied, or 0 with the reason ("do not capture yet.", "fopen() error",
// "fwrite() error") in err (no file is created for the first). UI thread.
int CaptureFileStart(const char* path, const CaptureBlock* block, char* err);

// Closes the dump file if one is open, writing its buffered records. Any
// thread.
void CaptureFileStop();

// Non-zero when, since the last CaptureFileStart, the dump ended by itself
// because a record could not be written (disk full, file size limit), or its
// last records could not be written at the close; the file then holds the
// header and every whole record that reached the disk, and nothing after
// them. Copies the reason ("fwrite() error") into err (emptied when the dump
// has not failed; nullptr allowed). The main window polls it. UI thread;
// never blocks on the dump.
int CaptureFileFailed(char* err);

// Records the capture thread has handed to the dump (buffered or written)
// since the last CaptureFileStart. Any thread; a test waits on it for the
// thread to have passed a packet.
uint64_t CaptureFileRecords();
