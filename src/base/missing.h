// The host's numeric missing value: a quiet NaN with a fixed bit pattern. Every missing test
// is a NaN test, so any NaN that reaches a table or a data set counts as missing.
#pragma once
#include <bit>
#include <cmath>
#include <cstdint>

namespace velloc::host {

inline constexpr std::uint64_t kMissingBits = 0xFFFFFE0000000000ULL;

inline double missingValue() {
    return std::bit_cast<double>(kMissingBits);
}
inline bool isMissing(double v) {
    return std::isnan(v);
}

} // namespace velloc::host
