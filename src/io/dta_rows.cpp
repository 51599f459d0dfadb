#include "io/dta_rows.h"

#include <bit>
#include <cstring>
#include <sys/stat.h>

#include "base/missing.h"
#include "io/file_bytes.h"

namespace velloc::host {

namespace {

// Exactly n bytes at off into out; false when the file cannot be read or ends before.
bool readExactly(const std::string& path, std::int64_t off, std::size_t n, std::string& out) {
    std::string why;
    if (readFileBytes(path, off, static_cast<std::int64_t>(n), out, why) !=
        static_cast<std::int64_t>(n))
        return false;
    out.resize(n);
    return true;
}

// A little-endian unsigned field of the header.
std::uint64_t unsignedOf(std::string_view b) {
    std::uint64_t v = 0;
    for (std::size_t i = b.size(); i-- > 0;)
        v = v << 8 | static_cast<unsigned char>(b[i]);
    return v;
}

template <class T> T load(const char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The header's fields in order, each between its tags.
class HeaderReader {
  public:
    explicit HeaderReader(std::string_view s) : s_(s) {}
    bool tag(std::string_view t) {
        if (s_.substr(at_, t.size()) != t) return false;
        at_ += t.size();
        return true;
    }
    bool bytes(std::size_t n, std::string_view& out) {
        if (at_ + n > s_.size()) return false;
        out = s_.substr(at_, n);
        at_ += n;
        return true;
    }
    std::size_t at() const { return at_; }

  private:
    std::string_view s_;
    std::size_t at_ = 0;
};

std::size_t storageBytes(std::uint16_t type) {
    if (type >= 1 && type <= 2045) return type;
    switch (type) {
    case kDtaDouble:
        return 8;
    case kDtaFloat:
    case kDtaLong:
        return 4;
    case kDtaInt:
        return 2;
    case kDtaByte:
        return 1;
    default:
        return 0; // a long string (32768), or a code no release of these knows
    }
}

} // namespace

std::optional<DtaLayout> readDtaLayout(const std::string& path, std::size_t nvars) {
    if constexpr (std::endian::native != std::endian::little) return std::nullopt;
    if (nvars == 0) return std::nullopt;
    // The header and the map: well within the first kilobyte whatever the label's length.
    std::string head, why;
    const std::int64_t n = readFileBytes(path, 0, 1024, head, why);
    if (n <= 0) return std::nullopt;
    head.resize(static_cast<std::size_t>(n));

    DtaLayout lay;
    HeaderReader h(head);
    std::string_view release, order, k, rows;
    if (!h.tag("<stata_dta><header><release>") || !h.bytes(3, release) ||
        !h.tag("</release><byteorder>") || !h.bytes(3, order) || !h.tag("</byteorder><K>"))
        return std::nullopt;
    const int rel = release == "117" ? 117 : release == "118" ? 118 : release == "119" ? 119 : 0;
    if (rel == 0) return std::nullopt;
    if (order != "LSF") return std::nullopt;
    if (!h.bytes(rel == 119 ? 4 : 2, k) || !h.tag("</K><N>") ||
        !h.bytes(rel == 117 ? 4 : 8, rows) || !h.tag("</N>"))
        return std::nullopt;
    if (unsignedOf(k) != nvars) return std::nullopt;
    const std::uint64_t nRows = unsignedOf(rows);

    std::string_view labelLen, label, tsLen, ts;
    if (!h.tag("<label>") || !h.bytes(rel == 117 ? 1 : 2, labelLen) ||
        !h.bytes(unsignedOf(labelLen), label) || !h.tag("</label><timestamp>") ||
        !h.bytes(1, tsLen) || !h.bytes(unsignedOf(tsLen), ts) ||
        !h.tag("</timestamp></header><map>"))
        return std::nullopt;
    const std::size_t mapAt = h.at() - 5;
    if (mapAt + 5 + 14 * 8 > head.size()) return std::nullopt;
    std::uint64_t map[14];
    for (int i = 0; i < 14; ++i)
        map[i] = load<std::uint64_t>(head.data() + mapAt + 5 + 8 * i);
    // A file cut short, or grown, is the library's to read, and to report.
    struct stat st {};
    if (map[0] != 0 || map[1] != mapAt || ::stat(path.c_str(), &st) != 0 ||
        static_cast<std::uint64_t>(st.st_size) != map[13])
        return std::nullopt;

    std::string types;
    if (!readExactly(path, static_cast<std::int64_t>(map[2]), 16 + 2 * nvars, types) ||
        types.compare(0, 16, "<variable_types>") != 0)
        return std::nullopt;
    std::uint64_t width = 0;
    for (std::size_t i = 0; i < nvars; ++i) {
        const auto type = load<std::uint16_t>(types.data() + 16 + 2 * i);
        const std::size_t bytes = storageBytes(type);
        if (bytes == 0) return std::nullopt;
        if (rel == 117 && type <= 2045) return std::nullopt;
        lay.columns.push_back({static_cast<std::uint32_t>(width), type});
        width += bytes;
    }
    if (width > UINT32_MAX) return std::nullopt; // offsets in a row are 32 bits
    lay.rowBytes = static_cast<std::size_t>(width);
    if (nRows > (std::uint64_t{1} << 62) / width) return std::nullopt;
    lay.rows = static_cast<std::int64_t>(nRows);

    // The data section: its opening tag where the map says, its closing one right after the
    // rows, and the long strings' section right after that.
    std::string tag;
    if (!readExactly(path, static_cast<std::int64_t>(map[9]), 6, tag) || tag != "<data>")
        return std::nullopt;
    lay.dataOffset = static_cast<std::int64_t>(map[9]) + 6;
    const std::uint64_t dataEnd = static_cast<std::uint64_t>(lay.dataOffset) + nRows * width;
    if (map[10] != dataEnd + 7 || !readExactly(path, static_cast<std::int64_t>(dataEnd), 7, tag) ||
        tag != "</data>")
        return std::nullopt;
    return lay;
}

double dtaNumber(const char* row, const DtaColumn& c) {
    const char* p = row + c.offset;
    // Above each type's largest number lie its missing values.
    switch (c.type) {
    case kDtaDouble: {
        const auto v = load<double>(p);
        return v <= 0x1.fffffffffffffp+1022 ? v : missingValue();
    }
    case kDtaFloat: {
        const auto v = load<float>(p);
        return v <= 0x1.fffffep+126f ? static_cast<double>(v) : missingValue();
    }
    case kDtaLong: {
        const auto v = load<std::int32_t>(p);
        return v <= 2147483620 ? static_cast<double>(v) : missingValue();
    }
    case kDtaInt: {
        const auto v = load<std::int16_t>(p);
        return v <= 32740 ? static_cast<double>(v) : missingValue();
    }
    case kDtaByte: {
        const auto v = load<std::int8_t>(p);
        return v <= 100 ? static_cast<double>(v) : missingValue();
    }
    default:
        return missingValue();
    }
}

std::string_view dtaText(const char* row, const DtaColumn& c) {
    const char* p = row + c.offset;
    if (c.type > 2045) return {}; // not a string column
    const void* nul = std::memchr(p, '\0', c.type);
    std::size_t n = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - p) : c.type;
    // Trailing blanks are padding to a Stata user, and the library drops them too.
    while (n > 0 && p[n - 1] == ' ')
        --n;
    return {p, n};
}

std::string readDtaRows(const std::string& path, const DtaLayout& layout, std::int64_t first,
                        std::int64_t count, std::string& buf) {
    const auto bytes = count * static_cast<std::int64_t>(layout.rowBytes);
    std::string why;
    const std::int64_t got =
        readFileBytes(path, layout.dataOffset + first * static_cast<std::int64_t>(layout.rowBytes),
                      bytes, buf, why);
    if (got < 0) return why;
    if (got != bytes) return "it changed while it was being read";
    return {};
}

} // namespace velloc::host
