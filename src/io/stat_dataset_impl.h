// The Stata and SPSS implementation of Dataset (internal to the host): the library reads the
// dictionary, and the rows of every file but those the direct reader takes (dta_rows.h).
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "io/dataset_base.h"
#include "io/dta_rows.h"
#include "io/stat_dataset.h"

namespace velloc::host {

class StatDataset final : public ByGroupDataset {
  public:
    StatDataset(std::string path, StatKind kind) : path_(std::move(path)), kind_(kind) {}
    // Signature, dictionary and row count. Logs and throws DataSetError on any fault.
    void scan();

    const std::string& path() const override { return path_; }
    const std::string& label() const override { return label_; }
    int nvars() const override { return static_cast<int>(vars_.size()); }
    const Variable& var(int number) const override { return vars_.at(number - 1).v; }
    std::int64_t nobs() const override { return nobs_; }

    int nextGroup() override;
    bool nextObs() override;
    void rewindGroup() override;

    std::int64_t obsNumber() const override { return cur_ + 1; }
    double num(int var) const override;
    std::string_view text(int var) const override;
    std::string formatted(int var) const override;
    std::vector<std::string> byDescription() const override;

    // What the readstat callbacks fill (public for them, not for other code).
    struct Var {
        Variable v;
        int slot = 0;         // index into a row's numbers or its strings
        std::string labelSet; // name of the value label set, empty when none
        const std::map<double, std::string>* labels = nullptr;
        int storage = 0;         // the library's readstat_type_t
        std::size_t width = 0;   // and storage width
        std::size_t longest = 0; // longest string seen (for the character length)
    };
    struct Chunk {
        std::int64_t first = 0, count = 0;
        std::vector<double> num;        // count x numeric variables
        std::vector<std::uint32_t> end; // count x string variables: end of each in text
        std::string text;
    };
    struct ParseState {
        StatDataset* ds = nullptr;
        bool dictionary = false; // collecting variables
        bool labels = false;     // collecting value labels
        bool stopAtData = false; // the dictionary alone: stop at the first value
        bool measure = false;    // counting rows and string lengths
        std::int64_t rows = 0, reportedRows = -1;
        std::int64_t offset = 0; // first row of the parse
        Chunk* chunk = nullptr;
        std::int64_t lastObs = -1;
        std::string detail; // the library's own error text
    };

  private:
    bool parse(ParseState& st, std::int64_t offset, std::int64_t limit);
    bool load(std::int64_t row); // makes row part of the chunk; false on an error (logged)
    // The chunk's rows decoded from the data section; false with the reason in detail.
    bool loadDirect(std::string& detail);
    // The longest value of each string variable, from the data section.
    bool measureDirect(std::string& detail);
    // Takes direct_ when the file's rows can be read straight and its map agrees with what
    // the library read.
    void chooseDirectRows(std::int64_t reportedRows);
    double numAt(std::int64_t row, int var) const;
    std::string_view textAt(std::int64_t row, int var) const;
    std::string formatAt(std::int64_t row, int var) const;
    int compareToKey(std::int64_t row) const;
    void setKey(std::int64_t row);
    void logUnsorted() const override;
    friend struct StatCallbacks;

    std::string path_, label_;
    StatKind kind_;
    std::vector<Var> vars_;
    int nNum_ = 0, nStr_ = 0;
    std::map<std::string, std::map<double, std::string>> labelSets_;
    std::int64_t nobs_ = 0;
    std::int64_t chunkRows_ = 1;
    Chunk chunk_;
    std::optional<DtaLayout> direct_; // the rows' layout when they are decoded straight
    std::string rowBytes_;            // the chunk's rows as the file holds them

    std::int64_t cur_ = -1, next_ = 0, groupStart_ = 0;
    std::vector<double> keyNum_;
    std::vector<std::string> keyText_;
    std::int64_t unsortedObs_ = 0;
};

} // namespace velloc::host
