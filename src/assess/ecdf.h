// Weighted eCDF differences of one assessed row in several observation sets at once.
//
// The row's values are sorted once (a stable radix sort of their order-preserving bit
// patterns, so equal values keep record order and results do not depend on the sort), and one
// walk over the sorted values serves every set. Each record's masses in all sets sit together
// (EcdfMasses), so the walk reads one place per record.
#pragma once
#include <cstdint>
#include <vector>

#include "numeric/radix_sort.h"

namespace velloc {

// Mean and maximum absolute difference of the treated and control weighted eCDFs, taken at the
// distinct values of the pooled observations below the largest (where both eCDFs are 1). For
// an indicator both are |p_t - p_c|; one distinct value gives 0 and 0; a group without weight
// gives missing values.
struct EcdfDiff {
    double mean;
    double max;
};

// Record i's mass f*w in each set s at mass[i * nSets + s] (negative: not a member) and its
// group (0 control, 1 treated).
struct EcdfMasses {
    std::size_t nSets = 0;
    std::vector<double> mass;
    std::vector<std::uint8_t> group;
};

// unitWeight[s][i] is record i's weight per unit in set s (negative: not a member), f its
// frequency and g its group.
EcdfMasses ecdfMasses(const std::vector<int>& g, const std::vector<double>& f,
                      const std::vector<std::vector<double>>& unitWeight);

// The sort buffers of one caller, kept across rows so that their pages are touched once.
struct EcdfScratch {
    std::vector<KeyedPosition> items, spare; // items: the row's values in value order
};

// The differences of every set for the row's values x (NaN: no value).
std::vector<EcdfDiff> ecdfDiffSets(const std::vector<double>& x, const EcdfMasses& m,
                                   EcdfScratch& scratch);

// x sorted by value (NaN left out) as (order-preserving key, record) pairs; exposed for tests.
void ecdfSortedKeys(const std::vector<double>& x, EcdfScratch& scratch);

} // namespace velloc
