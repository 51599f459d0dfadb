// Value order by radix sort: a million values sort in a handful of passes over 16-byte items,
// where a comparison sort of (value, position) pairs takes some twenty. -0 ties +0.
#include "plots/value_order.h"

#include <cmath>

namespace velloc {

void valueOrder(const double* values, std::size_t n, std::vector<std::uint32_t>& order,
                ValueOrderBuffers& buf) {
    sortValues(values, n, buf.items, buf.spare);
    const std::vector<KeyedPosition>& items = buf.items;
    const std::size_t m = items.size();
    order.resize(n);
    for (std::size_t i = 0; i < m; ++i)
        order[i] = items[i].at;
    std::size_t k = m;
    for (std::size_t i = 0; i < n && k < n; ++i)
        if (std::isnan(values[i])) order[k++] = static_cast<std::uint32_t>(i);
}

} // namespace velloc
