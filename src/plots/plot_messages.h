// Catalogue texts of the diagnostic plots.
#pragma once

namespace velloc {

void addPlotMessages();

} // namespace velloc
