// The propensity model tables of a fitted BY group (nothing when PS= supplies the scores).
#pragma once

namespace velloc {

struct VlcRun;

int vlctpme(VlcRun& run); // PSModelEstimates
int vlctpmf(VlcRun& run); // PSModelFit
int vlctpsm(VlcRun& run); // both, in that order

} // namespace velloc
