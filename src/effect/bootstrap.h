// The summary of bootstrap replicates, shared by the bootstrap of matched sets and the one that
// redoes the adjustment.
#pragma once
#include <vector>

#include "effect/estimators.h"

namespace velloc::effect {

// From b.replicates and each group's mean per replicate: the standard deviations as the
// standard errors, percentile limits at alpha / 2 and 1 - alpha / 2 (back from the log scale
// for ratios).
void summarizeReplicates(Bootstrap& b, const std::vector<double> (&groupMeans)[2], Measure m,
                         double alpha);
// An estimate on the scale the bootstrap works on: the log of a ratio, else itself.
double onMeasureScale(double estimate, Measure m);

} // namespace velloc::effect
