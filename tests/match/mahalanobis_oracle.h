// An independent Mahalanobis distance for the oracle tests. Everything is recomputed from the
// units in long double: the group means, the covariance of the chosen kind, the coordinates
// that drop out (Gram-Schmidt on the centred columns, in coordinate order: a coordinate whose
// residual variance is below 1e-9 of its variance over all observations is a combination of
// the earlier ones) and the inverse of the kept block by Gauss-Jordan elimination.
#pragma once

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "match_fixture.h"

namespace velloc::testing {

class MahOracle {
  public:
    // cov: 104 control group, 105 pooled, 106 identity. The coordinates are the first nVars
    // continuous values, then the PS and the LPS when added.
    MahOracle(const std::vector<Unit>& units, int cov, int nVars, bool addPs, bool addLps)
        : nVars_(nVars), addPs_(addPs), addLps_(addLps) {
        const int p = dimension();
        if (cov == 106) {
            for (int k = 0; k < p; ++k)
                kept_.push_back(k);
            inverse_.assign(p, std::vector<long double>(p, 0.0L));
            for (int k = 0; k < p; ++k)
                inverse_[k][k] = 1.0L;
            return;
        }
        // Centred columns of the rows the covariance uses; their degrees of freedom.
        std::vector<std::vector<long double>> mean(2, std::vector<long double>(p, 0.0L));
        long double count[2] = {0, 0};
        for (const Unit& u : units) {
            std::vector<long double> x = coordinates(u);
            for (int k = 0; k < p; ++k)
                mean[u.treated][k] += x[k];
            ++count[u.treated];
        }
        for (int g = 0; g < 2; ++g)
            for (int k = 0; k < p; ++k)
                mean[g][k] /= count[g];
        std::vector<std::vector<long double>> col(p);
        for (const Unit& u : units) {
            if (cov == 104 && u.treated) continue;
            std::vector<long double> x = coordinates(u);
            for (int k = 0; k < p; ++k)
                col[k].push_back(x[k] - mean[u.treated][k]);
        }
        const long double df = cov == 104 ? count[0] - 1 : count[0] + count[1] - 2;

        // Variance of each coordinate over all observations, the scale of the rank test.
        std::vector<long double> allVar(p, 0.0L);
        for (int k = 0; k < p; ++k) {
            long double m = (mean[0][k] * count[0] + mean[1][k] * count[1]) / (count[0] + count[1]);
            for (const Unit& u : units) {
                long double d = coordinates(u)[k] - m;
                allVar[k] += d * d;
            }
            allVar[k] /= count[0] + count[1] - 1;
        }
        std::vector<std::vector<long double>> basis; // orthonormal, over the kept columns
        for (int k = 0; k < p; ++k) {
            std::vector<long double> r = col[k];
            for (const auto& b : basis) {
                long double dot = 0;
                for (std::size_t i = 0; i < r.size(); ++i)
                    dot += r[i] * b[i];
                for (std::size_t i = 0; i < r.size(); ++i)
                    r[i] -= dot * b[i];
            }
            long double ss = 0;
            for (long double v : r)
                ss += v * v;
            if (!(ss / df > 1e-9L * allVar[k])) {
                dropped_.push_back(k);
                continue;
            }
            for (long double& v : r)
                v /= std::sqrt(ss);
            basis.push_back(std::move(r));
            kept_.push_back(k);
        }

        // Covariance of the kept coordinates, inverted by Gauss-Jordan with partial pivoting.
        const int q = static_cast<int>(kept_.size());
        std::vector<std::vector<long double>> a(q, std::vector<long double>(2 * q, 0.0L));
        for (int i = 0; i < q; ++i) {
            for (int j = 0; j < q; ++j) {
                long double s = 0;
                for (std::size_t r = 0; r < col[0].size(); ++r)
                    s += col[kept_[i]][r] * col[kept_[j]][r];
                a[i][j] = s / df;
            }
            a[i][q + i] = 1.0L;
        }
        for (int c = 0; c < q; ++c) {
            int piv = c;
            for (int r = c + 1; r < q; ++r)
                if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
            std::swap(a[c], a[piv]);
            long double d = a[c][c];
            for (long double& v : a[c])
                v /= d;
            for (int r = 0; r < q; ++r) {
                if (r == c) continue;
                long double f = a[r][c];
                for (int j = 0; j < 2 * q; ++j)
                    a[r][j] -= f * a[c][j];
            }
        }
        inverse_.assign(q, std::vector<long double>(q));
        for (int i = 0; i < q; ++i)
            for (int j = 0; j < q; ++j)
                inverse_[i][j] = a[i][q + j];
    }

    double distance(const Unit& t, const Unit& c) const {
        std::vector<long double> xt = coordinates(t), xc = coordinates(c);
        const int q = static_cast<int>(kept_.size());
        long double s = 0;
        for (int i = 0; i < q; ++i)
            for (int j = 0; j < q; ++j)
                s += (xc[kept_[i]] - xt[kept_[i]]) * inverse_[i][j] * (xc[kept_[j]] - xt[kept_[j]]);
        return static_cast<double>(std::sqrt(s < 0 ? 0.0L : s));
    }

    // Names of the coordinates that drop out, as the log names them (x1, x2, ..., PS, LPS).
    std::vector<std::string> droppedNames() const {
        std::vector<std::string> out;
        for (int k : dropped_) {
            if (k < nVars_)
                out.push_back("x" + std::to_string(k + 1));
            else if (addPs_ && k == nVars_)
                out.push_back("PS");
            else
                out.push_back("LPS");
        }
        return out;
    }

  private:
    int dimension() const { return nVars_ + addPs_ + addLps_; }
    std::vector<long double> coordinates(const Unit& u) const {
        std::vector<long double> x;
        for (int i = 0; i < nVars_; ++i)
            x.push_back(u.cont[i]);
        long double p = u.ps;
        if (addPs_) x.push_back(p);
        if (addLps_) x.push_back(std::log(p) - std::log1p(-p));
        return x;
    }

    int nVars_;
    bool addPs_, addLps_;
    std::vector<int> kept_, dropped_;
    std::vector<std::vector<long double>> inverse_;
};

// The lines of a log that carry the given message id.
inline std::vector<std::string> linesWith(const std::string& log, const std::string& id) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        if (line.find(id) != std::string::npos) out.push_back(line);
        start = end + 1;
    }
    return out;
}

} // namespace velloc::testing
