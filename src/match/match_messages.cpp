#include <array>

#include "base/messages.h"
#include "match/match_messages.h"

namespace velloc {

void addMatchMessages() {
    using host::Severity;
    constexpr int g = host::kGroupProc;
    constexpr auto T = Severity::Text;
    constexpr auto W = Severity::Warning;
    constexpr auto E = Severity::Error;
    constexpr auto N = Severity::Note;
    static const std::array<host::MessageDef, 33> defs{{
        {g, 75, T, "%1"},
        {g, 99, T, "Distance Metric"},
        {g, 103, T, "Covariance Matrix"},
        {g, 108, T, "Matching Method"},
        {g, 115, T, "Number of Matches per Unit"},
        {g, 116, T, "Maximum Number of Matches per Treated Unit"},
        {g, 117, T, "Minimum Number of Matches per Treated Unit"},
        {g, 118, T, "Maximum Number of Treated Units per Control"},
        {g, 119, T, "Caliper (PS)"},
        {g, 120, T, "Caliper (Logit PS)"},
        {g, 127, T, "Order of Treated Units"},
        {g, 920, T, "Caliper Standard Deviation From"},
        {g, 921, T, "Caliper Standard Deviation"},
        {g, 922, T, "Pooled Treated and Control (ASSESS STDDEV=POOLED)"},
        {g, 923, T, "Treated Group (ASSESS STDDEV=TREATED)"},
        {g, 133, T, "Matched Sets"},
        {g, 134, T, "Matched Obs (Treated)"},
        {g, 135, T, "Matched Obs (Control)"},
        {g, 136, T, "Total Absolute Difference"},
        {g, kMsgMatchOutOfMemory, E,
         "Matching ran out of memory in this BY group; no matches are made."},
        {g, kMsgMatchNoneMatched, E,
         "No treated unit could be matched to a control in this BY group (check the caliper, "
         "the EXACT= variables and the support region); no matches are made."},
        {g, kMsgMatchNoControl, W,
         "Some treated units in the support region have no admissible control; they stay "
         "unmatched."},
        {g, kMsgMatchFewerControls, W,
         "Some treated units in the support region did not receive the requested number of "
         "controls; they keep the controls found."},
        {g, kMsgMatchFixedNoSolution, E,
         "Optimal fixed-ratio matching found no acceptable solution in this BY group; no "
         "matches are made."},
        {g, kMsgMatchVariableNoSolution, E,
         "Variable-ratio matching found no acceptable solution in this BY group: some treated "
         "units share too few admissible controls, or too few controls are admissible to match "
         "the number asked for. A wider CALIPER=, a smaller KMIN=, fewer controls to match "
         "(KMEAN=, PCTCONTROL=, NCONTROL=) or METHOD=FULL lets more treated units be matched. "
         "No matches are made."},
        {g, kMsgMatchFullNoSolution, E,
         "Full matching found no acceptable solution in this BY group: some treated units "
         "share too few admissible controls. A wider CALIPER=, a larger KMAXTREATED= or "
         "METHOD=VARRATIO lets more treated units be matched. No matches are made."},
        {g, kMsgMahSingular, W,
         "The covariance matrix of the Mahalanobis distance is singular; coordinates with no "
         "variance of their own (constant among the units the covariance is taken over, or "
         "linear combinations of earlier coordinates) are left out of the distance."},
        {g, kMsgMahLeavesOut, W, "The Mahalanobis distance leaves out %1."},
        {g, kMsgControlsExceedRegion, W,
         "The number of controls to match (%1) exceeds the %2 controls in the support region; "
         "%2 controls are matched."},
        {g, kMsgControlsExceedKmax, W,
         "The number of controls to match (%1) exceeds KMAX=%2 times the %3 treated units in "
         "the support region; lower the requested number of controls or raise KMAX=."},
        {g, kMsgControlsBelowKmin, W,
         "The number of controls to match (%1) is below KMIN=%2 times the %3 treated units in "
         "the support region; raise the requested number of controls or lower KMIN=."},
        {g, kMsgControlsBelowKmaxTreated, W,
         "The number of controls to match (%1) times KMAXTREATED=%2 is below the %3 treated "
         "units; raise the requested number of controls or KMAXTREATED=."},
        {g, kMsgMatchPricingProgress, N,
         "Optimal matching is still running (%1 s): round %2 solved %3 working pairs of %4 "
         "admissible ones and pricing brought in %5 more."},
    }};
    host::addMessages(defs);
}

} // namespace velloc
