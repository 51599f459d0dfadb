#include <fmt/format.h>

#include "base/missing.h"
#include "dataset_test_util.h"

using namespace velloc::host;
using velloc::host::testing::DataTest;

namespace {

// Every group as its BY description and its observation numbers.
struct Group {
    std::string by;
    std::vector<std::int64_t> obs;
};

std::vector<Group> groups(Dataset& ds, int* last = nullptr) {
    std::vector<Group> out;
    int r;
    while ((r = ds.nextGroup()) > 0) {
        Group g;
        for (const std::string& s : ds.byDescription())
            g.by += (g.by.empty() ? "" : " ") + s;
        while (ds.nextObs())
            g.obs.push_back(ds.obsNumber());
        out.push_back(g);
    }
    if (last) *last = r;
    return out;
}

using Obs = std::vector<std::int64_t>;

} // namespace

using ByGroups = DataTest;

TEST_F(ByGroups, WithoutByTheDataSetIsOneGroup) {
    auto ds = Dataset::open(write("a.csv", "x\n3\n1\n2\n"));
    auto g = groups(*ds);
    ASSERT_EQ(g.size(), 1u);
    EXPECT_EQ(g[0].obs, (Obs{1, 2, 3}));
    EXPECT_EQ(g[0].by, "");
}

TEST_F(ByGroups, AscendingWithMissingLowest) {
    auto ds = Dataset::open(write("a.csv", "g,x\n.,1\n,2\n1,3\n1,4\n2.5,5\n"));
    ds->setBy({{1, false}}, false);
    int last = 9;
    auto g = groups(*ds, &last);
    EXPECT_EQ(last, 0);
    ASSERT_EQ(g.size(), 3u);
    EXPECT_EQ(g[0].by, "g=.");
    EXPECT_EQ(g[0].obs, (Obs{1, 2}));
    EXPECT_EQ(g[1].by, "g=1");
    EXPECT_EQ(g[1].obs, (Obs{3, 4}));
    EXPECT_EQ(g[2].by, "g=2.5");
}

TEST_F(ByGroups, DescendingAndMixedTypes) {
    // site ascending by bytes ("B" before "a"), then dose descending.
    auto ds = Dataset::open(write("m.csv", "site,dose\nB,10\nB,10\nB,2\na,5\na,.\n"));
    ds->setBy({{1, false}, {2, true}}, false);
    int last = 9;
    auto g = groups(*ds, &last);
    EXPECT_EQ(last, 0) << log();
    ASSERT_EQ(g.size(), 4u);
    EXPECT_EQ(g[0].by, "site=B dose=10");
    EXPECT_EQ(g[0].obs, (Obs{1, 2}));
    EXPECT_EQ(g[1].by, "site=B dose=2");
    EXPECT_EQ(g[2].by, "site=a dose=5");
    EXPECT_EQ(g[3].by, "site=a dose=.");
}

TEST_F(ByGroups, TrailingBlanksDoNotSplitACharacterGroup) {
    auto ds = Dataset::open(write("t.csv", "s,x\na,1\n\"a \",2\nb,3\n"));
    ds->setBy({{1, false}}, false);
    auto g = groups(*ds);
    ASSERT_EQ(g.size(), 2u);
    EXPECT_EQ(g[0].obs, (Obs{1, 2}));
}

TEST_F(ByGroups, AnNATextIsABlankThatSortsFirstAndJoinsTheBlanks) {
    // An unquoted NA in a text column is a missing (blank) value: with the empty cells it
    // makes the first group; a quoted "NA" is the two letters, a group of its own before "a".
    auto ds = Dataset::open(write("na.csv", "s,x\nNA,1\n,2\nNA,3\n\"NA\",4\na,5\n"));
    ds->setBy({{1, false}}, false);
    int last = 9;
    auto g = groups(*ds, &last);
    EXPECT_EQ(last, 0);
    ASSERT_EQ(g.size(), 3u);
    EXPECT_EQ(g[0].obs, (Obs{1, 2, 3}));
    EXPECT_EQ(g[1].obs, (Obs{4}));
    EXPECT_EQ(g[2].obs, (Obs{5}));
}

TEST_F(ByGroups, NotsortedTakesConsecutiveRuns) {
    auto ds = Dataset::open(write("n.csv", "g\n2\n2\n1\n2\n"));
    ds->setBy({{1, false}}, true);
    int last = 9;
    auto g = groups(*ds, &last);
    EXPECT_EQ(last, 0);
    ASSERT_EQ(g.size(), 3u);
    EXPECT_EQ(g[0].obs, (Obs{1, 2}));
    EXPECT_EQ(g[1].obs, (Obs{3}));
    EXPECT_EQ(g[2].obs, (Obs{4}));
    EXPECT_EQ(log(), "");
}

