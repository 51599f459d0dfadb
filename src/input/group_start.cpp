// vlcbin: resets the per-BY-group state before the group is read.
#include <algorithm>

#include "core/phases.h"
#include "core/run_context.h"
#include "input/input.h"
#include "model/model_messages.h"

namespace velloc {

namespace {

void resetList(VlcRun::TopList& list, const VlcRun& run) {
    const auto n = static_cast<std::size_t>(run.listLength);
    list.obs.assign(n, -1.0);
    list.value.assign(n, -1.0); // empty: a real weight or count is never negative
    list.idNum.assign(n * static_cast<std::size_t>(run.idNumCount), host::missingValue());
    list.idText.assign(n * static_cast<std::size_t>(run.idTextBytes), ' ');
}

} // namespace

int vlcbin(VlcRun& run) {
    if (!run.inputReady && inputSetup(run) != 0) {
        host::xpmlog(host::kGroupProc, kMsgFitImpossible);
        run.raise(112);
        return 1;
    }
    // The streams run on across BY groups; the group records where they stand.
    run.seed = run.seedLive;
    run.cloudSeed = run.cloudSeedLive;

    run.matchActive = run.matchGiven;
    run.nStrata = run.nStrataReq;
    run.nStrataShown = 64;
    run.totalDistance = 0.0;
    run.nSets = 0;

    // The binary slots are sized when the group's CLASS levels are known (vlcodel).
    run.classIndicators.clear();
    run.balance.reset(static_cast<int>(run.analysisVars.size()) + 2, 0, run.nStrataReq);
    std::fill(run.assessOnlyMissing.begin(), run.assessOnlyMissing.end(), 0);
    for (AssessClass& a : run.assessClass)
        a.nLevels = 0;
    run.nAssessClass2 = 0;

    for (int g = 0; g < 2; ++g) {
        resetList(run.largestWgt[g], run);
        resetList(run.mostMatched[g], run);
    }

    run.nObsRead = 0;
    run.totalFreq = 0.0;
    run.nTreated = run.nControl = 0;
    run.freqTreated = run.freqControl = 0;
    return 0;
}

} // namespace velloc
