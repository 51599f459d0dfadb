#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/cores.h"
#include "base/messages.h"
#include "io/utility_file.h"
#include "model/logistic.h"
#include "model/model_messages.h"
#include "model/newton.h"
#include "model/propensity_fit.h"
#include "model_rows.h"

namespace {

using namespace velloc;
using velloc::testing::MemCursor;
using velloc::testing::MemRow;

// Captures the log for one test.
class LogCapture {
  public:
    LogCapture() {
        addModelMessages();
        host::Log::setStream(&out_);
    }
    ~LogCapture() { host::Log::setStream(nullptr); }
    int count(const std::string& id) const {
        const std::string s = out_.str();
        int n = 0;
        for (auto p = s.find(id); p != std::string::npos; p = s.find(id, p + 1))
            ++n;
        return n;
    }

  private:
    std::ostringstream out_;
};

std::vector<std::vector<std::string>> readCsv(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string c;
        while (std::getline(ss, c, ','))
            cells.push_back(c);
        rows.push_back(cells);
    }
    return rows;
}

// Plain design rows (no CLASS variables): y, w, then the design values after the intercept.
struct Plain {
    std::vector<double> data;
    long n = 0;
    int D = 0;
};

Plain plainRows(const std::vector<std::vector<double>>& x, const std::vector<double>& y,
                const std::vector<double>& w = {}) {
    Plain p;
    p.D = 1 + static_cast<int>(x[0].size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        p.data.insert(p.data.end(), {double(i + 1), 1.0, w.empty() ? 1.0 : w[i], 0.0, y[i], 1.0});
        p.data.insert(p.data.end(), x[i].begin(), x[i].end());
        ++p.n;
    }
    return p;
}

std::vector<double> scores(const Plain& p, const std::vector<double>& coef) {
    std::vector<double> ps;
    const int R = kRowDesign + p.D;
    for (long i = 0; i < p.n; ++i)
        ps.push_back(
            psFromLps(lpsFromDesign(p.data.data() + i * R + kRowDesign, coef.data(), p.D)));
    return ps;
}

// A small data set with overlap: two covariates, deterministic pseudo-random values.
void smallData(std::vector<std::vector<double>>& x, std::vector<double>& y, int n) {
    unsigned s = 12345;
    auto u = [&] {
        s = s * 1103515245u + 12345u;
        return ((s >> 8) & 0xFFFF) / 65536.0;
    };
    for (int i = 0; i < n; ++i) {
        double a = u() * 4 - 2, b = u() * 3;
        double p = 1 / (1 + std::exp(-(0.3 + 0.8 * a - 0.5 * b)));
        x.push_back({a, b});
        y.push_back(u() < p ? 1.0 : 0.0);
    }
}

