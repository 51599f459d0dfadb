// The matching driver: loads the control side into memory, orders the treated units, runs the
// algorithm of METHOD=, reports its outcome and writes set numbers, match weights and region
// status back into the treated and control files.
#include <algorithm>
#include <cstddef>
#include <new>
#include <numeric>
#include <vector>

#include "adjust/adjust.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "io/utility_copy.h"
#include "match/match.h"
#include "match/match_messages.h"

namespace velloc {

namespace {

int recordDoubles(const host::UtilFile& f) {
    return static_cast<int>(f.recordBytes() / sizeof(double));
}

bool reorders(const VlcRun& run) {
    return run.method == kMethodGreedy && run.matchOrder != kOrderAscending;
}

void allocate(VlcRun& run, std::int64_t nt, std::int64_t nc) {
    const std::size_t t = static_cast<std::size_t>(nt), c = static_cast<std::size_t>(nc);
    const std::size_t sets = std::min(t, c) + 1;
    run.trtSetId.assign(t, 0);
    run.ctlSetId.assign(c, 0);
    run.setTrtCount.assign(sets, 0);
    run.setCtlCount.assign(sets, 0);
    run.ctlReplWeight.assign(run.multipleK ? c : 0, 0.0);
    run.usedControls.clear();
    run.usedControls.reserve(static_cast<std::size_t>(std::max(run.k, 1)));
    run.nextFreeRight.clear();
    run.nextFreeLeft.clear();
    if (!run.withReplacement && run.method == kMethodGreedy) {
        run.nextFreeRight.resize(c + 1);
        run.nextFreeLeft.resize(c + 1);
        std::iota(run.nextFreeRight.begin(), run.nextFreeRight.end(), 0);
        std::iota(run.nextFreeLeft.begin(), run.nextFreeLeft.end(), 0);
    }
    run.trtRec.assign(static_cast<std::size_t>(recordDoubles(*run.vlctreat)), 0.0);
    run.nSets = 0;
    run.totalDistance = 0.0;
    run.unmatchedFlag = 0;
    run.nMatchedTreated = run.nMatchedControl = 0;
}

// Control scores, exact values and Mahalanobis coordinates from the working file, which holds
// the controls in control-file order, unless the group files' pass gathered every one.
void loadControls(VlcRun& run, std::size_t nc) {
    const std::size_t mah =
        run.distance == kScoreMahalanobis ? static_cast<std::size_t>(run.nMahComp) : 0;
    const bool gathered = run.ctlGathered;
    run.ctlGathered = false; // used once: a later matching of other files reads its own
    if (gathered && run.ctlPs.size() == nc && run.ctlExact.size() == nc * run.exactVars.size() &&
        run.ctlMah.size() == nc * mah)
        return;
    prepareControlValues(run, nc);
    std::vector<double> buf(run.vlcvout->recordBytes() / sizeof(double) + 1);
    run.vlcvout->point(0);
    while (const double* rec = host::nextDoubles(*run.vlcvout, buf.data()))
        if (rec[kVoutTreat] < 0.5) addControlValues(run, rec);
    run.vlcvout->point(0);
}

int dispatch(VlcRun& run) {
    if (run.method == kMethodGreedy) return vlcseql(run);
    if (run.method == kMethodReplace) return run.multipleK ? vlcseqx(run) : vlcseql(run);
    if (run.ratioType == kRatioFixed || run.ratioType == kRatioNone) return vlcmlap(run);
    return vlcmmcf(run);
}

// Reports the status; true when matching stops here.
bool report(VlcRun& run, int status) {
    switch (status) {
    case kMatchOk:
        return false;
    case kMatchSomeUnmatched:
        host::xpmlog(host::kGroupProc, run.k == 1 ? kMsgMatchNoControl : kMsgMatchFewerControls);
        run.raise(4);
        return false;
    case kMatchNoMemory:
        host::xpmlog(host::kGroupProc, kMsgMatchOutOfMemory);
        break;
    case kMatchNone:
        host::xpmlog(host::kGroupProc, kMsgMatchNoneMatched);
        break;
    default:
        host::xpmlog(host::kGroupProc, run.ratioType == kRatioVariable ? kMsgMatchVariableNoSolution
                                       : run.ratioType == kRatioFull   ? kMsgMatchFullNoSolution
                                                                       : kMsgMatchFixedNoSolution);
        break;
    }
    // The other phases of the BY group go on without matches; the step's status must not
    // read as a clean run when the matching that was asked for was not made.
    run.raise(4);
    return true;
}

// The treated units' results stay where matching left them, set numbers by treated unit and
// the sets' counts, for the combination with the working file. Matching may have taken the
// units in another order than the score's: their set numbers are put in score order, which
// each treated record's ordinal gives, instead of writing the results into the treated file
// and sorting it back. The matched treated units are counted.
int placeTreatedResults(VlcRun& run) {
    host::UtilFile& trt = *run.vlctreat;
    const auto nt = static_cast<std::size_t>(trt.count());
    run.trtSetId.resize(nt, 0);
    if (reorders(run)) {
        std::vector<std::int64_t> inScoreOrder(nt, 0);
        if (int rc = trt.point(0)) return utilFailure(run, rc), 1;
        for (std::size_t i = 0; i < nt; ++i) {
            const double* rec = host::nextDoubles(trt, run.trtRec.data());
            if (!rec)
                return utilFailure(run, trt.lastError() ? trt.lastError() : host::kUtilIoError), 1;
            const double ordinal = rec[kTrtOrdinal];
            if (!(ordinal >= 0.0 && ordinal < static_cast<double>(nt)))
                return utilFailure(run, host::kUtilIoError), 1;
            inScoreOrder[static_cast<std::size_t>(ordinal)] = run.trtSetId[i];
        }
        run.trtSetId.swap(inScoreOrder);
        trt.point(0);
    }
    for (const std::int64_t s : run.trtSetId)
        if (s != 0) ++run.nMatchedTreated;
    return 0;
}

// The controls' results stay where matching left them (ctlSetId and the sets' counts) for the
// combination with the working file; here the matched controls are only counted.
void countMatchedControls(VlcRun& run) {
    const auto n = static_cast<std::size_t>(run.vlccntl->count());
    for (std::size_t j = 0; j < n && j < run.ctlSetId.size(); ++j)
        if (run.ctlSetId[j] != 0) ++run.nMatchedControl;
}

} // namespace

int velloc(VlcRun& run) {
    const std::int64_t nt = run.vlctreat->count(), nc = run.vlccntl->count();
    try {
        allocate(run, nt, nc);
        loadControls(run, static_cast<std::size_t>(nc));
    } catch (const std::bad_alloc&) {
        report(run, kMatchNoMemory);
        run.matchActive = 0;
        return kMatchNoMemory;
    }
    if (static_cast<std::int64_t>(run.ctlPs.size()) != nc) {
        // The working file and the control file disagree: nothing can be matched safely.
        report(run, kMatchNone);
        run.matchActive = 0;
        return kMatchNone;
    }

    if (reorders(run)) {
        host::SortKey key{kTrtPs, true};
        if (run.matchOrder == kOrderData) key = {kTrtObs, false};
        if (run.matchOrder == kOrderRandom) key = {kTrtRandom, false};
        if (int rc = host::sortInPlace(*run.vlctreat, *run.vlctemp, &key, 1))
            return utilFailure(run, rc), 1;
    }

    int status = dispatch(run);
    run.matchStatus = status;
    if (report(run, status)) {
        run.matchActive = 0;
        // The treated file goes back to score order; set numbers stay as they were.
        if (reorders(run)) {
            const host::SortKey keys[2] = {{kTrtPs, false}, {kTrtObs, false}};
            if (int rc = host::sortInPlace(*run.vlctreat, *run.vlctemp, keys, 2))
                return utilFailure(run, rc), 1;
        }
        return status;
    }
    if (int rc = placeTreatedResults(run)) return rc;
    countMatchedControls(run);
    // The flow of variable-ratio and full matching leaves out treated units that no control
    // can take without saying so: they are as unmatched as greedy matching's.
    if (status == kMatchOk && run.nMatchedTreated < nt) {
        host::xpmlog(host::kGroupProc, kMsgMatchNoControl);
        run.raise(4);
    }
    return 0;
}

} // namespace velloc
