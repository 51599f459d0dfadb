// The treated and control files that matching reads, split from the working file in its
// current (score) order.
#include <algorithm>
#include <vector>

#include "adjust/adjust.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "io/utility_file.h"
#include "numeric/random.h"

namespace velloc {

int vlcfile(VlcRun& run) {
    host::UtilFile& vout = *run.vlcvout;
    host::UtilFile& trt = *run.vlctreat;
    host::UtilFile& ctl = *run.vlccntl;
    const int E = static_cast<int>(run.exactVars.size());
    const int Q = run.classColumns();
    const int tail = Q + run.nCombined + 2; // CLASS indicators, continuous values, PS, LPS
    if (int rc = vout.point(0)) return utilFailure(run, rc), 0;
    if (int rc = trt.point(-2)) return utilFailure(run, rc), 0;
    if (int rc = ctl.point(-2)) return utilFailure(run, rc), 0;
    if (int rc = trt.setRecordBytes(8 * static_cast<std::size_t>(run.treatRecDoubles)))
        return utilFailure(run, rc), 0;
    if (int rc = ctl.setRecordBytes(8 * static_cast<std::size_t>(run.cntlRecDoubles)))
        return utilFailure(run, rc), 0;
    std::vector<double> rec(vout.recordBytes() / 8 + 1);
    std::vector<double> t(static_cast<std::size_t>(run.treatRecDoubles));
    std::vector<double> c(static_cast<std::size_t>(run.cntlRecDoubles));
    double ordinal = 0.0;
    while (vout.read(rec.data())) {
        const double* from = &rec[static_cast<std::size_t>(run.voutExact)];
        if (rec[kVoutTreat] >= 0.5) {
            std::fill(t.begin(), t.end(), 0.0);
            t[kTrtObs] = rec[kVoutObs];
            if (run.matchOrder == kOrderRandom) t[kTrtRandom] = support::zranuni(run.seedLive);
            t[kTrtPs] = rec[kVoutPs];
            t[kTrtLps] = rec[kVoutLps];
            t[kTrtRegion] = rec[kVoutRegion];
            t[kTrtFreq] = rec[kVoutFreq];
            t[kTrtAte] = rec[kVoutAte];
            t[kTrtAteStab] = rec[kVoutAteStab];
            t[kTrtAtt] = rec[kVoutAtt];
            t[kTrtOrdinal] = ordinal++;
            std::copy_n(from, E + tail, &t[kTrtExact]);
            if (int rc = trt.write(t.data())) return utilFailure(run, rc), 0;
        } else {
            std::fill(c.begin(), c.end(), 0.0);
            c[kCtlRegion] = rec[kVoutRegion];
            c[kCtlPs] = rec[kVoutPs];
            c[kCtlLps] = rec[kVoutLps];
            c[kCtlFreq] = rec[kVoutFreq];
            c[kCtlAte] = rec[kVoutAte];
            c[kCtlAteStab] = rec[kVoutAteStab];
            c[kCtlAtt] = rec[kVoutAtt];
            std::copy_n(from + E, tail, &c[kCtlClass]);
            if (int rc = ctl.write(c.data())) return utilFailure(run, rc), 0;
        }
    }
    if (int rc = vout.lastError()) utilFailure(run, rc);
    vout.point(0);
    trt.point(0);
    ctl.point(0);
    return 0;
}

} // namespace velloc
