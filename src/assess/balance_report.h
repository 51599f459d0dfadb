// The balance report beyond the standardized differences: eCDF differences, effective sample
// sizes and the per-set summary against the thresholds.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "assess/ecdf.h"

namespace velloc {

struct VlcRun;

// One weighted observation of a set: its value, weight and group (kControl, kTreated).
struct WeightedValue {
    double x;
    double w;
    int g;
};

// The differences of one set of weighted values (see ecdf.h).
EcdfDiff ecdfDiff(const std::vector<WeightedValue>& values);

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
