// The balance report beyond the standardized differences: eCDF differences, effective sample
// sizes and the per-set summary against the thresholds.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace velloc {

struct VlcRun;

// One weighted observation of a set: its value, weight and group (kControl, kTreated).
struct WeightedValue {
    double x;
    double w;
    int g;
};

// Mean and maximum absolute difference of the treated and control weighted eCDFs, taken at the
// distinct values of the pooled observations below the largest (where both eCDFs are 1). For
// an indicator both are |p_t - p_c|; one distinct value gives 0 and 0; a group without weight
// gives missing values.
struct EcdfDiff {
    double mean;
    double max;
};
EcdfDiff ecdfDiff(const std::vector<WeightedValue>& values);

struct EcdfKey {
    double x;
    std::uint32_t i;
};

// The same for several observation sets at once from one sort of the row's values x (NaN:
// no value): unitWeight[s][i] is record i's weight per unit in set s (negative: not a member),
// f its frequency and g its group.
std::vector<EcdfDiff> ecdfDiffSets(const std::vector<double>& x, const std::vector<int>& g,
                                   const std::vector<double>& f,
                                   const std::vector<std::vector<double>>& unitWeight,
                                   std::vector<EcdfKey>* scratch = nullptr);

// Kish's effective sample size of records with frequency f and weight w per unit:
// (sum f*w)^2 / sum f*w^2.
struct EssAccumulator {
    double count = 0.0, sumW = 0.0, sumW2 = 0.0;
    void add(double f, double w) {
        count += f;
        sumW += f * w;
        sumW2 += f * w * w;
    }
    double ess() const;
};

// Defines the three tables (called by vlcxods) and prints them for the BY group (called after
// StdDiff).
void defineBalanceReport(VlcRun& run, int varWidth, int obsWidth);
int printBalanceReport(VlcRun& run);

} // namespace velloc
