// The record layouts of the working, treated and control files, and what the adjustment
// phases share for their utility files: a whole-file copy and the failure policy.
#include <vector>

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
    run.treatRecDoubles = kTrtExact + E + Q + M + 2;
    run.cntlRecDoubles = kCtlClass + Q + M + 2;
}

int copyUtilFile(host::UtilFile& src, host::UtilFile& dst) {
    if (int rc = src.point(0)) return rc;
    if (int rc = dst.point(-2)) return rc;
    if (int rc = dst.setRecordBytes(src.recordBytes())) return rc;
    std::vector<double> buf((src.recordBytes() + 7) / 8 + 1);
    while (src.read(buf.data()))
        if (int rc = dst.write(buf.data())) return rc;
    if (int rc = src.lastError()) return rc;
    src.point(0);
    dst.point(0);
    return 0;
}

void utilFailure(VlcRun&, int code) {
    host::utilFatal(code);
}

} // namespace velloc
