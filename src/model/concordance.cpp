// The c statistic of the fitted model: the weighted share of treated-control pairs in which
// the treated row has the higher logit, ties counting one half.
#include <cmath>
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

} // namespace

// Area under the ROC curve of the fitted logits over the rows the fit used, weighted: the
// share of treated-control weight pairs in which the treated row scores higher, ties one half.
// Rows with one design give one logit, so ties are exact. Non-zero when the rows fail.
int concordance(VlcFit& fit, FitResult& res) {
    const int D = fit.D;
    MappedArray<Scored> s;
    if (fit.cacheFull) {
        const std::size_t n = fit.cacheW.size();
        if (!s.reserve(n)) throw std::bad_alloc();
        s.resize(n);
        auto score = [&](std::size_t from, std::size_t to) {
            for (std::size_t i = from; i < to; ++i) {
                const double* raw = cachedDesign(fit, i);
                double eta = res.coef[0];
                for (int j = 1; j < D; ++j)
                    eta += res.coef[j] * raw[j - 1];
                s[i] = {eta, fit.cacheY[i] == 1.0 ? -fit.cacheW[i] : fit.cacheW[i]};
            }
        };
        if (useTwoCores(fit)) // each row's score alone: the same on any number of cores
            runBeside([&] { score(0, n / 2); }, [&] { score(n / 2, n); });
        else
            score(0, n);
    } else if (fit.splitReads) {
        // Each half of the records scores its usable rows into its own part of s.
        if (!s.reserve(fit.usableRows)) throw std::bad_alloc();
        s.resize(fit.usableRows);
        auto score = [&](std::size_t from, std::size_t to, std::size_t at, std::size_t end) {
            RecordRange range(fit, from, to);
            while (const double* rec = range.next()) {
                double w;
                int k;
                if (!usableRow(rec, D, w, k)) continue;
                if (at >= end) return false; // the rows changed since the first pass
                double eta = res.coef[0];
                for (int j = 1; j < D; ++j)
                    eta += res.coef[j] * rec[kRowDesign + j];
                s[at++] = {eta, k == 1 ? -w : w};
            }
            return !range.failed() && at == end;
        };
        bool read[2] = {false, false};
        runBeside([&] { read[0] = score(0, fit.halfRecord, 0, fit.halfUsable); },
                  [&] {
                      read[1] = score(fit.halfRecord, static_cast<std::size_t>(fit.nRecords),
                                      fit.halfUsable, fit.usableRows);
                  });
        if (!read[0] || !read[1]) return 1;
    } else {
        if (fit.rows->rewind() != 0) return 1;
        if (!s.reserve(static_cast<std::size_t>(std::max<std::int64_t>(fit.nRecords, 0))))
            throw std::bad_alloc();
        double* rec = fit.recBuf.data();
        for (std::int64_t left = fit.nRecords; left > 0; --left) {
            if (!fit.rows->read(rec)) return 1;
            double w;
            int k;
            if (!usableRow(rec, D, w, k)) continue;
            double eta = res.coef[0];
            for (int j = 1; j < D; ++j)
                eta += res.coef[j] * rec[kRowDesign + j];
            s.push_back({eta, k == 1 ? -w : w});
        }
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
