// Input data sets: a CSV file (RFC 4180) with an optional NAME.schema.json sidecar.
//
// A data set is opened once per procedure step. Its variables are numbered 1..nvars() in file
// order. Observations are read one at a time through BY groups: nextGroup() readies the next
// group (consecutive observations with equal BY values), nextObs() makes the group's next
// observation current, and rewindGroup() goes back to the first observation of the current
// group. Without BY variables the whole data set is one group.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velloc::host {

enum class VarType { Numeric = 1, Character = 2 };

struct Variable {
    std::string name;
    VarType type = VarType::Numeric;
    int length = 8;      // bytes: 8 for numeric, longest value for character
    std::string label;   // from the sidecar, else empty
    std::string format;  // format name from the sidecar (e.g. "BEST", "F", "$"), else empty
    int formatWidth = 0; // 0 when no format
    int formatDecimals = 0;
    // Value labels of a numeric variable read from a Stata or SPSS file (value -> text), shared
    // by the variables that share a label set; null when none. An output file of those
    // formats writes them back.
    std::shared_ptr<const std::map<double, std::string>> valueLabels;
    // A character variable whose other cells are all numbers or missing: its first text cell
    // (line 0 when there is none), so that a numeric use can name the cell to correct.
    std::int64_t textLine = 0;
    int textColumn = 0;
    std::string textCell;
    // A numeric variable with an infinite value ("inf", or a number too large for a double):
    // the first such cell and where it is ("line 9 (column 4)", "row 9"); empty when none. No
    // analysis can use the value, so a numeric use names it for correction.
    std::string infiniteCell, infiniteWhere;
};

// How a delimited text file is read: the data set options DELIMITER=, ENCODING= and MISSING=.
struct CsvDialect {
    enum class Encoding { Detect, Utf8, Cp1252 };
    char delimiter = 0; // 0: by extension (tab for .tsv, else comma)
    Encoding encoding = Encoding::Detect;
    // Texts read as missing besides the empty cell, "." and NA (compared without the blanks
    // around the cell).
    std::vector<std::string> missing;
    bool isDefault() const {
        return delimiter == 0 && encoding == Encoding::Detect && missing.empty();
    }
};

// The dialect that the data set options name, as written after statement's option= (for the
// messages); nullptr for an option not given. Logs the fault and throws DataSetError for a
// delimiter that is not one character (or '\t', TAB) or an encoding that cannot be read.
CsvDialect makeCsvDialect(std::string_view statement, std::string_view option,
                          const std::string* delimiter, const std::string* encoding,
                          const std::vector<std::string>* missing);

struct ByKey {
    int var;         // 1-based variable number
    bool descending; // DESCENDING given for this variable
};

// A failure to open or read a data set. The reader has already logged a message that names
// the file, line and column; callers end the procedure with the data-set exit code.
struct DataSetError {
    std::string message;
};

class Dataset {
  public:
    // Opens and scans the file. Logs the problem and throws DataSetError when it is missing,
    // unreadable or malformed (ragged row, unterminated quote, duplicate or invalid name).
    static std::unique_ptr<Dataset> open(const std::string& path);
    // The same for a delimited text file read with the given dialect; other formats refuse a
    // dialect that is not the default (logged, DataSetError).
    static std::unique_ptr<Dataset> open(const std::string& path, const CsvDialect& dialect);
    virtual ~Dataset() = default;

    virtual const std::string& path() const = 0;
    virtual const std::string& label() const = 0; // data set label, blank when none
    virtual int nvars() const = 0;
    virtual const Variable& var(int number) const = 0; // 1-based
    virtual int find(std::string_view name) const = 0; // case-insensitive; 0 when absent
    virtual std::int64_t nobs() const = 0;

    // BY processing. Call before the first nextGroup().
    virtual void setBy(std::vector<ByKey> keys, bool notsorted) = 0;
    // > 0 while a group is ready, 0 after the last one, < 0 on an error (logged; e.g. data not
    // sorted by the BY variables, naming the first out-of-order observation).
    virtual int nextGroup() = 0;
    // Makes the next observation of the current group current; false at the group's end.
    virtual bool nextObs() = 0;
    virtual void rewindGroup() = 0;

    // The current observation. obsNumber() is 1-based in the whole data set.
    virtual std::int64_t obsNumber() const = 0;
    virtual double num(int var) const = 0; // missing value for a missing cell
    // The current observation's values by variable (variable k at [k - 1]) where the data set
    // holds them so, else nullptr: a reader of many numeric variables a row skips a call per
    // value. What numeric variables hold is what num() gives; character ones hold anything.
    virtual const double* numbers() const { return nullptr; }
    virtual std::string_view text(int var) const = 0; // raw character value, no padding
    // Formatted value: a numeric with its format (BEST12. without one), right-justified in the
    // format width; a character value as it is (a $w. format truncates it to w bytes).
    virtual std::string formatted(int var) const = 0;

    // BY values of the current group, formatted, in BY order: "name=value".
    virtual std::vector<std::string> byDescription() const = 0;
};

// When the variable is character only because of a few text cells among numbers, logs the
// error that names the first of them and ends the step with the data-set exit code; user names
// the statement or option that wants a number. Otherwise returns.
void refuseTextCell(const Dataset& ds, int var, std::string_view user);
// The same for a numeric variable with an infinite value (Variable::infiniteCell).
void refuseInfiniteCell(const Dataset& ds, int var, std::string_view user);
// Both: for every use of a variable whose values the step computes with.
inline void refuseUnusableCells(const Dataset& ds, int var, std::string_view user) {
    refuseTextCell(ds, var, user);
    refuseInfiniteCell(ds, var, user);
}

// Formats a number as the host's BEST w. format does (w significant places at most; integers
// without a decimal point; '.' for missing), right-justified in w columns.
std::string formatBest(double v, int width = 12);

} // namespace velloc::host
