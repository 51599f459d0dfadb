#include "effect/estimators.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

namespace velloc::effect {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Inverts the symmetric positive definite k x k matrix a in place (Cholesky); false when it is
// not positive definite.
bool invertSpd(std::vector<double>& a, int k) {
    std::vector<double> l(static_cast<std::size_t>(k * k), 0.0);
    const double scale = [&] {
        double m = 0.0;
        for (int i = 0; i < k; ++i)
            m = std::max(m, a[i * k + i]);
        return m;
    }();
    for (int j = 0; j < k; ++j) {
        double d = a[j * k + j];
        for (int c = 0; c < j; ++c)
            d -= l[j * k + c] * l[j * k + c];
        if (!(d > 1e-13 * scale)) return false;
        l[j * k + j] = std::sqrt(d);
        for (int i = j + 1; i < k; ++i) {
            double s = a[i * k + j];
            for (int c = 0; c < j; ++c)
                s -= l[i * k + c] * l[j * k + c];
            l[i * k + j] = s / l[j * k + j];
        }
    }
    // inv(L), then inv(A) = inv(L)' inv(L).
    std::vector<double> li(static_cast<std::size_t>(k * k), 0.0);
    for (int i = 0; i < k; ++i) {
        li[i * k + i] = 1.0 / l[i * k + i];
        for (int j = 0; j < i; ++j) {
            double s = 0.0;
            for (int c = j; c < i; ++c)
                s += l[i * k + c] * li[c * k + j];
            li[i * k + j] = -s / l[i * k + i];
        }
    }
    for (int i = 0; i < k; ++i)
        for (int j = 0; j <= i; ++j) {
            double s = 0.0;
            for (int c = i; c < k; ++c)
                s += li[c * k + i] * li[c * k + j];
            a[i * k + j] = a[j * k + i] = s;
        }
    return true;
}

double quadratic(const std::vector<double>& g, const std::vector<double>& v,
                 const std::vector<double>& h) {
    const std::size_t k = g.size();
    double s = 0.0;
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t j = 0; j < k; ++j)
            s += g[i] * v[i * k + j] * h[j];
    return s;
}

// The measure from the two group means, their variances and covariance (delta method).
void finish(Contrast& c, Measure m, double v1, double v0, double cov10) {
    const double m1 = c.mean[1], m0 = c.mean[0];
    double d1 = 1.0, d0 = -1.0; // derivatives of the measure's scale by m1 and m0
    switch (m) {
    case Measure::Diff:
        c.estimate = m1 - m0;
        break;
    case Measure::Ratio:
        c.estimate = m1 > 0.0 && m0 > 0.0 ? m1 / m0 : kNaN;
        d1 = 1.0 / m1;
        d0 = -1.0 / m0;
        break;
    case Measure::OddsRatio:
        c.estimate = m1 > 0.0 && m1 < 1.0 && m0 > 0.0 && m0 < 1.0
                         ? (m1 / (1.0 - m1)) / (m0 / (1.0 - m0))
                         : kNaN;
        d1 = 1.0 / (m1 * (1.0 - m1));
        d0 = -1.0 / (m0 * (1.0 - m0));
        break;
    }
    const double var = d1 * d1 * v1 + d0 * d0 * v0 + 2.0 * d1 * d0 * cov10;
    c.se = std::isnan(c.estimate) || !(var >= 0.0) ? kNaN : std::sqrt(var);
    c.meanSe[1] = v1 >= 0.0 ? std::sqrt(v1) : kNaN;
    c.meanSe[0] = v0 >= 0.0 ? std::sqrt(v0) : kNaN;
}

void groupSizes(const Sample& s, Contrast& c) {
    double sw[2] = {0, 0}, sw2[2] = {0, 0};
    for (std::size_t i = 0; i < s.size(); ++i) {
        const int g = s.treat[i] > 0.5 ? 1 : 0;
        const double f = s.freq[i], w = s.weight[i];
        c.count[g] += f;
        sw[g] += f * w;
        sw2[g] += f * w * w;
    }
    for (int g = 0; g < 2; ++g)
        c.ess[g] = sw2[g] > 0.0 ? sw[g] * sw[g] / sw2[g] : 0.0;
}

} // namespace

