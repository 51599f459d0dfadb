#include "numeric/radix_sort.h"

#include <cmath>

namespace velloc {

void sortValues(const double* x, std::size_t n, std::vector<KeyedPosition>& items,
                std::vector<KeyedPosition>& spare) {
    items.clear();
    items.reserve(n);
    // Adding 0.0 makes -0 into +0, so that equal values have equal keys.
    for (std::size_t i = 0; i < n; ++i)
        if (!std::isnan(x[i]))
            items.push_back({orderKey(x[i] + 0.0), static_cast<std::uint32_t>(i)});
    radixSort(items, spare, [](const KeyedPosition& it) { return it.key; });
}

} // namespace velloc
