#include "model/vlclreg.h"

#include <new>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "frame/vlcrun.h"
#include "host/messages.h"
#include "model/logistic.h"
#include "model/structure.h"

namespace velloc {

int vlclreg(VlcRun& run) {
    ModelRowSource* rows = run.lregRows;
    if (!rows || rows->recordDoubles() < kRowDesign + run.model.layout.D) return 1;
    FitResult res;
    int rc = 1;
    try {
        rc =
            fitLogistic(*rows, run.model.layout.D, run.nObsRead, res, structuralAliases(run.model));
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
    // Until the score tables exist the log is where a user sees the fit.
    std::string coefs;
    for (std::size_t j = 0; j < run.coef.size(); ++j)
        coefs += fmt::format("{}{:.10g}", j ? " " : "", run.coef[j]);
    host::xpmlog(host::kGroupProc, 321,
                 {std::to_string(run.fitIterations), std::to_string(run.fitReturn), coefs});
    return 0;
}

} // namespace velloc
