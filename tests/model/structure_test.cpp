// Columns redundant by the parameterisation alone, found without looking at the data.
#include "model/structure.h"

#include <gtest/gtest.h>

#include "model_rows.h"

namespace {

using namespace velloc;
using velloc::testing::MemCursor;

// Registers the effects and discovers the levels a, b, c of CLASS variable 0 and x, y of
// CLASS variable 1 (each level occurs), with one continuous variable.
ModelDesc discover(std::vector<EffectSpec> effects) {
    ModelSpec modelDef;
    modelDef.classVars = {{"g", 1, false, false}, {"h", 1, false, false}};
    modelDef.nCont = 1;
    modelDef.effects = std::move(effects);
    ModelDesc m;
    EXPECT_EQ(zlevmod(m, modelDef), 0);
    static MemCursor* cur = nullptr;
    delete cur;
    cur = new MemCursor({{{0.5}, {"a", "x"}, {0, 0}},
                         {{1.5}, {"b", "y"}, {0, 0}},
                         {{2.0}, {"c", "x"}, {0, 0}},
                         {{0.1}, {"a", "y"}, {0, 0}}},
                        {1, 1});
    zlevcur(m, cur);
    EXPECT_EQ(zlevrgi(m), 0);
    return m;
}

const FactorRef G{true, 0}, H{true, 1}, X{false, 0};

TEST(StructuralAliases, LastLevelOfEachMainEffect) {
    // Columns: intercept, g=a, g=b, g=c, x, h=x, h=y.
    ModelDesc m = discover({{{G}, {}}, {{X}, {}}, {{H}, {}}});
    ASSERT_EQ(m.layout.D, 7);
    EXPECT_EQ(structuralAliases(m), (std::vector<unsigned char>{0, 0, 0, 1, 0, 0, 1}));
}

TEST(StructuralAliases, CrossingsKeepOnlyTheirNewColumns) {
    // intercept, g (3), h (2), g*h (6): after both main effects a 3 x 2 crossing adds
    // (3 - 1)(2 - 1) = 2 free columns, so 4 of its 6 are redundant.
    ModelDesc m = discover({{{G}, {}}, {{H}, {}}, {{G, H}, {}}});
    ASSERT_EQ(m.layout.D, 12);
    std::vector<unsigned char> a = structuralAliases(m);
    int free = 0;
    for (int k = 1; k < 12; ++k)
        free += a[k] == 0;
    EXPECT_EQ(free, 2 + 1 + 2); // g: 2, h: 1, g*h: 2
    // A CLASS-by-continuous crossing without the main effect: one slope per level, all free.
    ModelDesc slopes = discover({{{G, X}, {}}});
    EXPECT_EQ(structuralAliases(slopes), (std::vector<unsigned char>{0, 0, 0, 0}));
}

} // namespace
