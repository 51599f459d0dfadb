// Match-set bookkeeping shared by the greedy, replacement and optimal methods: joining a treated
// unit and a control into one set.
#include <algorithm>
#include <cstdint>

#include "core/run_context.h"
#include "match/match.h"

namespace velloc {

namespace {

// Merges set b into set a (a < b) and closes the gap at b, so set numbers stay 1..nSets in the
// order the sets were opened. Units without a set (0) are left alone.
void mergeSets(VlcRun& run, std::int64_t a, std::int64_t b) {
    auto renumber = [a, b](std::int64_t& s) {
        if (s == b)
            s = a;
        else if (s > b)
            s -= 1;
    };
    for (std::int64_t& s : run.trtSetId)
        renumber(s);
    for (std::int64_t& s : run.ctlSetId)
        renumber(s);
    run.setTrtCount[a] += run.setTrtCount[b];
    run.setCtlCount[a] += run.setCtlCount[b];
    for (int s = static_cast<int>(b); s < run.nSets; ++s) {
        run.setTrtCount[s] = run.setTrtCount[s + 1];
        run.setCtlCount[s] = run.setCtlCount[s + 1];
    }
    run.setTrtCount[run.nSets] = run.setCtlCount[run.nSets] = 0;
    run.nSets -= 1;
}

} // namespace

void joinSet(VlcRun& run, std::int64_t i, std::int64_t j) {
    std::int64_t& ts = run.trtSetId[i];
    std::int64_t& cs = run.ctlSetId[j];
    if (ts == 0 && cs == 0) {
        int s = ++run.nSets;
        run.setTrtCount[s] = 1;
        run.setCtlCount[s] = 1;
        ts = cs = s;
    } else if (ts == 0) {
        ts = cs;
        run.setTrtCount[cs] += 1;
    } else if (cs == 0) {
        cs = ts;
        run.setCtlCount[ts] += 1;
    } else if (cs != ts) {
        // The pair links two sets (a flow that is not star-shaped, or a reused control): they
        // become one under the lower number.
        mergeSets(run, std::min(cs, ts), std::max(cs, ts));
    }
}

} // namespace velloc
