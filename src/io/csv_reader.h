// A streaming RFC 4180 reader: one record at a time through a large buffer, so a file of any
// size is read in constant memory. Records can be re-read from a saved byte offset.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velloc::host {

// Field i of a record's bytes whose fields each end where ends says, followed by one
// separator byte.
inline std::string_view fieldOf(const char* bytes, const std::uint32_t* ends, std::size_t i) {
    const std::uint32_t b = i == 0 ? 0 : ends[i - 1] + 1;
    return {bytes + b, ends[i] - b};
}

// One record's fields, unquoted, each followed by one separator byte (so that a line without
// quotes is its own bytes as the file has them).
struct CsvRecord {
    std::string data;                  // the bytes, when they had to be assembled (see bytes())
    std::vector<std::uint32_t> ends;   // field i is bytes()[ends[i-1] + 1 .. ends[i])
    std::vector<std::uint32_t> quoted; // fields (0-based, ascending) that began with a quote
    bool blankLine = false;            // the line held nothing at all
    bool high = false;                 // some byte is 0x80 or above (not ASCII)

    // The record's bytes: a simple line's are where the reader read them, valid until its next
    // call (keep() copies them into data); any other record's are data.
    std::string_view bytes() const {
        return line_ ? std::string_view(line_, lineBytes_) : std::string_view(data);
    }
    void keep() {
        if (!line_) return;
        data.assign(line_, lineBytes_);
        line_ = nullptr;
    }
    void setBytes(std::string_view b) {
        data.assign(b);
        line_ = nullptr;
    }
    void takeBytes(std::string& b) {
        data.swap(b);
        line_ = nullptr;
    }
    void pointAt(const char* p, std::size_t n) {
        line_ = p;
        lineBytes_ = n;
    }

    std::size_t size() const { return ends.size(); }
    std::string_view field(std::size_t i) const { return fieldOf(bytes().data(), ends.data(), i); }
    // A quoted cell is text as written: a quoted "NA" is the two letters, not a missing value.
    bool wasQuoted(std::size_t i) const {
        for (std::uint32_t q : quoted)
            if (q == i) return true;
        return false;
    }
    void clear() {
        data.clear();
        line_ = nullptr;
        ends.clear();
        quoted.clear();
        blankLine = false;
        high = false;
    }

  private:
    const char* line_ = nullptr;
    std::size_t lineBytes_ = 0;
};

class CsvReader {
  public:
    enum class Result { Record, End, Unterminated, IoError };

    CsvReader() { setDelimiter(','); }
    ~CsvReader();
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    // Opens the file and skips a UTF-8 byte-order mark. False with the reason in error().
    bool open(const std::string& path);
    // Opens the file before the record that starts at offset on the given line.
    bool open(const std::string& path, std::int64_t offset, std::int64_t line);
    // Reads records from n bytes in memory instead of a file, as if they began at offset on
    // the given line; the bytes must outlive the reader, and a simple line's record points
    // into them.
    void openBytes(const char* bytes, std::size_t n, std::int64_t offset, std::int64_t line);
    Result next(CsvRecord& rec);
    // The byte between fields (a comma unless set; not a quote or a line end).
    void setDelimiter(char d);
    // Where the record last returned by next() starts: 1-based line and byte offset.
    std::int64_t recordLine() const { return recLine_; }
    std::int64_t recordOffset() const { return recOffset_; }
    // After Unterminated: the field (1-based) whose quote was never closed.
    std::size_t errorField() const { return errField_; }
    // Positions before the record that starts at offset on the given line.
    bool seek(std::int64_t offset, std::int64_t line);
    const std::string& error() const { return error_; }
    // Size of the read buffer of readers opened afterwards (tests use tiny ones to cross
    // buffer boundaries everywhere).
    static void setBufferBytes(std::size_t bytes);
    // Where the next record starts.
    std::int64_t tell() const { return base_ + static_cast<std::int64_t>(pos_); }
    std::int64_t line() const { return line_; }

  private:
    bool openFile(const std::string& path, std::int64_t offset, std::size_t most);
    bool refill();
    bool nextSimpleLine(CsvRecord& rec);
    int peek(); // next byte or -1 at the end of the file, refilling as needed

    char delim_ = ',';
    bool stops_[256] = {};   // bytes that end an unquoted field
    bool special_[256] = {}; // bytes that send a line to the full parser
    int fd_ = -1;
    std::vector<char> buf_;
    const char* b_ = nullptr; // the bytes read: buf_'s, or those given to openBytes
    std::size_t pos_ = 0, end_ = 0;
    std::int64_t base_ = 0; // file offset of buf_[0]
    bool eof_ = false;
    std::int64_t line_ = 1;
    std::int64_t recLine_ = 0, recOffset_ = 0;
    std::size_t errField_ = 0;
    std::string error_;
};

} // namespace velloc::host
