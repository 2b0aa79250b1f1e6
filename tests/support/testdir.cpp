// SPDX-License-Identifier: GPL-2.0-or-later
// testdir.cpp - scratch folders and whole-file helpers for tests.
#include "testdir.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

std::string TestDirNew() {
    static std::atomic<int> counter{0};
    std::string name = "test";
    if (const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info()) {
        name = std::string(info->test_suite_name()) + "." + info->name();
    }
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    std::string path = std::string(LUMO_TEST_TMP) + "/" + name + "." + std::to_string(getpid()) + "." +
                       std::to_string(counter.fetch_add(1));
    // A folder left by an earlier run under the same process id goes first.
    std::error_code error;
    std::filesystem::remove_all(path, error);
    if (!std::filesystem::create_directories(path, error)) {
        fprintf(stderr, "TestDirNew: cannot create %s: %s\n", path.c_str(), error.message().c_str());
        abort();
    }
    return path;
}

int TestFileWrite(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return 0;
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return out.good() ? 1 : 0;
}

std::string TestFileRead(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string();
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

int TestPathExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

TestCwd::TestCwd(const std::string& folder) {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer)) old_ = buffer;
    if (chdir(folder.c_str()) != 0) {
        perror(folder.c_str());
        abort();
    }
}

TestCwd::~TestCwd() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) perror(old_.c_str());
}
