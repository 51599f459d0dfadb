#include "model/fit_passes.h"

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "base/cores.h"
#include "model/fit_rows.h"
#include "model/newton.h"

namespace velloc {

using namespace fitrows;

namespace {

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

// Row x of a block: the intercept's 1, then the listed design columns, centred once the
// centres are known.
inline void formRow(const VlcFit& fit, const double* rec, const int* cols, int ncols, double* x) {
    const bool centred = fit.centre.size() == static_cast<std::size_t>(fit.D);
    x[0] = 1.0;
    for (int j = 1; j < ncols; ++j)
        x[j] = rec[kRowDesign + cols[j]] - (centred ? fit.centre[cols[j]] : 0.0);
}

// Reads the next block of usable rows into the block arrays: x holds the columns listed in
// cols (column 0 is the intercept and always 1). Returns the rows in the block, -1 on error:
// rows that end before nRecords were read leave the fit on partial data.
int readBlock(VlcFit* fit, std::int64_t& left, const int* cols, int ncols) {
    int nb = 0;
    double* buf = fit->recBuf.data();
    const double* rec = buf;
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
        formRow(*fit, rec, cols, ncols, fit->blockX.data() + static_cast<std::size_t>(nb) * ncols);
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

// Walks the usable rows of a range in blocks of kFitBlockRows, as readBlock forms them:
// row(rec, w, g, i) for the i-th usable row of a block, then block(nb) once the block is full
// or the range has ended.
template <class Row, class Block>
void forEachBlock(const VlcFit& fit, RecordRange& range, Row&& row, Block&& block) {
    for (int nb = kFitBlockRows; nb == kFitBlockRows;) {
        nb = 0;
        while (nb < kFitBlockRows) {
            const double* rec = range.next();
            if (!rec) break;
            double w;
            int g;
            if (!usableRow(rec, fit.D, w, g)) continue;
            row(rec, w, g, nb);
            ++nb;
        }
        if (nb > 0) block(nb);
    }
}

// The usable rows of records from .. to - 1 into sums, in blocks as readBlock forms them.
// False when the rows could not be read.
bool addRead(const VlcFit& fit, std::size_t from, std::size_t to, EvalSums& sums) {
    const int m = fit.m;
    std::vector<double> X(static_cast<std::size_t>(kFitBlockRows) * m), W(kFitBlockRows),
        Y(kFitBlockRows);
    RecordRange range(fit, from, to);
    forEachBlock(
        fit, range,
        [&](const double* rec, double w, int g, int i) {
            formRow(fit, rec, fit.freeCols.data(), m, X.data() + static_cast<std::size_t>(i) * m);
            W[i] = w;
            Y[i] = g;
        },
        [&](int nb) {
            addBlock(fit.parm.data(), m, nb, X.data(), W.data(), Y.data(), sums.f, sums.grad.data(),
                     sums.hess.data(), sums.eta.data(), sums.c.data());
        });
    return !range.failed();
}

} // namespace

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
        EvalSums first(m), second(m);
        if (fit->cacheFull) {
            const std::size_t n = fit->cacheW.size();
            const std::size_t half = (n / 2 + kFitBlockRows - 1) / kFitBlockRows * kFitBlockRows;
            runBeside([&] { addCached(*fit, 0, half, first); },
                      [&] { addCached(*fit, half, n, second); });
        } else {
            const auto n = static_cast<std::size_t>(fit->nRecords);
            bool read[2] = {false, false};
            runBeside([&] { read[0] = addRead(*fit, 0, fit->splitRecord, first); },
                      [&] { read[1] = addRead(*fit, fit->splitRecord, n, second); });
            if (!read[0] || !read[1]) {
                fit->readError = 1;
                return 1;
            }
        }
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

namespace {

// The cross-product pass's sums over records [from, to), as the one-core pass forms them, in
// blocks of kFitBlockRows usable rows. When the cache fills, the usable rows (their record
// numbers when the rows are in memory, else their design columns), weights and groups go to
// it from index cacheAt on. marks holds the record of every kFitBlockRows-th usable row.
struct CrossPart {
    std::vector<double> hess, lo[2], hi[2];
    double total[2] = {0.0, 0.0};
    bool unitWeights = true; // every usable row's weight is 1
    std::size_t usable = 0;
    std::vector<std::size_t> marks;
    bool failed = false;
};

void crossRange(VlcFit& fit, std::size_t from, std::size_t to, const std::vector<double>& shift,
                std::size_t cacheAt, CrossPart& part) {
    const int D = fit.D;
    part.hess.assign(static_cast<std::size_t>(D) * D, 0.0);
    for (int g = 0; g < 2; ++g) {
        part.lo[g].assign(static_cast<std::size_t>(D), HUGE_VAL);
        part.hi[g].assign(static_cast<std::size_t>(D), -HUGE_VAL);
    }
    std::vector<double> X(static_cast<std::size_t>(kFitBlockRows) * D);
    RecordRange range(fit, from, to);
    forEachBlock(
        fit, range,
        [&](const double* rec, double w, int g, int i) {
            if (part.usable % kFitBlockRows == 0) part.marks.push_back(range.number());
            if (fit.cacheFilling) {
                const std::size_t at = cacheAt + part.usable;
                if (fit.records)
                    fit.cacheRecord.data()[at] = static_cast<std::uint32_t>(range.number());
                else
                    std::copy(rec + kRowDesign + 1, rec + kRowDesign + D,
                              fit.cacheX.data() + at * static_cast<std::size_t>(D - 1));
                fit.cacheW.data()[at] = w;
                fit.cacheY.data()[at] = g;
            }
            ++part.usable;
            part.total[g] += w;
            part.unitWeights = part.unitWeights && w == 1.0;
            double* x = X.data() + static_cast<std::size_t>(i) * D;
            x[0] = 1.0;
            for (int j = 1; j < D; ++j) {
                const double v = rec[kRowDesign + j];
                part.lo[g][j] = std::min(part.lo[g][j], v);
                part.hi[g][j] = std::max(part.hi[g][j], v);
                x[j] = v - shift[j];
            }
            scaleRow(x, D, std::sqrt(w));
        },
        [&](int nb) {
            cblas_dsyrk(CblasRowMajor, CblasLower, CblasTrans, D, nb, 1.0, X.data(), D, 1.0,
                        part.hess.data(), D);
        });
    part.failed = range.failed();
}

// The record of usable row k of a part that starts at record from and ends before to. Reads
// at most a block's rows from the mark before it; `to` when the part has no such row, SIZE_MAX
// when the rows could not be read.
std::size_t recordOfUsable(const VlcFit& fit, const CrossPart& part, std::size_t to,
                           std::size_t k) {
    if (k >= part.usable) return to;
    RecordRange range(fit, part.marks[k / kFitBlockRows], to);
    for (std::size_t left = k % kFitBlockRows;;) {
        const double* rec = range.next();
        if (!rec) return SIZE_MAX;
        double w;
        int g;
        if (usableRow(rec, fit.D, w, g) && left-- == 0) return range.number();
    }
}

// The cross-product pass on two cores, each taking half the records; the halves' sums are
// added first to second and their cached rows joined in record order. Without a cache the
// record that starts the second half of the usable rows is found for the evaluations.
// Non-zero when the rows cannot be read.
int crossPassTwoCores(VlcFit& fit, FitResult& res, std::vector<double> (&lo)[2],
                      std::vector<double> (&hi)[2], std::vector<double>& shift) {
    const int D = fit.D;
    const auto n = static_cast<std::size_t>(fit.nRecords);
    RecordRange scan(fit, 0, n);
    while (const double* rec = scan.next()) {
        double w;
        int g;
        if (!usableRow(rec, D, w, g)) continue;
        shift.assign(rec + kRowDesign, rec + kRowDesign + D);
        shift[0] = 1.0;
        break;
    }
    if (scan.failed()) return fit.readError = 1;
    if (shift.empty()) return 0; // no usable row: the totals stay 0
    const std::size_t half = n / 2;
    CrossPart first, second;
    runBeside([&] { crossRange(fit, 0, half, shift, 0, first); },
              [&] { crossRange(fit, half, n, shift, half, second); });
    if (first.failed || second.failed) return fit.readError = 1;
    const std::size_t usable = first.usable + second.usable;
    if (fit.cacheFilling) {
        // The second half's cached rows follow the first's (where they already are when every
        // record of the first half is usable).
        const std::size_t cols = fit.records ? 0 : static_cast<std::size_t>(D - 1);
        if (first.usable < half) {
            if (fit.records)
                std::copy(fit.cacheRecord.data() + half,
                          fit.cacheRecord.data() + half + second.usable,
                          fit.cacheRecord.data() + first.usable);
            else
                std::copy(fit.cacheX.data() + half * cols,
                          fit.cacheX.data() + (half + second.usable) * cols,
                          fit.cacheX.data() + first.usable * cols);
            std::copy(fit.cacheW.data() + half, fit.cacheW.data() + half + second.usable,
                      fit.cacheW.data() + first.usable);
            std::copy(fit.cacheY.data() + half, fit.cacheY.data() + half + second.usable,
                      fit.cacheY.data() + first.usable);
        }
        if (fit.records)
            fit.cacheRecord.resize(usable);
        else
            fit.cacheX.resize(usable * cols);
        fit.cacheW.resize(usable);
        fit.cacheY.resize(usable);
    } else if (usable >= kFitTwoCoreRows) {
        // The evaluations split the usable rows where the cache's would be split.
        const std::size_t split = (usable / 2 + kFitBlockRows - 1) / kFitBlockRows * kFitBlockRows;
        fit.splitRecord = split < first.usable
                              ? recordOfUsable(fit, first, half, split)
                              : recordOfUsable(fit, second, n, split - first.usable);
        if (fit.splitRecord == SIZE_MAX) return fit.readError = 1;
        fit.splitReads = true;
    }
    fit.halfRecord = half;
    fit.halfUsable = first.usable;
    fit.unitWeights = first.unitWeights && second.unitWeights;
    fit.halfTreated = static_cast<std::size_t>(first.total[1]); // a count when unitWeights
    fit.usableRows = usable;
    for (std::size_t k = 0; k < fit.hessFull.size(); ++k)
        fit.hessFull[k] = first.hess[k] + second.hess[k];
    for (int g = 0; g < 2; ++g) {
        res.total[g] = first.total[g] + second.total[g];
        for (int j = 1; j < D; ++j) {
            lo[g][j] = std::min(first.lo[g][j], second.lo[g][j]);
            hi[g][j] = std::max(first.hi[g][j], second.hi[g][j]);
        }
    }
    return 0;
}

} // namespace

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
    if ((fit.records || fit.rows->rangeReads()) && n >= kFitTwoCoreRows && twoCores()) {
        std::fill(fit.hessFull.begin(), fit.hessFull.end(), 0.0);
        crossPassTwoCores(fit, res, lo, hi, shift);
        fit.cacheFull = fit.cacheFilling && !fit.readError;
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
            if (fit.blockW[i] != 1.0) fit.unitWeights = false;
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

} // namespace velloc
