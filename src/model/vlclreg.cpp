#include "model/vlclreg.h"

#include <new>
#include <utility>

#include "frame/vlcrun.h"
#include "model/logistic.h"

namespace velloc {

int vlclreg(VlcRun& run) {
    ModelRowSource* rows = run.lregRows;
    if (!rows || rows->recordDoubles() < kRowDesign + run.model.layout.D) return 1;
    FitResult res;
    int rc = 1;
    try {
        rc = fitLogistic(*rows, run.model.layout.D, run.nObsRead, res);
    } catch (const std::bad_alloc&) {
        return 1; // no storage for the fit: the group is abandoned without a message
    }
    run.raise(res.status);
    if (rc != 0) return 1;
    run.coef = std::move(res.coef);
    run.aliasFlags = std::move(res.aliased);
    run.nAliased = res.nAliased;
    run.nFree = res.m;
    run.fitReturn = res.newtonRc;
    run.fitIterations = res.iterations;
    return 0;
}

} // namespace velloc