TEST(LogisticFit, JobTrainingDataMatchesReferenceGlm) {
    const std::string dir = std::string(VELLOC_TEST_DATA) + "/lalonde/";
    auto csv = readCsv(dir + "lalonde.csv");
    ASSERT_EQ(csv.size(), 615u);
    // Continuous: age educ married nodegree re74 re75 (columns 2 3 5 6 7 8); CLASS: treat, race.
    const int contCol[6] = {2, 3, 5, 6, 7, 8};
    double lo[6], hi[6], scale[6];
    for (int j = 0; j < 6; ++j)
        lo[j] = 1.3407807929943e+154, hi[j] = -lo[j];
    for (std::size_t r = 1; r < csv.size(); ++r)
        for (int j = 0; j < 6; ++j) {
            double v = std::stod(csv[r][contCol[j]]);
            lo[j] = std::min(lo[j], v);
            hi[j] = std::max(hi[j], v);
        }
    for (int j = 0; j < 6; ++j) {
        scale[j] = (hi[j] - lo[j]) * 0.25;
        if (!(scale[j] > 0.00001 * std::max(std::fabs(lo[j]), std::fabs(hi[j])))) scale[j] = 1;
    }
    std::vector<MemRow> rows;
    for (std::size_t r = 1; r < csv.size(); ++r) {
        MemRow m;
        for (int j = 0; j < 6; ++j)
            m.z.push_back(std::stod(csv[r][contCol[j]]) / scale[j]);
        m.text = {csv[r][1], csv[r][4]};
        m.num = {std::stod(csv[r][1]), 0.0};
        rows.push_back(m);
    }
    ModelSpec modelDef;
    modelDef.classVars = {{"treat", 1, true, true}, {"race", 6, false, false}};
    modelDef.nCont = 6;
    auto cont = [](int i) { return EffectSpec{{FactorRef{false, i}}, {}}; };
    modelDef.effects = {cont(0), cont(1), {{FactorRef{true, 1}}, {}}, cont(2), cont(3),
                        cont(4), cont(5)};
    ModelDesc model;
    ASSERT_EQ(zlevmod(model, modelDef), 0);
    MemCursor cur(rows, {1, 6});
    zlevcur(model, &cur);
    ASSERT_EQ(zlevrgi(model), 0);
    ASSERT_EQ(model.layout.D,
              10); // intercept age educ black hispan white married nodegree re74 re75
    long n = 0;
    auto data = velloc::testing::buildModelRows(model, 0, &n);
    ASSERT_EQ(n, 614);

    // 614 usable rows: a full block and a partial one, from the cache of rows and read each pass.
    for (std::size_t cacheBytes : {kFitCacheBytes, std::size_t{0}}) {
        SCOPED_TRACE(cacheBytes);
        LogCapture log;
        VectorRowSource src(data.data(), n, kRowDesign + 10);
        FitResult res;
        ASSERT_EQ(fitLogistic(src, 10, n, res, {}, {}, cacheBytes), 0);
        // Cached, the rows are read once; else once a pass (cross products, Newton, c).
        if (cacheBytes)
            EXPECT_EQ(src.passes(), 1);
        else
            EXPECT_GT(src.passes(), 3);
        EXPECT_EQ(res.newtonRc, 0);
        EXPECT_EQ(res.nAliased, 1);
        EXPECT_EQ(res.aliased[4], 1); // white, the last race level
        EXPECT_EQ(res.coef[5], 0.0);
        EXPECT_EQ(log.count("[1049-233]"), 1);
        EXPECT_EQ(log.count("[1049-232]"), 0);
        EXPECT_EQ(res.status, 4);

        std::map<std::string, double> ref;
        for (auto& r : readCsv(dir + "reference_coefficients.csv"))
            if (r[0] != "term") ref[r[0]] = std::stod(r[1]);
        // R codes race against black; ours against white (the aliased last level). With
        // a_R + r_hispan [hispan] + r_white [white] = a + b_black [black] + b_hispan [hispan]:
        // white rows give a = a_R + r_white, black rows b_black = a_R - a = -r_white, hispanic
        // rows b_hispan = r_hispan - r_white. Continuous coefficients are per scaled unit.
        const double rw = ref["racewhite"], rh = ref["racehispan"];
        auto near = [](double got, double want) { EXPECT_NEAR(got, want, 1e-7 * std::fabs(want)); };
        near(res.coef[0], ref["(Intercept)"] + rw);
        near(res.coef[3], -rw);
        near(res.coef[4], rh - rw);
        const char* names[6] = {"age", "educ", "married", "nodegree", "re74", "re75"};
        const int col[6] = {1, 2, 6, 7, 8, 9};
        for (int j = 0; j < 6; ++j)
            near(res.coef[col[j]] / scale[j], ref[names[j]]);

        auto refPs = readCsv(dir + "reference_ps.csv");
        ASSERT_EQ(refPs.size(), 615u);
        for (long i = 0; i < n; ++i) {
            double lps = lpsFromDesign(data.data() + i * 15 + kRowDesign, res.coef.data(), 10);
            double ps = psFromLps(lps);
            EXPECT_NEAR(ps, std::stod(refPs[i + 1][1]), 1e-8) << "id " << i + 1;
            double want = std::stod(refPs[i + 1][2]);
            EXPECT_NEAR(lps, want, 1e-7 * std::fabs(want)) << "id " << i + 1;
        }
    }
}

