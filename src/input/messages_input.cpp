#include <array>

#include "host/messages.h"
#include "input/input_messages.h"

namespace velloc {

void addInputMessages() {
    using host::Severity;
    constexpr int g = host::kGroupProc;
    constexpr auto E = Severity::Error;
    constexpr auto W = Severity::Warning;
    constexpr auto N = Severity::Note;
    constexpr auto T = Severity::Text;
    static const std::array<host::MessageDef, 14> defs{{
        // Group labels and group names.
        {g, 77, T, "Treated (%1 = %2)"},
        {g, 78, T, "Control (%1 = %2)"},
        {g, 80, T, "Treated"},
        {g, 81, T, "Control"},
        {g, 222, E,
         "The frequency %1 of observation %2 of this BY group is larger than 2147483647; the "
         "BY group is skipped."},
        {g, 223, W,
         "The variable %1 has missing values in this BY group; it is left out of the balance "
         "assessment of the BY group."},
        {g, 225, E,
         "The treatment variable %1 has %2 levels in this BY group, but exactly two are "
         "required; the BY group is skipped."},
        {g, 226, W,
         "The CLASS variable %1 has %2 levels in this BY group; only CLASS variables with "
         "exactly two levels are assessed, so it is left out of the balance assessment."},
        {g, 227, E,
         "The TREATED= level '%1' is not a level of the treatment variable %2 in this BY group; "
         "the BY group is skipped."},
        {g, 228, E,
         "The treated group (%1) has fewer than two usable observations in this BY group; the "
         "BY group is skipped."},
        {g, 229, E,
         "The control group (%1) has fewer than two usable observations in this BY group; the "
         "BY group is skipped."},
        {g, 230, W, "The treated group label is shortened to '%1'."},
        {g, 231, W, "The control group label is shortened to '%1'."},
        {g, 320, N,
         "The treated level of %1 is '%2', the first of its levels in sort order; use "
         "the TREATED= option to choose another."},
    }};
    host::addMessages(defs);
}

} // namespace velloc
