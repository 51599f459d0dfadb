#include "model/logistic.h"
#include "base/cores.h"

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "base/messages.h"
#include "base/missing.h"
#include "core/codes.h"
#include "model/model_messages.h"
#include "model/newton.h"
#include "numeric/radix_sort.h"
#include "numeric/sweep.h"

namespace velloc {

namespace {

bool anyMissing(const double* x, int n) {
    for (int i = 0; i < n; ++i)
        if (host::isMissing(x[i])) return true;
    return false;
}

// Treatment group of a row: round(y), -1 when there is none.
inline int groupOf(double y) {
    if (!(y + 0.5 >= 0.0)) return -1;
    return static_cast<int>(y + 0.5);
}

// Whether a row enters the fit (a group of 0 or 1, a positive weight, no missing design
// value), with its weight f x w and group.
inline bool usableRow(const double* rec, int D, double& w, int& k) {
    w = rec[kRowFreq] * rec[kRowWeight];
    k = groupOf(rec[kRowTreat]);
    return k >= 0 && k <= 1 && w > 0.0 && !anyMissing(rec + kRowDesign, D);
}

void sizeWork(VlcFit* fit, int cols) {
    const std::size_t b = kFitBlockRows;
    fit->recBuf.resize(
        static_cast<std::size_t>(std::max(fit->rows->recordDoubles(), kRowDesign + fit->D)));
    fit->blockX.resize(b * static_cast<std::size_t>(cols));
    fit->blockW.resize(b);
    fit->blockY.resize(b);
    fit->blockEta.resize(b);
    fit->blockC.resize(b);
    fit->hessFull.resize(static_cast<std::size_t>(cols) * cols);
}

// Reads the next block of usable rows into the block arrays: x holds the columns listed in
// cols (column 0 is the intercept and always 1). Returns the rows in the block, -1 on error:
// rows that end before nRecords were read leave the fit on partial data.
int readBlock(VlcFit* fit, std::int64_t& left, const int* cols, int ncols) {
    int nb = 0;
    double* buf = fit->recBuf.data();
    const double* rec = buf;
    const bool centred = fit->centre.size() == static_cast<std::size_t>(fit->D);
    const std::size_t stride = static_cast<std::size_t>(fit->rows->recordDoubles());
    while (nb < kFitBlockRows && left > 0) {
        const auto record = static_cast<std::size_t>(fit->nRecords - left);
        if (fit->records) {
            rec = fit->records + record * stride;
        } else if (!fit->rows->read(buf)) {
            fit->readError = 1;
            left = 0;
            return -1;
        }
        --left;
        double w;
        int k;
        if (!usableRow(rec, fit->D, w, k)) continue;
        double* x = fit->blockX.data() + static_cast<std::size_t>(nb) * ncols;
        x[0] = 1.0;
        for (int j = 1; j < ncols; ++j)
            x[j] = rec[kRowDesign + cols[j]] - (centred ? fit->centre[cols[j]] : 0.0);
        fit->blockW[nb] = w;
        fit->blockY[nb] = k;
        ++nb;
        if (fit->cacheFilling) {
            if (fit->records)
                fit->cacheRecord.push_back(static_cast<std::uint32_t>(record));
            else
                fit->cacheX.append(rec + kRowDesign + 1, rec + kRowDesign + fit->D);
            fit->cacheW.push_back(w);
            fit->cacheY.push_back(k);
        }
    }
    return nb;
}

// Design columns 1 .. D-1 of the k-th usable row as the cache holds them.
inline const double* cachedDesign(const VlcFit& fit, std::size_t k) {
    if (fit.records) {
        const auto stride = static_cast<std::size_t>(fit.rows->recordDoubles());
        return fit.records + fit.cacheRecord[k] * stride + kRowDesign + 1;
    }
    return fit.cacheX.data() + k * static_cast<std::size_t>(fit.D - 1);
}

// Starts a pass over the usable rows: the cache when it holds them all, else the rows
// rewound. Non-zero when the rows cannot be rewound.
int startPass(VlcFit* fit) {
    fit->cacheNext = 0;
    if (fit->cacheFull || fit->records) return 0;
    return fit->rows->rewind();
}

// Cached rows i0 .. i0 + nb - 1 into x as readBlock forms a block (ncols columns, centred).
void gatherCached(const VlcFit& fit, std::size_t i0, int nb, const int* cols, int ncols,
                  double* x) {
    const bool centred = fit.centre.size() == static_cast<std::size_t>(fit.D);
    for (int i = 0; i < nb; ++i, x += ncols) {
        const double* raw = cachedDesign(fit, i0 + i); // column j at raw[j - 1]
        x[0] = 1.0;
        for (int j = 1; j < ncols; ++j)
            x[j] = raw[cols[j] - 1] - (centred ? fit.centre[cols[j]] : 0.0);
    }
}

// The next block of usable rows, as readBlock forms it, with its weights and groups in w, y.
int nextBlock(VlcFit* fit, std::int64_t& left, const int* cols, int ncols, const double*& w,
              const double*& y) {
    if (!fit->cacheFull) {
        w = fit->blockW.data();
        y = fit->blockY.data();
        return readBlock(fit, left, cols, ncols);
    }
    const std::size_t i0 = fit->cacheNext;
    const int nb = static_cast<int>(std::min<std::size_t>(kFitBlockRows, fit->cacheW.size() - i0));
    gatherCached(*fit, i0, nb, cols, ncols, fit->blockX.data());
    w = fit->cacheW.data() + i0;
    y = fit->cacheY.data() + i0;
    fit->cacheNext = i0 + static_cast<std::size_t>(nb);
    return nb;
}

// x *= s over n values, as cblas_dscal scales (a zero factor gives +0 whatever x).
inline void scaleRow(double* x, int n, double s) {
    if (s == 0.0) {
        std::fill(x, x + n, 0.0);
        return;
    }
    for (int j = 0; j < n; ++j)
        x[j] *= s;
}

// f, the gradient and the full Hessian (lower triangle) of one evaluation, summed block by
// block, with the work areas of one block.
struct EvalSums {
    double f = 0.0;
    std::vector<double> grad, hess, eta, c;
    explicit EvalSums(int m)
        : grad(static_cast<std::size_t>(m), 0.0),
          hess(static_cast<std::size_t>(m) * static_cast<std::size_t>(m), 0.0), eta(kFitBlockRows),
          c(kFitBlockRows) {}
};

// Adds block X (nb rows of m columns; scaled in place) with weights W and groups Y to the sums
// at parameters parm.
void addBlock(const double* parm, int m, int nb, double* X, const double* W, const double* Y,
              double& f, double* grad, double* hess, double* eta, double* c) {
    cblas_dgemv(CblasRowMajor, CblasNoTrans, nb, m, 1.0, X, m, parm, 1, 0.0, eta, 1);
    for (int i = 0; i < nb; ++i) {
        const double h = eta[i];
        const double a = std::fabs(h);
        const double e = std::exp(-a);
        const double L = std::log1p(e);
        const double w = W[i];
        const bool treated = Y[i] == 1.0;
        double l = L;
        if (treated ? h <= 0.0 : h > 0.0) l += a;
        f += w * l;
        // p - y from e alone: p = 1/(1+e) when eta > 0, e/(1+e) otherwise.
        const double onePlus = 1.0 + e;
        double pmy;
        if (h > 0.0)
            pmy = treated ? -e / onePlus : 1.0 / onePlus;
        else
            pmy = treated ? -1.0 / onePlus : e / onePlus;
        c[i] = w * pmy;
        eta[i] = std::sqrt(w * e / (onePlus * onePlus)); // reused: sqrt(w p (1-p))
    }
    cblas_dgemv(CblasRowMajor, CblasTrans, nb, m, 1.0, X, m, c, 1, 1.0, grad, 1);
    for (int i = 0; i < nb; ++i)
        scaleRow(X + static_cast<std::size_t>(i) * m, m, eta[i]);
    cblas_dsyrk(CblasRowMajor, CblasLower, CblasTrans, m, nb, 1.0, X, m, 1.0, hess, m);
}

// Cached rows from .. to - 1 into sums, block by block.
void addCached(const VlcFit& fit, std::size_t from, std::size_t to, EvalSums& sums) {
    const int m = fit.m;
    std::vector<double> X(static_cast<std::size_t>(kFitBlockRows) * m);
    for (std::size_t i0 = from; i0 < to; i0 += kFitBlockRows) {
        const int nb = static_cast<int>(std::min<std::size_t>(kFitBlockRows, to - i0));
        gatherCached(fit, i0, nb, fit.freeCols.data(), m, X.data());
        addBlock(fit.parm.data(), m, nb, X.data(), fit.cacheW.data() + i0, fit.cacheY.data() + i0,
                 sums.f, sums.grad.data(), sums.hess.data(), sums.eta.data(), sums.c.data());
    }
}

bool useTwoCores(const VlcFit& fit) {
    return twoCores() && fit.cacheFull && fit.cacheW.size() >= kFitTwoCoreRows;
}

// f, the gradient and the Hessian at fit->parm, in one pass; nothing when they are already
// held for these parameters.
int evalPass(VlcFit* fit) {
    if (fit->evalHeld && fit->evalAt == fit->parm) return 0;
    fit->evalHeld = false;
    const int m = fit->m;
    sizeWork(fit, m);
    ++fit->passes;
    if (startPass(fit) != 0) {
        fit->readError = 1;
        return 1;
    }
    if (fit->readError) return 1;
    double f = 0.0;
    std::fill(fit->grad.begin(), fit->grad.end(), 0.0);
    std::fill(fit->hessFull.begin(), fit->hessFull.end(), 0.0);
    if (useTwoCores(*fit)) {
        const std::size_t n = fit->cacheW.size();
        const std::size_t half = (n / 2 + kFitBlockRows - 1) / kFitBlockRows * kFitBlockRows;
        EvalSums first(m), second(m);
        std::thread other([&] { addCached(*fit, half, n, second); });
        addCached(*fit, 0, half, first);
        other.join();
        f = first.f + second.f;
        for (int j = 0; j < m; ++j)
            fit->grad[j] = first.grad[j] + second.grad[j];
        for (std::size_t k = 0; k < fit->hessFull.size(); ++k)
            fit->hessFull[k] = first.hess[k] + second.hess[k];
    } else {
        std::int64_t left = fit->nRecords;
        for (;;) {
            const double *W = nullptr, *Y = nullptr;
            const int nb = nextBlock(fit, left, fit->freeCols.data(), m, W, Y);
            if (nb < 0) return 1;
            if (nb == 0) break;
            addBlock(fit->parm.data(), m, nb, fit->blockX.data(), W, Y, f, fit->grad.data(),
                     fit->hessFull.data(), fit->blockEta.data(), fit->blockC.data());
        }
    }
    fit->f = f;
    for (int i = 0; i < m; ++i)
        for (int j = 0; j <= i; ++j)
            fit->hess[packedSize(i) + j] = fit->hessFull[static_cast<std::size_t>(i) * m + j];
    fit->evalAt = fit->parm;
    fit->evalHeld = true;
    return 0;
}

// The cross-product pass's sums over records [from, to) of rows in memory: as the one-core
// pass forms them, in blocks of kFitBlockRows usable rows. The usable rows' record numbers,
// weights and groups go to the cache from index cacheAt on.
struct CrossPart {
    std::vector<double> hess, lo[2], hi[2];
    double total[2] = {0.0, 0.0};
    std::size_t usable = 0;
};

void crossRange(VlcFit& fit, std::size_t from, std::size_t to, const std::vector<double>& shift,
                std::size_t cacheAt, CrossPart& part) {
    const int D = fit.D;
    const auto stride = static_cast<std::size_t>(fit.rows->recordDoubles());
    part.hess.assign(static_cast<std::size_t>(D) * D, 0.0);
    for (int g = 0; g < 2; ++g) {
        part.lo[g].assign(static_cast<std::size_t>(D), HUGE_VAL);
        part.hi[g].assign(static_cast<std::size_t>(D), -HUGE_VAL);
    }
    std::vector<double> X(static_cast<std::size_t>(kFitBlockRows) * D);
    std::uint32_t* cacheRecord = fit.cacheRecord.data() + cacheAt;
    double* cacheW = fit.cacheW.data() + cacheAt;
    double* cacheY = fit.cacheY.data() + cacheAt;
    for (std::size_t r = from; r < to;) {
        int nb = 0;
        for (; nb < kFitBlockRows && r < to; ++r) {
            const double* rec = fit.records + r * stride;
            double w;
            int g;
            if (!usableRow(rec, D, w, g)) continue;
            cacheRecord[part.usable] = static_cast<std::uint32_t>(r);
            cacheW[part.usable] = w;
            cacheY[part.usable] = g;
            ++part.usable;
            part.total[g] += w;
            double* x = X.data() + static_cast<std::size_t>(nb) * D;
            x[0] = 1.0;
            for (int j = 1; j < D; ++j) {
                const double v = rec[kRowDesign + j];
                part.lo[g][j] = std::min(part.lo[g][j], v);
                part.hi[g][j] = std::max(part.hi[g][j], v);
                x[j] = v - shift[j];
            }
            scaleRow(x, D, std::sqrt(w));
            ++nb;
        }
        if (nb > 0)
            cblas_dsyrk(CblasRowMajor, CblasLower, CblasTrans, D, nb, 1.0, X.data(), D, 1.0,
                        part.hess.data(), D);
    }
}

// The cross-product pass over rows in memory on two cores, each taking half the records; the
// halves' sums are added first to second and their cached rows joined in record order.
void crossPassTwoCores(VlcFit& fit, FitResult& res, std::vector<double> (&lo)[2],
                       std::vector<double> (&hi)[2], std::vector<double>& shift) {
    const int D = fit.D;
    const auto n = static_cast<std::size_t>(fit.nRecords);
    const auto stride = static_cast<std::size_t>(fit.rows->recordDoubles());
    for (std::size_t r = 0; r < n && shift.empty(); ++r) {
        const double* rec = fit.records + r * stride;
        double w;
        int g;
        if (!usableRow(rec, D, w, g)) continue;
        shift.assign(rec + kRowDesign, rec + kRowDesign + D);
        shift[0] = 1.0;
    }
    if (shift.empty()) return; // no usable row: the totals stay 0
    const std::size_t half = n / 2;
    CrossPart first, second;
    std::thread other([&] { crossRange(fit, half, n, shift, half, second); });
    crossRange(fit, 0, half, shift, 0, first);
    other.join();
    // The second half's cached rows follow the first's.
    std::copy(fit.cacheRecord.data() + half, fit.cacheRecord.data() + half + second.usable,
              fit.cacheRecord.data() + first.usable);
    std::copy(fit.cacheW.data() + half, fit.cacheW.data() + half + second.usable,
              fit.cacheW.data() + first.usable);
    std::copy(fit.cacheY.data() + half, fit.cacheY.data() + half + second.usable,
              fit.cacheY.data() + first.usable);
    const std::size_t usable = first.usable + second.usable;
    fit.cacheRecord.resize(usable);
    fit.cacheW.resize(usable);
    fit.cacheY.resize(usable);
    for (std::size_t k = 0; k < fit.hessFull.size(); ++k)
        fit.hessFull[k] = first.hess[k] + second.hess[k];
    for (int g = 0; g < 2; ++g) {
        res.total[g] = first.total[g] + second.total[g];
        for (int j = 1; j < D; ++j) {
            lo[g][j] = std::min(first.lo[g][j], second.lo[g][j]);
            hi[g][j] = std::max(first.hi[g][j], second.hi[g][j]);
        }
    }
}

// Cross products of the whole design row into fit.hessFull and the group totals, with each
// non-intercept column shifted by its value in the first usable row: the span is unchanged,
// and the centring of the alias screen then loses no precision to a column far from zero.
// Also each column's range per treatment group. Fills the cache of usable rows when the fit
// has one. Non-zero when the rows cannot be rewound.
int crossPass(VlcFit& fit, FitResult& res, std::vector<double> (&lo)[2],
              std::vector<double> (&hi)[2], std::vector<double>& shift) {
    const int D = fit.D;
    for (int g = 0; g < 2; ++g) {
        lo[g].assign(static_cast<std::size_t>(D), HUGE_VAL);
        hi[g].assign(static_cast<std::size_t>(D), -HUGE_VAL);
    }
    std::vector<int> all(static_cast<std::size_t>(D));
    for (int j = 0; j < D; ++j)
        all[j] = j;
    fit.m = D;
    sizeWork(&fit, D);
    if (fit.rows->rewind() != 0) return 1;
    const auto n = static_cast<std::size_t>(std::max<std::int64_t>(fit.nRecords, 0));
    // Rows in memory are read where they lie: the cache then only numbers the usable ones.
    fit.records = n <= UINT32_MAX ? fit.rows->records(fit.nRecords) : nullptr;
    const std::size_t perRow = fit.records ? 2 * sizeof(double) + sizeof(std::uint32_t)
                                           : static_cast<std::size_t>(D + 1) * sizeof(double);
    // A group of one block or less is read again at no cost worth a copy.
    fit.cacheFilling =
        n > kFitBlockRows && n <= fit.cacheBytes / perRow &&
        (fit.records ? fit.cacheRecord.reserve(n) : fit.cacheX.reserve(n * (D - 1))) &&
        fit.cacheW.reserve(n) && fit.cacheY.reserve(n);
    if (fit.records && fit.cacheFilling && n >= kFitTwoCoreRows && twoCores()) {
        std::fill(fit.hessFull.begin(), fit.hessFull.end(), 0.0);
        crossPassTwoCores(fit, res, lo, hi, shift);
        fit.cacheFull = true;
        fit.cacheFilling = false;
        return 0;
    }
    std::int64_t left = fit.nRecords;
    for (;;) {
        const int nb = readBlock(&fit, left, all.data(), D);
        if (nb <= 0) break;
        for (int i = 0; i < nb; ++i) {
            const int g = static_cast<int>(fit.blockY[i]);
            res.total[g] += fit.blockW[i];
            double* x = fit.blockX.data() + static_cast<std::size_t>(i) * D;
            if (shift.empty()) shift.assign(x, x + D);
            for (int j = 1; j < D; ++j) {
                lo[g][j] = std::min(lo[g][j], x[j]);
                hi[g][j] = std::max(hi[g][j], x[j]);
                x[j] -= shift[j];
            }
            scaleRow(x, D, std::sqrt(fit.blockW[i]));
        }
        cblas_dsyrk(CblasRowMajor, CblasLower, CblasTrans, D, nb, 1.0, fit.blockX.data(), D, 1.0,
                    fit.hessFull.data(), D);
    }
    fit.cacheFull = fit.cacheFilling && !fit.readError;
    fit.cacheFilling = false;
    return 0;
}

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

// A scored row: its logit, and its weight negated for a treated row (weights are positive).
struct Scored {
    double lps, wg;
};

// Sorts by lps, stably (-0 just below +0, NaN at the ends).
void sortByScore(MappedArray<Scored>& s) {
    MappedArray<Scored> out;
    if (!out.reserve(s.size())) throw std::bad_alloc();
    out.resize(s.size());
    if (radixSortTwoThreads(s.data(), out.data(), s.size(),
                            [](const Scored& x) { return orderKey(x.lps); }) != s.data())
        s.swap(out);
}

// Area under the ROC curve of the fitted logits over the rows the fit used, weighted: the
// share of treated-control weight pairs in which the treated row scores higher, ties one half.
// Rows with one design give one logit, so ties are exact. Non-zero when the rows fail.
int concordance(VlcFit& fit, FitResult& res) {
    const int D = fit.D;
    MappedArray<Scored> s;
    if (fit.cacheFull) {
        const std::size_t n = fit.cacheW.size();
        if (!s.reserve(n)) throw std::bad_alloc();
        s.resize(n);
        auto score = [&](std::size_t from, std::size_t to) {
            for (std::size_t i = from; i < to; ++i) {
                const double* raw = cachedDesign(fit, i);
                double eta = res.coef[0];
                for (int j = 1; j < D; ++j)
                    eta += res.coef[j] * raw[j - 1];
                s[i] = {eta, fit.cacheY[i] == 1.0 ? -fit.cacheW[i] : fit.cacheW[i]};
            }
        };
        if (useTwoCores(fit)) { // each row's score alone: the same on any number of cores
            std::thread other(score, n / 2, n);
            score(0, n / 2);
            other.join();
        } else {
            score(0, n);
        }
    } else {
        if (fit.rows->rewind() != 0) return 1;
        if (!s.reserve(static_cast<std::size_t>(std::max<std::int64_t>(fit.nRecords, 0))))
            throw std::bad_alloc();
        double* rec = fit.recBuf.data();
        for (std::int64_t left = fit.nRecords; left > 0; --left) {
            if (!fit.rows->read(rec)) return 1;
            double w;
            int k;
            if (!usableRow(rec, D, w, k)) continue;
            double eta = res.coef[0];
            for (int j = 1; j < D; ++j)
                eta += res.coef[j] * rec[kRowDesign + j];
            s.push_back({eta, k == 1 ? -w : w});
        }
    }
    res.nUsed = static_cast<std::int64_t>(s.size());
    sortByScore(s);
    double below0 = 0.0, pairs = 0.0, tot[2] = {0.0, 0.0};
    for (std::size_t i = 0; i < s.size();) {
        std::size_t e = i;
        double g[2] = {0.0, 0.0};
        do { // at least one row, so that a NaN logit cannot stall the walk
            g[std::signbit(s[e].wg) ? 1 : 0] += std::fabs(s[e].wg);
            ++e;
        } while (e < s.size() && s[e].lps == s[i].lps);
        pairs += g[1] * (below0 + 0.5 * g[0]);
        below0 += g[0];
        tot[0] += g[0];
        tot[1] += g[1];
        i = e;
    }
    res.weightUsed = tot[0] + tot[1];
    res.cstat = pairs / (tot[0] * tot[1]);
    return 0;
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
