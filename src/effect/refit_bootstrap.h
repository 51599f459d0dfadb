// The bootstrap that redoes the adjustment in every replicate: observations are drawn with
// replacement, the propensity model is refitted on them, and the weights or the strata and the
// support region are formed again from the new scores before the effect is recomputed.
#pragma once
#include <cstdint>
#include <vector>

#include "adjust/adjust.h"
#include "effect/estimators.h"
#include "model/picked_rows.h"

namespace velloc::effect {

// The observations the replicates draw from: every one with a treatment group and a score.
// rows holds each one's model row (observation, frequency, fit weight, score, treatment 0/1,
// then the D design values the model was fitted on); the score field holds the score of the
// full-sample analysis, which replicates keep when the model is not refitted.
struct RefitStudy {
    int D = 0;
    std::vector<unsigned char> expectedAliases; // design columns the parameterisation aliases
    std::vector<double> start;                  // the full sample's coefficients (may be empty)
    std::vector<double> rows;                   // n x recordDoubles()
    std::vector<double> y;                      // the outcome; missing: not in the effect
    std::vector<double> x;                      // n x p covariates of the outcome regression
    int p = 0;
    std::size_t size() const { return y.size(); }
    int recordDoubles() const { return kRowDesign + D; }
};

// What a replicate redoes, as the step's options set it.
struct RefitRule {
    bool refit = true;   // refit the model; false: keep each observation's score (PSDATA)
    bool strata = false; // strata; else weights
    bool ate = false;    // ATE weights (else ATT)
    bool stabilize = false;
    RegionRule region;
    bool sdTreatedOnly = false; // the extensions' SD from the treated group alone
    int nStrata = 0;
    bool keyTreated = true;      // the strata cut the treated units' scores
    bool treatedWeights = false; // strata weighted by their treated units
    Measure measure = Measure::Diff;
    Estimand estimand = Estimand::Att;
};

// Draws that gave no estimate, by cause; each was drawn again.
struct RefitFailures {
    std::int64_t group = 0;    // no treated or no control observation (with positive weight)
    std::int64_t fit = 0;      // the model did not converge, was singular or separated
    std::int64_t region = 0;   // no support region with two of each group
    std::int64_t strata = 0;   // the strata could not be formed
    std::int64_t estimate = 0; // the effect was undefined (every stratum one-sided, say)
    std::int64_t total() const { return group + fit + region + strata + estimate; }
};

struct RefitBootstrap {
    Bootstrap boot; // boot.redrawn: failures.total()
    RefitFailures failures;
    std::int64_t fits = 0; // propensity models fitted
};

// nRep replicates with the uniform stream `slot`; `full` is the full-sample contrast, whose
// estimate the result keeps. A draw that gives no estimate is drawn again, at most 10 nRep
// times in all. `progress` is called after every replicate.
RefitBootstrap bootstrapRefit(const RefitStudy& study, const RefitRule& rule, const Contrast& full,
                              int nRep, double alpha, std::int64_t& slot,
                              void (*progress)(void*, int) = nullptr, void* context = nullptr);

} // namespace velloc::effect
