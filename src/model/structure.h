// Design columns that the parameterisation itself makes redundant.
#pragma once
#include <vector>

#include "model/levelize.h"

namespace velloc {

// Flags (one per design column) the columns that are linear combinations of earlier columns
// whatever the data: e.g. the last level of a CLASS main effect after the intercept, or every
// column of an effect that repeats an earlier one. Each effect is screened on its own, against
// the earlier effects with the same continuous factors, over the levels of its own CLASS
// variables, so the cost follows the effect's width and not the number of level combinations.
// Returns an empty vector only for a layout that does not belong to the registered effects.
std::vector<unsigned char> structuralAliases(const ModelDesc& model);

} // namespace velloc
