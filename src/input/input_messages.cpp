#include <algorithm>
#include <array>

#include "base/messages.h"
#include "input/input_messages.h"

namespace velloc {

void addInputMessages() {
    using host::Severity;
    constexpr int g = host::kGroupProc;
    constexpr auto E = Severity::Error;
    constexpr auto W = Severity::Warning;
    constexpr auto N = Severity::Note;
    constexpr auto T = Severity::Text;
    static const std::array<host::MessageDef, 19> defs{{
        // Group labels and group names.
        {g, 77, T, "Treated (%1 = %2)"},
        {g, 78, T, "Control (%1 = %2)"},
        {g, 80, T, "Treated"},
        {g, 81, T, "Control"},
        {g, kMsgFrequencyTooLarge, E,
         "The frequency %1 of observation %2 of this BY group is larger than 2147483647; the "
         "BY group is skipped."},
        {g, kMsgAnalysisVarMissing, W,
         "The variable %1 has missing values in this BY group; it is left out of the balance "
         "assessment of the BY group."},
        {g, kMsgTreatmentLevels, E,
         "The treatment variable %1 has %2 in this BY group (%3), but exactly two are "
         "required; the BY group is skipped."},
        {g, kMsgTreatedLevelAbsent, E,
         "The TREATED= level '%1' is not a level of the treatment variable %2 in this BY group, "
         "whose levels are %3; the BY group is skipped."},
        {g, kMsgFewTreated, E,
         "The treated group (%1) has fewer than two usable observations in this BY group; the "
         "BY group is skipped."},
        {g, kMsgFewControl, E,
         "The control group (%1) has fewer than two usable observations in this BY group; the "
         "BY group is skipped."},
        {g, kMsgTreatedLabelCut, W, "The treated group label is shortened to '%1'."},
        {g, kMsgControlLabelCut, W, "The control group label is shortened to '%1'."},
        {g, kMsgTreatedLevelDefault, N,
         "The treated level of %1 is '%2', the first of its levels in sort order; use "
         "the TREATED= option to choose another."},
        {g, kMsgLeftOutMissing, N,
         "%1 observations of this BY group were not used because of missing values in %2."},
        {g, kMsgLeftOutMissingOne, N,
         "1 observation of this BY group was not used because of missing values in %1."},
        {g, kMsgListMore, T, "%1 and %2 more"},
        {g, kMsgNonPositiveWeight, N,
         "%1 observation(s) of this BY group have a negative or missing value of the %2; the "
         "first is observation %3 of the group. They weigh 0: they take no part in the analysis "
         "and keep their row in the output data set."},
        {g, kMsgClassLevels, N,
         "The CLASS variable %1 has %2 levels in this BY group; it is assessed as one indicator "
         "row per level."},
        {g, kMsgClassOneLevel, N,
         "The CLASS variable %1 has one level ('%2') in this BY group; its row shows a "
         "proportion of 1 in both groups and no standardized difference."},
    }};
    host::addMessages(defs);
}

std::string listCut(const std::vector<std::string>& items, std::size_t max) {
    std::string out;
    const std::size_t shown = std::min(items.size(), max);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i) out += ", ";
        out += items[i];
    }
    if (shown == items.size()) return out;
    return host::xpmstr(host::kGroupProc, kMsgListMore,
                        {out, std::to_string(items.size() - shown)});
}

} // namespace velloc
