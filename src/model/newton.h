// Newton-Raphson with ridging and step halving, on packed symmetric matrices.
#pragma once
#include <cstddef>

#include "model/fit_records.h"

namespace velloc {

// Minimises f over fit->parm. fentry evaluates f(parm) into fit->f; gentry evaluates f, the
// gradient and the packed Hessian; centry returns 1 while not converged, 0 when converged.
// Each callback returns non-zero when it could not evaluate; znewrap then stops with 1.
// ridge: in/out, the ridge factor in force in the last iteration.
// Returns 0 converged (also when the Newton step at the current point is too small to test:
// that point is the optimum), 1 iteration limit or repeated null steps, 3 ridging failed (the
// previous parameters are restored), 4 Hessian not positive definite at the solution.
int znewrap(VlcFit* fit, const NewtonProblem& prob, double* ridge, FitCallback fentry,
            FitCallback gentry, FitCallback centry);

// Kernels on packed lower triangles of order m (element (i, j), i >= j, at i(i+1)/2 + j).
inline std::size_t packedSize(int m) {
    return static_cast<std::size_t>(m) * (m + 1) / 2;
}
// Copies the Hessian into the factor area.
void zhproj(const double* hess, double* factor, int m);
// Adds delta to every diagonal element; returns the pivot tolerance singTol x the largest
// diagonal element (at least 0).
double zridgit(double* factor, int m, double delta, double singTol);
// Factors row i in place (rows before i already factored). Returns 1 when the pivot
// d_i = H_ii - sum L_ik^2 is not above tau (L_ii is then 0), else 0.
int zchol(double* factor, int m, int i, double tau);
// Solves L L' x = b in place (b becomes x); zero pivots give zero components.
void zbaksub(const double* factor, int m, double* b);

} // namespace velloc
