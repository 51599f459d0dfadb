// The output data set writer: a CSV file (or a Stata or SPSS file, by its extension) written to a
// temporary name beside the target and renamed over it on commit, so a failed run never leaves half
// a file. Destroying an uncommitted writer removes the temporary file.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/dataset.h"

namespace velloc::host {

class DataSetProvider;

class OutputDataset {
  public:
    // A provider that keeps the path's data set in memory (keepsOutput) receives the rows on
    // commit instead of a file.
    explicit OutputDataset(std::string path, DataSetProvider* provider = nullptr);
    ~OutputDataset();
    OutputDataset(const OutputDataset&) = delete;
    OutputDataset& operator=(const OutputDataset&) = delete;

    // Variables in output order; all must be defined before the first row.
    int addVariable(Variable v);
    int nvars() const;
    const Variable& var(int number) const; // 1-based

    // Cells of the row being built, then the row is appended. Cells not set since the last
    // row are missing (numeric) or blank (character).
    void setNum(int var, double value);
    void setText(int var, std::string_view value);
    void writeRow();

    // Writes the optional sidecar (labels, formats, and types where the CSV alone would read
    // back differently) and renames into place. Returns false and logs when the file cannot
    // be written.
    bool commit();
    // False once writing has failed (the temporary could not be created or written); commit()
    // then reports the reason.
    bool good() const;
    const std::string& path() const;

  private:
    bool commitStat();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace velloc::host
