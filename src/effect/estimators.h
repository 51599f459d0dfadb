// The treatment-effect estimators: plain functions from an effect sample to a contrast, so that
// each one can be checked against an independent implementation.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "core/effect_request.h"

namespace velloc::effect {

// The observations an effect is estimated on. `weight` is the analysis weight (1 when the
// adjustment has none) and `freq` the frequency (replication) count. `cluster` is the matched
// set or the stratum of each row (empty when there is none). `x` holds p covariates per row.
struct Sample {
    std::vector<double> y, treat, weight, freq, cluster;
    std::vector<double> x; // row-major, n x p
    int p = 0;
    std::size_t size() const { return y.size(); }
    void clear() {
        y.clear(), treat.clear(), weight.clear(), freq.clear(), cluster.clear(), x.clear();
    }
};

// An estimated contrast. For RATIO and ODDSRATIO, `estimate` is the ratio and `se` the
// standard error of its logarithm. Index 0 is the control group, 1 the treated group.
struct Contrast {
    double estimate = 0.0, se = 0.0;
    double mean[2] = {0.0, 0.0}, meanSe[2] = {0.0, 0.0};
    double count[2] = {0.0, 0.0};      // observations (frequency totals)
    double ess[2] = {0.0, 0.0};        // (sum w)^2 / sum w^2 per group
    std::int64_t clusters = 0;         // matched sets (cluster SE) or strata used
    std::vector<double> droppedStrata; // strata left out: one group has no observation
};

// Limits, z and two-sided p of a contrast; ratio measures work on the log scale.
struct Inference {
    double lower = 0.0, upper = 0.0, z = 0.0, p = 0.0;
};

// Weighted least squares of y on an n x k design, whose row i `design(i, row)` fills, with
// weights weight * freq; `cov` is the sandwich covariance: HC0 (Robust), or CR1 by cluster
// (Cluster: G/(G-1) (n-1)/(n-k)).
struct Regression {
    std::vector<double> beta, cov; // k, k x k
    bool ok = false;               // false when the design is singular
};
using DesignRow = std::function<void(std::size_t, double*)>;
Regression weightedLeastSquares(const DesignRow& design, int k, const Sample& s, SeMethod method);

// The weighted contrast of the groups. Without covariates the outcome is regressed on the
// treatment; with covariates on treatment, covariates and their products, and the predicted
// means of both groups are averaged over the estimand's target rows (g-computation). Standard
// errors by the delta method from the regression's sandwich covariance.
Contrast weightedContrast(const Sample& s, Measure m, Estimand e, SeMethod method);

// The stratified estimate sum_s w_s (m1s - m0s) with w_s the stratum's share of the treated
// rows (treatedWeights) or of all rows, and variance sum_s w_s^2 (v1s/n1s + v0s/n0s). Strata
// where one group has no row are left out (listed in droppedStrata) and the weights rescaled.
Contrast stratifiedContrast(const Sample& s, Measure m, bool treatedWeights);

Inference infer(double estimate, double se, Measure m, double alpha);

// The standard normal quantile function.
double normalQuantile(double p);

} // namespace velloc::effect

namespace velloc::effect {

// The bootstrap of a weighted contrast: nRep replicates drawn with the uniform stream `slot`,
// resampling whole clusters (matched sets) when `blocks`, else single rows. Replicates without
// a treated or control row are drawn again (counted in *redrawn). Returns the contrast of the
// full sample with `se` the replicates' standard deviation (of the log for ratios) and the
// percentile limits in lower/upper (the group means' errors are bootstrap ones too); `progress` is
// called after every replicate.
struct Bootstrap {
    Contrast contrast;
    double lower = 0.0, upper = 0.0;
    std::vector<double> replicates; // estimates on the measure's scale (log for ratios)
    std::int64_t redrawn = 0;
};
Bootstrap bootstrapContrast(const Sample& s, Measure m, Estimand e, int nRep, double alpha,
                            std::int64_t& slot, bool blocks, void (*progress)(void*, int) = nullptr,
                            void* context = nullptr);

} // namespace velloc::effect
