// Greedy 1:1 matching on the logit of the propensity score, largest score first, without
// replacement and without caliper, on the job-training data, against the pairs that another
// package's greedy nearest-neighbour matching chose (tests/data/lalonde/PROVENANCE.md). The
// scores are the reference fit's, so only the matching is compared. A pair may differ only
// where the two controls have the same score (men with identical covariates).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "match/match.h"
#include "match_fixture.h"

namespace velloc::testing {
namespace {

void checkPairs() {
    const std::string dir = VELLOC_TEST_DATA "/lalonde/";
    auto data = readCsv(dir + "lalonde.csv");
    auto ps = readCsv(dir + "reference_ps.csv");
    auto pairs = readCsv(dir + "greedy_lps_descending_pairs.csv");
    ASSERT_EQ(data.size(), 614u);
    ASSERT_EQ(ps.size(), 614u);
    ASSERT_EQ(pairs.size(), 185u);

    std::map<double, double> score;
    std::vector<Unit> units;
    double lo = 1, hi = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        double id = std::stod(data[i][0]);
        ASSERT_EQ(std::stod(ps[i][0]), id);
        double p = std::stod(ps[i][1]);
        score[id] = p;
        lo = std::min(lo, p);
        hi = std::max(hi, p);
        units.push_back({id, std::stoi(data[i][1]), p});
    }
    MatchGroup g;
    g.run->regionLower = lo; // REGION=ALLOBS
    g.run->regionUpper = hi;
    g.write(units);
    ASSERT_EQ(velloc(*g.run), 0);
    ASSERT_EQ(vlccomb(*g.run), 0);

    std::map<double, double> treatedSet, controlOfSet;
    for (const auto& w : g.working()) {
        if (!(w[kVoutMatchSet] >= 0.1)) continue;
        if (w[kVoutTreat] > 0.5)
            treatedSet[w[kVoutObs]] = w[kVoutMatchSet];
        else
            controlOfSet[w[kVoutMatchSet]] = w[kVoutObs];
    }
    EXPECT_EQ(treatedSet.size(), 185u);
    EXPECT_EQ(g.run->nSets, 185);
    int same = 0, tied = 0;
    for (const auto& p : pairs) {
        double t = std::stod(p[0]), c = std::stod(p[1]);
        ASSERT_TRUE(treatedSet.count(t)) << "treated " << t << " unmatched";
        double ours = controlOfSet[treatedSet[t]];
        if (ours == c) {
            ++same;
        } else {
            // Interchangeable controls: identical scores.
            EXPECT_EQ(score[ours], score[c])
                << "treated " << t << ": control " << ours << " instead of " << c;
            ++tied;
        }
    }
    EXPECT_EQ(same + tied, 185);
    std::printf("lalonde greedy: %d identical pairs, %d differ among tied controls\n", same, tied);
}

TEST(LalondeGreedy, SamePairsAsTheReferenceUpToTiedControls) {
    checkPairs();
}

// The same with every utility file spilled to disk after a few records: the results are
// rewritten in place through the file window.
TEST(LalondeGreedy, SamePairsWithSpilledFiles) {
    const std::size_t keep = host::UtilFile::spillThreshold();
    host::UtilFile::setSpillThreshold(4096);
    checkPairs();
    host::UtilFile::setSpillThreshold(keep);
}

} // namespace
} // namespace velloc::testing
