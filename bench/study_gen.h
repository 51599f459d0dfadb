// Synthetic observational studies for benchmarks and examples: continuous and CLASS
// covariates, a treatment drawn from a known logistic model, an optional sorted BY variable.
#pragma once
#include <cmath>
#include <cstdio>
#include <fmt/format.h>
#include <random>
#include <string>
#include <vector>

namespace velloc::bench {

struct StudySpec {
    long long n = 100000;
    double treatedShare = 0.3;
    int continuous = 5; // x1..xk
    int classes = 2;    // c1..cm
    int levels = 4;     // L1..Ln for every CLASS covariate
    int groups = 0;     // BY groups (column "by"), 0 for none
    unsigned long long seed = 1;
};

// The true model: logit P(treat = 1) = intercept + sum beta_j x_j + sum gamma_j[level of c_j].
struct StudyTruth {
    double intercept = 0;
    std::vector<double> beta;
    std::vector<std::vector<double>> gamma;
};

inline StudyTruth studyTruth(const StudySpec& s) {
    StudyTruth t;
    for (int j = 1; j <= s.continuous; ++j)
        t.beta.push_back((j % 2 ? 0.6 : -0.4) / std::sqrt(static_cast<double>(j)));
    for (int j = 1; j <= s.classes; ++j) {
        std::vector<double> g;
        for (int l = 0; l < s.levels; ++l)
            g.push_back(s.levels > 1 ? (j % 2 ? 0.5 : -0.5) * l / (s.levels - 1) + 0.0 : 0.0);
        t.gamma.push_back(g);
    }
    // The intercept that gives the wanted treated share, found by bisection on a pilot sample
    // drawn from its own stream (so the data themselves do not depend on it).
    std::mt19937_64 rng(s.seed ^ 0x9E3779B97F4A7C15ULL);
    std::normal_distribution<double> z;
    std::uniform_int_distribution<int> lev(0, std::max(0, s.levels - 1));
    std::vector<double> eta(20000);
    for (double& e : eta) {
        e = 0;
        for (double b : t.beta)
            e += b * z(rng);
        for (const auto& g : t.gamma)
            e += g[static_cast<std::size_t>(lev(rng))];
    }
    double lo = -30, hi = 30;
    for (int it = 0; it < 100; ++it) {
        double mid = 0.5 * (lo + hi), mean = 0;
        for (double e : eta)
            mean += 1 / (1 + std::exp(-(mid + e)));
        mean /= static_cast<double>(eta.size());
        (mean < s.treatedShare ? lo : hi) = mid;
    }
    t.intercept = 0.5 * (lo + hi);
    return t;
}

// Writes the study as CSV to out. Returns false when writing fails.
inline bool writeStudy(const StudySpec& s, const StudyTruth& t, std::FILE* out) {
    std::mt19937_64 rng(s.seed);
    std::normal_distribution<double> z;
    std::uniform_int_distribution<int> lev(0, std::max(0, s.levels - 1));
    std::uniform_real_distribution<double> u;
    std::string buf = "id,treat";
    for (int j = 1; j <= s.continuous; ++j)
        buf += fmt::format(",x{}", j);
    for (int j = 1; j <= s.classes; ++j)
        buf += fmt::format(",c{}", j);
    if (s.groups > 0) buf += ",by";
    buf += '\n';
    std::vector<double> x(static_cast<std::size_t>(s.continuous));
    std::vector<int> c(static_cast<std::size_t>(s.classes));
    for (long long i = 0; i < s.n; ++i) {
        double eta = t.intercept;
        for (std::size_t j = 0; j < x.size(); ++j) {
            x[j] = z(rng);
            eta += t.beta[j] * x[j];
        }
        for (std::size_t j = 0; j < c.size(); ++j) {
            c[j] = lev(rng);
            eta += t.gamma[j][static_cast<std::size_t>(c[j])];
        }
        int treat = u(rng) < 1 / (1 + std::exp(-eta)) ? 1 : 0;
        fmt::format_to(std::back_inserter(buf), "{},{}", i + 1, treat);
        for (double v : x)
            fmt::format_to(std::back_inserter(buf), ",{:.6f}", v);
        for (int l : c)
            fmt::format_to(std::back_inserter(buf), ",L{}", l + 1);
        if (s.groups > 0) fmt::format_to(std::back_inserter(buf), ",{}", 1 + i * s.groups / s.n);
        buf += '\n';
        if (buf.size() > (1 << 20)) {
            if (std::fwrite(buf.data(), 1, buf.size(), out) != buf.size()) return false;
            buf.clear();
        }
    }
    return std::fwrite(buf.data(), 1, buf.size(), out) == buf.size() && std::fflush(out) == 0;
}

} // namespace velloc::bench
