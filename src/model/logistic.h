// The logistic propensity score fit over model rows, and score evaluation.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/fit_records.h"

namespace velloc {

// Objective and derivatives: one pass over the usable rows (fit->rows, or the cache of them)
// computes f(parm), the gradient and the packed Hessian (accumulated in blocks of rows
// through BLAS); fentry and gentry both make it, and neither repeats it at the parameters of
// the last pass, so the gradient after an accepted line-search trial costs nothing. centry
// returns 1 while not converged, 0 when converged. Non-zero from fentry or gentry: the rows
// could not be read.
int fentry(VlcFit* fit);
int gentry(VlcFit* fit);
int centry(VlcFit* fit);

// Rows per block of the Hessian accumulation.
inline constexpr int kFitBlockRows = 512;
// From this many usable rows held in memory an evaluation runs on two cores, each summing one
// half of the rows; the halves are then added, first to second, so the result does not depend
// on timing.
inline constexpr std::size_t kFitTwoCoreRows = std::size_t{1} << 17;
// Memory the fit may hold the usable rows in ((D + 1) doubles a row), so that it reads them
// once rather than once a pass; larger groups are read every pass.
inline constexpr std::size_t kFitCacheBytes = std::size_t{256} << 20;

struct FitResult {
    int rc = 0;       // 0 go on (also without convergence), 1 abandon the BY group
    int newtonRc = 0; // znewrap's result
    double ridge = 0.0;
    int iterations = 0;
    int D = 0;
    int m = 0; // free parameters
    int nAliased = 0;
    std::vector<double> coef;     // D coefficients, 0 for aliased columns
    std::vector<int> aliased;     // D - 1 flags, one per non-intercept column
    double total[2] = {0.0, 0.0}; // control and treated weight totals
    bool warned232 = false;
    bool warned233 = false;
    bool singularAtEstimates = false; // a pivot of the final Hessian was refused
    int status = 0;                   // 4 when a warning was issued, else 0
    bool readError = false;           // the rows ended or failed before nRecords (rc 1)
    bool separated = false;           // a column alone separates the groups (note 911)
    bool usable = false;              // refitLogistic: converged, of full rank, not separated
    // At the estimates: the inverse of the weighted information, D x D row-major over the
    // design columns (rows and columns of aliased columns 0; empty when it is singular),
    // -2 log likelihood, the c-statistic of the fitted scores, and the rows and weight used.
    std::vector<double> cov;
    double minus2LL = 0.0;
    double cstat = 0.0;
    std::int64_t nUsed = 0;
    double weightUsed = 0.0;
};

// Fits the logistic model of the treatment indicator on the D design columns of the model
// rows (nRecords of them: fewer is a read error). Issues messages 224, 232, 233, 910, 911. Throws
// only what the row source throws. expectedAliases (D flags, may be empty) marks the columns that
// the parameterisation makes redundant: they are aliased like any other, but without the warning,
// since nothing in the data or the model caused them. names (D texts, may be empty) name the design
// columns in messages 233, 910 and 911. cacheBytes bounds the copy of the usable rows (0: none,
// every pass reads rows; the results are the same either way).
int fitLogistic(ModelRowSource& rows, int D, std::int64_t nRecords, FitResult& res,
                const std::vector<unsigned char>& expectedAliases = {},
                const std::vector<std::string>& names = {},
                std::size_t cacheBytes = kFitCacheBytes);

// The same fit on other rows, as a bootstrap replicate refits the model: silent, and with only
// the coefficients (no covariance, -2 log likelihood or c-statistic). res.usable says whether
// the coefficients are estimates: the fit converged, the Hessian at them is of full rank and no
// column separates the groups. start (D coefficients, or empty) is where Newton-Raphson
// starts, e.g. the full sample's estimates, which a replicate's are near. Returns as
// fitLogistic.
int refitLogistic(ModelRowSource& rows, int D, std::int64_t nRecords, FitResult& res,
                  const std::vector<unsigned char>& expectedAliases = {},
                  const std::vector<double>& start = {});

// Logit score of a design row under the coefficient vector.
double lpsFromDesign(const double* design, const double* coef, int D);
// Score from its logit, without overflow for either sign.
double psFromLps(double lps);
// Supplied PS check: 0 valid, kMsgSuppliedPsZero too small, kMsgSuppliedPsOne too large (the
// message to issue).
int checkSuppliedPs(double ps);

} // namespace velloc