Regression weightedLeastSquares(const DesignRow& design, int k, const Sample& s, SeMethod method) {
    Regression r;
    const std::size_t n = s.size(), uk = static_cast<std::size_t>(k);
    std::vector<double> xtx(uk * uk, 0.0), xty(uk, 0.0), row(uk);
    const double* xi = row.data();
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = s.weight[i] * s.freq[i];
        design(i, row.data());
        total += s.freq[i];
        for (std::size_t p = 0; p < uk; ++p) {
            xty[p] += a * xi[p] * s.y[i];
            for (std::size_t q = 0; q <= p; ++q)
                xtx[p * uk + q] += a * xi[p] * xi[q];
        }
    }
    for (std::size_t p = 0; p < uk; ++p)
        for (std::size_t q = 0; q < p; ++q)
            xtx[q * uk + p] = xtx[p * uk + q];
    if (!invertSpd(xtx, k)) return r;
    r.beta.assign(uk, 0.0);
    for (std::size_t p = 0; p < uk; ++p)
        for (std::size_t q = 0; q < uk; ++q)
            r.beta[p] += xtx[p * uk + q] * xty[q];

    // The meat: per-row scores (HC0) or per-cluster sums of scores (CR1).
    std::vector<double> meat(uk * uk, 0.0), score(uk);
    auto addOuter = [&](const double* u, double times) {
        for (std::size_t p = 0; p < uk; ++p)
            for (std::size_t q = 0; q < uk; ++q)
                meat[p * uk + q] += times * u[p] * u[q];
    };
    double adjust = 1.0;
    const bool byCluster = method == SeMethod::Cluster && s.cluster.size() == n;
    std::unordered_map<double, std::size_t> clusterIndex;
    std::vector<double> clusterScores;
    for (std::size_t i = 0; i < n; ++i) {
        design(i, row.data());
        double fit = 0.0;
        for (std::size_t p = 0; p < uk; ++p)
            fit += xi[p] * r.beta[p];
        const double we = s.weight[i] * (s.y[i] - fit);
        if (!byCluster) {
            for (std::size_t p = 0; p < uk; ++p)
                score[p] = we * xi[p];
            addOuter(score.data(), s.freq[i]);
            continue;
        }
        auto [it, fresh] = clusterIndex.try_emplace(s.cluster[i], clusterIndex.size());
        if (fresh) clusterScores.resize(clusterScores.size() + uk, 0.0);
        double* u = &clusterScores[it->second * uk];
        for (std::size_t p = 0; p < uk; ++p)
            u[p] += s.freq[i] * we * xi[p];
    }
    if (byCluster) {
        const double g = static_cast<double>(clusterIndex.size());
        for (std::size_t c = 0; c < clusterIndex.size(); ++c)
            addOuter(&clusterScores[c * uk], 1.0);
        adjust = g > 1.0 && total > k ? g / (g - 1.0) * (total - 1.0) / (total - k) : kNaN;
    }
    r.cov.assign(uk * uk, 0.0);
    std::vector<double> bm(uk * uk, 0.0);
    for (std::size_t p = 0; p < uk; ++p)
        for (std::size_t q = 0; q < uk; ++q)
            for (std::size_t c = 0; c < uk; ++c)
                bm[p * uk + q] += xtx[p * uk + c] * meat[c * uk + q];
    for (std::size_t p = 0; p < uk; ++p)
        for (std::size_t q = 0; q < uk; ++q) {
            double v = 0.0;
            for (std::size_t c = 0; c < uk; ++c)
                v += bm[p * uk + c] * xtx[c * uk + q];
            r.cov[p * uk + q] = adjust * v;
        }
    r.ok = true;
    return r;
}

Contrast weightedContrast(const Sample& s, Measure m, Estimand e, SeMethod method) {
    Contrast c;
    groupSizes(s, c);
    const std::size_t n = s.size(), p = static_cast<std::size_t>(s.p);
    const int k = 2 + 2 * s.p;
    const std::size_t uk = static_cast<std::size_t>(k);

    // Covariates centred and scaled over the sample: the same model, better conditioned.
    std::vector<double> centre(p, 0.0), scale(p, 1.0);
    double total = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = s.weight[i] * s.freq[i];
        total += a;
        for (std::size_t j = 0; j < p; ++j)
            centre[j] += a * s.x[i * p + j];
    }
    for (std::size_t j = 0; j < p; ++j) {
        centre[j] /= total;
        double ss = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double d = s.x[i * p + j] - centre[j];
            ss += s.weight[i] * s.freq[i] * d * d;
        }
        if (ss > 0.0) scale[j] = std::sqrt(ss / total);
    }
    auto design = [&](std::size_t i, double* row) {
        const double t = s.treat[i] > 0.5 ? 1.0 : 0.0;
        row[0] = 1.0;
        row[1] = t;
        for (std::size_t j = 0; j < p; ++j) {
            const double z = (s.x[i * p + j] - centre[j]) / scale[j];
            row[2 + j] = z;
            row[2 + p + j] = t * z;
        }
    };
    std::vector<double> g1(uk, 0.0), g0(uk, 0.0), row(uk);
    double targetTotal = 0.0;
    for (std::size_t i = 0; i < n && p > 0; ++i) {
        design(i, row.data());
        const double t = row[1];
        const bool target = e == Estimand::Ate || (e == Estimand::Att) == (t > 0.5);
        if (!target) continue;
        const double a = s.weight[i] * s.freq[i];
        targetTotal += a;
        for (std::size_t j = 0; j < p; ++j) {
            g1[2 + j] += a * row[2 + j];
            g1[2 + p + j] += a * row[2 + j];
            g0[2 + j] += a * row[2 + j];
        }
    }
    for (std::size_t j = 2; j < uk; ++j) {
        g1[j] /= targetTotal;
        g0[j] /= targetTotal;
    }
    g1[0] = g1[1] = g0[0] = 1.0;

    Regression r = weightedLeastSquares(design, k, s, method);
    if (!r.ok) {
        c.estimate = c.se = c.mean[0] = c.mean[1] = c.meanSe[0] = c.meanSe[1] = kNaN;
        return c;
    }
    for (std::size_t j = 0; j < uk; ++j) {
        c.mean[1] += g1[j] * r.beta[j];
        c.mean[0] += g0[j] * r.beta[j];
    }
    if (method == SeMethod::Cluster) {
        std::unordered_map<double, int> seen;
        for (double v : s.cluster)
            seen.emplace(v, 0);
        c.clusters = static_cast<std::int64_t>(seen.size());
    }
    finish(c, m, quadratic(g1, r.cov, g1), quadratic(g0, r.cov, g0), quadratic(g1, r.cov, g0));
    return c;
}

