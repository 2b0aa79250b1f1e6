// SPDX-License-Identifier: GPL-2.0-or-later
// error.h - the one way an operation hands the reason of a failure to its
// caller: a text buffer of kErrorLen bytes that the caller owns, passed as
// the operation's last parameter (`char* err`) and filled through ErrorSet.
//
//   char err[kErrorLen];
//   if (!OfflineExportRead(ex, args, err)) ShowBox(err);
//
// An operation that does not fail leaves err as it was unless its contract
// says it empties it. A caller that has no use for the reason passes nullptr.
// The texts are fixed, user-visible strings: message boxes show them, the
// export prints them, tests compare them.
#pragma once

#include "platform/platform.h"

// Size of an error text, NUL included: room for a path and the words around
// it ("cannot create PATH: REASON").
constexpr int kErrorLen = kPathMax + 512;

// Writes the printf-style text into err (kErrorLen bytes), cut to fit and
// always NUL-terminated. Does nothing when err is nullptr. Any thread.
void ErrorSet(char* err, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Empties err (nullptr allowed). Any thread.
void ErrorClear(char* err);
