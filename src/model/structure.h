// Design columns that the parameterisation itself makes redundant.
#pragma once
#include <vector>

#include "model/levelize.h"

namespace velloc {

// Flags (one per design column) the columns that are linear combinations of earlier columns
// whatever the data: e.g. the last level of a CLASS main effect after the intercept. They are
// found by screening the design of every combination of the levels that occur, with generic
// continuous values. Returns an empty vector when the combinations are too many to enumerate;
// the caller then treats every aliased column as a data condition.
std::vector<unsigned char> structuralAliases(const ModelDesc& model);

} // namespace velloc
