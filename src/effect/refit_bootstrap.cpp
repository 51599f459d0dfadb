#include "effect/refit_bootstrap.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numeric>

#include "base/missing.h"
#include "core/balance_stats.h"
#include "effect/bootstrap.h"
#include "model/logistic.h"
#include "numeric/random.h"

namespace velloc::effect {

namespace {

enum class Fail { None, Group, Fit, Region, Strata, Estimate };

// The buffers of one replicate, kept from replicate to replicate.
struct Replicate {
    std::vector<std::uint32_t> hits;          // per observation: times drawn
    std::vector<std::uint32_t> picks, counts; // the observations drawn, and how often
    std::vector<double> ps, lps;
    std::vector<char> inside;
    std::vector<std::uint32_t> order; // positions in picks by ascending score (strata)
    Sample sample;
    Contrast c;
};

inline const double* rowOf(const RefitStudy& st, std::uint32_t i) {
    return st.rows.data() + static_cast<std::size_t>(i) * st.recordDoubles();
}

inline bool treatedRow(const double* row) {
    return row[kRowTreat] > 0.5;
}

// The frequency of drawn observation j: its own times the times it was drawn.
inline double freqOf(const RefitStudy& st, const Replicate& r, std::size_t j) {
    return rowOf(st, r.picks[j])[kRowFreq] * r.counts[j];
}

// The scores of the drawn rows: from the model refitted on them, or kept.
Fail score(const RefitStudy& st, const RefitRule& rule, Replicate& r, std::int64_t& fits) {
    const std::size_t n = r.picks.size();
    r.ps.resize(n);
    r.lps.resize(n);
    if (!rule.refit) {
        for (std::size_t j = 0; j < n; ++j) {
            const double p = rowOf(st, r.picks[j])[kRowScore];
            r.ps[j] = p;
            r.lps[j] = std::log(p / (1.0 - p));
        }
        return Fail::None;
    }
    PickedRowSource source(st.rows.data(), st.recordDoubles(), r.picks, r.counts);
    FitResult fit;
    ++fits;
    if (refitLogistic(source, st.D, static_cast<std::int64_t>(n), fit, st.expectedAliases,
                      st.start) != 0)
        return fit.total[0] > 0.0 && fit.total[1] > 0.0 ? Fail::Fit : Fail::Group;
    if (!fit.usable) return Fail::Fit;
    for (std::size_t j = 0; j < n; ++j) {
        r.lps[j] = lpsFromDesign(rowOf(st, r.picks[j]) + kRowDesign, fit.coef.data(), st.D);
        r.ps[j] = psFromLps(r.lps[j]);
    }
    return Fail::None;
}

// The support region of the drawn rows, as the region phase forms it: bounds from each
// group's score extremes (widened by multiples of the scores' deviation when asked), and at
// least two of each group inside.
Fail region(const RefitStudy& st, const RefitRule& rule, Replicate& r, const double freq[2]) {
    const std::size_t n = r.picks.size();
    const bool onPs = rule.region.score == 100;
    double lo[2] = {DBL_MAX, DBL_MAX}, hi[2] = {-DBL_MAX, -DBL_MAX}, sum[2] = {0, 0};
    for (std::size_t j = 0; j < n; ++j) {
        const double* row = rowOf(st, r.picks[j]);
        const int g = treatedRow(row) ? 1 : 0;
        const double v = onPs ? r.ps[j] : r.lps[j];
        lo[g] = std::min(lo[g], v);
        hi[g] = std::max(hi[g], v);
        sum[g] += freqOf(st, r, j) * v;
    }
    double sd = kNaN;
    if (rule.region.extend && rule.region.extendMult) {
        double ssq[2] = {0, 0}, var[2];
        for (std::size_t j = 0; j < n; ++j) {
            const double* row = rowOf(st, r.picks[j]);
            const int g = treatedRow(row) ? 1 : 0;
            const double d = (onPs ? r.ps[j] : r.lps[j]) - sum[g] / freq[g];
            ssq[g] += freqOf(st, r, j) * d * d;
        }
        for (int g = 0; g < 2; ++g)
            var[g] = freq[g] - 1.0 > 0.0 ? ssq[g] / (freq[g] - 1.0) : kNaN;
        sd = deviationRule(var[1], var[0], rule.sdTreatedOnly);
    }
    double lower = 0.0, upper = 1.0;
    if (regionBounds(rule.region, lo, hi, regionExtension(rule.region, rule.region.extendLower, sd),
                     regionExtension(rule.region, rule.region.extendUpper, sd), lower, upper))
        return Fail::Region;
    lower -= kTolerance;
    upper += kTolerance;
    r.inside.assign(n, 0);
    double in[2] = {0, 0};
    for (std::size_t j = 0; j < n; ++j) {
        if (!(r.ps[j] >= lower && r.ps[j] <= upper)) continue;
        r.inside[j] = 1;
        in[treatedRow(rowOf(st, r.picks[j])) ? 1 : 0] += freqOf(st, r, j);
    }
    return in[0] + 0.1 < 2.0 || in[1] + 0.1 < 2.0 ? Fail::Region : Fail::None;
}

// Appends drawn row j to the effect sample with weight w unless its outcome or a covariate is
// missing.
void addToSample(const RefitStudy& st, Replicate& r, std::size_t j, double w, double cluster) {
    const std::uint32_t i = r.picks[j];
    const double y = st.y[i];
    const auto p = static_cast<std::size_t>(st.p);
    const double* x = st.x.data() + i * p;
    if (host::isMissing(y) || std::any_of(x, x + p, [](double v) { return std::isnan(v); })) return;
    const double* row = rowOf(st, i);
    Sample& s = r.sample;
    s.y.push_back(y);
    s.treat.push_back(treatedRow(row) ? 1.0 : 0.0);
    s.weight.push_back(w);
    s.freq.push_back(freqOf(st, r, j));
    if (!std::isnan(cluster)) s.cluster.push_back(cluster);
    s.x.insert(s.x.end(), x, x + p);
}

bool bothGroups(const Sample& s) {
    bool seen[2] = {false, false};
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s.freq[i] > 0.0) seen[s.treat[i] > 0.5 ? 1 : 0] = true;
    return seen[0] && seen[1];
}

Fail weighted(const RefitStudy& st, const RefitRule& rule, Replicate& r, const double freq[2]) {
    const double pT = freq[1] / (freq[0] + freq[1]), pC = 1.0 - pT;
    for (std::size_t j = 0; j < r.picks.size(); ++j) {
        if (!r.inside[j]) continue;
        const ScoreWeights w = scoreWeights(treatedRow(rowOf(st, r.picks[j])), r.ps[j], pT, pC);
        const double a = !rule.ate ? w.att : rule.stabilize ? w.ateStab : w.ate;
        if (std::isfinite(a)) addToSample(st, r, j, a, kNaN);
    }
    if (!bothGroups(r.sample)) return Fail::Group;
    r.c = weightedContrast(r.sample, rule.measure, rule.estimand, SeMethod::Robust);
    return Fail::None;
}

Fail stratified(const RefitStudy& st, const RefitRule& rule, Replicate& r) {
    const std::size_t n = r.picks.size();
    r.order.resize(n);
    std::iota(r.order.begin(), r.order.end(), 0u);
    std::sort(r.order.begin(), r.order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return r.ps[a] < r.ps[b]; });
    double keys = 0.0;
    for (std::size_t j = 0; j < n; ++j) {
        const double* row = rowOf(st, r.picks[j]);
        if (r.inside[j] && (!rule.keyTreated || treatedRow(row))) keys += freqOf(st, r, j);
    }
    StrataCuts cuts(rule.nStrata, static_cast<std::int64_t>(keys), rule.keyTreated);
    if (cuts.status()) return Fail::Strata;
    for (std::uint32_t j : r.order) {
        const double* row = rowOf(st, r.picks[j]);
        const bool key = !rule.keyTreated || treatedRow(row);
        if (!cuts.add(r.ps[j], freqOf(st, r, j), key, r.inside[j] != 0)) return Fail::Strata;
    }
    if (cuts.finish()) return Fail::Strata;
    for (std::size_t j = 0; j < n; ++j)
        if (r.inside[j]) addToSample(st, r, j, 1.0, stratumOf(cuts.bounds(), r.ps[j]));
    if (!bothGroups(r.sample)) return Fail::Group;
    r.c = stratifiedContrast(r.sample, rule.measure, rule.treatedWeights);
    return Fail::None;
}

