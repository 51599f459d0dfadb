// Graph labels and titles, panel titles, axis labels and the plot warnings.
#include "plots/plot_messages.h"

#include "base/messages.h"

namespace velloc {

namespace {
using host::kGroupProc;
constexpr host::Severity T = host::Severity::Text;
constexpr host::Severity W = host::Severity::Warning;
constexpr host::MessageDef kPlotMessages[] = {
    {kGroupProc, 13, T, "Standardized Mean Differences"},
    {kGroupProc, 14, T, "BoxPlots"},
    {kGroupProc, 15, T, "Box Plots"},
    {kGroupProc, 16, T, "CDFPlots"},
    {kGroupProc, 17, T, "Cumulative Distribution Plots"},
    {kGroupProc, 18, T, "BarCharts"},
    {kGroupProc, 19, T, "Bar Charts"},
    {kGroupProc, 20, T, "CloudPlots"},
    {kGroupProc, 21, T, "Cloud Plots"},
    {kGroupProc, 22, T, "Weight Cloud Plot"},
    {kGroupProc, 23, T, "Standardized Mean Differences by Stratum"},
    {kGroupProc, 24, T, "StrataBoxPlots"},
    {kGroupProc, 25, T, "Box Plots by Stratum"},
    {kGroupProc, 26, T, "StrataCDFPlots"},
    {kGroupProc, 27, T, "Cumulative Distribution Plots by Stratum"},
    {kGroupProc, 28, T, "StrataBarCharts"},
    {kGroupProc, 29, T, "Bar Charts by Stratum"},
    {kGroupProc, 30, T, "StrataCloudPlots"},
    {kGroupProc, 31, T, "Cloud Plots by Stratum"},
    {kGroupProc, 59, T, "All Observations"},
    {kGroupProc, 62, T, "Observations in Support Region"},
    {kGroupProc, 65, T, "Matched Observations"},
    {kGroupProc, 70, T, "Weighted Observations in Region"},
    {kGroupProc, 73, T, "Weighted Matched Observations"},
    {kGroupProc, 74, T, "Stratum %1"},
    {kGroupProc, 80, T, "Treated"},
    {kGroupProc, 81, T, "Control"},
    {kGroupProc, 84, T, "PS"},
    {kGroupProc, 85, T, "LPS"},
    {kGroupProc, 87, T, "ATE Weight"},
    {kGroupProc, 88, T, "Stabilized ATE Weight"},
    {kGroupProc, 89, T, "ATT Weight"},
    {kGroupProc, 93, T, "Frequency of %1"},
    {kGroupProc, 94, T, "Proportion of %1"},
    {kGroupProc, 138, T, "Observations"},
    {kGroupProc, 139, T, "Stratum"},
    {kGroupProc, 140, T, "Distribution of %1"},
    {kGroupProc, 141, T, "Cumulative Distribution of %1"},
    {kGroupProc, 142, T, "Frequencies of %1"},
    {kGroupProc, 143, T, "Proportions of %1"},
    {kGroupProc, 144, T, "Individual Values of %1"},
    {kGroupProc, 145, T, "Distribution of Weights"},
    {kGroupProc, 146, T, "Distribution of %1 by Stratum"},
    {kGroupProc, 147, T, "Cumulative Distribution of %1 by Stratum"},
    {kGroupProc, 148, T, "Frequencies of %1 by Stratum"},
    {kGroupProc, 149, T, "Proportions of %1 by Stratum"},
    {kGroupProc, 150, T, "Individual Values of %1 by Stratum"},
    {kGroupProc, 159, T, "(%1)"},
    {kGroupProc, kMsgQuoteInName, W,
     "A single quote in a variable name is shown as a double quote in the plot labels."},
    {kGroupProc, kMsgStrataPlotsCut, W,
     "The stratified plots show only the first %1 of the %2 strata."},
};
} // namespace

void addPlotMessages() {
    host::addMessages(kPlotMessages);
}

} // namespace velloc
