#include "model/newton.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace velloc {

namespace {

constexpr double kStepTiny = 1.110223024625157e-13;

double norm2(const std::vector<double>& v) {
    double s = 0.0;
    for (double x : v)
        s += x * x;
    return std::sqrt(s);
}

// Factors the whole matrix; returns 1 at the first pivot not above tau.
int factorAll(double* factor, int m, double tau) {
    for (int i = 0; i < m; ++i)
        if (zchol(factor, m, i, tau)) return 1;
    return 0;
}

// Step-halving line search from prev along dir. Returns 0 when a step was accepted, 1 for a
// null step, 2 when an evaluation failed, 3 when the step is too small to test: the Newton
// decrement or the step itself is rounding noise, i.e. prev is the optimum.
int znewstp(VlcFit* fit, const std::vector<double>& dir, double fPrev, FitCallback fentry) {
    const int m = fit->m;
    double gd = 0.0;
    for (int j = 0; j < m; ++j)
        gd += fit->grad[j] * dir[j];
    const double slope = -0.05 * gd;
    if (norm2(dir) <= kStepTiny * norm2(fit->prev) || slope < kStepTiny * std::fabs(fPrev)) {
        // Too small a decrease to test: the full Newton step is taken untested, which near
        // the optimum is what carries the estimates to full precision.
        for (int j = 0; j < m; ++j)
            fit->parm[j] = fit->prev[j] + dir[j];
        return 3;
    }
    double alpha = 2.0;
    for (;;) {
        alpha *= 0.5;
        if (alpha <= kStepTiny) return 1; // parm keeps the last trial
        for (int j = 0; j < m; ++j)
            fit->parm[j] = fit->prev[j] + alpha * dir[j];
        if (fentry(fit)) return 2;
        if (fPrev - fit->f >= alpha * slope) return 0;
    }
}

} // namespace

void zhproj(const double* hess, double* factor, int m) {
    std::copy(hess, hess + packedSize(m), factor);
}

double zridgit(double* factor, int m, double delta, double singTol) {
    double largest = 0.0;
    for (int i = 0; i < m; ++i) {
        double& d = factor[packedSize(i) + i];
        d += delta;
        largest = std::max(largest, d);
    }
    return singTol * largest;
}

int zchol(double* a, int /*m*/, int i, double tau) {
    double* ri = a + packedSize(i);
    for (int j = 0; j < i; ++j) {
        const double* rj = a + packedSize(j);
        double s = ri[j];
        for (int k = 0; k < j; ++k)
            s -= ri[k] * rj[k];
        ri[j] = rj[j] != 0.0 ? s / rj[j] : 0.0;
    }
    double d = ri[i];
    for (int k = 0; k < i; ++k)
        d -= ri[k] * ri[k];
    if (d > tau) {
        ri[i] = std::sqrt(d);
        return 0;
    }
    ri[i] = 0.0;
    return 1;
}

void zbaksub(const double* a, int m, double* b) {
    for (int i = 0; i < m; ++i) { // L z = b
        const double* ri = a + packedSize(i);
        double s = b[i];
        for (int k = 0; k < i; ++k)
            s -= ri[k] * b[k];
        b[i] = ri[i] != 0.0 ? s / ri[i] : 0.0;
    }
    for (int i = m - 1; i >= 0; --i) { // L' x = z
        double s = b[i];
        for (int k = i + 1; k < m; ++k)
            s -= a[packedSize(k) + i] * b[k];
        const double lii = a[packedSize(i) + i];
        b[i] = lii != 0.0 ? s / lii : 0.0;
    }
}

int znewrap(VlcFit* fit, const NewtonProblem& prob, double* ridge, FitCallback fentry,
            FitCallback gentry, FitCallback centry) {
    const int m = prob.nParm;
    const std::size_t np = packedSize(m);
    std::vector<double> factor(np), dir(static_cast<std::size_t>(m));
    fit->iterations = 0;
    *ridge = 0.0;
    if (gentry(fit)) return 1;
    int nullSteps = 0;

    for (int iter = 0; iter < prob.maxIter; ++iter) {
        fit->prev = fit->parm;
        const double fPrev = fit->f;
        double r = 0.0;
        zhproj(fit->hess.data(), factor.data(), m);
        double tau = zridgit(factor.data(), m, 0.0, prob.singTol);
        while (factorAll(factor.data(), m, tau)) {
            r = r == 0.0 ? prob.firstRidge : r * prob.ridgeGrowth;
            *ridge = r;
            if (r > prob.maxRidge) {
                fit->parm = fit->prev;
                fit->f = fPrev;
                return 3;
            }
            double ss = 0.0;
            for (std::size_t i = 0; i < np; ++i)
                ss += fit->hess[i] * fit->hess[i];
            double delta = r * std::sqrt(ss) / static_cast<double>(np);
            if (delta < 1e-10) delta = 1.0;
            zhproj(fit->hess.data(), factor.data(), m);
            tau = zridgit(factor.data(), m, delta, prob.singTol);
        }
        *ridge = r;

        for (int j = 0; j < m; ++j)
            dir[j] = -fit->grad[j];
        zbaksub(factor.data(), m, dir.data());

        const int step = znewstp(fit, dir, fPrev, fentry);
        if (step == 2) return 1;
        if (step == 1) { // the line search found no decrease
            if (nullSteps > m) return 1;
            ++nullSteps;
        } else {
            nullSteps = 0;
        }
        fit->iterations = iter + 1;
        if (gentry(fit)) return 1;
        // A step too small to test is convergence: the parameter test would only compare
        // rounding noise, and fails on it when an estimate is exactly 0.
        if (step == 3 || centry(fit) == 0) {
            if (r == 0.0) return 0;
            zhproj(fit->hess.data(), factor.data(), m);
            for (int i = 0; i < m; ++i) {
                zchol(factor.data(), m, i, tau);
                if (factor[packedSize(i) + i] < tau) return 4;
            }
            return 0;
        }
    }
    return 1;
}

} // namespace velloc
