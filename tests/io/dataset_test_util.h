// Helpers for the data set tests: a scratch folder and a captured log.
#pragma once
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

#include "base/messages.h"
#include "io/data_messages.h"
#include "io/dataset.h"

namespace velloc::host::testing {

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
