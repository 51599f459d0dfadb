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

TEST(Levels, TwoHalvesFindWhatOnePassFinds) {
    // 0: numeric without format, whose level "1" is 1.0000001 in the first half and 1 in the
    // second: the level takes the smaller value, which puts it before "x" (1.00000005); -0 in
    // one half and +0 in the other are one level. 1: character, a level only in the second half
    // and a blank (missing) cell. 2: numeric without format, levels 0-39 in the first half and
    // 20-59 in the second, past the count where lookups are hashed.
    ModelSpec modelDef;
    modelDef.classVars = {{"n", 2, true, true}, {"c", 1, false, false}, {"k", 2, true, true}};
    modelDef.effects = {{{{true, 0}}, {}}, {{{true, 1}}, {}}, {{{true, 2}}, {}}};
    std::vector<MemRow> first, second;
    first.push_back({{}, {"1", "b", "0"}, {1.0000001, 0, 0}});
    first.push_back({{}, {"x", "a", "1"}, {1.00000005, 0, 1}});
    first.push_back({{}, {"0", " ", "2"}, {-0.0, 0, 2}});
    for (int i = 3; i < 40; ++i)
        first.push_back({{}, {"1", "a", std::to_string(i)}, {1.0000001, 0, double(i)}});
    second.push_back({{}, {"1", "c", "59"}, {1.0, 0, 59}});
    second.push_back({{}, {"0", "b", "20"}, {0.0, 0, 20}});
    for (int i = 21; i < 59; ++i)
        second.push_back({{}, {"x", "a", std::to_string(i)}, {1.00000005, 0, double(i)}});
    std::vector<MemRow> all = first;
    all.insert(all.end(), second.begin(), second.end());

    ModelDesc split, whole;
    ASSERT_EQ(zlevmod(split, modelDef), 0);
    ASSERT_EQ(zlevmod(whole, modelDef), 0);
    MemCursor a(first, {2, 1, 2}), b(second, {2, 1, 2}), c(all, {2, 1, 2});
    ASSERT_EQ(zlevrgiSplit(split, a, b), 0);
    zlevcur(whole, &c);
    ASSERT_EQ(zlevrgi(whole), 0);

    EXPECT_EQ(levels(split, 0), (std::vector<std::string>{"0", "1", "x"}));
    EXPECT_EQ(split.levels[0].value, (std::vector<double>{0.0, 1.0, 1.00000005}));
    EXPECT_FALSE(std::signbit(split.levels[0].value[0]));
    EXPECT_EQ(levels(split, 1), (std::vector<std::string>{"a", "b", "c"}));
    ASSERT_EQ(split.levels[2].count(), 60);
    for (int i = 0; i < 60; ++i)
        EXPECT_EQ(levelText(split, 2, i), std::to_string(i));
    EXPECT_EQ(split.layout.D, 1 + 3 + 3 + 60);
    for (int v = 0; v < 3; ++v) {
        EXPECT_EQ(levels(split, v), levels(whole, v));
        EXPECT_EQ(split.levels[v].value, whole.levels[v].value);
    }
    EXPECT_EQ(split.layout.effectStart, whole.layout.effectStart);
    // The merged levels are looked up as the single pass's are (the hashed ones too).
    zlevcur(split, &c);
    c.vlcxini();
    for (int row = 0; c.vlcxnxt(); ++row) {
        ASSERT_EQ(zlevrgd(split, nullptr, nullptr), 0);
        ASSERT_EQ(zlevrgd(whole, nullptr, nullptr), 0) << row;
        EXPECT_EQ(split.levelIdx, whole.levelIdx) << row;
    }
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
