// SPDX-License-Identifier: GPL-2.0-or-later
// testdir.h - scratch folders and whole-file helpers for tests.
#pragma once

#include <string>

// A new empty folder under LUMO_TEST_TMP, unique to this process and call,
// named after the running test. Aborts the test program when it cannot be
// made.
std::string TestDirNew();

// Writes data as the whole file (binary). Returns 1, or 0 on failure.
int TestFileWrite(const std::string& path, const std::string& data);

// The whole file, or "" when it cannot be read.
std::string TestFileRead(const std::string& path);

// 1 when path exists (any kind of file).
int TestPathExists(const std::string& path);

// Runs the test body with the current directory set to folder and puts the
// old one back when it ends.
class TestCwd {
public:
    explicit TestCwd(const std::string& folder);
    ~TestCwd();
    TestCwd(const TestCwd&) = delete;
    TestCwd& operator=(const TestCwd&) = delete;

private:
    std::string old_;
};
