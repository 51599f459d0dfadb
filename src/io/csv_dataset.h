// The CSV implementation of Dataset (internal to the host).
#pragma once
#include <string>
#include <vector>

#include "io/csv_number.h"
#include "io/csv_reader.h"
#include "io/dataset_base.h"

namespace velloc::host {

class CsvDataset final : public ByGroupDataset {
  public:
    explicit CsvDataset(std::string path, CsvDialect dialect = {})
        : path_(std::move(path)), dialect_(std::move(dialect)) {}
    // Reads the header and the sidecar, then scans every record once for types, lengths,
    // the row count and well-formedness. Logs and throws DataSetError on any fault.
    void scan();

    const std::string& path() const override { return path_; }
    const std::string& label() const override { return label_; }
    int nvars() const override { return static_cast<int>(vars_.size()); }
    const Variable& var(int number) const override { return vars_.at(number - 1); }
    std::int64_t nobs() const override { return nobs_; }

    int nextGroup() override;
    bool nextObs() override;
    void rewindGroup() override;

    std::int64_t obsNumber() const override { return cur_.obs; }
    double num(int var) const override;
    std::string_view text(int var) const override;
    std::string formatted(int var) const override;
    std::vector<std::string> byDescription() const override;

  private:
    struct Row {
        CsvRecord rec;
        std::vector<double> num;
        std::int64_t line = 0, offset = 0, obs = 0;
    };

    int loadRow(Row& r); // 1 read, 0 at the end, -1 on an error (logged)
    void transcode(CsvRecord& rec);
    // A cell's number, with the dialect's missing texts read as missing values.
    CellKind classify(std::string_view f, double& v) const;
    bool isMissingText(std::string_view f) const;
    // A cell as text: an unquoted NA, or missing text, of a character variable is blank.
    std::string_view cell(const Row& r, std::size_t i) const;
    int compareKeys(const Row& a, const Row& b) const;
    void logUnsorted() const override;

    std::string path_, label_;
    CsvDialect dialect_;
    std::vector<Variable> vars_;
    std::int64_t nobs_ = 0;
    std::int64_t dataOffset_ = 0, dataLine_ = 2;
    CsvReader reader_;
    bool cp1252_ = false; // the bytes are not UTF-8: cells are converted as they are read
    std::string scratch_;

    Row cur_, look_, key_;     // firstPending_: cur_ holds the group's first row
    bool havePending_ = false; // look_ holds the next group's first row
    std::int64_t unsortedObs_ = 0, unsortedLine_ = 0;
    std::int64_t obsCount_ = 0;
    std::int64_t groupOffset_ = 0, groupLine_ = 0, groupObs_ = 0;
};

} // namespace velloc::host
