// The fit work record and the optimizer problem record of the logistic fit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/model_rows.h"
#include "model/mapped_array.h"

namespace velloc {

struct VlcRun;

struct VlcFit {
    int D = 0;          // design width
    int nIntercept = 1; // always one
    int m = 0;          // free parameters: the intercept, then the unaliased columns
    std::int64_t nRecords = 0;
    ModelRowSource* rows = nullptr; // VLCLREG
    VlcRun* run = nullptr;          // may be null outside the procedure

    std::vector<int> freeCols; // design column of each parameter (freeCols[0] = 0)
    // Centre of each design column (its weighted mean; 0 for the intercept and when unset).
    // The passes fit eta = parm_0 + sum parm_j (x_j - centre_j), which keeps the Hessian
    // well conditioned for a column far from zero; the intercept is translated back after.
    std::vector<double> centre;
    std::vector<double> parm; // current parameters
    std::vector<double> prev; // previous parameters
    std::vector<double> grad; // gradient
    std::vector<double> hess; // packed lower triangle, m(m+1)/2
    double f = 0.0;           // objective at parm
    double tol = 1e-6;        // relative parameter convergence

    // Pass work areas, sized by the first pass.
    std::vector<double> recBuf, blockX, blockW, blockY, blockEta, blockC, hessFull;

    // The usable rows as the first pass read them, when they fit in cacheBytes: design columns
    // 1 .. D-1 as read (row-major), weight and group. Later passes take their blocks from here
    // instead of reading the rows again: the same kFitBlockRows usable rows in the same order,
    // so every sum is formed exactly as when the rows are read.
    // When the rows are in memory already (rows->records()), the cache holds each usable
    // row's record number instead of a copy of its design columns.
    std::size_t cacheBytes = 0; // 0: every pass reads the rows
    bool cacheFilling = false;  // the pass in progress appends to the cache
    bool cacheFull = false;     // the cache holds every usable row
    MappedArray<double> cacheX, cacheW, cacheY;
    MappedArray<std::uint32_t> cacheRecord; // record of each usable row, rows in memory
    const double* records = nullptr;        // rows->records() during the fit
    std::size_t cacheNext = 0;              // first cached row of the next block

    // Rows not cached, but in memory or read by number (rows->rangeReads()), are summed on
    // two cores as the cache's are: the first core takes the records before
    // splitRecord, which starts the second half of the usable rows. halfRecord splits the
    // records for the passes split by record (the cross products, the c statistic);
    // halfUsable of the usableRows lie before it.
    bool splitReads = false;
    std::size_t splitRecord = 0, halfRecord = 0, halfUsable = 0, usableRows = 0;
    // Every usable row's weight is 1 (the cross-product pass says), and then the treated rows
    // among the halfUsable: the c statistic counts pairs instead of weighing them.
    bool unitWeights = true;
    std::size_t halfTreated = 0;

    // The parameters at which f, grad and hess were last evaluated: the gradient pass after
    // a line search accepted its trial point finds them there.
    std::vector<double> evalAt;
    bool evalHeld = false;

    int readError = 0;       // set when a pass could not read the rows
    std::int64_t passes = 0; // data passes made (diagnostics)
    int iterations = 0;      // Newton iterations done
};

struct NewtonProblem {
    int nParm = 0;
    int nActiveEq = 0;
    int nLinIneq = 0;
    int nBounds = 0;
    int boundsOnly = 0;
    int useDefaults = 0;
    int maxIter = 40;
    int reevalAfterRidge = 0;
    int noExtrapolation = 1;
    double singTol = 1e-10;
    double maxRidge = 4096.0;
    double firstRidge = 0.0625;
    double ridgeGrowth = 16.0;
};

using FitCallback = int (*)(VlcFit* fit);

} // namespace velloc
