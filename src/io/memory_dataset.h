// A data set held in memory, column by column: what a front end that already has the data
// (the Python package, with a pandas DataFrame) hands to the procedure instead of a file.
//
// It reads like the CSV data set: variables in column order, BY groups of consecutive
// observations, the same order of BY values (missing first, character values compared as
// blank-padded) and the same messages for unsorted data.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/dataset.h"

namespace velloc::host {

// The columns of an in-memory data set. A numeric column holds doubles (NaN for missing); a
// character column holds a code per row into its dictionary of distinct texts (-1: blank),
// which is how a categorical column arrives and keeps a million-row text column small.
struct MemoryColumn {
    std::string name;
    std::string label; // an OUT= data set's variable label, kept in memory
    VarType type = VarType::Numeric;
    std::vector<double> numbers;
    std::vector<std::int32_t> codes;
    std::vector<std::string> texts;
};

struct MemoryTable {
    std::string name; // for the messages of checkMemoryTable
    std::vector<MemoryColumn> columns;
};

// Checks a table before it is read: variable names as a CSV header must have them (unique
// without regard to case, letters, digits and underscores, at most 32 bytes, not starting
// with a digit), at least one column and one row, columns of one length, codes inside their
// dictionaries. Returns an empty string when it is sound, else a sentence naming the column.
std::string checkMemoryTable(const MemoryTable& table);

// A Dataset over a table that must have passed checkMemoryTable; `name` is what messages
// and the DataInfo table show where a CSV data set shows its path.
std::unique_ptr<Dataset> openMemoryDataset(std::shared_ptr<const MemoryTable> table,
                                           std::string name);

} // namespace velloc::host
