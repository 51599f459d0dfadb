// Graph labels and titles, panel titles, axis labels and the plot warnings.
#include "plots/plot_messages.h"

#include "base/messages.h"

namespace velloc {

namespace {
using host::kGroupProc;
constexpr host::Severity T = host::Severity::Text;
constexpr host::Severity W = host::Severity::Warning;
constexpr host::MessageDef kPlotMessages[] = {
    {kGroupProc, kPlotTextStdDiff, T, "Standardized Mean Differences"},
    {kGroupProc, 14, T, "BoxPlots"},
    {kGroupProc, kPlotTextBoxPlots, T, "Box Plots"},
    {kGroupProc, 16, T, "CDFPlots"},
    {kGroupProc, kPlotTextCdfPlots, T, "Cumulative Distribution Plots"},
    {kGroupProc, 18, T, "BarCharts"},
    {kGroupProc, kPlotTextBarCharts, T, "Bar Charts"},
    {kGroupProc, 20, T, "CloudPlots"},
    {kGroupProc, kPlotTextCloudPlots, T, "Cloud Plots"},
    {kGroupProc, kPlotTextWeightCloud, T, "Weight Cloud Plot"},
    {kGroupProc, kPlotTextStdDiffByStratum, T, "Standardized Mean Differences by Stratum"},
    {kGroupProc, 24, T, "StrataBoxPlots"},
    {kGroupProc, kPlotTextBoxPlotsByStratum, T, "Box Plots by Stratum"},
    {kGroupProc, 26, T, "StrataCDFPlots"},
    {kGroupProc, kPlotTextCdfPlotsByStratum, T, "Cumulative Distribution Plots by Stratum"},
    {kGroupProc, 28, T, "StrataBarCharts"},
    {kGroupProc, kPlotTextBarChartsByStratum, T, "Bar Charts by Stratum"},
    {kGroupProc, 30, T, "StrataCloudPlots"},
    {kGroupProc, kPlotTextCloudPlotsByStratum, T, "Cloud Plots by Stratum"},
    {kGroupProc, 59, T, "All Observations"},
    {kGroupProc, 62, T, "Observations in Support Region"},
    {kGroupProc, 65, T, "Matched Observations"},
    {kGroupProc, 70, T, "Weighted Observations in Region"},
    {kGroupProc, 73, T, "Weighted Matched Observations"},
    {kGroupProc, kPlotTextStratumN, T, "Stratum %1"},
    {kGroupProc, kPlotTextTreated, T, "Treated"},
    {kGroupProc, kPlotTextControl, T, "Control"},
    {kGroupProc, kPlotTextPs, T, "PS"},
    {kGroupProc, kPlotTextLps, T, "LPS"},
    {kGroupProc, kPlotTextAteWeight, T, "ATE Weight"},
    {kGroupProc, kPlotTextStabilizedAteWeight, T, "Stabilized ATE Weight"},
    {kGroupProc, kPlotTextAttWeight, T, "ATT Weight"},
    {kGroupProc, kPlotTextFrequencyOf, T, "Frequency of %1"},
    {kGroupProc, kPlotTextProportionOf, T, "Proportion of %1"},
    {kGroupProc, kPlotTextObservations, T, "Observations"},
    {kGroupProc, kPlotTextStratum, T, "Stratum"},
    {kGroupProc, 140, T, "Distribution of %1"},
    {kGroupProc, 141, T, "Cumulative Distribution of %1"},
    {kGroupProc, 142, T, "Frequencies of %1"},
    {kGroupProc, 143, T, "Proportions of %1"},
    {kGroupProc, kPlotTextIndividualValues, T, "Individual Values of %1"},
    {kGroupProc, kPlotTextWeightDistribution, T, "Distribution of Weights"},
    {kGroupProc, 146, T, "Distribution of %1 by Stratum"},
    {kGroupProc, 147, T, "Cumulative Distribution of %1 by Stratum"},
    {kGroupProc, 148, T, "Frequencies of %1 by Stratum"},
    {kGroupProc, 149, T, "Proportions of %1 by Stratum"},
    {kGroupProc, kPlotTextIndividualValuesByStratum, T, "Individual Values of %1 by Stratum"},
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
