// Level discovery and the logistic fit on a synthetic study: 1,000,000 rows, 8 continuous
// covariates and two CLASS covariates of 4 levels (D = 17), about 10% treated.
// Usage: bench_fit [rows] [BLAS threads] [memory|copy]: the fit reads the rows where they lie
// (as from a utility file held in memory; the default) or copies them first.
#include <cblas.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "model/levelize.h"
#include "model/logistic.h"
#include "model/model_messages.h"

using namespace velloc;

namespace {

constexpr int kCont = 8;

struct Study {
    long n = 0;
    std::vector<double> z;     // n x kCont
    std::vector<char> c1, c2;  // level texts "L1".."L4", 2 bytes each
    std::vector<double> treat; // 0 / 1
};

class StudyCursor : public RowCursor {
  public:
    explicit StudyCursor(const Study& s) : s_(s) {}
    int vlcxini() override {
        pos_ = -1;
        return 0;
    }
    int vlcxnxt() override { return ++pos_ < s_.n ? 1 : 0; }
    int vlcxval(CursorRow& row) override {
        std::memcpy(row.z, &s_.z[pos_ * kCont], kCont * sizeof(double));
        row.classText[0] = s_.treat[pos_] == 1.0 ? '1' : '0';
        std::memcpy(row.classText + 1, &s_.c1[pos_ * 2], 2);
        std::memcpy(row.classText + 3, &s_.c2[pos_ * 2], 2);
        row.classNum[0] = s_.treat[pos_];
        row.freq = 1.0;
        row.weight = 1.0;
        return 1;
    }

  private:
    const Study& s_;
    long pos_ = -1;
};

Study generate(long n) {
    Study s;
    s.n = n;
    s.z.resize(static_cast<std::size_t>(n) * kCont);
    s.c1.resize(static_cast<std::size_t>(n) * 2);
    s.c2.resize(static_cast<std::size_t>(n) * 2);
    s.treat.resize(static_cast<std::size_t>(n));
    std::mt19937_64 rng(20261206);
    std::normal_distribution<double> norm;
    std::uniform_int_distribution<int> lev(0, 3);
    std::uniform_real_distribution<double> unif;
    const double beta[kCont] = {0.5, -0.4, 0.3, 0.2, -0.2, 0.1, 0.0, 0.25};
    const double g1[4] = {0.0, 0.3, -0.2, 0.4}, g2[4] = {0.0, -0.3, 0.1, 0.2};
    for (long i = 0; i < n; ++i) {
        double eta = -2.6;
        for (int j = 0; j < kCont; ++j) {
            double v = norm(rng);
            s.z[i * kCont + j] = v;
            eta += beta[j] * v;
        }
        int a = lev(rng), b = lev(rng);
        s.c1[i * 2] = 'L', s.c1[i * 2 + 1] = char('1' + a);
        s.c2[i * 2] = 'L', s.c2[i * 2 + 1] = char('1' + b);
        eta += g1[a] + g2[b];
        s.treat[i] = unif(rng) < 1.0 / (1.0 + std::exp(-eta)) ? 1.0 : 0.0;
    }
    return s;
}

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// CPU seconds of the process so far (all threads): under load the wall time says little.
double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           1e-6 * (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec);
}

} // namespace

int main(int argc, char** argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (argc > 2) openblas_set_num_threads(std::atoi(argv[2]));
    addModelMessages();
    Study study = generate(n);
    double treated = 0;
    for (double t : study.treat)
        treated += t;

    ModelSpec modelDef;
    modelDef.classVars = {
        {"treat", 1, true, true}, {"c1", 2, false, false}, {"c2", 2, false, false}};
    modelDef.nCont = kCont;
    for (int j = 0; j < kCont; ++j)
        modelDef.effects.push_back({{FactorRef{false, j}}, {}});
    modelDef.effects.push_back({{FactorRef{true, 1}}, {}});
    modelDef.effects.push_back({{FactorRef{true, 2}}, {}});
    ModelDesc model;
    zlevmod(model, modelDef);
    StudyCursor cursor(study);

    // The model rows stand in for the utility file; touched here so paging is not timed.
    std::vector<double> rows(static_cast<std::size_t>(n) * (kRowDesign + 17));
    const double c0 = cpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    zlevcur(model, &cursor);
    if (zlevrgi(model) != 0) return 1;
    auto t1 = std::chrono::steady_clock::now();
    const double c1 = cpuSeconds();
    if (model.layout.D != 17) return 1;
    const int D = model.layout.D;
    const int R = kRowDesign + D;
    cursor.vlcxini();
    for (long i = 0; cursor.vlcxnxt() == 1; ++i) {
        double* rec = &rows[static_cast<std::size_t>(i) * R];
        zlevrgd(model, &rec[kRowWeight], &rec[kRowFreq]);
        rec[kRowObs] = double(i + 1);
        rec[kRowScore] = 0.0;
        rec[kRowTreat] = model.levelIdx[0];
        zlevrgx(model, model.contVals.data(), model.levelIdx.data(), rec + kRowDesign);
    }
    auto t2 = std::chrono::steady_clock::now();
    const double c2 = cpuSeconds();
    const bool copy = argc > 3 && std::strcmp(argv[3], "copy") == 0;
    VectorRowSource src(rows.data(), n, R, !copy);
    FitResult res;
    const int rc = fitLogistic(src, D, n, res);
    auto t3 = std::chrono::steady_clock::now();
    const double c3 = cpuSeconds();

    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("rows %ld  treated share %.4f  D %d  free parameters %d  aliased %d\n", n,
                treated / n, D, res.m, res.nAliased);
    std::printf("level discovery   %.3f s  (CPU %.3f s)\n", seconds(t0, t1), c1 - c0);
    std::printf("model rows        %.3f s\n", seconds(t1, t2));
    std::printf("fit               %.3f s  (CPU %.3f s; rc %d, Newton %d, %d iterations, %lld "
                "passes over the rows)\n",
                seconds(t2, t3), c3 - c2, rc, res.newtonRc, res.iterations,
                static_cast<long long>(src.passes()));
    std::printf("levels + fit      %.3f s\n", seconds(t0, t1) + seconds(t2, t3));
    std::printf("peak RSS          %.1f MiB\n", ru.ru_maxrss / 1024.0);
    std::printf("coefficients (intercept, x1..x8, c1 L1..L4, c2 L1..L4):\n ");
    for (int j = 0; j < D; ++j)
        std::printf(" %.4f", res.coef[j]);
    std::printf("\n");
    // Every printed quantity at full precision, to compare builds and thread counts exactly.
    std::printf("exact: -2 log L %.17g  c %.17g  BLAS threads %d\n", res.minus2LL, res.cstat,
                openblas_get_num_threads());
    for (int j = 0; j < D; ++j)
        std::printf("  %2d %.17g %.17g\n", j, res.coef[j],
                    res.cov.empty() ? 0.0
                                    : std::sqrt(res.cov[static_cast<std::size_t>(j) * D + j]));
    return rc;
}
