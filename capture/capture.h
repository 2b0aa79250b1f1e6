// capture.h - the source module "capture": interface discovery, the live
// capture thread with its capture filter, and the traffic dump file.
//
// The capture thread runs the library's capture loop; for every packet the
// handler stores it in the packet ring, writes it to every rawshark process
// (in that order, while the handler switch is on) and appends it to the dump
// file while one is open (whatever the switch says).
#pragma once

#include <cstdint>

#include "capture/interfaceinfo.h"
#include "pipeline/record.h"
#include "shell/settings.h"

struct pcap_pkthdr;

// ---------------------------------------------------------------- discovery
// UI thread.

// Lists the library's devices: fills table[0..max-1] (link type probed by an
// open, first IPv4 address and netmask), logs each device. Returns the number
// of devices listed (may exceed max), or -1 when the library fails.
int CaptureGetInterfaceList(int max, InterfaceInfo* table);

// 1 when filter compiles for interface name, 0 when it does not, -1 when the
// interface cannot be opened. Opens and closes the device.
int CaptureTestFilter(const char* name, const char* filter);

// ---------------------------------------------------------------- capture thread

// Starts the capture thread on the capture block (read once at its start).
// Returns 1 when the thread runs, 0 when it could not be started. UI thread.
int CaptureStartThread(const CaptureBlock* block);

// Breaks the capture loop and waits for the thread (at most 3000 ms).
// Returns 1 when it has ended or none ran, 0 on a time-out. UI thread.
int CaptureStopThread();

// Switches handing packets to the pipeline on or off. Switching off returns
// only after a handler call in progress has finished, so the pipeline may be
// torn down right after. UI thread.
void CapturePacketHandlerControl(int on);

// The data-link value of the running capture, or -1 when no capture is open.
int CaptureLinkType();

// ---------------------------------------------------------------- dump file

// Creates the dump file and writes its pcap header (snap length rule of the
// block, link type of the running capture). Returns 1, or 0 with the reason
// ("do not capture yet.", "fopen() error", "fwrite() error") in errorText
// (at least 256 bytes). UI thread.
int CaptureFileStart(const char* path, char* errorText, const CaptureBlock* block);

// Closes the dump file if one is open (flushing its records). Any thread.
void CaptureFileStop();

// Non-zero when the dump ended by itself because a record could not be
// written since the last CaptureFileStart; copies the reason into text
// (size bytes) when given. The main window polls it. UI thread.
int CaptureFileFailed(char* text, int size);

// ---------------------------------------------------------------- records

// The library's packet header as the 16-byte record header (the only place
// that converts).
void CaptureRecordFromPcap(const struct pcap_pkthdr* pcap, PacketRecordHeader* record);
