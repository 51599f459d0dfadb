#include "assess/ecdf.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace velloc {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

EcdfMasses ecdfMasses(const std::vector<int>& g, const std::vector<double>& f,
                      const std::vector<std::vector<double>>& unitWeight) {
    EcdfMasses m;
    m.nSets = unitWeight.size();
    const std::size_t n = g.size();
    m.mass.resize(n * m.nSets);
    m.group.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        m.group[i] = static_cast<std::uint8_t>(g[i]);
        for (std::size_t s = 0; s < m.nSets; ++s) {
            const double w = unitWeight[s][i];
            m.mass[i * m.nSets + s] = w >= 0.0 ? f[i] * w : -1.0;
        }
    }
    return m;
}

void ecdfSortedKeys(const std::vector<double>& x, EcdfScratch& s) {
    sortValues(x.data(), x.size(), s.items, s.spare);
}

std::vector<EcdfDiff> ecdfDiffSets(const std::vector<double>& x, const EcdfMasses& m,
                                   EcdfScratch& s) {
    const std::size_t nSets = m.nSets;
    std::vector<std::array<double, 2>> total(nSets, {0.0, 0.0});
    // An indicator needs no sort: its one step below the largest value is at 0, where the
    // gap is the difference of the weighted shares of 1.
    bool indicator = true;
    std::vector<std::array<double, 2>> ones(nSets, {0.0, 0.0});
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::isnan(x[i])) continue;
        if (x[i] != 0.0 && x[i] != 1.0) indicator = false;
        const double* mass = &m.mass[i * nSets];
        for (std::size_t k = 0; k < nSets; ++k)
            if (mass[k] >= 0.0) {
                total[k][m.group[i]] += mass[k];
                if (x[i] == 1.0) ones[k][m.group[i]] += mass[k];
            }
    }
    std::vector<EcdfDiff> out;
    auto undefined = [&](std::size_t k) { return !(total[k][0] > 0.0) || !(total[k][1] > 0.0); };
    if (indicator) {
        for (std::size_t k = 0; k < nSets; ++k) {
            const double gap = std::fabs(ones[k][1] / total[k][1] - ones[k][0] / total[k][0]);
            out.push_back(undefined(k) ? EcdfDiff{kNaN, kNaN} : EcdfDiff{gap, gap});
        }
        return out;
    }
    ecdfSortedKeys(x, s);
    // Per set: running masses, and the difference at the set's latest distinct value, which
    // counts only once a larger value of the set follows (the largest never counts).
    std::vector<std::array<double, 2>> cum(nSets, {0.0, 0.0});
    std::vector<double> sum(nSets, 0.0), max(nSets, 0.0), pending(nSets, kNaN);
    std::vector<std::size_t> distinct(nSets, 0);
    std::vector<unsigned char> seen(nSets, 0);
    const std::vector<KeyedPosition>& items = s.items;
    const std::size_t n = items.size();
    for (std::size_t j = 0; j < n;) {
        const std::uint64_t v = items[j].key;
        std::fill(seen.begin(), seen.end(), 0);
        for (; j < n && items[j].key == v; ++j) {
            // The records come in value order, scattered over the masses: fetch ahead.
            if (j + 16 < n) {
                __builtin_prefetch(&m.mass[static_cast<std::size_t>(items[j + 16].at) * nSets]);
                __builtin_prefetch(&m.group[items[j + 16].at]);
            }
            const std::uint32_t i = items[j].at;
            const double* mass = &m.mass[static_cast<std::size_t>(i) * nSets];
            const int grp = m.group[i];
            for (std::size_t k = 0; k < nSets; ++k)
                if (mass[k] >= 0.0) {
                    cum[k][grp] += mass[k];
                    seen[k] = 1;
                }
        }
        for (std::size_t k = 0; k < nSets; ++k) {
            if (!seen[k]) continue;
            if (!std::isnan(pending[k])) {
                sum[k] += pending[k];
                max[k] = std::max(max[k], pending[k]);
                ++distinct[k];
            }
            pending[k] = std::fabs(cum[k][1] / total[k][1] - cum[k][0] / total[k][0]);
        }
    }
    for (std::size_t k = 0; k < nSets; ++k) {
        if (undefined(k))
            out.push_back({kNaN, kNaN});
        else
            out.push_back({distinct[k] ? sum[k] / static_cast<double>(distinct[k]) : 0.0, max[k]});
    }
    return out;
}

} // namespace velloc
