// SPDX-License-Identifier: GPL-2.0-or-later
// error.cpp - the error text of an operation's caller.
#include "platform/error.h"

#include <cstdarg>
#include <cstdio>

void ErrorSet(char* err, const char* format, ...) {
    if (!err) return;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(err, kErrorLen, format, args);
    va_end(args);
    if (n < 0) err[0] = '\0';  // an encoding failure leaves no half text
}

void ErrorClear(char* err) {
    if (err) err[0] = '\0';
}
