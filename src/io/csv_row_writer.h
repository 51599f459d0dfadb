// The rows of an output CSV file, formatted and written on a thread of their own: the step
// goes on producing rows while earlier ones are turned into text, in order.
#pragma once
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/handoff.h"
#include "io/dataset.h"

namespace velloc::host {

// Appends s as a CSV cell, quoted when it holds a comma, quote or line break, or starts or ends
// with a blank.
void appendCsvText(std::string& out, std::string_view s);

class CsvRowWriter {
  public:
    // Writes to `file` (which stays the caller's); one cell a type, in column order.
    CsvRowWriter(std::FILE* file, std::vector<VarType> types);
    ~CsvRowWriter(); // finishes first
    CsvRowWriter(const CsvRowWriter&) = delete;
    CsvRowWriter& operator=(const CsvRowWriter&) = delete;

    // Text written as it stands before the rows that follow (the header line).
    void text(std::string s);
    // One row: nums[i] for numeric columns (missing values print empty), texts[i] for
    // character ones, quoted where the text needs it.
    void row(std::span<const double> nums, std::span<const std::string> texts);
    // Writes what is queued and ends the thread. An empty string, or why a write failed (the
    // rows after a failure are dropped).
    std::string finish();
    // After finish(): per column, whether every text written reads as a number.
    const std::vector<char>& looksNumeric() const { return looksNumeric_; }

  private:
    struct Batch {
        std::string lead; // text before the rows
        std::vector<double> nums;
        std::string texts;             // the character cells back to back
        std::vector<std::size_t> ends; // where each character cell ends in texts
        std::size_t rows = 0;
    };
    void submit();
    void serve();
    std::size_t room(const Batch& b) const;  // bytes the batch's text may take at most
    char* format(const Batch& b, char* out); // returns the end of what it wrote

    std::FILE* file_;
    const std::vector<VarType> types_;
    std::vector<char> looksNumeric_;
    Batch filling_;
    Handoff<Batch> queue_;
    std::string error_; // the worker's, read after it ends
    std::thread worker_;
    bool finished_ = false;
};

} // namespace velloc::host
