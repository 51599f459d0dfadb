// Texts of the weights, region and strata messages. 301 is this phase group's own number: a
// weight that cannot be formed because the score is exactly 0 or 1.
#include <array>

#include "adjust/adjust_messages.h"
#include "base/messages.h"

namespace velloc {

void addAdjustMessages() {
    using host::Severity;
    constexpr int g = host::kGroupProc;
    static const std::array<host::MessageDef, 14> defs{{
        {g, kMsgScaleFactor, Severity::Text, "Scale Factor = %1"},
        {g, kMsgNoOverlap, Severity::Error,
         "The propensity score ranges of the treated and control groups do not overlap; the BY "
         "group is skipped."},
        {g, kMsgRegionFewTreated, Severity::Error,
         "Fewer than two treated observations lie in the support region; the BY group is "
         "skipped."},
        {g, kMsgRegionFewControl, Severity::Error,
         "Fewer than two control observations lie in the support region; the BY group is "
         "skipped."},
        {g, kMsgScoresConstant, Severity::Error,
         "The propensity scores are practically constant in this BY group; the BY group is "
         "skipped."},
        {g, kMsgStrataFewObs, Severity::Warning,
         "There are too few observations to form %1 strata; no strata are formed for this BY "
         "group."},
        {g, kMsgStrataFewTreated, Severity::Warning,
         "There are too few treated observations to form %1 strata; no strata are formed for "
         "this BY group."},
        {g, kMsgStrataTiesFewObs, Severity::Warning,
         "Tied propensity scores leave too few observations to form %1 strata; no strata are "
         "formed for this BY group."},
        {g, kMsgStrataTiesFewTreated, Severity::Warning,
         "Tied propensity scores leave too few treated observations to form %1 strata; no strata "
         "are formed for this BY group."},
        {g, kMsgStrataTiesNotDistinct, Severity::Warning,
         "Tied propensity scores prevent %1 distinct strata of the observations; no strata are "
         "formed for this BY group."},
        {g, kMsgStrataTiesNotDistinctTreated, Severity::Warning,
         "Tied propensity scores prevent %1 distinct strata of the treated observations; no "
         "strata are formed for this BY group."},
        {g, kMsgStratumNoControl, Severity::Warning,
         "Stratum %1 has no control observations; the balance is not assessed by stratum."},
        {g, kMsgStratumNoTreated, Severity::Warning,
         "Stratum %1 has no treated observations; the balance is not assessed by stratum."},
        {g, kMsgPsZeroOne, Severity::Warning,
         "%1 observations have a propensity score of exactly 0 or 1; their weights cannot be "
         "formed and are set to missing."},
    }};
    host::addMessages(defs);
}

} // namespace velloc
