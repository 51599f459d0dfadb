// Output data sets as Stata (.dta, release 118) or SPSS (.sav) files, through libreadstat.
// Rows are spooled to an unlinked temporary file as they come, because the file's header
// needs the row count and each string's width; commit() then writes the whole file.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "io/dataset.h"
#include "io/stat_dataset.h"

namespace velloc::host {

class StatWriter {
  public:
    explicit StatWriter(StatKind kind) : kind_(kind) {}
    ~StatWriter();
    StatWriter(const StatWriter&) = delete;
    StatWriter& operator=(const StatWriter&) = delete;

    // False with the reason in why when the spool cannot be written.
    bool append(const std::vector<Variable>& vars, const std::vector<double>& nums,
                const std::vector<std::string>& texts, std::string& why);
    // Writes the file to fd. On failure logs the message naming path and returns false.
    bool write(const std::vector<Variable>& vars, const std::string& label, int fd,
               const std::string& path);

  private:
    StatKind kind_;
    std::FILE* spool_ = nullptr;
    std::string row_;
    std::vector<std::size_t> widths_;
    long rows_ = 0;
};

} // namespace velloc::host
