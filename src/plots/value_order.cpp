// Value order by radix sort: a million values sort in four passes over 16-byte items, where a
// comparison sort of (value, position) pairs takes some twenty.
#include "plots/value_order.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velloc {

namespace {

constexpr int kDigitBits = 16;
constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
constexpr int kPasses = 64 / kDigitBits;
// Below this, the histograms cost more than a comparison sort.
constexpr std::size_t kRadixMin = 2048;

// Keys whose unsigned order is the numeric order of the (non-NaN) values: negative values
// have all bits flipped, the others the sign bit set. -0 becomes +0 first, as the two compare
// equal and must tie.
std::uint64_t orderKey(double x) {
    if (x == 0.0) x = 0.0;
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return (u >> 63) ? ~u : u | (std::uint64_t{1} << 63);
}

} // namespace

void valueOrder(const double* values, std::size_t n, std::vector<std::uint32_t>& order,
                ValueOrderBuffers& buf) {
    auto& items = buf.items;
    items.clear();
    items.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        if (!std::isnan(values[i]))
            items.push_back({orderKey(values[i]), static_cast<std::uint32_t>(i)});
    const std::size_t m = items.size();
    if (m < kRadixMin) {
        std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
            return a.key != b.key ? a.key < b.key : a.at < b.at;
        });
    } else {
        // One pass counts every digit; each sorting pass is then a stable scatter by one digit,
        // skipped when all keys share it.
        auto& counts = buf.counts;
        counts.assign(kBuckets * kPasses, 0);
        for (const auto& it : items)
            for (int p = 0; p < kPasses; ++p)
                ++counts[p * kBuckets + ((it.key >> (p * kDigitBits)) & (kBuckets - 1))];
        buf.spare.resize(m);
        for (int p = 0; p < kPasses; ++p) {
            std::uint32_t* c = counts.data() + p * kBuckets;
            const std::uint32_t first = c[(items[0].key >> (p * kDigitBits)) & (kBuckets - 1)];
            if (first == m) continue;
            std::uint32_t sum = 0;
            for (std::size_t b = 0; b < kBuckets; ++b) {
                const std::uint32_t k = c[b];
                c[b] = sum;
                sum += k;
            }
            for (const auto& it : items)
                buf.spare[c[(it.key >> (p * kDigitBits)) & (kBuckets - 1)]++] = it;
            items.swap(buf.spare);
        }
    }
    order.resize(n);
    for (std::size_t i = 0; i < m; ++i)
        order[i] = items[i].at;
    std::size_t k = m;
    for (std::size_t i = 0; i < n && k < n; ++i)
        if (std::isnan(values[i])) order[k++] = static_cast<std::uint32_t>(i);
}

} // namespace velloc
