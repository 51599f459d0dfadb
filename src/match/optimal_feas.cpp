// The feasibility check of the optimal methods' match sets.
#include <cstdint>

#include "core/run_context.h"
#include "match/match.h"

namespace velloc {

int vlcfeas(VlcRun& run) {
    const bool fixed = run.ratioType != kRatioVariable && run.ratioType != kRatioFull;
    if ((fixed || run.ratioType == kRatioVariable) && run.nSets < run.nRegionTreated) return 1;
    std::int64_t trt = 0, ctl = 0;
    for (int s = 1; s <= run.nSets; ++s) {
        const std::int32_t c = run.setCtlCount[s], t = run.setTrtCount[s];
        if (fixed && c != run.k) return 1;
        if (run.ratioType == kRatioVariable && (c < run.kMin || c > run.kMax)) return 1;
        if (run.ratioType == kRatioFull && (c > run.kMax || t > run.kMaxTreated)) return 1;
        trt += t;
        ctl += c;
    }
    if (trt != run.nRegionTreated) return 1;
    if (!fixed && ctl != run.nControlsToMatch) return 1;
    return 0;
}

} // namespace velloc
