#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "effect/bootstrap.h"
#include "effect/estimators.h"
#include "numeric/random.h"

namespace velloc::effect {

namespace {

double onScale(double estimate, Measure m) {
    return m == Measure::Diff ? estimate : std::log(estimate);
}

// The sample quantile of sorted values, linear between order statistics (R's type 7).
double quantile(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return std::nan("");
    const double h = (static_cast<double>(sorted.size()) - 1.0) * q;
    const auto lo = static_cast<std::size_t>(std::floor(h));
    const std::size_t hi = std::min(lo + 1, sorted.size() - 1);
    return sorted[lo] + (h - static_cast<double>(lo)) * (sorted[hi] - sorted[lo]);
}

double standardDeviation(const std::vector<double>& v) {
    if (v.size() < 2) return std::nan("");
    double mean = 0.0;
    for (double x : v)
        mean += x;
    mean /= static_cast<double>(v.size());
    double ss = 0.0;
    for (double x : v)
        ss += (x - mean) * (x - mean);
    return std::sqrt(ss / (static_cast<double>(v.size()) - 1.0));
}

} // namespace

Bootstrap bootstrapContrast(const Sample& s, Measure m, Estimand e, int nRep, double alpha,
                            std::int64_t& slot, bool blocks, void (*progress)(void*, int),
                            void* context) {
    Bootstrap b;
    b.contrast = weightedContrast(s, m, e, SeMethod::Robust);
    const std::size_t n = s.size(), p = static_cast<std::size_t>(s.p);

    // The resampling units: matched sets (rows in first-seen set order) or single rows.
    std::vector<std::size_t> start{0}, rows;
    if (blocks && s.cluster.size() == n) {
        std::unordered_map<double, std::size_t> index;
        std::vector<std::vector<std::size_t>> members;
        for (std::size_t i = 0; i < n; ++i) {
            auto [it, fresh] = index.try_emplace(s.cluster[i], members.size());
            if (fresh) members.emplace_back();
            members[it->second].push_back(i);
        }
        for (const auto& mset : members) {
            rows.insert(rows.end(), mset.begin(), mset.end());
            start.push_back(rows.size());
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            rows.push_back(i);
            start.push_back(i + 1);
        }
    }
    const std::size_t units = start.size() - 1;

    Sample r;
    r.p = s.p;
    std::vector<double> groupMeans[2];
    b.replicates.reserve(static_cast<std::size_t>(nRep));
    for (int rep = 0; rep < nRep;) {
        r.clear();
        bool groups[2] = {false, false};
        for (std::size_t u = 0; u < units; ++u) {
            auto pick =
                static_cast<std::size_t>(support::zranuni(slot) * static_cast<double>(units));
            if (pick >= units) pick = units - 1;
            for (std::size_t j = start[pick]; j < start[pick + 1]; ++j) {
                const std::size_t i = rows[j];
                r.y.push_back(s.y[i]);
                r.treat.push_back(s.treat[i]);
                r.weight.push_back(s.weight[i]);
                r.freq.push_back(s.freq[i]);
                r.x.insert(r.x.end(), s.x.begin() + static_cast<std::ptrdiff_t>(i * p),
                           s.x.begin() + static_cast<std::ptrdiff_t>((i + 1) * p));
                groups[s.treat[i] > 0.5 ? 1 : 0] = true;
            }
        }
        // A replicate without both groups (or without an estimate) is drawn again; a sample
        // that keeps failing gives up rather than loop.
        Contrast c;
        if (groups[0] && groups[1]) c = weightedContrast(r, m, e, SeMethod::Robust);
        const double est = groups[0] && groups[1] ? onScale(c.estimate, m) : std::nan("");
        if (std::isnan(est)) {
            if (++b.redrawn > 10LL * nRep) break;
            continue;
        }
        b.replicates.push_back(est);
        for (int g = 0; g < 2; ++g)
            groupMeans[g].push_back(c.mean[g]);
        ++rep;
        if (progress) progress(context, rep);
    }
    summarizeReplicates(b, groupMeans, m, alpha);
    return b;
}

void summarizeReplicates(Bootstrap& b, const std::vector<double> (&groupMeans)[2], Measure m,
                         double alpha) {
    b.contrast.se = standardDeviation(b.replicates);
    for (int g = 0; g < 2; ++g)
        b.contrast.meanSe[g] = standardDeviation(groupMeans[g]);
    std::vector<double> sorted(b.replicates);
    std::sort(sorted.begin(), sorted.end());
    b.lower = quantile(sorted, alpha / 2.0);
    b.upper = quantile(sorted, 1.0 - alpha / 2.0);
    if (m != Measure::Diff) b.lower = std::exp(b.lower), b.upper = std::exp(b.upper);
}

double onMeasureScale(double estimate, Measure m) {
    return onScale(estimate, m);
}

} // namespace velloc::effect
