// SPDX-License-Identifier: GPL-2.0-or-later
// metrics.h - lumo --headless's numbers for Prometheus: /metrics in the
// text exposition format, served by prometheus-cpp's pull exposer on its
// own threads. Every scrape reads the counters as they stand (a packet
// counts once its verdict has arrived), so a scrape equals the sum of the
// headless CSV's lines so far plus the interval in progress. The capture
// and the judges never wait for a scrape.
//
//   lumo_packets_total{filter,index}    packets each filter matched
//   lumo_bytes_total{filter,index}      their wire bytes
//   lumo_all_packets_total              every packet captured
//   lumo_all_bytes_total                their wire bytes
//   lumo_dropped_packets_total{where}   "kernel" and "interface"
//   lumo_judge_up                       1 while every judging process runs
//   lumo_filter_error{filter,index}     1 for a filter its judge refused
//
// Counters grow for the life of the process: headless lumo never rebuilds
// its pipeline. Main thread starts and stops it.
#pragma once

#include "filterset/filterset.h"
#include "platform/error.h"

// Serves /metrics on address:port (address "" means 127.0.0.1; an IPv6
// address may be given in brackets) for the filters entries[0..count) of
// the running pipeline. Returns 1, or 0 with the reason in err (a port in
// use, an address this machine does not have).
int MetricsStart(const char* address, int port, const FilterEntry* entries, int count, char* err);

// Stops serving; every scrape under way has ended when it returns. Harmless
// when not started. Call before the pipeline is released.
void MetricsStop();

// The exposition text a scrape gets now (what the exposer serves). Tests.
int MetricsText(char* out, int size);
