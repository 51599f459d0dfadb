// The record layouts of the working, treated and control files, and the failure policy of
// the adjustment phases' utility files.
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
    // The covariates only where a distance reads them: at registry scale they would be most of
    // the bytes the group files write.
    run.treatRecDoubles = kTrtExact + E + (run.distance == kScoreMahalanobis ? Q + M + 2 : 0);
    run.cntlRecDoubles = kCtlFields;
}

void setupMahPos(VlcRun& run) {
    run.mahPos.assign(run.mahVars.size(), 0);
    for (std::size_t i = 0; i < run.mahVars.size(); ++i) {
        int pos = static_cast<int>(i);
        for (std::size_t c = 0; c < run.combinedVars.size(); ++c)
            if (run.combinedVars[c] == run.mahVars[i]) {
                pos = static_cast<int>(c);
                break;
            }
        run.mahPos[i] = pos;
    }
}

void addControlValues(VlcRun& run, const double* rec) {
    run.ctlPs.push_back(rec[kVoutPs]);
    for (std::size_t i = 0; i < run.exactVars.size(); ++i)
        run.ctlExact.push_back(rec[run.voutExact + i]);
    if (run.distance != kScoreMahalanobis) return;
    const int m = static_cast<int>(run.mahVars.size());
    for (int i = 0; i < m; ++i)
        run.ctlMah.push_back(rec[run.voutCont + run.mahPos[i]]);
    for (int i = m; i < run.nMahComp; ++i)
        run.ctlMah.push_back(0.0);
    double* row = run.ctlMah.data() + run.ctlMah.size() - run.nMahComp;
    if (run.mahAddPs) row[run.mahAddPs - 1] = rec[kVoutPs];
    if (run.mahAddLps) row[run.mahAddLps - 1] = rec[kVoutLps];
}

void clearControlValues(VlcRun& run) {
    for (std::vector<double>* v : {&run.ctlPs, &run.ctlExact, &run.ctlMah}) {
        v->clear();
        v->shrink_to_fit();
    }
}

void prepareControlValues(VlcRun& run, std::size_t n) {
    clearControlValues(run);
    const bool mah = run.distance == kScoreMahalanobis;
    if (mah) setupMahPos(run);
    run.ctlPs.reserve(n);
    run.ctlExact.reserve(n * run.exactVars.size());
    run.ctlMah.reserve(mah ? n * static_cast<std::size_t>(run.nMahComp) : 0);
}

void utilFailure(VlcRun&, int code) {
    host::utilFatal(code);
}

} // namespace velloc
