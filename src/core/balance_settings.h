// Settings of a step's balance report (LEVELS=, THRESHOLD=) and the definitions of its tables;
// assessOptions sets them for every step.
#pragma once
#include "render/output.h"

namespace velloc {

struct BalanceSettings {
    bool allLevels = false;         // LEVELS=ALL: a row for each level of a CLASS variable
    double stdDiffThreshold = 0.1;  // THRESHOLD=(STDDIFF=): |std diff| above it is flagged
    double varRatioThreshold = 2.0; // THRESHOLD=(VARRATIO=): ratios outside [1/VR, VR]
    // Definitions of the ECDFDiff, EffSampleSize and BalanceSummary tables (vlcxods).
    host::TableDefinition ecdfDef, essDef, summaryDef;
};

} // namespace velloc
