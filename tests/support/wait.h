// SPDX-License-Identifier: GPL-2.0-or-later
// wait.h - the one way tests wait: for a condition, polled, up to a bound
// in milliseconds. A bound is a failure limit, never a timing assertion:
// it is far longer than the condition needs on a loaded machine.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

// Polls done() every 2 ms until it holds (true) or ms milliseconds have
// passed (false; done() is asked once more at the end).
template <typename Done>
bool TestWaitFor(Done done, int ms = 20000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A condition for TestWaitFor: process pid sits in read() on its standard
// input, i.e. has finished starting and waits for input (x86-64: syscall 0
// is read).
inline bool TestReadingStdin(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/syscall");
    std::string line;
    std::getline(file, line);
    return line.rfind("0 0x0 ", 0) == 0;
}
