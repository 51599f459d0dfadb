// Effects on velloc's adjusted job-training data sets against R (tests/reference/
// effect_reference.R): lm with sandwich's HC0 and CR1 covariances, the stratified estimator,
// weighted GLMs and survey::svyglm for the ratio measures, and g-computation by hand.
#include <gtest/gtest.h>

#include "effect_fixture.h"

namespace velloc::effect::testing {
namespace {

Measure measureOf(const std::string& s) {
    return s == "RATIO" ? Measure::Ratio : s == "ODDSRATIO" ? Measure::OddsRatio : Measure::Diff;
}

Estimand estimandOf(const std::string& s) {
    return s == "ATT" ? Estimand::Att : s == "ATC" ? Estimand::Atc : Estimand::Ate;
}

void expectRelative(double got, double want, double tol, const char* what) {
    EXPECT_NEAR(got, want, tol * std::fabs(want)) << what;
}

TEST(EffectReference, EveryRReferenceRowIsMatched) {
    Table ref = readTable(dataPath("reference.csv"));
    ASSERT_EQ(ref.rows.size(), 71u);
    const int kCase = ref.column("case"), kOut = ref.column("outcome"),
              kMeas = ref.column("measure"), kEst = ref.column("estimand"),
              kCov = ref.column("covariates"), kType = ref.column("se_type");
    int checked = 0;
    for (const auto& r : ref.rows) {
        SCOPED_TRACE(r[kCase] + " " + r[kOut] + " " + r[kMeas] + " " + r[kEst] + " " + r[kType] +
                     " [" + r[kCov] + "]");
        Sample s = loadSample(r[kCase], r[kOut], words(r[kCov]));
        const Measure m = measureOf(r[kMeas]);
        const std::string& type = r[kType];
        Contrast c = type == "STRATA"
                         ? stratifiedContrast(s, m, r[kCase] == "strataatt")
                         : weightedContrast(s, m, estimandOf(r[kEst]),
                                            type == "CR1" ? SeMethod::Cluster : SeMethod::Robust);
        double se = c.se;
        // svyglm's design-based variance is the HC0 one times n / (n - 1).
        if (type == "SVYGLM") {
            const double n = static_cast<double>(s.size());
            se *= std::sqrt(n / (n - 1.0));
        }
        expectRelative(c.estimate, number(r[ref.column("estimate")]), 1e-8, "estimate");
        expectRelative(se, number(r[ref.column("se")]), 1e-6, "standard error");
        if (!r[ref.column("mean1")].empty()) {
            expectRelative(c.mean[1], number(r[ref.column("mean1")]), 1e-8, "treated mean");
            expectRelative(c.mean[0], number(r[ref.column("mean0")]), 1e-8, "control mean");
            expectRelative(c.meanSe[1], number(r[ref.column("se1")]), 1e-6, "treated SE");
            expectRelative(c.meanSe[0], number(r[ref.column("se0")]), 1e-6, "control SE");
        }
        ++checked;
    }
    EXPECT_EQ(checked, 71);
}

} // namespace
} // namespace velloc::effect::testing
