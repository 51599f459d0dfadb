#include "io/csv_row_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>

#include "base/missing.h"
#include "io/csv_number.h"
#include "io/short_decimal.h"

namespace velloc::host {
namespace {

constexpr std::size_t kBatchRows = 4096;
constexpr std::size_t kQueued = 3; // batches waiting for the worker before the step waits

bool needsQuotes(std::string_view s) {
    if (s.empty()) return false;
    if (s.front() == ' ' || s.back() == ' ') return true;
    return s.find_first_of(",\"\r\n") != std::string_view::npos;
}

char* writeCsvText(char* out, std::string_view s) {
    if (!needsQuotes(s)) {
        if (!s.empty()) std::memcpy(out, s.data(), s.size());
        return out + s.size();
    }
    *out++ = '"';
    for (char c : s) {
        if (c == '"') *out++ = '"';
        *out++ = c;
    }
    *out++ = '"';
    return out;
}

} // namespace

void appendCsvText(std::string& out, std::string_view s) {
    const std::size_t at = out.size();
    out.resize(at + 2 * s.size() + 2); // quoted, each byte doubled at most
    out.resize(static_cast<std::size_t>(writeCsvText(out.data() + at, s) - out.data()));
}

CsvRowWriter::CsvRowWriter(std::FILE* file, std::vector<VarType> types)
    : file_(file), types_(std::move(types)), looksNumeric_(types_.size(), 1), queue_(kQueued) {
    worker_ = std::thread([this] { serve(); });
}

CsvRowWriter::~CsvRowWriter() {
    finish();
}

void CsvRowWriter::text(std::string s) {
    if (filling_.rows > 0) submit();
    filling_.lead += s;
}

void CsvRowWriter::row(std::span<const double> nums, std::span<const std::string> texts) {
    Batch& b = filling_;
    b.nums.insert(b.nums.end(), nums.begin(), nums.end());
    for (std::size_t i = 0; i < types_.size(); ++i)
        if (types_[i] == VarType::Character) {
            b.texts += texts[i];
            b.ends.push_back(b.texts.size());
        }
    if (++b.rows == kBatchRows) submit();
}

void CsvRowWriter::submit() {
    queue_.put(std::move(filling_)); // the worker takes every batch, failed or not
    filling_ = Batch();
}

std::string CsvRowWriter::finish() {
    if (finished_) return error_;
    if (filling_.rows > 0 || !filling_.lead.empty()) submit();
    queue_.close();
    worker_.join();
    finished_ = true;
    return error_;
}

std::size_t CsvRowWriter::room(const Batch& b) const {
    // The worst case: every text quoted with each byte doubled, every number at its longest.
    constexpr std::size_t kNumberRoom = 32; // the longest shortest form is 24 characters
    const std::size_t n = types_.size();
    const auto numeric =
        static_cast<std::size_t>(std::count(types_.begin(), types_.end(), VarType::Numeric));
    return b.lead.size() + b.rows * (n + 1 + numeric * kNumberRoom + 2 * (n - numeric)) +
           2 * b.texts.size();
}

char* CsvRowWriter::format(const Batch& b, char* p) {
    if (!b.lead.empty()) p = std::copy(b.lead.begin(), b.lead.end(), p);
    const std::size_t n = types_.size();
    std::size_t text = 0, at = 0;
    for (std::size_t r = 0; r < b.rows; ++r) {
        for (std::size_t i = 0; i < n; ++i) {
            if (i) *p++ = ',';
            if (types_[i] == VarType::Numeric) {
                const double v = b.nums[r * n + i];
                // The shortest form reads back to the same double.
                if (!isMissing(v)) p = writeShortest(v, p);
            } else {
                const std::string_view t(b.texts.data() + at, b.ends[text] - at);
                at = b.ends[text++];
                double x;
                if (looksNumeric_[i] && parseCell(t, x) == CellKind::Text) looksNumeric_[i] = 0;
                p = writeCsvText(p, t);
            }
        }
        *p++ = '\n';
    }
    return p;
}

void CsvRowWriter::serve() {
    // The batch's text is written through a pointer into room set aside for its worst case,
    // left uninitialised (clearing it cost as much as a fifth of the formatting).
    std::unique_ptr<char[]> out;
    std::size_t capacity = 0;
    while (std::optional<Batch> taken = queue_.take()) {
        const Batch& b = *taken;
        if (!error_.empty()) continue; // drop what follows a failed write
        if (const std::size_t need = room(b); need > capacity) {
            out.reset(new char[need]);
            capacity = need;
        }
        const auto size = static_cast<std::size_t>(format(b, out.get()) - out.get());
        if (std::fwrite(out.get(), 1, size, file_) != size) error_ = std::strerror(errno);
    }
}

} // namespace velloc::host
