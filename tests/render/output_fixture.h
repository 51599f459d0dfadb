// Small tables shared by the output and renderer tests.
#pragma once
#include <algorithm>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>
#include <string>

#include "base/messages.h"
#include "render/output.h"

namespace velloc::host::testing {

inline double nan() {
    return std::numeric_limits<double>::quiet_NaN();
}

inline ColumnDef numCol(std::string name, int decimals = -1, std::string label = {}) {
    ColumnDef c;
    c.name = std::move(name);
    c.label = std::move(label);
    c.format.decimals = decimals;
    return c;
}

inline ColumnDef textCol(std::string name, int width = 16, std::string label = {}) {
    ColumnDef c;
    c.name = std::move(name);
    c.label = std::move(label);
    c.kind = ColumnKind::Character;
    c.width = width;
    return c;
}

// A PSInfo-like definition with one column per block and the instance dynamics of the levels.
inline TableDefinition psInfoDefinition() {
    TableDefinition d;
    d.name = "PSInfo";
    d.label = "Propensity Score Information";
    d.templatePath = "Stat.Velloc.PSInfo";
    d.addColumn(textCol("Obs", 20));
    d.addColumn(numCol("TreatedFreq"));
    d.addColumn(numCol("TreatedMean"));
    d.addColumn(numCol("ControlFreq"));
    d.addColumn(numCol("ControlMean"));
    d.addColumn(numCol("MeanDiff"));
    return d;
}

// Captures the log for the lifetime of the object.
struct LogCapture {
    std::ostringstream text;
    LogCapture() { Log::setStream(&text); }
    ~LogCapture() { Log::setStream(nullptr); }
};

} // namespace velloc::host::testing

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace velloc::host::testing {

// A fresh folder per test, removed afterwards.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path =
            std::filesystem::temp_directory_path() / ("velloc_" + std::to_string(::getpid()) + "_" +
                                                      info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

} // namespace velloc::host::testing
