// The run context: one record per procedure step, passed to every phase. Phases hand data to
// each other only through this record and the utility files.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "model/levelize.h"
#include "model/modelrow.h"

namespace velloc {

struct Statement; // a parsed statement record (frame/statements.h)

struct VlcRun {
    // --- Status ------------------------------------------------------------------------
    // The procedure's return code: raised with max(status, code), never lowered. 4 for every
    // warning, 112 for a data condition that abandons a BY group.
    int status = 0;

    // --- Parsed statements (set by vlcinit, read-only afterwards) ------------------------
    int psSupplied = 0; // PSDATA supplies the scores; the fit is skipped
    int psSource = 0;   // 100 PS=, 101 LPS=
    int matchGiven = 0;

    // Matching options.
    int distance = 101;  // 100 PS, 101 LPS, 102 MAH
    int method = 110;    // 109 greedy, 110 optimal, 111 with replacement
    int ratioType = 112; // 112 fixed, 113 variable ratio, 114 full
    int k = 1;
    int kMin = 0;
    int kMax = 0;
    int kMaxTreated = 0;
    int withReplacement = 0;
    double caliper = 0.25;
    int caliperOn = 1;

    // Support region.
    int regionType = 47;
    double regionMin = 0.0;
    double regionMax = 1.0;
    double extendLower = 0.25;
    double extendUpper = 0.25;
    int regionExtend = 1;
    int regionScore = 101;
    int extendMult = 1;

    // Strata.
    int nStrataReq = 0;
    int strataAssess = 0;

    // Random stream: the BY group's recorded seed and the stream's running state.
    std::int64_t seed = 0;

    // Weights.
    int weightType = 121; // 121 none, 122 ATE, 124 ATT, 125 match, 126 ATE match

    // Assessment switches.
    int assessGiven = 0;
    int varInfoTable = 0;
    int stdDiffTable = 0;
    int stdDiffPlot = 0;
    int boxPlot = 0;
    int cdfPlot = 0;
    int barChart = 0;
    int cloudPlot = 0;
    int wgtCloudPlot = 0;
    int assessLps = 0;
    int assessPs = 0;
    int nAssessCont = 0;   // continuous variables assessed
    int nAssessClass2 = 0; // two-level CLASS variables assessed

    // Extreme-weight listings.
    int nLargestWgt = 0;
    int nLargestMatchWgt = 0;
    int nId = 0;

    // Data sets.
    host::Dataset* inData = nullptr;
    std::unique_ptr<host::Dataset> inDataOwned;
    std::string outDataPath; // empty: no OUT= data set
    int outObs = 57;         // 57 all, 60 region, 63 matched

    // --- Per-BY-group state (reset by vlcbin) ----------------------------------------------
    int matchActive = 0;
    int nStrata = 0;
    int nStrataShown = 64;

    // --- Observation data (written by vlcin) -----------------------------------------------
    std::int64_t nObsRead = 0;
    double totalFreq = 0.0;

    // --- Output ----------------------------------------------------------------------------
    host::Output* procOutput = nullptr;
    bool groupOpen = false; // currentGroup: an output group is open

    // Raises status to at least code.
    void raise(int code) {
        if (code > status) status = code;
    }

    // --- Model and fit ----------------------------------------------------------------------
    ModelDesc model;                    // registered once (zlevmod); levels per BY group
    ModelRowSource* lregRows = nullptr; // VLCLREG as model rows (UtilFileRows over the file)
    std::vector<double> coef;           // D coefficients of the group's fit, 0 when aliased
    std::vector<int> aliasFlags;        // D - 1 flags, one per non-intercept column
    int nAliased = 0;                   // aliased design columns
    int nFree = 0;                      // free parameters m = D - nAliased
    int fitReturn = 0;                  // Newton-Raphson result (0 converged)
    int fitIterations = 0;              // Newton iterations of the group's fit
};

} // namespace velloc