Contrast stratifiedContrast(const Sample& s, Measure m, bool treatedWeights) {
    Contrast c;
    groupSizes(s, c);
    std::vector<double> ids(s.cluster);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    const std::size_t ns = ids.size(), n = s.size();
    auto index = [&](double v) {
        return static_cast<std::size_t>(std::lower_bound(ids.begin(), ids.end(), v) - ids.begin());
    };
    std::vector<double> cnt(2 * ns, 0.0), sum(2 * ns, 0.0), ssq(2 * ns, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t b = 2 * index(s.cluster[i]) + (s.treat[i] > 0.5 ? 1 : 0);
        cnt[b] += s.freq[i];
        sum[b] += s.freq[i] * s.y[i];
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t b = 2 * index(s.cluster[i]) + (s.treat[i] > 0.5 ? 1 : 0);
        const double d = s.y[i] - sum[b] / cnt[b];
        ssq[b] += s.freq[i] * d * d;
    }
    double wTotal = 0.0;
    std::vector<double> w(ns, 0.0);
    for (std::size_t k = 0; k < ns; ++k) {
        if (cnt[2 * k] <= 0.0 || cnt[2 * k + 1] <= 0.0) {
            c.droppedStrata.push_back(ids[k]);
            continue;
        }
        w[k] = treatedWeights ? cnt[2 * k + 1] : cnt[2 * k] + cnt[2 * k + 1];
        wTotal += w[k];
        ++c.clusters;
    }
    double v[2] = {0.0, 0.0};
    for (std::size_t k = 0; k < ns; ++k) {
        if (w[k] <= 0.0) continue;
        const double ws = w[k] / wTotal;
        for (int g = 0; g < 2; ++g) {
            const std::size_t b = 2 * k + static_cast<std::size_t>(g);
            c.mean[g] += ws * sum[b] / cnt[b];
            const double var = cnt[b] > 1.0 ? ssq[b] / (cnt[b] - 1.0) : kNaN;
            v[g] += ws * ws * var / cnt[b];
        }
    }
    if (wTotal <= 0.0) c.mean[0] = c.mean[1] = kNaN;
    finish(c, m, v[1], v[0], 0.0);
    return c;
}

double normalQuantile(double p) {
    if (!(p > 0.0 && p < 1.0)) return p == 0.0 ? -INFINITY : p == 1.0 ? INFINITY : kNaN;
    // Rational approximation (relative error 1e-9), then one Halley step on erfc.
    static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02,
                               -2.759285104469687e+02, 1.383577518672690e+02,
                               -3.066479806614716e+01, 2.506628277459239e+00};
    static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02,
                               -1.556989798598866e+02, 6.680131188771972e+01,
                               -1.328068155288572e+01};
    static const double cc[] = {-7.784894002430293e-03, -3.223964580411365e-01,
                                -2.400758277161838e+00, -2.549732539343734e+00,
                                4.374664141464968e+00,  2.938163982698783e+00};
    static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                               3.754408661907416e+00};
    double x;
    if (p < 0.02425 || p > 1.0 - 0.02425) {
        const double q = std::sqrt(-2.0 * std::log(p < 0.5 ? p : 1.0 - p));
        x = (((((cc[0] * q + cc[1]) * q + cc[2]) * q + cc[3]) * q + cc[4]) * q + cc[5]) /
            ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
        if (p > 0.5) x = -x;
    } else {
        const double q = p - 0.5, r = q * q;
        x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
            (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1.0);
    }
    const double e = 0.5 * std::erfc(-x / std::sqrt(2.0)) - p;
    const double u = e * std::sqrt(2.0 * M_PI) * std::exp(x * x / 2.0);
    return x - u / (1.0 + x * u / 2.0);
}

Inference infer(double estimate, double se, Measure m, double alpha) {
    Inference r;
    const bool logScale = m != Measure::Diff;
    const double centre = logScale ? std::log(estimate) : estimate;
    const double q = normalQuantile(1.0 - alpha / 2.0);
    r.lower = centre - q * se;
    r.upper = centre + q * se;
    if (logScale) r.lower = std::exp(r.lower), r.upper = std::exp(r.upper);
    r.z = se > 0.0 ? centre / se : kNaN;
    r.p = std::isnan(r.z) ? kNaN : std::erfc(std::fabs(r.z) / std::sqrt(2.0));
    return r;
}

} // namespace velloc::effect
