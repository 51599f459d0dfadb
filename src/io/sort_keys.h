// The sort's image of a key: an unsigned integer whose order is the order zsort gives.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

#include "io/utility_file.h"

namespace velloc::host::detail {

// Order-preserving image of a double: NaN (missing) lowest, -0 equal to +0; complemented for
// a descending key, which also puts NaN highest.
inline std::uint64_t encode(const char* rec, const SortKey& k) {
    constexpr std::uint64_t kSign = std::uint64_t{1} << 63;
    double d;
    std::memcpy(&d, rec + static_cast<std::size_t>(k.offset) * 8, 8);
    std::uint64_t u;
    if (d != d) {
        u = 0;
    } else {
        if (d == 0.0) d = 0.0;
        u = std::bit_cast<std::uint64_t>(d);
        u = (u & kSign) ? ~u : (u | kSign);
    }
    return k.descending ? ~u : u;
}

} // namespace velloc::host::detail