TEST(LogisticFit, ColumnThatIsASumOfTwoOthersIsAliased) {
    std::vector<std::vector<double>> x, x3;
    std::vector<double> y;
    smallData(x, y, 200);
    for (auto& r : x)
        x3.push_back({r[0], r[1], r[0] + r[1]});
    auto p2 = plainRows(x, y), p3 = plainRows(x3, y);
    FitResult r2, r3;
    {
        VectorRowSource s(p2.data.data(), p2.n, kRowDesign + p2.D);
        ASSERT_EQ(fitLogistic(s, p2.D, p2.n, r2), 0);
    }
    LogCapture log;
    VectorRowSource s(p3.data.data(), p3.n, kRowDesign + p3.D);
    ASSERT_EQ(fitLogistic(s, p3.D, p3.n, r3), 0);
    EXPECT_EQ(log.count("[1049-233]"), 1);
    EXPECT_EQ(r3.aliased, (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(r3.coef[3], 0.0);
    EXPECT_EQ(r3.m, 3);
    auto ps2 = scores(p2, r2.coef), ps3 = scores(p3, r3.coef);
    for (std::size_t i = 0; i < ps2.size(); ++i)
        EXPECT_DOUBLE_EQ(ps2[i], ps3[i]);
}

TEST(LogisticFit, ConstantCovariateIsAliasedByTheIntercept) {
    std::vector<std::vector<double>> x, xc;
    std::vector<double> y;
    smallData(x, y, 150);
    for (auto& r : x)
        xc.push_back({r[0], 7.5, r[1]});
    auto p = plainRows(x, y), pc = plainRows(xc, y);
    FitResult r, rc;
    VectorRowSource s(p.data.data(), p.n, kRowDesign + p.D);
    ASSERT_EQ(fitLogistic(s, p.D, p.n, r), 0);
    LogCapture log;
    VectorRowSource sc(pc.data.data(), pc.n, kRowDesign + pc.D);
    ASSERT_EQ(fitLogistic(sc, pc.D, pc.n, rc), 0);
    EXPECT_EQ(rc.aliased, (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(log.count("[1049-233]"), 1);
    EXPECT_DOUBLE_EQ(rc.coef[0], r.coef[0]);
    EXPECT_DOUBLE_EQ(rc.coef[1], r.coef[1]);
    EXPECT_DOUBLE_EQ(rc.coef[3], r.coef[2]);
}

TEST(LogisticFit, InterceptOnlyFitIsTheLogOddsOfTheWeightedShare) {
    // Weighted share of treated = (2 + 3) / (2 + 3 + 1 + 4) = 0.5 -> with frequencies 1, the
    // intercept is log(0.5 / 0.5) = 0; with these weights the start value is already the MLE.
    std::vector<double> data;
    double y[4] = {1, 1, 0, 0}, w[4] = {2, 3, 1, 4};
    for (int i = 0; i < 4; ++i)
        data.insert(data.end(), {double(i + 1), 1.0, w[i], 0.0, y[i], 1.0});
    // A share of 0.3: weights 3 treated, 7 control -> log(3/7).
    double w2[4] = {1, 2, 3, 4};
    std::vector<double> data2;
    for (int i = 0; i < 4; ++i)
        data2.insert(data2.end(), {double(i + 1), w2[i], 1.0, 0.0, y[i], 1.0});
    FitResult r;
    VectorRowSource s(data.data(), 4, 6);
    ASSERT_EQ(fitLogistic(s, 1, 4, r), 0);
    EXPECT_NEAR(r.coef[0], 0.0, 1e-12);
    VectorRowSource s2(data2.data(), 4, 6);
    ASSERT_EQ(fitLogistic(s2, 1, 4, r), 0);
    EXPECT_NEAR(r.coef[0], std::log(3.0 / 7.0), 1e-12);
}

TEST(LogisticFit, SeparableDataStaysFiniteAndWarns) {
    // y = 1 exactly when x1 > 0: the likelihood has no maximum. The rows closest to the
    // boundary (x1 = +-1) all have x2 = 0, so as the fit runs away the Hessian loses all
    // curvature along x2 and the Newton steps need a ridge.
    std::vector<std::vector<double>> x{{1, 0},  {2, 0},  {1, 0},  {5, 3},  {5, -3},
                                       {-1, 0}, {-2, 0}, {-1, 0}, {-5, 3}, {-5, -3}};
    std::vector<double> y{1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
    auto p = plainRows(x, y);
    LogCapture log;
    VectorRowSource s(p.data.data(), p.n, kRowDesign + p.D);
    FitResult r;
    ASSERT_EQ(fitLogistic(s, p.D, p.n, r), 0);
    // Converged under a ridge, the un-ridged Hessian not positive definite at the estimates.
    EXPECT_EQ(r.newtonRc, 4);
    EXPECT_GT(r.ridge, 0.0);
    EXPECT_EQ(log.count("[1049-232]"), 1);
    EXPECT_EQ(r.status, 4);
    for (double b : r.coef)
        ASSERT_TRUE(std::isfinite(b));
    EXPECT_GT(r.coef[1], 0.0);
    auto ps = scores(p, r.coef);
    for (long i = 0; i < p.n; ++i)
        EXPECT_EQ(ps[i] > 0.5, y[i] == 1.0) << i;
}

TEST(LogisticFit, IterationLimitKeepsTheFortiethIterate) {
    // Symmetric separation on one covariate: every Newton step pushes the slope further and
    // the parameter change never becomes relatively small enough within 40 iterations.
    std::vector<std::vector<double>> x;
    std::vector<double> y;
    for (int i = 0; i < 40; ++i) {
        double v = (i - 19.5) / 4.0;
        x.push_back({v});
        y.push_back(v > 0 ? 1.0 : 0.0);
    }
    auto p = plainRows(x, y);
    LogCapture log;
    VectorRowSource s(p.data.data(), p.n, kRowDesign + p.D);
    FitResult r;
    ASSERT_EQ(fitLogistic(s, p.D, p.n, r), 0);
    EXPECT_EQ(r.newtonRc, 1);
    EXPECT_EQ(r.iterations, 40);
    EXPECT_EQ(log.count("[1049-232]"), 1);
    EXPECT_TRUE(std::isfinite(r.coef[1]));
    EXPECT_GT(r.coef[1], 50.0);
}

TEST(LogisticFit, GroupWithoutPositiveControlWeightIsAbandoned) {
    std::vector<std::vector<double>> x;
    std::vector<double> y;
    smallData(x, y, 50);
    std::vector<double> w;
    for (double v : y)
        w.push_back(v == 1.0 ? 1.0 : 0.0);
    auto p = plainRows(x, y, w);
    LogCapture log;
    VectorRowSource s(p.data.data(), p.n, kRowDesign + p.D);
    FitResult r;
    EXPECT_EQ(fitLogistic(s, p.D, p.n, r), 1);
    EXPECT_EQ(log.count("[1049-224]"), 1);
    EXPECT_EQ(r.status, 0);
}

TEST(LogisticFit, ZeroWeightRowsWithMissingDesignAreIgnored) {
    std::vector<std::vector<double>> x;
    std::vector<double> y;
    smallData(x, y, 120);
    auto p = plainRows(x, y);
    auto q = p;
    // An extra row of weight 0 with a missing covariate and no treatment level.
    q.data.insert(q.data.end(), {121.0, 1.0, 0.0, 0.0, -1.0, 1.0, std::nan(""), 1.0});
    ++q.n;
    FitResult rp, rq;
    VectorRowSource sp(p.data.data(), p.n, kRowDesign + p.D),
        sq(q.data.data(), q.n, kRowDesign + q.D);
    ASSERT_EQ(fitLogistic(sp, p.D, p.n, rp), 0);
    ASSERT_EQ(fitLogistic(sq, q.D, q.n, rq), 0);
    EXPECT_EQ(rp.coef, rq.coef);
}

// The blocked BLAS accumulation against a row-by-row sum written out here.
TEST(LogisticFit, BlockedHessianAndGradientEqualRowByRowSums) {
    const int n = 3 * kFitBlockRows + 37, D = 5;
    std::vector<double> data;
    unsigned s = 99;
    auto u = [&] {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) / 16777216.0;
    };
    for (int i = 0; i < n; ++i) {
        data.insert(data.end(),
                    {double(i + 1), double(1 + i % 3), 0.5 + u(), 0.0, u() < 0.3 ? 1.0 : 0.0, 1.0});
        for (int j = 1; j < D; ++j)
            data.push_back(u() * 6 - 3);
    }
    VectorRowSource src(data.data(), n, kRowDesign + D);
    VlcFit fit;
    fit.D = D;
    fit.m = D;
    fit.rows = &src;
    fit.nRecords = n;
    fit.freeCols = {0, 1, 2, 3, 4};
    fit.parm = {-0.4, 0.3, -0.2, 0.5, 0.1};
    fit.grad.assign(D, 0.0);
    fit.hess.assign(packedSize(D), 0.0);
    ASSERT_EQ(gentry(&fit), 0);

    double f = 0;
    std::vector<double> g(D, 0.0), H(packedSize(D), 0.0);
    for (int i = 0; i < n; ++i) {
        const double* r = data.data() + i * (kRowDesign + D);
        const double w = r[1] * r[2], yv = r[4];
        double eta = 0;
        for (int j = 0; j < D; ++j)
            eta += r[kRowDesign + j] * fit.parm[j];
        const double p = 1 / (1 + std::exp(-eta));
        f += -w * (yv * std::log(p) + (1 - yv) * std::log(1 - p));
        for (int j = 0; j < D; ++j) {
            g[j] += w * (p - yv) * r[kRowDesign + j];
            for (int k = 0; k <= j; ++k)
                H[packedSize(j) + k] += w * p * (1 - p) * r[kRowDesign + j] * r[kRowDesign + k];
        }
    }
    EXPECT_NEAR(fit.f, f, 1e-12 * f);
    for (int j = 0; j < D; ++j)
        EXPECT_NEAR(fit.grad[j], g[j], 1e-10 * (1 + std::fabs(g[j])));
    for (std::size_t k = 0; k < H.size(); ++k)
        EXPECT_NEAR(fit.hess[k], H[k], 1e-12 * std::fabs(H[0]));

    fit.grad.assign(D, 0.0);
    ASSERT_EQ(fentry(&fit), 0);
    EXPECT_NEAR(fit.f, f, 1e-12 * f);
}

// Rows with weights and frequencies, an aliased column between free ones and a few unusable
// rows: design (1, a, b, a + b, g), g a 0/1 indicator. Record length 5 + 5.
std::vector<double> blockRows(int nUsable) {
    std::vector<double> d;
    unsigned s = 2024;
    auto u = [&] {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) / 16777216.0;
    };
    for (int i = 0, used = 0; used < nUsable; ++i) {
        const double a = u() * 4 - 2, b = u() * 2, g = u() < 0.4 ? 1.0 : 0.0;
        const double y = u() < 1 / (1 + std::exp(-(-0.5 + 0.7 * a - 0.4 * b + 0.3 * g))) ? 1 : 0;
        double w = 0.25 + u(), x1 = a;
        if (i % 97 == 5)
            w = 0.0; // no weight: skipped
        else if (i % 89 == 7)
            x1 = std::nan(""); // missing design value: skipped
        else
            ++used;
        d.insert(d.end(), {double(i + 1), double(1 + i % 3), w, 0.0, y, 1.0, x1, b, a + b, g});
    }
    return d;
}

// The checks of a fit of blockRows data (design 1, a, b, a + b, g; column 3 aliased), row by
// row: the score equations hold at the estimates, -2 log L follows from them, the covariance
// inverts the weighted information over the free columns, and (when asked: it compares every
// treated-control pair) the c statistic.
void expectMaximumLikelihood(const std::vector<double>& d, const FitResult& r, bool cstat) {
    constexpr int D = 5, R = kRowDesign + D;
    const long n = static_cast<long>(d.size()) / R;
    double score[D] = {}, scale[D] = {}, ll = 0, H[D][D] = {};
    struct P {
        double lps, w;
        bool treated;
    };
    std::vector<P> pts;
    for (long i = 0; i < n; ++i) {
        const double* q = d.data() + i * R;
        const double w = q[kRowFreq] * q[kRowWeight];
        if (!(w > 0) || std::isnan(q[kRowDesign + 1])) continue;
        const double* x = q + kRowDesign;
        const double eta = lpsFromDesign(x, r.coef.data(), D), p = psFromLps(eta);
        const double y = q[kRowTreat];
        ll += w * (y * std::log(p) + (1 - y) * std::log(1 - p));
        for (int j = 0; j < D; ++j) {
            score[j] += w * (y - p) * x[j];
            scale[j] += w * std::fabs(x[j]);
            for (int k = 0; k < D; ++k)
                H[j][k] += w * p * (1 - p) * x[j] * x[k];
        }
        if (cstat) pts.push_back({eta, w, y == 1});
    }
    for (int j = 0; j < D; ++j)
        EXPECT_NEAR(score[j], 0.0, 1e-9 * scale[j]) << j;
    EXPECT_NEAR(r.minus2LL, -2 * ll, 1e-10 * r.minus2LL);
    if (cstat) {
        double pairs = 0, wt = 0, wc = 0;
        for (const P& t : pts) {
            if (!t.treated) {
                wc += t.w;
                continue;
            }
            wt += t.w;
            for (const P& c : pts)
                if (!c.treated) pairs += t.w * c.w * (t.lps > c.lps ? 1 : t.lps == c.lps ? 0.5 : 0);
        }
        EXPECT_NEAR(r.cstat, pairs / (wt * wc), 1e-12);
    }
    // Over the free columns (all but column 3) H V = I.
    const int freeCol[4] = {0, 1, 2, 4};
    for (int a : freeCol)
        for (int b : freeCol) {
            double s = 0;
            for (int c : freeCol)
                s += H[a][c] * r.cov[static_cast<std::size_t>(c) * D + b];
            EXPECT_NEAR(s, a == b ? 1.0 : 0.0, 1e-8) << a << ", " << b;
        }
    for (int j = 0; j < D; ++j)
        EXPECT_EQ(r.cov[static_cast<std::size_t>(3) * D + j], 0.0);
}

// The cache hands the passes the blocks that reading the rows forms, whatever the row count
// against the block size, so both give the same numbers to the last bit; and those numbers
// are the maximum likelihood fit, checked row by row here: the score equations hold, -2 log L
// and the c statistic (over all treated-control pairs) follow from the coefficients, and the
// covariance inverts the weighted information.
TEST(LogisticFit, CachedBlocksEqualBlocksReadEachPassAtAnyRowCount) {
    const int D = 5, R = kRowDesign + D;
    for (int nUsable : {kFitBlockRows + 1, 2 * kFitBlockRows, 3 * kFitBlockRows + 37}) {
        SCOPED_TRACE(nUsable);
        const std::vector<double> d = blockRows(nUsable);
        const long n = static_cast<long>(d.size()) / R;
        // Cached copy, read each pass, rows read where they lie (numbered in the cache), and
        // rows where they lie without a cache.
        FitResult res[4];
        std::int64_t passes[4];
        for (int k = 0; k < 4; ++k) {
            LogCapture log;
            VectorRowSource src(d.data(), n, R, k >= 2);
            const std::size_t cacheBytes = k == 0 || k == 2 ? kFitCacheBytes : 0;
            ASSERT_EQ(fitLogistic(src, D, n, res[k], {}, {}, cacheBytes), 0);
            EXPECT_EQ(log.count("[1049-233]"), 1);
            passes[k] = src.passes();
        }
        EXPECT_EQ(passes[0], 1);
        EXPECT_GT(passes[1], 3);
        EXPECT_EQ(passes[2], 0);
        EXPECT_EQ(passes[3], 1); // only the c statistic reads them
        const FitResult& r = res[0];
        EXPECT_EQ(r.aliased, (std::vector<int>{0, 0, 1, 0}));
        for (int k = 1; k < 4; ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(r.coef, res[k].coef);
            EXPECT_EQ(r.cov, res[k].cov);
            EXPECT_EQ(r.minus2LL, res[k].minus2LL);
            EXPECT_EQ(r.cstat, res[k].cstat);
            EXPECT_EQ(r.iterations, res[k].iterations);
            EXPECT_EQ(res[k].nUsed, nUsable);
        }
        EXPECT_EQ(r.nUsed, nUsable);
        // A source that holds fewer records than the fit asks for is read, and the shortfall
        // is a read error, as from a file.
        VectorRowSource shortSrc(d.data(), n - 1, R, true);
        FitResult shortRes;
        EXPECT_NE(fitLogistic(shortSrc, D, n, shortRes, {}, {}, kFitCacheBytes), 0);
        EXPECT_TRUE(shortRes.readError);

        expectMaximumLikelihood(d, r, true);
    }
}

// Enough rows in memory for two cores, each summing half of them in the cross-product pass and
// every evaluation: the estimates still solve the score equations (summed row by row here),
// -2 log L follows from them, the covariance inverts the information, and a fit reading the
// rows each pass on one core agrees, in its totals and c statistic too.
TEST(LogisticFit, TwoCoresSolveTheScoreEquationsAsOneCoreDoes) {
    const int D = 5, R = kRowDesign + D;
    const std::vector<double> d = blockRows(static_cast<int>(kFitTwoCoreRows) + 1000);
    const long n = static_cast<long>(d.size()) / R;
    FitResult two, one;
    {
        LogCapture log;
        VectorRowSource src(d.data(), n, R, true);
        ASSERT_EQ(fitLogistic(src, D, n, two, {}, {}, kFitCacheBytes), 0);
        EXPECT_EQ(src.passes(), 0); // the rows are read where they lie
    }
    {
        LogCapture log;
        VectorRowSource src(d.data(), n, R);
        ASSERT_EQ(fitLogistic(src, D, n, one, {}, {}, 0), 0);
    }
    expectMaximumLikelihood(d, two, false);
    for (int j = 0; j < D; ++j)
        EXPECT_NEAR(two.coef[j], one.coef[j], 1e-10 * (1 + std::fabs(one.coef[j]))) << j;
    EXPECT_NEAR(two.minus2LL, one.minus2LL, 1e-12 * one.minus2LL);
    EXPECT_EQ(two.nUsed, one.nUsed);
    EXPECT_NEAR(two.weightUsed, one.weightUsed, 1e-12 * one.weightUsed);
    EXPECT_NEAR(two.total[0], one.total[0], 1e-12 * one.total[0]);
    EXPECT_NEAR(two.total[1], one.total[1], 1e-12 * one.total[1]);
    EXPECT_NEAR(two.cstat, one.cstat, 1e-12);
    EXPECT_EQ(two.aliased, one.aliased);
    EXPECT_EQ(two.separated, one.separated);
}

// The ranges that detect separation cover both cores' halves of the rows: column b is moved
// to 1 + b for treated rows and to -1 - b for control rows of the first half, so the first half
// alone is separated by it; the second half's controls (b in 0..2) overlap the treated values
// unless they are moved too.
TEST(LogisticFit, TwoCoresSeeSeparationOverAllRows) {
    const int D = 5, R = kRowDesign + D;
    std::vector<double> d = blockRows(static_cast<int>(kFitTwoCoreRows) + 1000);
    const long n = static_cast<long>(d.size()) / R;
    for (bool secondToo : {false, true}) {
        SCOPED_TRACE(secondToo);
        std::vector<double> e = d;
        for (long i = 0; i < n; ++i) {
            double* q = e.data() + i * R;
            double& b = q[kRowDesign + 2];
            if (q[kRowTreat] == 1)
                b = 1 + b;
            else if (i < n / 2 || secondToo)
                b = -1 - b;
        }
        LogCapture log;
        VectorRowSource src(e.data(), n, R, true);
        FitResult r;
        fitLogistic(src, D, n, r, {}, {}, kFitCacheBytes);
        EXPECT_EQ(r.separated, secondToo);
    }
}

// Rows read by number whose range reads fail from the nth on (never when 0), as a file that
// cannot be read; counts the reads.
class FailingRangeSource : public VectorRowSource {
  public:
    FailingRangeSource(const double* data, std::int64_t n, int r, int failFrom)
        : VectorRowSource(data, n, r, false, true), failFrom_(failFrom) {}
    bool readRecords(std::int64_t first, std::int64_t n, double* buf) override {
        const int k = ++reads_;
        return (failFrom_ == 0 || k < failFrom_) && VectorRowSource::readRecords(first, n, buf);
    }
    int reads() const { return reads_; }

  private:
    const int failFrom_;
    std::atomic<int> reads_{0};
};

class SpillThreshold {
  public:
    explicit SpillThreshold(std::size_t bytes) { host::UtilFile::setSpillThreshold(bytes); }
    ~SpillThreshold() { host::UtilFile::setSpillThreshold(saved_); }

  private:
    const std::size_t saved_ = host::UtilFile::spillThreshold();
};

// Enough rows for two cores give the same fit, to the last bit, wherever the rows are: in
// memory (the cache numbering them, or none), read by number into the cache or at every pass,
// and in a utility file on disk, read by number as the fit phase reads its model rows. Rows
// without weight gathered at the start or at the end of the records move where
// the evaluations' halves meet away from where the records' halves do, into the second half or
// the first. Range reads that fail, in any pass, are a read error, not a fit on part of the rows.
TEST(LogisticFit, TwoCoresGiveTheSameFitWhereverTheRowsAre) {
    if (!twoCores()) GTEST_SKIP() << "one core: every pass runs in sequence";
    const int D = 5, R = kRowDesign + D;
    const std::vector<double> base = blockRows(static_cast<int>(kFitTwoCoreRows) + 40000);
    const long n = static_cast<long>(base.size()) / R;
    for (int layout : {0, 1, 2}) {
        SCOPED_TRACE(layout);
        std::vector<double> d = base;
        for (long i = 0; i < n; ++i)
            if ((layout == 1 && i < n / 5) || (layout == 2 && i >= n - n / 5))
                d[static_cast<std::size_t>(i * R + kRowWeight)] = 0.0;
        auto fit = [&](ModelRowSource& src, std::size_t cacheBytes) {
            LogCapture log;
            FitResult r;
            EXPECT_EQ(fitLogistic(src, D, n, r, {}, {}, cacheBytes), 0);
            return r;
        };
        VectorRowSource inMemory(d.data(), n, R, true);
        const FitResult ref = fit(inMemory, kFitCacheBytes);
        expectMaximumLikelihood(d, ref, false);
        std::vector<FitResult> others;
        for (bool expose : {true, false})
            for (std::size_t cacheBytes : {std::size_t{0}, kFitCacheBytes}) {
                if (expose && cacheBytes) continue; // the reference
                VectorRowSource src(d.data(), n, R, expose, !expose);
                others.push_back(fit(src, cacheBytes));
                EXPECT_EQ(src.passes(), 0); // nothing read in sequence
            }
        {
            SpillThreshold small(std::size_t{1} << 20);
            host::UtilFile file("VLCLREG", R * sizeof(double));
            for (long i = 0; i < n; ++i)
                ASSERT_EQ(file.write(d.data() + i * R), 0);
            ASSERT_TRUE(file.spilled());
            ASSERT_EQ(file.point(0), 0);
            UtilFileRows rows(file);
            for (std::size_t cacheBytes : {std::size_t{0}, kFitCacheBytes})
                others.push_back(fit(rows, cacheBytes));
        }
        for (std::size_t k = 0; k < others.size(); ++k) {
            SCOPED_TRACE(k);
            const FitResult& r = others[k];
            EXPECT_EQ(r.coef, ref.coef);
            EXPECT_EQ(r.cov, ref.cov);
            EXPECT_EQ(r.minus2LL, ref.minus2LL);
            EXPECT_EQ(r.cstat, ref.cstat);
            EXPECT_EQ(r.iterations, ref.iterations);
            EXPECT_EQ(r.nUsed, ref.nUsed);
            EXPECT_EQ(r.weightUsed, ref.weightUsed);
            EXPECT_EQ(r.total[0], ref.total[0]);
            EXPECT_EQ(r.total[1], ref.total[1]);
        }
        // The first range read, one of the cross products' (filling the cache or not), one of
        // an evaluation and one of the c statistic's (among the last reads of a fit).
        for (std::size_t cacheBytes : {std::size_t{0}, kFitCacheBytes}) {
            FailingRangeSource all(d.data(), n, R, 0);
            fit(all, cacheBytes);
            const int reads = all.reads();
            std::vector<int> failAt = {1, 40};
            if (!cacheBytes) failAt.insert(failAt.end(), {200, reads - 5});
            for (int failFrom : failAt) {
                SCOPED_TRACE(failFrom);
                FailingRangeSource src(d.data(), n, R, failFrom);
                LogCapture log;
                FitResult r;
                EXPECT_NE(fitLogistic(src, D, n, r, {}, {}, cacheBytes), 0);
                EXPECT_TRUE(r.readError);
            }
        }
    }
}

// A row of frequency 3 weighs as three rows of frequency 1, in the cache as when reading.
TEST(LogisticFit, FrequencyWeighsAsRepeatedRows) {
    const int D = 5, R = kRowDesign + D;
    const std::vector<double> d = blockRows(2 * kFitBlockRows + 3);
    const long n = static_cast<long>(d.size()) / R;
    std::vector<double> ones;
    for (long i = 0; i < n; ++i) {
        std::vector<double> q(d.begin() + i * R, d.begin() + (i + 1) * R);
        const int f = static_cast<int>(q[kRowFreq]);
        q[kRowFreq] = 1.0;
        for (int c = 0; c < f; ++c)
            ones.insert(ones.end(), q.begin(), q.end());
    }
    for (std::size_t cacheBytes : {kFitCacheBytes, std::size_t{0}}) {
        SCOPED_TRACE(cacheBytes);
        LogCapture log;
        FitResult a, b;
        VectorRowSource sa(d.data(), n, R), sb(ones.data(), static_cast<long>(ones.size()) / R, R);
        ASSERT_EQ(fitLogistic(sa, D, n, a, {}, {}, cacheBytes), 0);
        ASSERT_EQ(fitLogistic(sb, D, static_cast<long>(ones.size()) / R, b, {}, {}, cacheBytes), 0);
        for (int j = 0; j < D; ++j)
            EXPECT_NEAR(a.coef[j], b.coef[j], 1e-10 * (1 + std::fabs(b.coef[j]))) << j;
        EXPECT_NEAR(a.minus2LL, b.minus2LL, 1e-10 * b.minus2LL);
        EXPECT_NEAR(a.cstat, b.cstat, 1e-12);
        EXPECT_NEAR(a.weightUsed, b.weightUsed, 1e-9 * b.weightUsed);
    }
}

// An indicator alone gives two scores, each shared by hundreds of rows: tied pairs count
// one half, against every treated-control pair counted here.
TEST(LogisticFit, ConcordanceCountsTiedScoresHalf) {
    const std::vector<double> d = blockRows(3 * kFitBlockRows);
    const int R5 = kRowDesign + 5, R = kRowDesign + 2;
    const long n = static_cast<long>(d.size()) / R5;
    std::vector<double> rows;
    for (long i = 0; i < n; ++i) {
        const double* q = d.data() + i * R5;
        rows.insert(rows.end(), q, q + kRowDesign);
        rows.insert(rows.end(), {1.0, q[kRowDesign + 4]});
    }
    double pairs = 0, wt = 0, wc = 0;
    for (long i = 0; i < n; ++i) {
        const double* t = rows.data() + i * R;
        const double w = t[kRowFreq] * t[kRowWeight];
        if (!(w > 0)) continue;
        (t[kRowTreat] == 1 ? wt : wc) += w;
        if (t[kRowTreat] != 1) continue;
        for (long k = 0; k < n; ++k) {
            const double* c = rows.data() + k * R;
            const double v = c[kRowFreq] * c[kRowWeight];
            if (c[kRowTreat] == 1 || !(v > 0)) continue;
            // The fitted score rises with g when treated rows have g = 1 more often.
            pairs += w * v * (t[kRowDesign + 1] == c[kRowDesign + 1] ? 0.5 : 0.0);
            pairs += w * v * (t[kRowDesign + 1] > c[kRowDesign + 1] ? 1.0 : 0.0);
        }
    }
    for (std::size_t cacheBytes : {kFitCacheBytes, std::size_t{0}}) {
        SCOPED_TRACE(cacheBytes);
        FitResult r;
        VectorRowSource src(rows.data(), n, R);
        ASSERT_EQ(fitLogistic(src, 2, n, r, {}, {}, cacheBytes), 0);
        ASSERT_GT(r.coef[1], 0.0);
        EXPECT_NEAR(r.cstat, pairs / (wt * wc), 1e-12);
    }
}

TEST(Newton, FactorSolveAndRidgeKernels) {
    // H = [4 2; 2 3]: L = [2 0; 1 sqrt(2)]; H x = (2, 1) gives x = (0.5, 0).
    std::vector<double> h{4, 2, 3}, l(3);
    zhproj(h.data(), l.data(), 2);
    double tau = zridgit(l.data(), 2, 0.0, 1e-10);
    EXPECT_DOUBLE_EQ(tau, 4e-10);
    EXPECT_EQ(zchol(l.data(), 2, 0, tau), 0);
    EXPECT_EQ(zchol(l.data(), 2, 1, tau), 0);
    EXPECT_DOUBLE_EQ(l[0], 2.0);
    EXPECT_DOUBLE_EQ(l[1], 1.0);
    EXPECT_DOUBLE_EQ(l[2], std::sqrt(2.0));
    std::vector<double> b{2, 1};
    zbaksub(l.data(), 2, b.data());
    EXPECT_NEAR(b[0], 0.5, 1e-15);
    EXPECT_NEAR(b[1], 0.0, 1e-15);
    // A singular matrix fails at its second pivot; a ridge of 1 on each diagonal fixes it.
    std::vector<double> s{1, 1, 1};
    zhproj(s.data(), l.data(), 2);
    tau = zridgit(l.data(), 2, 0.0, 1e-10);
    EXPECT_EQ(zchol(l.data(), 2, 0, tau), 0);
    EXPECT_EQ(zchol(l.data(), 2, 1, tau), 1);
    EXPECT_EQ(l[2], 0.0);
    zhproj(s.data(), l.data(), 2);
    tau = zridgit(l.data(), 2, 1.0, 1e-10);
    EXPECT_DOUBLE_EQ(tau, 2e-10);
    EXPECT_EQ(zchol(l.data(), 2, 0, tau) + zchol(l.data(), 2, 1, tau), 0);
}

TEST(Score, LogisticOfTheLogitAndSuppliedScoreBounds) {
    EXPECT_DOUBLE_EQ(psFromLps(0.0), 0.5);
    EXPECT_NEAR(psFromLps(std::log(3.0)), 0.75, 1e-15);
    EXPECT_NEAR(psFromLps(-std::log(3.0)), 0.25, 1e-15);
    EXPECT_GT(psFromLps(-745.0), 0.0);
    EXPECT_EQ(psFromLps(800.0), 1.0);
    EXPECT_EQ(psFromLps(-800.0), 0.0);
    const double coef[3] = {0.5, 2.0, -1.0}, row[3] = {1.0, 0.25, 3.0};
    EXPECT_DOUBLE_EQ(lpsFromDesign(row, coef, 3), 0.5 + 0.5 - 3.0);
    EXPECT_EQ(checkSuppliedPs(0.9999999998889777), 235);
    EXPECT_EQ(checkSuppliedPs(std::nextafter(0.9999999998889777, 0.0)), 0);
    EXPECT_EQ(checkSuppliedPs(1.110223024625157e-10), 234);
    EXPECT_EQ(checkSuppliedPs(std::nextafter(1.110223024625157e-10, 1.0)), 0);
}

} // namespace
