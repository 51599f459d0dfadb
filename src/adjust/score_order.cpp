// Score order of the working file for matching and strata, and the way back to observation
// order for the output data set.
#include "adjust/adjust.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "io/utility_copy.h"

namespace velloc {

int vlcsort(VlcRun& run) {
    // Observation numbers are distinct, so the order is fully determined.
    const host::SortKey keys[2] = {{kVoutPs, false}, {kVoutObs, false}};
    if (int rc = host::sortInPlace(*run.vlcvout, *run.vlctemp, keys, 2))
        return utilFailure(run, rc), 1;
    return 0;
}

int vlcback(VlcRun& run) {
    const host::SortKey key{kVoutObs, false};
    if (int rc = host::sortInPlace(*run.vlcvout, *run.vlctemp, &key, 1))
        return utilFailure(run, rc), 1;
    return 0;
}

} // namespace velloc
