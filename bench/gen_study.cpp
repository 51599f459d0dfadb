// Writes a synthetic observational study as CSV, and its true treatment model to stderr.
//
//   gen_study [--n N] [--treated SHARE] [--continuous K] [--classes M] [--levels L]
//             [--groups G] [--seed S] [--out FILE]
#include <cstdlib>
#include <cstring>
#include <string>

#include "study_gen.h"

int main(int argc, char** argv) {
    velloc::bench::StudySpec s;
    std::string out = "-";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "gen_study: %s needs a value\n", a.c_str());
            return 64;
        }
        const char* v = argv[++i];
        if (a == "--n")
            s.n = std::atoll(v);
        else if (a == "--treated")
            s.treatedShare = std::atof(v);
        else if (a == "--continuous")
            s.continuous = std::atoi(v);
        else if (a == "--classes")
            s.classes = std::atoi(v);
        else if (a == "--levels")
            s.levels = std::atoi(v);
        else if (a == "--groups")
            s.groups = std::atoi(v);
        else if (a == "--seed")
            s.seed = std::strtoull(v, nullptr, 10);
        else if (a == "--out")
            out = v;
        else {
            std::fprintf(stderr, "gen_study: unknown option %s\n", a.c_str());
            return 64;
        }
    }
    if (s.n < 0 || s.treatedShare <= 0 || s.treatedShare >= 1 || s.continuous < 0 ||
        s.classes < 0 || s.levels < 1 || s.groups < 0) {
        std::fprintf(stderr, "gen_study: invalid option value\n");
        return 64;
    }
    auto truth = velloc::bench::studyTruth(s);
    std::FILE* f = out == "-" ? stdout : std::fopen(out.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "gen_study: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
        return 1;
    }
    bool ok = velloc::bench::writeStudy(s, truth, f);
    if (f != stdout) ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "gen_study: writing %s failed\n", out.c_str());
        return 1;
    }
    std::fprintf(stderr, "truth: intercept %.17g\n", truth.intercept);
    for (std::size_t j = 0; j < truth.beta.size(); ++j)
        std::fprintf(stderr, "truth: x%zu %.17g\n", j + 1, truth.beta[j]);
    for (std::size_t j = 0; j < truth.gamma.size(); ++j)
        for (std::size_t l = 0; l < truth.gamma[j].size(); ++l)
            std::fprintf(stderr, "truth: c%zu=L%zu %.17g\n", j + 1, l + 1, truth.gamma[j][l]);
    return 0;
}
