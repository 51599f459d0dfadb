// The treated and control files that matching reads, split from the working file in its
// current (score) order.
#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "adjust/adjust.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "io/utility_file.h"
#include "numeric/random.h"

namespace velloc {

namespace {

// The treated and control records keep the scores, the frequency and the weights at the same
// places; only the region status sits elsewhere in each.
static_assert(kTrtPs == kCtlPs && kTrtLps == kCtlLps && kTrtFreq == kCtlFreq &&
              kTrtAte == kCtlAte && kTrtAteStab == kCtlAteStab && kTrtAtt == kCtlAtt);

void copyScoresAndWeights(const double* rec, double* to) {
    to[kTrtPs] = rec[kVoutPs];
    to[kTrtLps] = rec[kVoutLps];
    to[kTrtFreq] = rec[kVoutFreq];
    to[kTrtAte] = rec[kVoutAte];
    to[kTrtAteStab] = rec[kVoutAteStab];
    to[kTrtAtt] = rec[kVoutAtt];
}

} // namespace

int vlcfile(VlcRun& run) {
    host::UtilFile& vout = *run.vlcvout;
    host::UtilFile& trt = *run.vlctreat;
    host::UtilFile& ctl = *run.vlccntl;
    // The working record's EXACT levels and what follows them, as far as a treated record
    // holds them.
    const int fromExact = run.treatRecDoubles - kTrtExact;
    if (int rc = vout.point(0)) return utilFailure(run, rc), 0;
    if (int rc = trt.point(-2)) return utilFailure(run, rc), 0;
    if (int rc = ctl.point(-2)) return utilFailure(run, rc), 0;
    if (int rc = trt.setRecordBytes(8 * static_cast<std::size_t>(run.treatRecDoubles)))
        return utilFailure(run, rc), 0;
    if (int rc = ctl.setRecordBytes(8 * static_cast<std::size_t>(run.cntlRecDoubles)))
        return utilFailure(run, rc), 0;
    std::vector<double> buf(vout.recordBytes() / 8 + 1);
    std::vector<double> t(static_cast<std::size_t>(run.treatRecDoubles));
    std::vector<double> c(static_cast<std::size_t>(run.cntlRecDoubles));
    // Matching's values of the controls are gathered in this pass, which reads the working
    // file in the order the control file follows, rather than in a pass of their own. Short
    // of memory, matching gathers them itself (and reports the shortage).
    run.ctlGathered = false;
    bool gather = true;
    auto gathering = [&](auto&& step) {
        if (!gather) return;
        try {
            step();
        } catch (const std::bad_alloc&) {
            clearControlValues(run);
            gather = false;
        }
    };
    gathering([&] {
        prepareControlValues(run,
                             static_cast<std::size_t>(std::max<std::int64_t>(run.nControl, 0)));
    });
    double ordinal = 0.0;
    while (const double* rec = host::nextDoubles(vout, buf.data())) {
        const double* from = rec + run.voutExact;
        if (rec[kVoutTreat] >= 0.5) {
            std::fill(t.begin(), t.end(), 0.0);
            t[kTrtObs] = rec[kVoutObs];
            if (run.matchOrder == kOrderRandom) t[kTrtRandom] = support::zranuni(run.seedLive);
            copyScoresAndWeights(rec, t.data());
            t[kTrtRegion] = rec[kVoutRegion];
            t[kTrtOrdinal] = ordinal++;
            std::copy_n(from, fromExact, &t[kTrtExact]);
            if (int rc = trt.write(t.data())) return utilFailure(run, rc), 0;
        } else {
            std::fill(c.begin(), c.end(), 0.0);
            copyScoresAndWeights(rec, c.data());
            c[kCtlRegion] = rec[kVoutRegion];
            if (int rc = ctl.write(c.data())) return utilFailure(run, rc), 0;
            gathering([&] { addControlValues(run, rec); });
        }
    }
    if (int rc = vout.lastError()) utilFailure(run, rc);
    run.ctlGathered = gather;
    vout.point(0);
    trt.point(0);
    ctl.point(0);
    return 0;
}

} // namespace velloc
