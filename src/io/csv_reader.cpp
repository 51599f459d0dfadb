#include "io/csv_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velloc::host {

namespace {
std::size_t bufferBytes = 1 << 20;

} // namespace

void CsvReader::setDelimiter(char d) {
    delim_ = d;
    std::fill(std::begin(stops_), std::end(stops_), false);
    std::fill(std::begin(special_), std::end(special_), false);
    // Bytes that end an unquoted field; and those a simple line may not hold, besides the
    // delimiter.
    for (unsigned char c : {static_cast<unsigned char>(d), static_cast<unsigned char>('\n'),
                            static_cast<unsigned char>('\r')})
        stops_[c] = true;
    for (unsigned char c : {static_cast<unsigned char>(d), static_cast<unsigned char>('"'),
                            static_cast<unsigned char>('\r')})
        special_[c] = true;
}

void CsvReader::setBufferBytes(std::size_t bytes) {
    bufferBytes = std::max<std::size_t>(bytes, 1);
}

CsvReader::~CsvReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool CsvReader::openFile(const std::string& path, std::int64_t offset, std::size_t most) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    // No bigger than the file needs: small data sets stay cheap to open.
    struct stat st {};
    std::size_t want = std::min(bufferBytes, most);
    if (::fstat(fd_, &st) == 0 && st.st_size >= offset && S_ISREG(st.st_mode))
        want = std::min<std::size_t>(want, static_cast<std::size_t>(st.st_size - offset) + 1);
    buf_.resize(std::max<std::size_t>(want, 1));
    b_ = buf_.data();
    return true;
}

void CsvReader::openBytes(const char* bytes, std::size_t n, std::int64_t offset,
                          std::int64_t line) {
    b_ = bytes;
    pos_ = 0;
    end_ = n;
    base_ = offset;
    line_ = line;
    eof_ = true; // nothing to read after them
}

bool CsvReader::open(const std::string& path) {
    if (!openFile(path, 0, bufferBytes)) return false;
    char bom[3];
    if (::pread(fd_, bom, 3, 0) == 3 && std::memcmp(bom, "\xEF\xBB\xBF", 3) == 0) {
        if (::lseek(fd_, 3, SEEK_SET) < 0) {
            error_ = std::strerror(errno);
            return false;
        }
        base_ = 3;
    }
    return refill() || error_.empty();
}

bool CsvReader::open(const std::string& path, std::int64_t offset, std::int64_t line) {
    // A chunk of a file read on threads: a smaller buffer keeps to the processor's cache.
    return openFile(path, offset, 256 << 10) && seek(offset, line);
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
    return static_cast<unsigned char>(b_[pos_]);
}

bool CsvReader::seek(std::int64_t offset, std::int64_t line) {
    line_ = line;
    if (offset >= base_ && offset <= base_ + static_cast<std::int64_t>(end_)) {
        pos_ = static_cast<std::size_t>(offset - base_);
        return true;
    }
    if (fd_ < 0) {
        error_ = "outside the bytes read";
        return false;
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

// The common case: a whole line in the buffer, without quotes or a lone CR. One pass finds
// the line's end, its separators and anything that needs the full parser.
bool CsvReader::nextSimpleLine(CsvRecord& rec) {
    const char* p = b_ + pos_;
    const char* e = b_ + end_;
    const char* q = p;
    const char* nl = nullptr; // the line feed that ends the line
    const char* le = nullptr; // the end of its text (before a CR that goes with the LF)
    unsigned high = 0;
    auto separators = [&](unsigned m, const char* at) {
        for (; m; m &= m - 1)
            rec.ends.push_back(static_cast<std::uint32_t>(at - p + __builtin_ctz(m)));
    };
#if defined(__SSE2__)
    const __m128i comma = _mm_set1_epi8(delim_), quote = _mm_set1_epi8('"'),
                  cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    __m128i any = _mm_setzero_si128();
    for (; e - q >= 16; q += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        const auto crs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
        const auto quotes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, quote)));
        const auto seps = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, comma)));
        const auto lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
        if (lfs == 0) {
            if (crs | quotes) {
                rec.ends.clear();
                return false;
            }
            any = _mm_or_si128(any, v);
            separators(seps, q);
            continue;
        }
        const int k = __builtin_ctz(lfs);
        const bool crlf = k > 0 && ((crs >> (k - 1)) & 1u);
        const unsigned text = (1u << (crlf ? k - 1 : k)) - 1; // the line's bytes in the block
        if ((crs | quotes) & text) {
            rec.ends.clear();
            return false;
        }
        high = (static_cast<unsigned>(_mm_movemask_epi8(v)) & text) |
               static_cast<unsigned>(_mm_movemask_epi8(any));
        separators(seps & text, q);
        nl = q + k;
        le = crlf ? nl - 1 : nl;
        break;
    }
    if (!nl) high = static_cast<unsigned>(_mm_movemask_epi8(any));
