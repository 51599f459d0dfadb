// The percent-reduction and variance-ratio rules shared by the balance tables and plots.
#pragma once
#include <cmath>

#include "core/balance_stats.h"

namespace velloc {

// Reduction of |z| against the AllObs |z0|, in percent; a difference that grew or stayed
// shows 0, never a negative number. Missing when either is missing or z0 is tiny.
inline double pctReduction(double z0, double z) {
    double a = std::fabs(z0);
    if (std::isnan(a) || !(a > kTolerance) || std::isnan(z)) return kNaN;
    double r = (a - std::fabs(z)) * 100.0 / a;
    return r <= kTolerance ? 0.0 : r;
}

// var_t / var_c; missing when var_t is missing or var_c is tiny.
inline double varianceRatio(double varTreated, double varControl) {
    if (std::isnan(varTreated) || !(varControl > kTolerance)) return kNaN;
    return varTreated / varControl;
}

} // namespace velloc
