// SPDX-License-Identifier: GPL-2.0-or-later
// engine.h - start-up of Wireshark's dissection engine for our tools that
// link libwireshark (dravik, lumo_judge), done once and the way rawshark
// does it, so that a filter rawshark accepts is accepted by them too.
//
// Messages of the library (and of the tool itself through EngineNote) go to
// standard error as "PROGRAM: TEXT" lines until EngineQuiet is called: once
// a tool answers on its standard output they are dropped, because standard
// error shares the requester's pipe and stray text there would land between
// (or inside) the answers. Main thread only.
#pragma once

// Initialises logging, message reporting, process policies, the
// configuration folders, wiretap and epan (with epan plugins, without
// wiretap plugins) and loads the preferences. Returns 1, or 0 after a note.
int EngineStart(const char* program, const char* argv0);

// Writes "PROGRAM: TEXT" and a line end to standard error unless quiet.
void EngineNote(const char* format, ...) __attribute__((format(printf, 1, 2)));

// From now on every message of the library and every EngineNote is dropped.
void EngineQuiet();
