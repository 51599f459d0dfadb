// Catalogue texts of the diagnostic plots.
#pragma once

namespace velloc {

// Message numbers of the plot warnings.
inline constexpr int kMsgQuoteInName = 221;
inline constexpr int kMsgStrataPlotsCut = 255;

void addPlotMessages();

} // namespace velloc
