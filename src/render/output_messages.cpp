#include <mutex>

#include "base/messages.h"
#include "render/output_messages.h"

namespace velloc::host {

namespace {

constexpr int G = kGroupHostOutput;
constexpr auto T = Severity::Text;

const MessageDef kOutputMessages[] = {
    {G, 2, T, "Data Information"},
    {G, 4, T, "Matching Information"},
    {G, 5, T, "Propensity Score Information"},
    {G, 6, T, "Strata Information"},
    {G, 7, T, "Variable Information"},
    {G, 8, T, "Standardized Mean Differences"},
    {G, 9, T, "Strata Variable Information"},
    {G, 10, T, "Strata Standardized Mean Differences"},
    {G, 11, T, "Observations with Largest Weights"},
    {G, 12, T, "Most Frequently Matched Observations"},
    {G, kMsgOutputError, Severity::Error, "Output error %1: %2."},
    {G, kMsgOutputWrite, Severity::Error, "Cannot write the output file %1: %2."},
    {G, kMsgOutputSkipped, Severity::Note, "Output request %1 was not carried out: %2."},
    {G, kMsgOutputRowShape, Severity::Error,
     "Row %1 of table %2 has %3 cells, but the table has %4 columns."},
    {G, kMsgOutputCellKind, Severity::Error,
     "Row %1 of table %2: column %3 is %4, but the cell holds %5."},
    {G, kMsgOutputSink, Severity::Error, "An output destination failed while writing %1: %2."},
    {G, kMsgOutputBenign, T, "graphics are switched off"},
    {G, kMsgOutputReasonBase, T, "the output system reported an unknown condition"},
    {G, kMsgOutputReasonBase + 1, T, "no output group is open to close"},
    {G, kMsgOutputReasonBase + 2, T, "an output group needs a name"},
    {G, kMsgOutputReasonBase + 3, T, "the table instance has no table definition"},
    {G, kMsgOutputReasonBase + 4, T, "a table row does not match the table's columns"},
    {G, kMsgOutputReasonBase + 5, T, "a table cell does not match its column's kind"},
    {G, kMsgOutputReasonBase + 6, T, "an output destination failed"},
};

} // namespace

void addOutputMessages() {
    static std::once_flag once;
    std::call_once(once, [] { addMessages(kOutputMessages); });
}

} // namespace velloc::host
