// Catalogue texts of the diagnostic plots.
#pragma once

namespace velloc {

// Message numbers of the plot warnings.
inline constexpr int kMsgQuoteInName = 221;
inline constexpr int kMsgStrataPlotsCut = 255;

// Catalogue texts the plots use as titles, labels and legend entries.
inline constexpr int kPlotTextStdDiff = 13;
inline constexpr int kPlotTextBoxPlots = 15;
inline constexpr int kPlotTextCdfPlots = 17;
inline constexpr int kPlotTextBarCharts = 19;
inline constexpr int kPlotTextCloudPlots = 21;
inline constexpr int kPlotTextWeightCloud = 22;
inline constexpr int kPlotTextStdDiffByStratum = 23;
inline constexpr int kPlotTextBoxPlotsByStratum = 25;
inline constexpr int kPlotTextCdfPlotsByStratum = 27;
inline constexpr int kPlotTextBarChartsByStratum = 29;
inline constexpr int kPlotTextCloudPlotsByStratum = 31;
inline constexpr int kPlotTextStratumN = 74;
inline constexpr int kPlotTextTreated = 80;
inline constexpr int kPlotTextControl = 81;
inline constexpr int kPlotTextPs = 84;
inline constexpr int kPlotTextLps = 85;
inline constexpr int kPlotTextAteWeight = 87;
inline constexpr int kPlotTextStabilizedAteWeight = 88;
inline constexpr int kPlotTextAttWeight = 89;
inline constexpr int kPlotTextFrequencyOf = 93;
inline constexpr int kPlotTextProportionOf = 94;
inline constexpr int kPlotTextObservations = 138;
inline constexpr int kPlotTextStratum = 139;
inline constexpr int kPlotTextIndividualValues = 144;
inline constexpr int kPlotTextWeightDistribution = 145;
inline constexpr int kPlotTextIndividualValuesByStratum = 150;

void addPlotMessages();

} // namespace velloc
