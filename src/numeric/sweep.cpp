#include "numeric/sweep.h"

#include <cmath>
#include <vector>

namespace velloc::host {

namespace {

inline std::size_t at(int i, int j) {
    return i >= j ? static_cast<std::size_t>(i) * (i + 1) / 2 + j
                  : static_cast<std::size_t>(j) * (j + 1) / 2 + i;
}

} // namespace

int zsweep(double* a, int n, int k, double tol, const double* origDiag, char* status) {
    if (k < 0 || k >= n) return 1;
    const bool undo = status[k] == '1';
    const double d = a[at(k, k)];
    if (undo) {
        if (!(d != 0.0) || !std::isfinite(d)) return 1;
    } else {
        double limit = origDiag ? tol * origDiag[k] : tol;
        if (!(d > limit)) return 1; // also refuses a NaN pivot
    }

    std::vector<double> col(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        col[i] = i == k ? 0.0 : a[at(i, k)];

    // Forward: entries between two swept pivots gain the product, others lose it. The undo
    // is the mirror image, so a second sweep of a pivot restores the matrix exactly.
    for (int i = 0; i < n; ++i) {
        if (i == k || col[i] == 0.0) continue;
        const bool si = status[i] == '1';
        double* row = a + static_cast<std::size_t>(i) * (i + 1) / 2;
        const double ci = col[i] / d;
        for (int j = 0; j <= i; ++j) {
            if (j == k) continue;
            const bool sj = status[j] == '1';
            const bool flip = undo ? (!si && !sj) : (si && sj);
            row[j] += flip ? ci * col[j] : -ci * col[j];
        }
    }
    for (int i = 0; i < n; ++i) {
        if (i == k) continue;
        const bool si = status[i] == '1';
        a[at(i, k)] = si ? -col[i] / d : col[i] / d;
    }
    a[at(k, k)] = 1.0 / d;
    status[k] = undo ? '0' : '1';
    return 0;
}

} // namespace velloc::host
