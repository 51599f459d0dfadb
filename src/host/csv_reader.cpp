#include "host/csv_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace velloc::host {

namespace {
constexpr std::size_t kBufferBytes = 1 << 20;

// Bytes that end an unquoted field.
struct Stops {
    bool stop[256] = {};
    constexpr Stops() {
        stop[static_cast<unsigned char>(',')] = true;
        stop[static_cast<unsigned char>('\n')] = true;
        stop[static_cast<unsigned char>('\r')] = true;
    }
};
constexpr Stops kStops;
} // namespace

CsvReader::~CsvReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool CsvReader::open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    buf_.resize(kBufferBytes);
    if (!refill() && !error_.empty()) return false;
    if (end_ - pos_ >= 3 && std::memcmp(buf_.data() + pos_, "\xEF\xBB\xBF", 3) == 0) pos_ += 3;
    return true;
}

bool CsvReader::refill() {
    base_ += static_cast<std::int64_t>(end_);
    pos_ = end_ = 0;
    if (eof_) return false;
    for (;;) {
        ssize_t n = ::read(fd_, buf_.data(), buf_.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = std::strerror(errno);
            eof_ = true;
            return false;
        }
        if (n == 0) {
            eof_ = true;
            return false;
        }
        end_ = static_cast<std::size_t>(n);
        return true;
    }
}

int CsvReader::peek() {
    if (pos_ == end_ && !refill()) return -1;
    return static_cast<unsigned char>(buf_[pos_]);
}

bool CsvReader::seek(std::int64_t offset, std::int64_t line) {
    line_ = line;
    if (offset >= base_ && offset <= base_ + static_cast<std::int64_t>(end_)) {
        pos_ = static_cast<std::size_t>(offset - base_);
        return true;
    }
    if (::lseek(fd_, offset, SEEK_SET) < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    base_ = offset;
    pos_ = end_ = 0;
    eof_ = false;
    refill();
    return error_.empty();
}

CsvReader::Result CsvReader::next(CsvRecord& rec) {
    rec.clear();
    if (peek() < 0) return error_.empty() ? Result::End : Result::IoError;
    recLine_ = line_;
    recOffset_ = base_ + static_cast<std::int64_t>(pos_);
    bool any = false; // anything on the line besides its terminator
    for (;;) {
        // One field.
        int c = peek();
        if (c == '"') {
            any = true;
            std::int64_t quoteLine = line_;
            ++pos_;
            for (;;) {
                if (pos_ == end_ && !refill()) {
                    if (!error_.empty()) return Result::IoError;
                    errField_ = rec.ends.size() + 1;
                    recLine_ = quoteLine;
                    return Result::Unterminated;
                }
                const char* p = buf_.data() + pos_;
                const char* e = buf_.data() + end_;
                const char* q = static_cast<const char*>(std::memchr(p, '"', e - p));
                const char* stop = q ? q : e;
                line_ += std::count(p, stop, '\n');
                rec.data.append(p, stop);
                pos_ = static_cast<std::size_t>(stop - buf_.data());
                if (!q) continue;
                ++pos_; // the quote
                if (peek() == '"') {
                    rec.data += '"';
                    ++pos_;
                    continue;
                }
                break;
            }
            // Text after the closing quote is kept as it is (lenient, like most readers).
        }
        // Unquoted part of the field (or the rest after a closing quote).
        for (;;) {
            if (pos_ == end_ && !refill()) break;
            const char* p = buf_.data() + pos_;
            const char* e = buf_.data() + end_;
            const char* s = p;
            while (s < e && !kStops.stop[static_cast<unsigned char>(*s)])
                ++s;
            if (s != p) any = true;
            rec.data.append(p, s);
            pos_ = static_cast<std::size_t>(s - buf_.data());
            if (s < e) break;
        }
        if (rec.data.size() > UINT32_MAX) {
            error_ = "record too long";
            return Result::IoError;
        }
        rec.ends.push_back(static_cast<std::uint32_t>(rec.data.size()));
        c = peek();
        if (c == ',') {
            any = true;
            ++pos_;
            continue;
        }
        if (c == '\r') {
            ++pos_;
            if (peek() == '\n') ++pos_;
            ++line_;
        } else if (c == '\n') {
            ++pos_;
            ++line_;
        } else if (c < 0 && !error_.empty()) {
            return Result::IoError;
        }
        rec.blankLine = !any;
        return Result::Record;
    }
}

} // namespace velloc::host
