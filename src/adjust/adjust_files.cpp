// The record layouts of the working, treated and control files, and the failure policy of
// the adjustment phases' utility files.
#include "adjust/adjust.h"
#include "core/run_context.h"
#include "io/step_place.h"
#include "io/utility_file.h"

namespace velloc {

void setAdjustLayouts(VlcRun& run) {
    const int E = static_cast<int>(run.exactVars.size());
    const int Q = run.classColumns();
    const int M = run.nCombined;
    run.voutExact = kVoutFixed;
    run.voutClass = run.voutExact + E;
    run.voutCont = run.voutClass + Q;
    run.voutIdNum = run.voutCont + M + 2;
    run.voutIdText = run.voutIdNum + run.idNumCount;
    run.voutRecBytes = 8 * run.voutIdText + run.idTextBytes;
    // The covariates only where a distance reads them: at registry scale they would be most of
    // the bytes the group files write.
    run.treatRecDoubles = kTrtExact + E + (run.distance == kScoreMahalanobis ? Q + M + 2 : 0);
    run.cntlRecDoubles = kCtlFields;
}

void utilFailure(VlcRun&, int code) {
    host::utilFatal(code);
}

} // namespace velloc
