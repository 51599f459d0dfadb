// The rows of a Stata file of release 117, 118 or 119 decoded straight from its data section.
// Those releases store every row at the same width and every value at a fixed place in it, so
// a block of rows is one read and each value a load: the library's reader makes a call per
// value, which costs several times the decoding itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velloc::host {

struct DtaColumn {
    std::uint32_t offset = 0; // of the value in its row
    // The file's storage type: 1-2045 a string of that many bytes, else one of the kDta* codes.
    std::uint16_t type = 0;
};

inline constexpr std::uint16_t kDtaDouble = 65526;
inline constexpr std::uint16_t kDtaFloat = 65527;
inline constexpr std::uint16_t kDtaLong = 65528;
inline constexpr std::uint16_t kDtaInt = 65529;
inline constexpr std::uint16_t kDtaByte = 65530;

struct DtaLayout {
    std::int64_t dataOffset = 0; // of the first row
    std::int64_t rows = 0;
    std::size_t rowBytes = 0;
    std::vector<DtaColumn> columns; // in variable order
};

// The layout of the file's rows when it is one the direct reader takes: release 117-119, low
// byte first, nvars variables, no long-string (strL) column, for release 117 no string column
// at all (its texts are in a code page the library converts), and a map whose offsets agree
// with the sections they point at and with the data section's length. nullopt otherwise, and
// for any file that cannot be read: the library then reads it, and reports what is wrong.
std::optional<DtaLayout> readDtaLayout(const std::string& path, std::size_t nvars);

// A numeric value of a row: a missing value for any of Stata's missing values (., .a-.z),
// which every storage type keeps above its largest number.
double dtaNumber(const char* row, const DtaColumn& c);
// A string value of a row: its bytes up to the first NUL, or its width, less trailing blanks.
std::string_view dtaText(const char* row, const DtaColumn& c);

// Reads rows first .. first + count - 1 to the start of buf (which only grows). Empty when
// done, else why not: the system's error, or that the file is shorter than its layout says.
std::string readDtaRows(const std::string& path, const DtaLayout& layout, std::int64_t first,
                        std::int64_t count, std::string& buf);

} // namespace velloc::host
