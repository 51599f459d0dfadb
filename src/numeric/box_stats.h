// Summary statistics of the boxes of a box plot: weighted quartiles, mean, whisker ends at the
// most extreme observations inside the 1.5 IQR fences, and the observations beyond them.
#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace velloc::host {

struct BoxStats {
    double pos = 0, total = 0, sum = 0, min = HUGE_VAL, max = -HUGE_VAL;
    double q[3] = {NAN, NAN, NAN}; // 25%, 50%, 75%
    double whiskerLo = HUGE_VAL, whiskerHi = -HUGE_VAL;
    // Distinct values beyond the fences, ascending; thinned evenly to at most the mark bound.
    std::vector<double> outliers;
    std::size_t outliersBeforeThinning = 0;
    double mean() const { return sum / total; }
};

// One observation of a box plot: the position of its box, its value and its weight (frequency
// x weight). Rows with a missing position or value or no positive weight take no part.
struct BoxObs {
    double pos = NAN, value = NAN, weight = 0;
};

// At most `limit` of the sorted values, evenly spaced by rank; the first and the last stay.
std::vector<double> thinEvenly(const std::vector<double>& sorted, std::size_t limit);

// The boxes, in order of first appearance, from the observations forEach(visit) gives: it calls
// visit(BoxObs) for each of them, in the same order on each of its four calls. No copy of the
// observations: totals and extremes; a weight histogram that finds the bin holding each
// quartile; then only that bin's values are sorted. A quartile is the first value whose running
// weight reaches q x total. sizeHint: about how many observations there are.
template <class ForEach>
std::vector<BoxStats> boxSummariesOf(ForEach forEach, std::size_t maxOutliers,
                                     std::size_t sizeHint = 0) {
    constexpr std::size_t kBins = 4096;
    static constexpr double kQ[3] = {0.25, 0.5, 0.75};
    std::vector<BoxStats> boxes;
    std::vector<std::uint32_t> boxOf; // each observation's box, UINT32_MAX for none
    boxOf.reserve(sizeHint);
    // Observations come in runs of one position: one at the previous one's position joins its
    // box without the search, which would find the same one.
    double lastPos = NAN;
    std::size_t b = 0;
    forEach([&](const BoxObs& o) {
        if (std::isnan(o.pos) || std::isnan(o.value) || !(o.weight > 0)) {
            boxOf.push_back(UINT32_MAX);
            return;
        }
        if (!(o.pos == lastPos)) {
            b = 0;
            while (b < boxes.size() && std::fabs(boxes[b].pos - o.pos) >= 1e-9)
                ++b;
            if (b == boxes.size()) boxes.emplace_back().pos = o.pos;
            lastPos = o.pos;
        }
        BoxStats& s = boxes[b];
        s.total += o.weight, s.sum += o.value * o.weight;
        s.min = std::min(s.min, o.value), s.max = std::max(s.max, o.value);
        boxOf.push_back(static_cast<std::uint32_t>(b));
    });
    const std::size_t rows = boxOf.size();
    auto binOf = [&](const BoxStats& s, double x) {
        if (!(s.max > s.min)) return std::size_t{0};
        auto i = static_cast<std::size_t>((x - s.min) / (s.max - s.min) * kBins);
        return std::min(i, kBins - 1);
    };
    std::vector<std::vector<double>> hist(boxes.size(), std::vector<double>(kBins, 0.0));
    std::vector<std::uint16_t> binAt(rows); // each observation's bin, found once
    static_assert(kBins <= 65536);
    std::size_t r = 0;
    forEach([&](const BoxObs& o) {
        const std::size_t at = r++;
        if (at >= rows || boxOf[at] == UINT32_MAX) return;
        const std::size_t i = binOf(boxes[boxOf[at]], o.value);
        binAt[at] = static_cast<std::uint16_t>(i);
        hist[boxOf[at]][i] += o.weight;
    });
    // Per box and quartile: the target bin, the weight below it and the values in it.
    std::vector<std::array<std::size_t, 3>> bin(boxes.size());
    std::vector<std::array<double, 3>> below(boxes.size());
    std::vector<std::array<std::vector<std::pair<double, double>>, 3>> inBin(boxes.size());
    for (std::size_t b = 0; b < boxes.size(); ++b)
        for (int k = 0; k < 3; ++k) {
            double acc = 0;
            std::size_t i = 0;
            while (i + 1 < kBins && acc + hist[b][i] < kQ[k] * boxes[b].total)
                acc += hist[b][i++];
            bin[b][k] = i, below[b][k] = acc;
        }
    r = 0;
    forEach([&](const BoxObs& o) {
        const std::size_t at = r++;
        if (at >= rows || boxOf[at] == UINT32_MAX) return;
        const std::size_t b = boxOf[at], i = binAt[at];
        if (bin[b][0] != i && bin[b][1] != i && bin[b][2] != i) return;
        for (int k = 0; k < 3; ++k)
            if (bin[b][k] == i) inBin[b][k].push_back({o.value, o.weight});
    });
    for (std::size_t b = 0; b < boxes.size(); ++b)
        for (int k = 0; k < 3; ++k) {
            auto& v = inBin[b][k];
            std::sort(v.begin(), v.end());
            double acc = below[b][k];
            for (const auto& [x, w] : v) {
                acc += w;
                boxes[b].q[k] = x;
                if (acc >= kQ[k] * boxes[b].total) break;
            }
        }
    r = 0;
    forEach([&](const BoxObs& o) {
        const std::size_t at = r++;
        if (at >= rows || boxOf[at] == UINT32_MAX) return;
        BoxStats& s = boxes[boxOf[at]];
        const double x = o.value, iqr = s.q[2] - s.q[0];
        if (x < s.q[0] - 1.5 * iqr || x > s.q[2] + 1.5 * iqr) {
            s.outliers.push_back(x);
        } else {
            s.whiskerLo = std::min(s.whiskerLo, x);
            s.whiskerHi = std::max(s.whiskerHi, x);
        }
    });
    for (BoxStats& s : boxes) {
        std::sort(s.outliers.begin(), s.outliers.end());
        s.outliers.erase(std::unique(s.outliers.begin(), s.outliers.end()), s.outliers.end());
        s.outliersBeforeThinning = s.outliers.size();
        s.outliers = thinEvenly(s.outliers, maxOutliers);
    }
    return boxes;
}

// The boxes of `rows` observations read by obs(r), as boxSummariesOf finds them.
template <class Obs>
std::vector<BoxStats> boxSummaries(std::size_t rows, Obs obs, std::size_t maxOutliers) {
    return boxSummariesOf(
        [&](auto&& visit) {
            for (std::size_t r = 0; r < rows; ++r)
                visit(obs(r));
        },
        maxOutliers, rows);
}

} // namespace velloc::host
