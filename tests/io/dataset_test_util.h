// Helpers for the data set tests: a scratch folder and a captured log.
#pragma once
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/messages.h"
#include "io/data_messages.h"
#include "io/dataset.h"

namespace velloc::host::testing {

// Every observation of a one-group data set: numbers, texts and formatted values by variable.
struct Rows {
    std::vector<std::vector<double>> num;
    std::vector<std::vector<std::string>> text, formatted;
};

inline Rows readAll(Dataset& ds, bool trimFormatted = false) {
    Rows r;
    EXPECT_EQ(ds.nextGroup(), 1);
    while (ds.nextObs()) {
        r.num.emplace_back();
        r.text.emplace_back();
        r.formatted.emplace_back();
        for (int i = 1; i <= ds.nvars(); ++i) {
            r.num.back().push_back(ds.num(i));
            r.text.back().emplace_back(ds.text(i));
            std::string f = ds.formatted(i);
            if (trimFormatted) f.erase(0, std::min(f.size(), f.find_first_not_of(' ')));
            r.formatted.back().push_back(f);
        }
    }
    EXPECT_EQ(ds.nextGroup(), 0);
    return r;
}

class DataTest : public ::testing::Test {
  protected:
    void SetUp() override {
        addDataSetMessages();
        auto base = std::filesystem::temp_directory_path();
        dir_ = base / ("velloc-data-" + std::to_string(::getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        Log::setStream(&log_);
    }
    void TearDown() override {
        Log::setStream(nullptr);
        std::filesystem::remove_all(dir_);
    }
    std::string write(const std::string& name, const std::string& content) {
        std::string p = (dir_ / name).string();
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string log() const { return log_.str(); }
    // Opens a file expected to be malformed; returns the log text of the failure.
    std::string openFails(const std::string& p) {
        log_.str("");
        EXPECT_THROW(Dataset::open(p), DataSetError) << p;
        return log_.str();
    }

    std::filesystem::path dir_;
    std::ostringstream log_;
};

} // namespace velloc::host::testing
