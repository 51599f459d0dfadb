// The c statistic of the fitted model: the weighted share of treated-control pairs in which
// the treated row has the higher logit, ties counting one half.
#include <cmath>
#include <cstdint>
#include <new>

#include "model/fit_passes.h"
#include "model/fit_rows.h"
#include "model/mapped_array.h"
#include "numeric/radix_sort.h"

namespace velloc {

using namespace fitrows;

namespace {

// A scored row: its logit, and its weight negated for a treated row (weights are positive).
struct Scored {
    double lps, wg;
};

// Sorts by lps, stably (-0 just below +0, NaN at the ends).
void sortByScore(MappedArray<Scored>& s) {
    MappedArray<Scored> out;
    if (!out.reserve(s.size())) throw std::bad_alloc();
    out.resize(s.size());
    if (radixSortTwoThreads(s.data(), out.data(), s.size(),
                            [](const Scored& x) { return orderKey(x.lps); }) != s.data())
        s.swap(out);
}

// Sorts keys in place (through a spare array of their size).
void sortKeys(MappedArray<std::uint64_t>& k) {
    MappedArray<std::uint64_t> out;
    if (!out.reserve(k.size())) throw std::bad_alloc();
    out.resize(k.size());
    if (radixSortTwoThreads(k.data(), out.data(), k.size(), [](std::uint64_t x) { return x; }) !=
        k.data())
        k.swap(out);
}

// Where scoreRows splits the cached rows between the two cores.
std::size_t cacheSplit(const VlcFit& fit) {
    return fit.cacheW.size() / 2;
}

// How many of all the usable rows scoreRows gives half 0.
std::size_t firstHalfRows(const VlcFit& fit, std::size_t all) {
    if (fit.cacheFull) return useTwoCores(fit) ? cacheSplit(fit) : all;
    return fit.splitReads ? fit.halfUsable : all;
}

// Calls put(half, eta, w, treated) for every usable row in order, each half of the rows on a
// core of its own when the fit's passes run on two: half 0 is the cached rows before
// cacheSplit (from the cache) or the records before fit.halfRecord (read by number); on one
// core every row is half 0. put returns false to stop. False when the rows fail, or put did.
template <class Put> bool scoreRows(VlcFit& fit, const FitResult& res, Put&& put) {
    const int D = fit.D;
    auto logit = [&](const double* x) { // design columns 1 .. D-1 at x[0 ..]
        double eta = res.coef[0];
        for (int j = 1; j < D; ++j)
            eta += res.coef[j] * x[j - 1];
        return eta;
    };
    if (fit.cacheFull) {
        auto score = [&](int half, std::size_t from, std::size_t to) {
            for (std::size_t i = from; i < to; ++i)
                if (!put(half, logit(cachedDesign(fit, i)), fit.cacheW[i], fit.cacheY[i] == 1.0))
                    return false;
            return true;
        };
        const std::size_t n = fit.cacheW.size(), split = cacheSplit(fit);
        if (!useTwoCores(fit)) return score(0, 0, n);
        bool ok[2] = {false, false};
        runBeside([&] { ok[0] = score(0, 0, split); }, [&] { ok[1] = score(1, split, n); });
        return ok[0] && ok[1];
    }
    if (fit.splitReads) {
        auto score = [&](int half, std::size_t from, std::size_t to) {
            RecordRange range(fit, from, to);
            while (const double* rec = range.next()) {
                double w;
                int k;
                if (usableRow(rec, D, w, k) && !put(half, logit(rec + kRowDesign + 1), w, k == 1))
                    return false;
            }
            return !range.failed();
        };
        bool ok[2] = {false, false};
        runBeside(
            [&] { ok[0] = score(0, 0, fit.halfRecord); },
            [&] { ok[1] = score(1, fit.halfRecord, static_cast<std::size_t>(fit.nRecords)); });
        return ok[0] && ok[1];
    }
    if (fit.rows->rewind() != 0) return false;
    double* rec = fit.recBuf.data();
    for (std::int64_t left = fit.nRecords; left > 0; --left) {
        if (!fit.rows->read(rec)) return false;
        double w;
        int k;
        if (usableRow(rec, D, w, k) && !put(0, logit(rec + kRowDesign + 1), w, k == 1))
            return false;
    }
    return true;
}

// A half's place in an array filled by scoreRows: the next slot and the end of its part. Each
// sits on a cache line of its own, as the two cores move them on every row.
struct alignas(64) Part {
    std::size_t at = 0, end = 0;
};

// The statistic when every weight is 1 (no FREQ or WEIGHT): the treated rows' logits and the
// controls' are sorted apart, 8 bytes a row instead of the weighted walk's 16, and merged.
// Every sum is then a count, or a count and a half, below 2^52 and so exact in any order: the
// statistic is the weighted walk's to the last bit. 1 when the rows fail, -1 when this does
// not apply (a NaN logit, which the walk counts alone, or too many pairs to count exactly).
int countedConcordance(VlcFit& fit, FitResult& res) {
    const auto n1 = static_cast<std::size_t>(res.total[1]);
    const auto n0 = static_cast<std::size_t>(res.total[0]);
    if (n1 == 0 || n0 == 0 || static_cast<double>(n1) * static_cast<double>(n0) >= 0x1p52)
        return -1;
    MappedArray<std::uint64_t> keys[2]; // controls, treated
    if (!keys[0].reserve(n0) || !keys[1].reserve(n1)) throw std::bad_alloc();
    keys[0].resize(n0);
    keys[1].resize(n1);
    // Each half's treated and controls go to its own part of the two arrays.
    Part part[2][2]; // [half][group]
    struct alignas(64) Flag {
        bool set = false;
    } nan[2];
    const std::size_t firstUsable = firstHalfRows(fit, n0 + n1);
    std::size_t firstTreated = n1; // of half 0: all of them on one core
    if (firstUsable < n0 + n1 && fit.cacheFull) {
        firstTreated = 0;
        for (std::size_t i = 0; i < firstUsable; ++i)
            firstTreated += fit.cacheY[i] == 1.0;
    } else if (firstUsable < n0 + n1) {
        firstTreated = fit.halfTreated; // counted by the cross-product pass
    }
    if (firstTreated > n1 || firstUsable - firstTreated > n0) return 1; // the rows changed
    part[0][1] = {0, firstTreated};
    part[1][1] = {firstTreated, n1};
    part[0][0] = {0, firstUsable - firstTreated};
    part[1][0] = {firstUsable - firstTreated, n0};
    const bool read = scoreRows(fit, res, [&](int half, double eta, double, bool t) {
        Part& p = part[half][t ? 1 : 0];
        if (p.at == p.end) return false; // more rows than the first pass found
        nan[half].set = nan[half].set || std::isnan(eta);
        keys[t ? 1 : 0][p.at++] = orderKey(eta + 0.0); // -0 ties with +0, as in the walk
        return true;
    });
    for (const auto& half : part)
        for (const Part& p : half)
            if (p.at != p.end) return 1; // fewer rows than the first pass found
    if (!read) return 1;
    if (nan[0].set || nan[1].set) return -1;
    sortKeys(keys[0]);
    sortKeys(keys[1]);
    // Each run of equal treated logits against the controls below it and those it ties.
    const std::uint64_t* c = keys[0].data();
    const std::uint64_t* t = keys[1].data();
    double pairs = 0.0;
    std::size_t below = 0;
    for (std::size_t i = 0; i < n1;) {
        const std::uint64_t k = t[i];
        std::size_t e = i + 1;
        while (e < n1 && t[e] == k)
            ++e;
        while (below < n0 && c[below] < k)
            ++below;
        std::size_t tie = below;
        while (tie < n0 && c[tie] == k)
            ++tie;
        pairs += static_cast<double>(e - i) *
                 (static_cast<double>(below) + 0.5 * static_cast<double>(tie - below));
        i = e;
    }
    res.nUsed = static_cast<std::int64_t>(n0 + n1);
    const double tot0 = static_cast<double>(n0), tot1 = static_cast<double>(n1);
    res.weightUsed = tot0 + tot1;
    res.cstat = pairs / (tot0 * tot1);
    return 0;
}

} // namespace

// Area under the ROC curve of the fitted logits over the rows the fit used, weighted: the
// share of treated-control weight pairs in which the treated row scores higher, ties one half.
// Rows with one design give one logit, so ties are exact. Non-zero when the rows fail.
int concordance(VlcFit& fit, FitResult& res) {
    if (fit.unitWeights) {
        if (const int rc = countedConcordance(fit, res); rc >= 0) return rc;
    }
    MappedArray<Scored> s;
    const std::size_t n = fit.cacheFull ? fit.cacheW.size()
                          : fit.splitReads
                              ? fit.usableRows
                              : static_cast<std::size_t>(std::max<std::int64_t>(fit.nRecords, 0));
    if (!s.reserve(n)) throw std::bad_alloc();
    s.resize(n);
    // Each half scores its usable rows into its own part of s.
    const std::size_t firstEnd = firstHalfRows(fit, n);
    Part part[2] = {{0, firstEnd}, {firstEnd, n}};
    const bool read = scoreRows(fit, res, [&](int half, double eta, double w, bool t) {
        Part& p = part[half];
        if (p.at == p.end) return false; // the rows changed since the first pass
        s[p.at++] = {eta, t ? -w : w};
        return true;
    });
    if (!read) return 1;
    if (fit.cacheFull || fit.splitReads) {
        if (part[0].at != part[0].end || part[1].at != part[1].end) return 1;
    } else {
        s.resize(part[0].at); // rows read in sequence: those usable
    }
    res.nUsed = static_cast<std::int64_t>(s.size());
    sortByScore(s);
    double below0 = 0.0, pairs = 0.0, tot[2] = {0.0, 0.0};
    for (std::size_t i = 0; i < s.size();) {
        std::size_t e = i;
        double g[2] = {0.0, 0.0};
        do { // at least one row, so that a NaN logit cannot stall the walk
            g[std::signbit(s[e].wg) ? 1 : 0] += std::fabs(s[e].wg);
            ++e;
        } while (e < s.size() && s[e].lps == s[i].lps);
        pairs += g[1] * (below0 + 0.5 * g[0]);
        below0 += g[0];
        tot[0] += g[0];
        tot[1] += g[1];
        i = e;
    }
    res.weightUsed = tot[0] + tot[1];
    res.cstat = pairs / (tot[0] * tot[1]);
    return 0;
}

} // namespace velloc
