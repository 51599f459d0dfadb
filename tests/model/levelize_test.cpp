#include "model/levelize.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/missing.h"
#include "model_rows.h"

namespace {

using namespace velloc;
using velloc::testing::MemCursor;
using velloc::testing::MemRow;

std::vector<std::string> levels(const ModelDesc& m, int v) {
    std::vector<std::string> out;
    for (int i = 0; i < m.levels[v].count(); ++i)
        out.push_back(levelText(m, v, i));
    return out;
}

TEST(Levels, OrderByValueBytesAndCase) {
    // 0: numeric without format, 1: numeric with format (byte order of the texts),
    // 2: character.
    ModelSpec modelDef;
    modelDef.classVars = {{"n", 4, true, true}, {"f", 4, true, false}, {"c", 2, false, false}};
    ModelDesc m;
    ASSERT_EQ(zlevmod(m, modelDef), 0);
    MemCursor cur({{{}, {"10", "10", "B"}, {10, 10, 0}},
                   {{}, {"9", "9", "a"}, {9, 9, 0}},
                   {{}, {"100", "100", "B"}, {100, 100, 0}},
                   {{}, {"9", "9", "a"}, {9, 9, 0}}},
                  {4, 4, 2});
    zlevcur(m, &cur);
    ASSERT_EQ(zlevrgi(m), 0);
    EXPECT_EQ(levels(m, 0), (std::vector<std::string>{"9", "10", "100"}));
    EXPECT_EQ(levels(m, 1), (std::vector<std::string>{"10", "100", "9"}));
    EXPECT_EQ(levels(m, 2), (std::vector<std::string>{"B", "a"}));
    EXPECT_EQ(m.layout.D, 1); // no effects: the intercept alone
}

TEST(Levels, ZeroOneTreatmentHasLevelZeroFirst) {
    ModelSpec modelDef;
    modelDef.classVars = {{"t", 1, true, true}};
    ModelDesc m;
    zlevmod(m, modelDef);
    MemCursor cur({{{}, {"1"}, {1}}, {{}, {"0"}, {0}}, {{}, {"1"}, {1}}}, {1});
    zlevcur(m, &cur);
    ASSERT_EQ(zlevrgi(m), 0);
    ASSERT_EQ(levels(m, 0), (std::vector<std::string>{"0", "1"}));
    cur.vlcxini();
    std::vector<int> idx;
    while (cur.vlcxnxt()) {
        ASSERT_EQ(zlevrgd(m, nullptr, nullptr), 0);
        idx.push_back(m.levelIdx[0]);
    }
    EXPECT_EQ(idx, (std::vector<int>{1, 0, 1}));
}

TEST(Design, ClassAndContinuousMainEffectsCrossingAndNesting) {
    // CLASS g (3 levels) and h (2 levels); continuous x, y.
    // Effects: x g x*g g*h y(h) -> widths 1, 3, 3, 6, 2 -> D = 1 + 15 = 16.
    ModelSpec modelDef;
    modelDef.classVars = {{"g", 1, false, false}, {"h", 1, false, false}};
    modelDef.nCont = 2;
    FactorRef x{false, 0}, y{false, 1}, g{true, 0}, h{true, 1};
    modelDef.effects = {{{x}, {}}, {{g}, {}}, {{x, g}, {}}, {{g, h}, {}}, {{y}, {h}}};
    ModelDesc m;
    ASSERT_EQ(zlevmod(m, modelDef), 0);
    MemCursor cur({{{2.0, 5.0}, {"b", "q"}, {}, 3.0, 0.5},
                   {{1.0, 1.0}, {"a", "p"}, {}},
                   {{4.0, 7.0}, {"c", "p"}, {}}},
                  {1, 1});
    zlevcur(m, &cur);
    ASSERT_EQ(zlevrgi(m), 0);
    ASSERT_EQ(m.layout.D, 16);
    cur.vlcxini();
    cur.vlcxnxt();
    double w = 0, f = 0;
    ASSERT_EQ(zlevrgd(m, &w, &f), 0);
    EXPECT_EQ(w, 0.5);
    EXPECT_EQ(f, 3.0);
    std::vector<double> row(16);
    zlevrgx(m, m.contVals.data(), m.levelIdx.data(), row.data());
    // Row 1: x=2, g=b (index 1), h=q (index 1), y=5.
    std::vector<double> want{1,                // intercept
                             2,                // x
                             0, 1, 0,          // g
                             0, 2, 0,          // x*g
                             0, 0, 0, 1, 0, 0, // g*h: (b,q) = 1*2 + 1
                             0, 5};            // y(h): h=q
    EXPECT_EQ(row, want);
}

TEST(Design, MissingValuesMakeOnlyTheirEffectMissing) {
    ModelSpec modelDef;
    modelDef.classVars = {{"g", 2, false, false}, {"n", 3, true, true}};
    modelDef.nCont = 1;
    modelDef.effects = {{{{false, 0}}, {}}, {{{true, 0}}, {}}, {{{true, 1}}, {}}};
    ModelDesc m;
    zlevmod(m, modelDef);
    const double miss = host::missingValue();
    MemCursor cur({{{1.0}, {"a", "1"}, {0, 1}},
                   {{miss}, {"", "2"}, {0, 2}},     // blank text: missing level of g
                   {{3.0}, {"b", "."}, {0, miss}}}, // missing numeric CLASS value
                  {2, 3});
    zlevcur(m, &cur);
    ASSERT_EQ(zlevrgi(m), 0);
    EXPECT_EQ(m.levels[0].count(), 2); // a, b: the blank is not a level
    EXPECT_EQ(m.levels[1].count(), 2); // 1, 2
    ASSERT_EQ(m.layout.D, 6);
    cur.vlcxini();
    cur.vlcxnxt();
    cur.vlcxnxt();
    zlevrgd(m, nullptr, nullptr);
    EXPECT_EQ(m.levelIdx[0], -1);
    std::vector<double> row(6);
    zlevrgx(m, m.contVals.data(), m.levelIdx.data(), row.data());
    EXPECT_EQ(row[0], 1.0);
    EXPECT_TRUE(std::isnan(row[1]));
    EXPECT_TRUE(std::isnan(row[2]) && std::isnan(row[3]));
    EXPECT_EQ(row[4], 0.0);
    EXPECT_EQ(row[5], 1.0);
}

TEST(Design, WidthFollowsEachByGroupsLevels) {
    ModelSpec modelDef;
    modelDef.classVars = {{"g", 1, false, false}};
    modelDef.effects = {{{{true, 0}}, {}}};
    ModelDesc m;
    zlevmod(m, modelDef);
    MemCursor g1({{{}, {"a"}, {}}, {{}, {"b"}, {}}, {{}, {"c"}, {}}}, {1});
    MemCursor g2({{{}, {"c"}, {}}, {{}, {"a"}, {}}}, {1});
    zlevcur(m, &g1);
    ASSERT_EQ(zlevrgi(m), 0);
    EXPECT_EQ(m.layout.D, 4);
    zlevcur(m, &g2);
    EXPECT_TRUE(m.levels[0].stale);
    ASSERT_EQ(zlevrgi(m), 0);
    EXPECT_EQ(m.layout.D, 3);
    EXPECT_EQ(levels(m, 0), (std::vector<std::string>{"a", "c"}));
}

TEST(Design, ManyLevelsUseTheHashedLookup) {
    ModelSpec modelDef;
    modelDef.classVars = {{"k", 3, true, true}};
    modelDef.effects = {{{{true, 0}}, {}}};
    ModelDesc m;
    zlevmod(m, modelDef);
    std::vector<MemRow> rows;
    for (int i = 99; i >= 0; --i)
        rows.push_back({{}, {std::to_string(i)}, {double(i)}});
    MemCursor cur(rows, {3});
    zlevcur(m, &cur);
    ASSERT_EQ(zlevrgi(m), 0);
    ASSERT_EQ(m.layout.D, 101);
    EXPECT_EQ(levelText(m, 0, 0), "0");
    EXPECT_EQ(levelText(m, 0, 99), "99");
    cur.vlcxini();
    cur.vlcxnxt(); // value 99
    zlevrgd(m, nullptr, nullptr);
    EXPECT_EQ(m.levelIdx[0], 99);
}

TEST(Design, EffectNamingAnUnknownVariableIsRejected) {
    ModelSpec modelDef;
    modelDef.nCont = 1;
    modelDef.effects = {{{{true, 0}}, {}}};
    ModelDesc m;
    EXPECT_EQ(zlevmod(m, modelDef), 1);
    modelDef.effects = {{{{false, 1}}, {}}};
    EXPECT_EQ(zlevmod(m, modelDef), 1);
    ModelDesc none;
    EXPECT_EQ(zlevrgi(none), 1); // no cursor installed
}

} // namespace
