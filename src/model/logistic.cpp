#include "model/logistic.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "base/messages.h"
#include "core/codes.h"
#include "model/fit_passes.h"
#include "model/model_messages.h"
#include "model/newton.h"
#include "numeric/sweep.h"

namespace velloc {

namespace {

// Names every non-constant column that alone separates the treatment groups: all its
// control values on one side of all its treated values (touching: quasi-completely). The
// likelihood then has no finite maximum, whatever the other columns do. Returns whether one
// does; quiet: without the notes.
template <class Name>
bool noteSeparation(const std::vector<double> (&lo)[2], const std::vector<double> (&hi)[2], int D,
                    const Name& columnName, bool quiet) {
    bool any = false;
    for (int k = 1; k < D; ++k) {
        if (std::min(lo[0][k], lo[1][k]) == std::max(hi[0][k], hi[1][k])) continue;
        const char* how = nullptr;
        if (hi[0][k] < lo[1][k] || hi[1][k] < lo[0][k])
            how = "completely";
        else if (hi[0][k] <= lo[1][k] || hi[1][k] <= lo[0][k])
            how = "quasi-completely";
        if (!how) continue;
        any = true;
        if (!quiet) host::xpmlog(host::kGroupProc, kMsgSeparation, {columnName(k), how});
    }
    return any;
}

// Sweeps a copy of the packed Hessian on every pivot, h then holding its inverse; false when
// a pivot falls below tol relative to its diagonal (the Hessian is not of full rank).
bool sweepHessian(const VlcFit& fit, double tol, std::vector<double>& h) {
    const int m = fit.m;
    h = fit.hess;
    std::vector<double> hdiag(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i)
        hdiag[i] = h[packedSize(i) + i];
    std::string hs(static_cast<std::size_t>(m), '0');
    for (int k = 0; k < m; ++k)
        host::zsweep(h.data(), m, k, tol, hdiag.data(), hs.data());
    return hs.find('0') == std::string::npos;
}

// The inverse information of the centred parameters, carried to the design columns: the
// intercept is theta_0 - sum c_j theta_j, so its row of the map is (1, -c_j).
void covariance(VlcFit& fit, FitResult& res) {
    const int m = fit.m, D = fit.D;
    std::vector<double> h;
    if (!sweepHessian(fit, 1e-12, h)) return;
    auto V = [&](int i, int j) { return i >= j ? h[packedSize(i) + j] : h[packedSize(j) + i]; };
    // A (D x m): row 0 = (1, -c), row freeCols[j] = e_j.
    std::vector<double> A(static_cast<std::size_t>(D) * m, 0.0);
    A[0] = 1.0;
    for (int j = 1; j < m; ++j) {
        A[j] = -fit.centre[fit.freeCols[j]];
        A[static_cast<std::size_t>(fit.freeCols[j]) * m + j] = 1.0;
    }
    std::vector<double> AV(static_cast<std::size_t>(D) * m, 0.0);
    for (int r = 0; r < D; ++r)
        for (int j = 0; j < m; ++j) {
            double s = 0.0;
            for (int k = 0; k < m; ++k)
                s += A[static_cast<std::size_t>(r) * m + k] * V(k, j);
            AV[static_cast<std::size_t>(r) * m + j] = s;
        }
    res.cov.assign(static_cast<std::size_t>(D) * D, 0.0);
    for (int r = 0; r < D; ++r)
        for (int c = 0; c < D; ++c) {
            double s = 0.0;
            for (int k = 0; k < m; ++k)
                s += AV[static_cast<std::size_t>(r) * m + k] *
                     A[static_cast<std::size_t>(c) * m + k];
            res.cov[static_cast<std::size_t>(r) * D + c] = s;
        }
}

} // namespace

int fentry(VlcFit* fit) {
    return evalPass(fit);
}
int gentry(VlcFit* fit) {
    return evalPass(fit);
}

int centry(VlcFit* fit) {
    for (int j = 0; j < fit->m; ++j) {
        const double b = fit->parm[j];
        const double p = fit->prev[j];
        const double big = std::max(std::fabs(b), std::fabs(p));
        const double diff = std::fabs(b - p);
        if (big <= 1.491668147e-150) {
            if (diff > fit->tol) return 1;
        } else if (diff > fit->tol * big) {
            return 1;
        }
    }
    return 0;
}

namespace {

// The fit itself; quiet: no messages and no statistics at the estimates (covariance,
// -2 log likelihood, c-statistic), as a bootstrap replicate needs only the coefficients.
int fitModel(ModelRowSource& rows, int D, std::int64_t nRecords, FitResult& res,
             const std::vector<unsigned char>& expectedAliases,
             const std::vector<std::string>& names, bool quiet, std::size_t cacheBytes,
             const std::vector<double>& start = {}) {
    res = FitResult{};
    res.D = D;
    if (D < 1 || rows.recordDoubles() < kRowDesign + D) return res.rc = 1;
    res.coef.assign(static_cast<std::size_t>(D), 0.0);
    res.aliased.assign(static_cast<std::size_t>(D - 1), 0);

    VlcFit fit;
    fit.D = D;
    fit.rows = &rows;
    fit.nRecords = nRecords;
    fit.cacheBytes = cacheBytes;

    std::vector<double> lo[2], hi[2], shift;
    if (crossPass(fit, res, lo, hi, shift)) return res.rc = 1;
    if (fit.readError) return res.readError = true, res.rc = 1;
    if (res.total[0] <= kTolerance || res.total[1] <= kTolerance) {
        if (!quiet) host::xpmlog(host::kGroupProc, kMsgFitImpossible);
        return res.rc = 1;
    }
    const double p1 = res.total[1] / (res.total[0] + res.total[1]);
    // Weighted column means from the shifted sums (row 0 of the cross-products).
    fit.centre.assign(static_cast<std::size_t>(D), 0.0);
    for (int j = 1; j < D; ++j)
        fit.centre[j] = shift[j] + fit.hessFull[static_cast<std::size_t>(j) * D] / fit.hessFull[0];
    auto columnName = [&](int k) {
        return static_cast<std::size_t>(k) < names.size() ? names[k]
                                                          : "column " + std::to_string(k);
    };

    // Alias screening: a column whose pivot is refused depends on the columns before it.
    // The intercept is swept first, so the tolerance applies to each column's remaining
    // variance relative to its own centred variance, whatever its distance from zero.
    std::vector<double> cross(packedSize(D)), diag(static_cast<std::size_t>(D));
    for (int i = 0; i < D; ++i) {
        for (int j = 0; j <= i; ++j)
            cross[packedSize(i) + j] = fit.hessFull[static_cast<std::size_t>(i) * D + j];
        diag[i] = cross[packedSize(i) + i];
    }
    std::string sweepStatus(static_cast<std::size_t>(D), '0');
    host::zsweep(cross.data(), D, 0, 1e-8, diag.data(), sweepStatus.data());
    for (int i = 1; i < D; ++i)
        diag[i] = cross[packedSize(i) + i];
    for (int k = 1; k < D; ++k)
        host::zsweep(cross.data(), D, k, 1e-8, diag.data(), sweepStatus.data());
    fit.freeCols.assign(1, 0);
    std::string aliasedNames;
    std::vector<int> constant;
    for (int k = 1; k < D; ++k) {
        if (sweepStatus[k] == '0') {
            res.aliased[k - 1] = 1;
            ++res.nAliased;
            if (static_cast<std::size_t>(k) < expectedAliases.size() && expectedAliases[k])
                continue;
            aliasedNames += (aliasedNames.empty() ? "" : ", ") + columnName(k);
            if (std::min(lo[0][k], lo[1][k]) == std::max(hi[0][k], hi[1][k])) constant.push_back(k);
            res.warned233 = true;
            res.status = 4;
        } else {
            fit.freeCols.push_back(k);
        }
    }
    if (res.warned233 && !quiet) host::xpmlog(host::kGroupProc, kMsgAliasedColumns, {aliasedNames});
    for (int k : constant)
        if (!quiet) host::xpmlog(host::kGroupProc, kMsgConstantColumn, {columnName(k)});
    res.separated = noteSeparation(lo, hi, D, columnName, quiet);

    const int m = D - res.nAliased;
    res.m = m;
    fit.m = m;
    fit.parm.assign(static_cast<std::size_t>(m), 0.0);
    fit.parm[0] = -std::log(1.0 / p1 - 1.0);
    if (start.size() == static_cast<std::size_t>(D)) {
        // From given coefficients, in the centred parameters: the intercept takes the slopes
        // times their centres.
        fit.parm[0] = start[0];
        for (int j = 1; j < m; ++j) {
            fit.parm[j] = start[fit.freeCols[j]];
            fit.parm[0] += start[fit.freeCols[j]] * fit.centre[fit.freeCols[j]];
        }
    }
    fit.prev = fit.parm;
    fit.grad.assign(static_cast<std::size_t>(m), 0.0);
    fit.hess.assign(packedSize(m), 0.0);

    NewtonProblem prob;
    prob.nParm = m;
    double ridge = 0.0;
    res.newtonRc = znewrap(&fit, prob, &ridge, fentry, gentry, centry);
    res.ridge = ridge;
    res.iterations = fit.iterations;
    if (fit.readError) return res.readError = true, res.rc = 1;
    if (res.newtonRc != 0) {
        if (!quiet) host::xpmlog(host::kGroupProc, kMsgFitNotConverged);
        res.warned232 = true;
        res.status = 4;
    }

    // Back from centred columns: the intercept absorbs every slope times its centre.
    double intercept = fit.parm[0];
    for (int j = 1; j < m; ++j) {
        res.coef[fit.freeCols[j]] = fit.parm[j];
        intercept -= fit.parm[j] * fit.centre[fit.freeCols[j]];
    }
    res.coef[0] = intercept;

    // The Hessian at the estimates must be of full rank.
    std::vector<double> h;
    res.singularAtEstimates = !sweepHessian(fit, 1e-8, h);
    if (res.singularAtEstimates && !res.warned232) {
        if (!quiet) host::xpmlog(host::kGroupProc, kMsgFitNotConverged);
        res.warned232 = true;
        res.status = 4;
    }

    if (quiet) return res.rc = 0;
    // The fit statistics at the estimates themselves: the last Hessian may be one step behind.
    if (gentry(&fit) != 0 || concordance(fit, res) != 0) return res.readError = true, res.rc = 1;
    res.minus2LL = 2.0 * fit.f;
    covariance(fit, res);
    return res.rc = 0;
}

} // namespace

int fitLogistic(ModelRowSource& rows, int D, std::int64_t nRecords, FitResult& res,
                const std::vector<unsigned char>& expectedAliases,
                const std::vector<std::string>& names, std::size_t cacheBytes) {
    return fitModel(rows, D, nRecords, res, expectedAliases, names, false, cacheBytes);
}

int refitLogistic(ModelRowSource& rows, int D, std::int64_t nRecords, FitResult& res,
                  const std::vector<unsigned char>& expectedAliases,
                  const std::vector<double>& start) {
    const int rc =
        fitModel(rows, D, nRecords, res, expectedAliases, {}, true, kFitCacheBytes, start);
    res.usable = rc == 0 && res.newtonRc == 0 && !res.singularAtEstimates && !res.separated;
    return rc;
}

double lpsFromDesign(const double* design, const double* coef, int D) {
    double s = 0.0;
    for (int j = 0; j < D; ++j)
        s += design[j] * coef[j];
    return s;
}

double psFromLps(double lps) {
    if (lps > 0.0) return 1.0 / (1.0 + std::exp(-lps));
    const double e = std::exp(lps);
    return e / (1.0 + e);
}

int checkSuppliedPs(double ps) {
    if (ps <= kTolerance) return kMsgSuppliedPsZero;
    if (ps >= 0.9999999998889777) return kMsgSuppliedPsOne;
    return 0;
}

} // namespace velloc
