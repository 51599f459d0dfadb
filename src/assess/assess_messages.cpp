// Labels of the information tables, the observation sets, the score rows and the listings.
#include "assess/assess_messages.h"

#include "base/messages.h"

namespace velloc {

namespace {
using host::kGroupProc;
constexpr host::Severity T = host::Severity::Text;
constexpr host::MessageDef kAssessMessages[] = {
    // DataInfo labels.
    {kGroupProc, 36, T, "Data Set"},
    {kGroupProc, 37, T, "Output Data Set"},
    {kGroupProc, 38, T, "Treatment Variable"},
    {kGroupProc, 39, T, "Treated Group"},
    {kGroupProc, 40, T, "Number of Strata"},
    {kGroupProc, 41, T, "Number of Treated Observations"},
    {kGroupProc, 42, T, "Number of Control Observations"},
    {kGroupProc, 50, T, "Support Region"},
    {kGroupProc, 51, T, "Lower PS Support"},
    {kGroupProc, 52, T, "Upper PS Support"},
    {kGroupProc, 55, T, "Number of Treated Observations in Support Region"},
    {kGroupProc, 56, T, "Number of Control Observations in Support Region"},
    // Observation set labels.
    {kGroupProc, 58, T, "All"},
    {kGroupProc, 61, T, "Region"},
    {kGroupProc, 64, T, "Matched"},
    {kGroupProc, 66, T, "Strata"},
    {kGroupProc, 69, T, "Weighted"},
    {kGroupProc, 72, T, "Weighted Matched"},
    // Listings: ID column names, and the divisor of the scaled weights.
    {kGroupProc, 75, T, "%1"},
    {kGroupProc, 79, T, "Weight / %1"},
    // Score rows.
    {kGroupProc, 82, T, "Prop Score"},
    {kGroupProc, 83, T, "Logit Prop Score"},
    // Weight types of the largest-weight listing.
    {kGroupProc, 90, T, "ATE Weights"},
    {kGroupProc, 91, T, "Stabilized ATE Weights"},
    {kGroupProc, 92, T, "ATT Weights"},
};
} // namespace

void addAssessMessages() {
    host::addMessages(kAssessMessages);
}

} // namespace velloc
