#include "numeric/box_stats.h"

namespace velloc::host {

std::vector<double> thinEvenly(const std::vector<double>& sorted, std::size_t limit) {
    const std::size_t n = sorted.size();
    if (n <= limit) return sorted;
    std::vector<double> kept;
    if (limit == 0) return kept;
    if (limit == 1) return {sorted.back()};
    kept.reserve(limit);
    // Rank j (n - 1) / (limit - 1), rounded: equal steps from the first to the last value.
    for (std::size_t j = 0; j < limit; ++j)
        kept.push_back(sorted[(j * (n - 1) + (limit - 1) / 2) / (limit - 1)]);
    return kept;
}

} // namespace velloc::host
