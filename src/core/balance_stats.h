// Balance statistics of one BY group: per observation set, per assessed slot and per group
// (control 0, treated 1), the totals, means, variances and extremes that the weights, region,
// matching and strata passes accumulate and the balance tables and plots read.
//
// Slots: continuous slots first (one per analysis variable, then the PS slot, then the LPS
// slot), binary slots after them (one per CLASS indicator column of the BY group, whose value
// is the indicator of its level). Every value that cannot be computed is NaN.
#pragma once
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/balance_settings.h"
#include "core/codes.h"

namespace velloc {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kBinaryFloor = 1.110223024625157e-16; // floor of a binary variance
inline constexpr double kVarianceTotal = 1.0000000001110223;  // weighted total for a variance

// Observation sets, in table order. The fourth set takes one of three forms.
enum BalanceSet { kAllObs = 0, kRegion = 1, kMatch = 2, kFourth = 3, kNumSets = 4 };
enum FourthForm { kFourthNone = 0, kRegionWgt = 1, kMatchWgt = 2, kStrataSet = 3 };

enum Group { kControl = 0, kTreated = 1 };

struct GroupStats {
    double total = 0.0;  // N_g: sum of f over the set's observations of the group
    double wtotal = 0.0; // W_g: sum of the observation weights v (weighted sets)
    double sum = 0.0;    // sum of v * x (continuous) or v * indicator (binary)
    double ssq = 0.0;    // sum of v * (x - mean)^2, from the second pass
    double mean = kNaN;  // mean, or proportion for a binary slot
    double var = kNaN;
    double min = DBL_MAX;
    double max = -DBL_MAX;
};

struct SlotStats {
    GroupStats g[2];
    double s = kNaN; // standardizing deviation of the set
    double d = kNaN; // mean difference
    double z = kNaN; // standardized difference
};

struct SetStats {
    bool present = false;
    std::vector<SlotStats> slots;         // continuous slots, then binary slots
    double total[2] = {0.0, 0.0};         // frequency totals of the set per group
    double wtotal[2] = {0.0, 0.0};        // weighted totals (weighted sets)
    double psMin[2] = {DBL_MAX, DBL_MAX}; // score extremes of the set per group (PSInfo)
    double psMax[2] = {-DBL_MAX, -DBL_MAX};

    // Every statistic back to its starting value, the slots kept.
    void clear(bool isPresent) {
        present = isPresent;
        for (SlotStats& sl : slots)
            sl = SlotStats{};
        for (int g = 0; g < 2; ++g) {
            total[g] = wtotal[g] = 0.0;
            psMin[g] = DBL_MAX;
            psMax[g] = -DBL_MAX;
        }
    }
};

struct StratumSlot {
    double n[2] = {0.0, 0.0};      // N_g(k)
    double w[2] = {0.0, 0.0};      // W_g(k)
    double sumDev[2] = {0.0, 0.0}; // sum of f * (x - shift_g)
    double ssqDev[2] = {0.0, 0.0}; // sum of f * (x - shift_g)^2
    double sumInd[2] = {0.0, 0.0}; // binary: sum of f * indicator
    double mean[2] = {kNaN, kNaN};
    double var[2] = {kNaN, kNaN};
    double min[2] = {DBL_MAX, DBL_MAX};
    double max[2] = {-DBL_MAX, -DBL_MAX};
    double s = kNaN, d = kNaN, z = kNaN;
};

struct BalanceStats {
    BalanceSettings settings; // of the step: reset() leaves it for the next BY group
    int nCont = 0;            // continuous slots including the PS and LPS slots
    int nBin = 0;
    int psSlot() const { return nCont - 2; }
    int lpsSlot() const { return nCont - 1; }
    int binSlot(int j) const { return nCont + j; }

    std::vector<unsigned char> excluded; // per slot: left out of this BY group
    FourthForm fourth = kFourthNone;
    SetStats sets[kNumSets];

    // Plotting ranges per continuous slot (wide: 10% margins, narrow: 1% margins) and the
    // range over the stratified observations.
    std::vector<double> wideLo, wideHi, narrowLo, narrowHi, strataLo, strataHi;

    // Strata: index 1..nStrata (entry 0 unused).
    std::vector<std::vector<StratumSlot>> strata; // [k][slot]
    std::vector<double> strataWeight;             // omega(k), normalised

    double stdDiffLimit = 0.5;
    double strataStdDiffLimit = 0.5;

    // Sizes every array for nCont continuous and nBin binary slots and nStrata strata, and
    // resets all statistics (sums 0, extremes at their starting values, results missing).
    void reset(int cont, int bin, int nStrata) {
        nCont = cont;
        nBin = bin;
        int n = cont + bin;
        excluded.assign(static_cast<std::size_t>(n), 0);
        fourth = kFourthNone;
        for (auto& set : sets)
            set = SetStats{false, std::vector<SlotStats>(n)};
        auto fill = [cont](std::vector<double>& v) {
            v.assign(static_cast<std::size_t>(cont), kNaN);
        };
        fill(wideLo), fill(wideHi), fill(narrowLo), fill(narrowHi), fill(strataLo), fill(strataHi);
        strata.assign(static_cast<std::size_t>(nStrata) + 1, std::vector<StratumSlot>(n));
        strataWeight.assign(static_cast<std::size_t>(nStrata) + 1, kNaN);
        stdDiffLimit = strataStdDiffLimit = 0.5;
    }
};

// The deviation rule: pooled sqrt((var_t + var_c) / 2), or sqrt(var_t) when only the treated
// group standardizes; missing when a variance it needs is missing.
inline double deviationRule(double varTreated, double varControl, bool treatedOnly) {
    if (treatedOnly) return std::isnan(varTreated) ? kNaN : std::sqrt(varTreated);
    if (std::isnan(varTreated) || std::isnan(varControl)) return kNaN;
    return std::sqrt((varTreated + varControl) / 2.0);
}

// The standardized-difference axis limit: the smallest multiple of 0.5 at least 1.2 times the
// largest |z|, never below 0.5.
inline double stdDiffAxisLimit(double maxAbsZ) {
    double v = std::ceil(2.4 * maxAbsZ) * 0.5;
    return v > 0.5 ? v : 0.5;
}

} // namespace velloc
