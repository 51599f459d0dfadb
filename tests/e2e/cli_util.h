// What the end-to-end tests share: a fresh folder per test, whole-file reads and running a
// shell command for its exit status.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

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

// The last line of a text (a log), its line end taken off.
inline std::string lastLine(std::string s) {
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    const auto nl = s.rfind('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

// The command's exit status, -1 when it did not exit normally.
inline int shell(const std::string& cmd) {
    int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// CSV with quoted cells ("a, b" and doubled quotes).
inline std::vector<std::string> splitCsv(const std::string& line) {
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char ch = line[i];
        if (quoted) {
            if (ch == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cells.back() += '"';
                ++i;
            } else if (ch == '"') {
                quoted = false;
            } else {
                cells.back() += ch;
            }
        } else if (ch == '"') {
            quoted = true;
        } else if (ch == ',') {
            cells.emplace_back();
        } else {
            cells.back() += ch;
        }
    }
    return cells;
}

// A table CSV as --tables-dir writes it, one map of column name -> cell per row.
using Record = std::map<std::string, std::string>;
inline std::vector<Record> readCsv(const std::filesystem::path& p) {
    std::istringstream in(slurp(p));
    std::vector<Record> out;
    std::vector<std::string> header;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> cells = splitCsv(line);
        if (header.empty()) {
            header = cells;
            continue;
        }
        Record r;
        for (std::size_t i = 0; i < header.size() && i < cells.size(); ++i)
            r[header[i]] = cells[i];
        out.push_back(r);
    }
    return out;
}

} // namespace velloc::e2e
