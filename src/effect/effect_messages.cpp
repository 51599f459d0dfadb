#include "effect/effect_messages.h"

#include <mutex>

#include "base/messages.h"

namespace velloc {

namespace {
using host::kGroupProc;
constexpr auto E = host::Severity::Error;
constexpr auto W = host::Severity::Warning;
constexpr auto N = host::Severity::Note;
constexpr auto T = host::Severity::Text;

const host::MessageDef kEffectMessages[] = {
    {kGroupProc, kMsgEffectGroupName, T, "Effect"},
    {kGroupProc, kMsgEffectGroupLabel, T, "Treatment Effect Estimation"},
    {kGroupProc, kMsgEffectTable, T, "Treatment Effect"},
    {kGroupProc, kMsgEffectMeansTable, T, "Adjusted Group Means"},
    {kGroupProc, kMsgEffectNoOutcome, E, "The EFFECT statement needs OUTCOME=."},
    {kGroupProc, kMsgEffectCharacter, E,
     "The EFFECT %1 variable %2 is a character variable; it must be numeric."},
    {kGroupProc, kMsgEffectModelVar, E,
     "The outcome %1 is also %2; an outcome must not be a variable of the propensity model."},
    {kGroupProc, kMsgEffectEstimand, E,
     "ESTIMAND=%1 conflicts with the adjustment, which estimates the %2 (%3)."},
    {kGroupProc, kMsgEffectNotBinary, E,
     "MEASURE=%1 needs a 0/1 outcome, but %2 takes the value %3; no effect is estimated for "
     "it."},
    {kGroupProc, kMsgEffectMissing, N,
     "%1 observations kept by the adjustment have a missing value of %2; they are left out of "
     "the effect on %3."},
    {kGroupProc, kMsgEffectSeMethod, N, "Standard errors of the effect: %1."},
    {kGroupProc, kMsgEffectReplace, W,
     "After matching with replacement a control can serve several matched sets, so the robust "
     "standard error ignores that reuse; SE=BOOTSTRAP is the recommended choice."},
    {kGroupProc, kMsgEffectStratumDropped, W,
     "Stratum %1 has observations of only one treatment group for %2; it is left out of the "
     "effect and the other strata's weights are rescaled."},
    {kGroupProc, kMsgEffectSkipped, W, "No effect is estimated for %1 in this BY group: %2."},
    {kGroupProc, kMsgEffectClusterNeedsSets, E,
     "SE=CLUSTER uses the matched sets as clusters and needs a MATCH statement."},
    {kGroupProc, kMsgEffectClusterReplace, E,
     "SE=CLUSTER needs matched sets that do not share controls; with METHOD=REPLACE use "
     "SE=ROBUST or SE=BOOTSTRAP."},
    {kGroupProc, kMsgEffectStrataSe, E,
     "With a STRATA statement the standard error is the stratified variance or SE=BOOTSTRAP; "
     "SE=%1 is not available."},
    {kGroupProc, kMsgEffectStrataCovariates, E,
     "COVARIATES= is not available with a STRATA statement; use weights or matching."},
    {kGroupProc, kMsgEffectCovariateOutcome, E,
     "The covariate %1 is also an outcome of the EFFECT statement."},
    {kGroupProc, kMsgEffectBootstrapProgress, N, "Bootstrap of %1: %2 of %3 replicates done."},
    {kGroupProc, kMsgEffectMatchFailed, W,
     "The matching of this BY group failed; no treatment effect is estimated."},
    {kGroupProc, kMsgEffectSingular, W,
     "The outcome regression of %1 is singular (a covariate is constant or collinear in the "
     "adjusted sample); no effect is estimated for it."},
    {kGroupProc, kMsgEffectBootstrapFailed, W,
     "%1 of %2 bootstrap replicates of %3 had no treated or no control observation and were "
     "drawn again."},
    {kGroupProc, kMsgEffectBootstrapRedrawn, W,
     "%1 bootstrap draws for %2 gave no estimate and were drawn again: %3."},
    {kGroupProc, kMsgEffectBootstrapShort, W,
     "Only %1 of %2 bootstrap replicates of %3 could be computed; the standard error and the "
     "limits use those."},
};
} // namespace

void addEffectMessages() {
    static std::once_flag once;
    std::call_once(once, [] { host::addMessages(kEffectMessages); });
}

} // namespace velloc
