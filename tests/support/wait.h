// SPDX-License-Identifier: GPL-2.0-or-later
// wait.h - the one way tests wait: for a condition, polled, up to a bound
// in milliseconds. A bound is a failure limit, never a timing assertion:
// it is far longer than the condition needs on a loaded machine.
#pragma once

#include <chrono>
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
