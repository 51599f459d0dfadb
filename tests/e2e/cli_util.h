// What the end-to-end tests share: a fresh folder per test, whole-file reads and running a
// shell command for its exit status.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace velloc::e2e {

// An empty folder of its own for the running test, named by process and test so that
// parallel test processes never share one.
inline std::filesystem::path freshTestDir(const std::string& prefix) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() /
                   (prefix + std::to_string(::getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

inline std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The command's exit status, -1 when it did not exit normally.
inline int shell(const std::string& cmd) {
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

} // namespace velloc::e2e
