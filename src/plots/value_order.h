// The value order of a plotted column: the positions of its values ascending, ties in position
// order, missing values (NaN) last in position order; -0 and +0 are one value.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "numeric/radix_sort.h"

namespace velloc {

// Scratch kept from one column to the next, so a family of plots touches its pages once.
struct ValueOrderBuffers {
    std::vector<KeyedPosition> items, spare;
};

// Writes the positions 0..n-1 of values in value order into order. A least-significant-digit
// radix sort on the bits of the values: stable, so ties keep their positions' order.
void valueOrder(const double* values, std::size_t n, std::vector<std::uint32_t>& order,
                ValueOrderBuffers& buf);

} // namespace velloc
