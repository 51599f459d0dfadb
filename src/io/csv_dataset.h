// The CSV implementation of Dataset (internal to the host).
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/csv_chunks.h"
#include "io/csv_number.h"
#include "io/csv_reader.h"
#include "io/dataset_base.h"
#include "io/schema.h"

namespace velloc::host {

class CsvDataset final : public ByGroupDataset {
  public:
    explicit CsvDataset(std::string path, CsvDialect dialect = {})
        : path_(std::move(path)), dialect_(std::move(dialect)) {}
    CsvDataset(const CsvDataset&) = delete; // cur_ and look_ point into the object
    CsvDataset& operator=(const CsvDataset&) = delete;
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

    std::int64_t obsNumber() const override { return cur_->obs; }
    double num(int var) const override;
    const double* numbers() const override;
    std::string_view text(int var) const override;
    std::string formatted(int var) const override;
    std::vector<std::string> byDescription() const override;

  private:
    struct ParsedRows;
    // A record's text, field ends, quoted fields and numbers. A row read from a parsed chunk
    // points into it (held_ or prev_ keep the chunk while a row does); others hold their own.
    struct Row {
        std::string_view data;
        const std::uint32_t* ends = nullptr;
        std::size_t fields = 0;
        const std::uint32_t* quoted = nullptr;
        std::size_t nQuoted = 0;
        const double* num = nullptr; // one a field
        bool blankLine = false;
        const ParsedRows* chunk = nullptr; // the chunk pointed into, or null for its own
        std::int64_t line = 0, offset = 0, obs = 0;
        CsvRecord own;
        std::vector<double> ownNum;

        Row() = default;
        Row(const Row&) = delete; // a copy must own what it points at: copyFrom
        Row& operator=(const Row&) = delete;
        std::size_t size() const { return fields; }
        std::string_view field(std::size_t i) const { return fieldOf(data.data(), ends, i); }
        bool wasQuoted(std::size_t i) const {
            for (std::size_t k = 0; k < nQuoted; ++k)
                if (quoted[k] == i) return true;
            return false;
        }
        void pointAtOwn(); // after own and ownNum were filled
        void makeOwn();    // copies what a row points at into own and ownNum
        void copyFrom(const Row& r);
    };
    // What the scan learns from a run of records; a chunk's lines count from 1 at its start.
    struct ScanTally {
        std::vector<std::size_t> maxLen, maxLen1252; // lengths as UTF-8 both ways
        std::vector<char> numberSeen, canBeNumeric;
        std::vector<std::int64_t> textLine; // first text cell of each column, if any
        std::vector<std::string> textCell;
        std::vector<std::int64_t> infiniteLine; // first infinite number of each column, if any
        std::vector<std::string> infiniteCell;
        std::int64_t rows = 0, badUtf8Line = 0;
        int error = 0; // the first fault's message number, with its arguments
        std::vector<std::string> errorArgs;
        int errorLineArg = -1;
        std::int64_t errorLine = 0;
        CsvPlace stop; // where the next record starts
    };
    // The rows a thread decoded from one chunk, and the failures among them, in file order.
    struct ParsedRows {
        struct Entry {
            std::int64_t line = 0, offset = 0;
            std::size_t data = 0, ends = 0, quoted = 0; // where its parts begin
            std::uint32_t bytes = 0;                    // of its text
            bool assembled = false;                     // its text is in data, not in raw
            int failure = 0;                            // message number of a failed record
        };
        std::vector<Entry> rows;
        // The chunk's bytes as the file has them (rawBytes of raw, which only grows), where
        // a simple line's text lies; the text of records that had to be assembled (quoted
        // fields, transcoded bytes) is in data.
        std::string raw;
        std::size_t rawBytes = 0;
        std::string data;
        std::vector<std::uint32_t> ends, quoted;
        std::vector<double> num; // nvars per row that did not fail
        std::string ioError;
        CsvPlace stop;
    };

    std::size_t readHeader();
    void readSidecar(std::vector<char>& explicitType, ScanTally& start,
                     std::vector<FormatSpec>& formats, Schema& schema, std::string& schemaPath);
    // The scan pass over every record, on threads for a large file.
    ScanTally scanData(const ScanTally& start, const std::vector<char>& explicitType);
    // Scans the records that start before offset stop; stops at the first fault.
    void scanRecords(CsvReader& rd, std::int64_t stop, const std::vector<char>& explicitType,
                     ScanTally& t) const;
    // Adds a later run of records, whose lines are shifted by lineShift, to the tally.
    static void mergeTally(ScanTally& into, const ScanTally& from, std::int64_t lineShift);
    [[noreturn]] void failScan(const ScanTally& t, std::int64_t lineShift) const;
    void settleTypes(ScanTally& t, const std::vector<FormatSpec>& formats, const Schema& schema,
                     const std::string& schemaPath);

    int loadRow(Row& r); // 1 read, 0 at the end, -1 on an error (logged)
    int loadSerialRow(Row& r);
    int loadParsedRow(Row& r);
    void parseRows(std::size_t chunk, ParsedRows& out) const;
    void rewindParsed(std::int64_t offset);
    // Hands a chunk back for reuse, or drops every chunk, once no row points into it.
    void releaseChunk(std::unique_ptr<ParsedRows> c);
    void dropChunks();
    // 1 for a row (numbers in num), 0 for a blank line to pass over, or minus the number of
    // the message that the failed record gets.
    int decode(CsvReader::Result res, CsvRecord& rec, double* num, std::string& scratch) const;
    static void transcode(CsvRecord& rec, std::string& scratch);
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
    std::vector<std::uint32_t> numericFields_; // of vars_, once their types are settled
    std::int64_t nobs_ = 0;
    std::int64_t dataOffset_ = 0, dataLine_ = 2;
    char delim_ = ',';
    CsvReader reader_;
    bool cp1252_ = false; // the bytes are not UTF-8: cells are converted as they are read
    std::string scratch_;

    // Reading on threads: where each chunk's first record starts (as the scan found them;
    // empty when the file is read serially), the chunks parsed ahead and the one being read.
    std::vector<CsvPlace> chunks_;
    int threads_ = 0;
    std::unique_ptr<OrderedChunks<ParsedRows>> ahead_;
    std::unique_ptr<ParsedRows> held_, prev_; // the chunk being read and the one before it
    std::size_t heldChunk_ = 0, heldRow_ = 0;
    std::int64_t skipBefore_ = 0; // rows before this offset are passed over (after a rewind)
    bool serialRead_ = false;     // a chunk did not end where the next began: read serially

    // The current and the next row, exchanged by pointer as reading moves on (a row is a
    // record's text, field ends and numbers: moving one costs more than the rest of a read).
    Row rowA_, rowB_, key_;
    Row* cur_ = &rowA_;  // firstPending_: cur_ holds the group's first row
    Row* look_ = &rowB_; // havePending_: the next group's first row
    bool havePending_ = false;
    std::int64_t unsortedObs_ = 0, unsortedLine_ = 0;
    std::int64_t obsCount_ = 0;
    std::int64_t groupOffset_ = 0, groupLine_ = 0, groupObs_ = 0;
};

} // namespace velloc::host