// One draw: the rows, their scores, the region, the adjustment and the effect.
Fail replicate(const RefitStudy& st, const RefitRule& rule, Replicate& r, std::int64_t& slot,
               std::int64_t& fits) {
    const std::size_t n = st.size();
    r.hits.assign(n, 0);
    for (std::size_t j = 0; j < n; ++j) {
        auto pick = static_cast<std::size_t>(support::zranuni(slot) * static_cast<double>(n));
        if (pick >= n) pick = n - 1;
        ++r.hits[pick];
    }
    // Each observation drawn once, with its count: about 63% of them, in their own order.
    r.picks.clear();
    r.counts.clear();
    double freq[2] = {0, 0};
    for (std::size_t i = 0; i < n; ++i) {
        if (!r.hits[i]) continue;
        r.picks.push_back(static_cast<std::uint32_t>(i));
        r.counts.push_back(r.hits[i]);
        freq[treatedRow(rowOf(st, r.picks.back())) ? 1 : 0] += freqOf(st, r, r.picks.size() - 1);
    }
    if (!(freq[0] > 0.0) || !(freq[1] > 0.0)) return Fail::Group;
    if (Fail f = score(st, rule, r, fits); f != Fail::None) return f;
    if (Fail f = region(st, rule, r, freq); f != Fail::None) return f;
    r.sample.clear();
    r.sample.p = st.p;
    const Fail f = rule.strata ? stratified(st, rule, r) : weighted(st, rule, r, freq);
    if (f != Fail::None) return f;
    return std::isnan(onMeasureScale(r.c.estimate, rule.measure)) ? Fail::Estimate : Fail::None;
}

} // namespace

