// The sweep operator on a packed symmetric matrix.
#pragma once

namespace velloc::host {

// Sweeps the n x n symmetric matrix, packed by rows of its lower triangle (element (i, j),
// i >= j, at i*(i+1)/2 + j, 0-based), on pivot k (0-based).
//
// The pivot is refused, and the matrix left unchanged, when its column is numerically
// dependent on the columns swept before it: when the current diagonal a_kk is not above
// tol * origDiag[k] (the diagonal before any sweep; callers keep a copy). origDiag may be
// null: the test is then a_kk <= tol. status holds one character per column, '0' initially;
// a sweep marks status[k] = '1' (and a second sweep of the same pivot, which undoes the
// first, sets it back to '0'). Returns 0 when swept, 1 when refused.
//
// Sign convention: with S the set of swept pivots and T the rest, the matrix holds
//   [ A_SS^-1          A_SS^-1 A_ST             ]
//   [ A_TS A_SS^-1     A_TT - A_TS A_SS^-1 A_ST ]
// so sweeping every pivot of a positive definite matrix leaves its inverse.
int zsweep(double* packed, int n, int k, double tol, const double* origDiag, char* status);

} // namespace velloc::host
