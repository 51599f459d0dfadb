#include "model/vlclreg.h"

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
    // Running out of memory here is reported by the step runner, which names the phase.
    FitResult res;
    int rc =
        fitLogistic(*rows, run.model.layout.D, run.nObsRead, res, structuralAliases(run.model));
    // Rows that end early would leave the model fitted on part of the data.
    if (res.readError)
        host::utilFatal(run.vlclreg->lastError() ? run.vlclreg->lastError() : host::kUtilIoError);
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
