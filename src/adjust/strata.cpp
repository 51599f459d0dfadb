// Propensity score strata: quantile cuts of the key units (treated units, or all units) inside
// the support region, placed only between distinct scores, and each record's stratum number.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "adjust/adjust.h"
#include "adjust/adjust_messages.h"
#include "base/messages.h"
#include "base/missing.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "io/utility_file.h"

namespace velloc {

namespace {

// ceil(a / b) for a >= 0, b > 0.
std::int64_t ceilDiv(std::int64_t a, std::int64_t b) {
    return (a + b - 1) / b;
}

// Gives up on strata for the BY group: a warning naming K.
int noStrata(VlcRun& run, int msg, int K) {
    host::xpmlog(host::kGroupProc, msg, {std::to_string(K)});
    run.raise(4);
    run.nStrata = 0;
    return 1;
}

bool hasEqualNeighbours(const std::vector<std::int64_t>& c, int from, int to) {
    for (int k = from; k <= to; ++k)
        if (c[static_cast<std::size_t>(k)] == c[static_cast<std::size_t>(k) - 1]) return true;
    return false;
}

} // namespace

StrataCuts::StrataCuts(int K, std::int64_t keyTotal, bool keyTreated)
    : K_(K), keyTreated_(keyTreated), c_(static_cast<std::size_t>(std::max(K, 1)) + 1, 0),
      bound_(static_cast<std::size_t>(std::max(K, 1)) + 1, 0.0), prevKey_(-DBL_MAX) {
    for (int k = 1; k <= K; ++k)
        c_[static_cast<std::size_t>(k)] = ceilDiv(std::int64_t{k} * (keyTotal + 1), K) - 1;
    bound_.front() = -DBL_MAX;
    bound_.back() = DBL_MAX;
    if (K < 1 || hasEqualNeighbours(c_, 1, K))
        status_ = keyTreated ? kMsgStrataFewTreated : kMsgStrataFewObs;
}

bool StrataCuts::add(double ps, double freq, bool key, bool inside) {
    if (status_) return false;
    const auto uK = static_cast<std::size_t>(K_);
    if (inside && s_ < K_ && key) {
        const auto nNew = static_cast<std::int64_t>(static_cast<double>(n_) + freq);
        const auto us = static_cast<std::size_t>(s_);
        if (reached_ && nNew > c_[us] && ps > prevKey_) {
            bound_[us] = (ps + prevKey_) / 2.0;
            if (n_ > c_[us]) {
                // Tied scores carried the stratum past its target: spread the rest again.
                c_[us] = n_;
                for (int j = s_ + 1; j <= K_; ++j)
                    c_[static_cast<std::size_t>(j)] =
                        c_[us] + ceilDiv(std::int64_t{j - s_} * (c_[uK] - c_[us] + 1), K_ - s_) - 1;
                if (hasEqualNeighbours(c_, s_ + 1, K_)) {
                    status_ = keyTreated_ ? kMsgStrataTiesFewTreated : kMsgStrataTiesFewObs;
                    return false;
                }
            }
            reached_ = false;
            ++s_;
        }
        n_ = nNew;
    }
    if (key) prevKey_ = ps;
    if (n_ >= c_[static_cast<std::size_t>(s_)]) reached_ = true;
    return true;
}

int StrataCuts::finish() {
    if (!status_ && s_ < K_)
        status_ = keyTreated_ ? kMsgStrataTiesNotDistinctTreated : kMsgStrataTiesNotDistinct;
    return status_;
}

int stratumOf(const std::vector<double>& bounds, double ps) {
    // Cut k is the upper bound of stratum k: a score equal to it stays below.
    const auto it = std::lower_bound(bounds.begin() + 1, bounds.end() - 1, ps);
    return static_cast<int>(it - bounds.begin());
}

int vlcstra(VlcRun& run) {
    run.strataAssess = 1;
    const int K = run.nStrata;
    if (K <= 0) return 0;
    const auto uK = static_cast<std::size_t>(K);
    const bool keyTreated = run.strataKey == 1;
    const SetStats& reg = run.balance.sets[kRegion];
    const std::int64_t N = static_cast<std::int64_t>(
        keyTreated ? reg.total[kTreated] : reg.total[kTreated] + reg.total[kControl]);

    // Target cumulative counts of key units.
    StrataCuts cuts(K, N, keyTreated);
    if (cuts.status()) return noStrata(run, cuts.status(), K);
    const double lower = run.regionLower - kTolerance, upper = run.regionUpper + kTolerance;

    // Boundary pass: cuts between consecutive distinct key scores once a target is reached.
    host::UtilFile& vout = *run.vlcvout;
    host::UtilFile& temp = *run.vlctemp;
    if (int rc = vout.point(0)) return utilFailure(run, rc), run.nStrata = 0, 1;
    std::vector<double> rec(vout.recordBytes() / 8 + 1);
    while (vout.read(rec.data())) {
        const double ps = rec[kVoutPs];
        // A row without a score or group (none reach here from the weights pass) is no key.
        const bool key =
            !std::isnan(ps) && rec[kVoutTreat] >= 0.0 && (!keyTreated || rec[kVoutTreat] >= 0.5);
        if (!cuts.add(ps, rec[kVoutFreq], key, ps >= lower && ps <= upper))
            return noStrata(run, cuts.status(), K);
    }
    if (int rc = vout.lastError()) return utilFailure(run, rc), run.nStrata = 0, 1;
    // Every cut placed.
    if (int msg = cuts.finish()) return noStrata(run, msg, K);
    run.strataBound = cuts.bounds();

    // Stratum numbers, score ranges and cumulative counts; records outside keep missing.
    const double missing = host::missingValue();
    run.strataLowerPs.assign(uK + 1, missing);
    run.strataUpperPs.assign(uK + 1, missing);
    for (auto& v : run.strataCumCount)
        v.assign(uK + 1, 0);
    for (auto& v : run.strataCount)
        v.assign(uK + 1, 0);
    // The numbered records go to the scratch file, which the working file then takes.
    if (int rc = vout.point(0)) return utilFailure(run, rc), run.nStrata = 0, 1;
    if (int rc = temp.point(-2)) return utilFailure(run, rc), run.nStrata = 0, 1;
    if (int rc = temp.setRecordBytes(vout.recordBytes()))
        return utilFailure(run, rc), run.nStrata = 0, 1;
    if (int rc = temp.expectRecords(vout.count())) return utilFailure(run, rc), run.nStrata = 0, 1;
    double running[2] = {0.0, 0.0};
    int t = 1;
    bool first = true;
    double prevPs = missing;
    auto close = [&](int k) {
        const auto uk = static_cast<std::size_t>(k);
        const auto cc = static_cast<std::int64_t>(running[kControl] + 0.1);
        const auto ct = static_cast<std::int64_t>(running[kTreated] + 0.1);
        run.strataCumCount[0][uk] = cc;
        run.strataCumCount[1][uk] = ct;
        run.strataCumCount[2][uk] = cc + ct;
        if (k == t) run.strataUpperPs[uk] = prevPs;
    };
    while (vout.read(rec.data())) {
        const double ps = rec[kVoutPs];
        rec[kVoutStratum] = missing;
        if (ps >= lower && ps <= upper) {
            if (first) {
                run.strataLowerPs[1] = ps;
                first = false;
            } else if (t < K && ps > run.strataBound[static_cast<std::size_t>(t)]) {
                close(t);
                ++t;
                run.strataLowerPs[static_cast<std::size_t>(t)] = ps;
            }
            running[rec[kVoutTreat] >= 0.5 ? kTreated : kControl] += rec[kVoutFreq];
            rec[kVoutStratum] = t;
            prevPs = ps;
        }
        if (int rc = temp.write(rec.data())) return utilFailure(run, rc), run.nStrata = 0, 1;
    }
    if (int rc = vout.lastError()) return utilFailure(run, rc), run.nStrata = 0, 1;
    vout.swapRecords(temp);
    vout.point(0);
    // Close the last stratum; any stratum never opened repeats the totals (no units).
    for (int k = t; k <= K; ++k)
        close(k);

    // Per-stratum counts.
    for (int g = 0; g < 3; ++g)
        for (std::size_t k = 1; k <= uK; ++k)
            run.strataCount[g][k] = run.strataCumCount[g][k] - run.strataCumCount[g][k - 1];

    // A stratum without one of the groups cannot be assessed by stratum.
    for (int k = 1; k <= K; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        int msg = run.strataCount[0][uk] == 0   ? kMsgStratumNoControl
                  : run.strataCount[1][uk] == 0 ? kMsgStratumNoTreated
                                                : 0;
        if (!msg) continue;
        host::xpmlog(host::kGroupProc, msg, {std::to_string(k)});
        run.raise(4);
        run.strataAssess = 0;
        return 0;
    }
    return 0;
}

} // namespace velloc