TEST_F(ByGroups, UnsortedInputIsAnErrorNamingTheObservation) {
    std::string p = write("u.csv", "a,b\n1,x\n1,y\n2,x\n1,z\n");
    auto ds = Dataset::open(p);
    ds->setBy({{1, false}, {2, false}}, false);
    int last = 9;
    auto g = groups(*ds, &last);
    EXPECT_LT(last, 0);
    ASSERT_EQ(g.size(), 3u); // groups before the out-of-order observation are delivered
    EXPECT_NE(log().find("ERROR: The data set " + p +
                         " is not sorted by the BY variables a b: observation 4 (line 5)"),
              std::string::npos)
        << log();
    EXPECT_LT(ds->nextGroup(), 0);

    // A descending key out of order, and missing after a value in ascending order.
    auto d = Dataset::open(write("d.csv", "g\n3\n1\n2\n"));
    d->setBy({{1, true}}, false);
    groups(*d, &last);
    EXPECT_LT(last, 0);
    EXPECT_NE(log().find("by the BY variables DESCENDING g: observation 3"), std::string::npos);
    auto m = Dataset::open(write("m.csv", "g\n1\n.\n"));
    m->setBy({{1, false}}, false);
    groups(*m, &last);
    EXPECT_LT(last, 0);
}

TEST_F(ByGroups, NextGroupSkipsWhatWasNotRead) {
    auto ds = Dataset::open(write("s.csv", "g,x\n1,1\n1,2\n1,3\n2,4\n"));
    ds->setBy({{1, false}}, false);
    ASSERT_EQ(ds->nextGroup(), 1);
    ASSERT_TRUE(ds->nextObs());
    ASSERT_EQ(ds->nextGroup(), 1);
    ASSERT_TRUE(ds->nextObs());
    EXPECT_EQ(ds->obsNumber(), 4);
    EXPECT_EQ(ds->num(2), 4.0);
    EXPECT_FALSE(ds->nextObs());
    EXPECT_EQ(ds->nextGroup(), 0);
}

TEST_F(ByGroups, RewindReturnsToTheGroupStartAcrossBufferRefills) {
    // Groups of 40000 rows (~1.3 MB each) so that a rewind reaches back past the read buffer.
    std::string csv = "g,x,s\n";
    const int per = 40000;
    for (int g = 1; g <= 3; ++g)
        for (int i = 0; i < per; ++i)
            csv += fmt::format("{},{},\"t{}\nline\"\n", g, i, i % 7);
    auto ds = Dataset::open(write("big.csv", csv));
    EXPECT_EQ(ds->nobs(), 3 * per);
    ds->setBy({{1, false}}, false);
    ASSERT_EQ(ds->nextGroup(), 1);
    ASSERT_EQ(ds->nextGroup(), 1);
    double sum = 0;
    std::int64_t n = 0;
    while (ds->nextObs()) {
        sum += ds->num(2);
        ++n;
    }
    EXPECT_EQ(n, per);
    ds->rewindGroup();
    ASSERT_TRUE(ds->nextObs());
    EXPECT_EQ(ds->obsNumber(), per + 1);
    EXPECT_EQ(ds->num(1), 2.0);
    EXPECT_EQ(ds->num(2), 0.0);
    EXPECT_EQ(ds->text(3), "t0\nline");
    double again = ds->num(2);
    std::int64_t m = 1;
    while (ds->nextObs()) {
        again += ds->num(2);
        ++m;
    }
    EXPECT_EQ(m, per);
    EXPECT_EQ(again, sum);
    EXPECT_EQ(sum, per * (per - 1) / 2.0);
    // Rewinding in the middle of a group works too, and reading then goes on normally.
    ds->rewindGroup();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(ds->nextObs());
    EXPECT_EQ(ds->num(2), 4.0);
    ds->rewindGroup();
    ASSERT_TRUE(ds->nextObs());
    EXPECT_EQ(ds->num(2), 0.0);
    ASSERT_EQ(ds->nextGroup(), 1);
    ASSERT_TRUE(ds->nextObs());
    EXPECT_EQ(ds->obsNumber(), 2 * per + 1);
    EXPECT_EQ(ds->byDescription(), std::vector<std::string>{"g=3"});
    EXPECT_EQ(ds->nextGroup(), 0);
}

TEST_F(ByGroups, FormattedByValues) {
    write("f.schema.json", R"({"variables": {"r": {"format": "F6.1"}}})");
    auto ds = Dataset::open(write("f.csv", "r\n0.25\n"));
    ds->setBy({{1, false}}, false);
    ASSERT_EQ(ds->nextGroup(), 1);
    EXPECT_EQ(ds->byDescription(), std::vector<std::string>{"r=0.3"});
    ASSERT_TRUE(ds->nextObs());
    EXPECT_EQ(ds->formatted(1), "   0.3");
}