#endif
    if (!nl) { // fewer than 16 bytes left in the buffer
        nl = static_cast<const char*>(std::memchr(q, '\n', static_cast<std::size_t>(e - q)));
        if (!nl) {
            rec.ends.clear();
            return false;
        }
        le = nl > p && nl[-1] == '\r' ? nl - 1 : nl;
        for (; q < le; ++q) {
            high |= static_cast<unsigned char>(*q) & 0x80;
            if (!special_[static_cast<unsigned char>(*q)]) continue;
            if (*q != delim_) {
                rec.ends.clear();
                return false;
            }
            rec.ends.push_back(static_cast<std::uint32_t>(q - p));
        }
    }
    if (le - p >= static_cast<std::ptrdiff_t>(UINT32_MAX)) {
        rec.ends.clear();
        return false;
    }
    rec.ends.push_back(static_cast<std::uint32_t>(le - p));
    recLine_ = line_;
    recOffset_ = base_ + static_cast<std::int64_t>(pos_);
    rec.pointAt(p, static_cast<std::size_t>(le - p));
    rec.blankLine = le == p;
    rec.high = high != 0;
    pos_ = static_cast<std::size_t>(nl + 1 - b_);
    ++line_;
    return true;
}

CsvReader::Result CsvReader::next(CsvRecord& rec) {
    rec.clear();
    if (peek() < 0) return error_.empty() ? Result::End : Result::IoError;
    if (nextSimpleLine(rec)) return Result::Record;
    recLine_ = line_;
    recOffset_ = base_ + static_cast<std::int64_t>(pos_);
    bool any = false; // anything on the line besides its terminator
    for (;;) {
        // One field.
        int c = peek();
        if (c == '"') {
            any = true;
            rec.quoted.push_back(static_cast<std::uint32_t>(rec.ends.size()));
            std::int64_t quoteLine = line_;
            ++pos_;
            for (;;) {
                if (pos_ == end_ && !refill()) {
                    if (!error_.empty()) return Result::IoError;
                    errField_ = rec.ends.size() + 1;
                    recLine_ = quoteLine;
                    return Result::Unterminated;
                }
                const char* p = b_ + pos_;
                const char* e = b_ + end_;
                const char* q = static_cast<const char*>(std::memchr(p, '"', e - p));
                const char* stop = q ? q : e;
                line_ += std::count(p, stop, '\n');
                rec.data.append(p, stop);
                pos_ = static_cast<std::size_t>(stop - b_);
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
            const char* p = b_ + pos_;
            const char* e = b_ + end_;
            const char* s = p;
            while (s < e && !stops_[static_cast<unsigned char>(*s)])
                ++s;
            if (s != p) any = true;
            rec.data.append(p, s);
            pos_ = static_cast<std::size_t>(s - b_);
            if (s < e) break;
        }
        if (rec.data.size() > UINT32_MAX) {
            error_ = "record too long";
            return Result::IoError;
        }
        rec.ends.push_back(static_cast<std::uint32_t>(rec.data.size()));
        c = peek();
        if (c == static_cast<unsigned char>(delim_)) {
            any = true;
            rec.data += delim_;
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
        rec.high = std::any_of(rec.data.begin(), rec.data.end(),
                               [](char ch) { return static_cast<unsigned char>(ch) >= 0x80; });
        return Result::Record;
    }
}

} // namespace velloc::host