RefitBootstrap bootstrapRefit(const RefitStudy& study, const RefitRule& rule, const Contrast& full,
                              int nRep, double alpha, std::int64_t& slot,
                              void (*progress)(void*, int), void* context) {
    RefitBootstrap out;
    Bootstrap& b = out.boot;
    b.contrast = full;
    std::vector<double> groupMeans[2];
    b.replicates.reserve(static_cast<std::size_t>(nRep));
    Replicate r;
    RefitFailures& failed = out.failures;
    for (int rep = 0; rep < nRep && study.size() > 0;) {
        const Fail f = replicate(study, rule, r, slot, out.fits);
        if (f != Fail::None) {
            ++(f == Fail::Group    ? failed.group
               : f == Fail::Fit    ? failed.fit
               : f == Fail::Region ? failed.region
               : f == Fail::Strata ? failed.strata
                                   : failed.estimate);
            // A sample that keeps failing gives up rather than loop.
            if (failed.total() > 10LL * nRep) break;
            continue;
        }
        b.replicates.push_back(onMeasureScale(r.c.estimate, rule.measure));
        for (int g = 0; g < 2; ++g)
            groupMeans[g].push_back(r.c.mean[g]);
        ++rep;
        if (progress) progress(context, rep);
    }
    b.redrawn = failed.total();
    summarizeReplicates(b, groupMeans, rule.measure, alpha);
    return out;
}

} // namespace velloc::effect
