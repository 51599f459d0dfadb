// Columns redundant by the parameterisation alone, found without looking at the data.
#include "model/structure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>

#include "base/messages.h"
#include "model/logistic.h"
#include "model/model_messages.h"
#include "model_rows.h"
#include "numeric/sweep.h"

namespace {

using namespace velloc;
using velloc::testing::MemCursor;
using velloc::testing::MemRow;

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

// Brute-force oracle: every combination of the levels, each with K generic rows of
// continuous values (K = the distinct continuous monomials of the effects plus one, which
// spans every polynomial the columns can form), then the sweep of the cross-products.
std::vector<unsigned char> bruteForce(const ModelDesc& m, std::uint64_t seed) {
    const int D = m.layout.D;
    std::set<std::vector<int>> monomials;
    for (const EffectSpec& e : m.modelDef.effects) {
        std::vector<int> mono;
        for (const auto* list : {&e.crossed, &e.nested})
            for (const FactorRef& f : *list)
                if (!f.isClass) mono.push_back(f.index);
        std::sort(mono.begin(), mono.end());
        if (!mono.empty()) monomials.insert(mono);
    }
    const int K = static_cast<int>(monomials.size()) + 1;
    const std::size_t nClass = m.levels.size();
    std::vector<int> level(nClass, 0);
    std::vector<double> cont(static_cast<std::size_t>(m.modelDef.nCont)), row(D);
    std::vector<double> cross(static_cast<std::size_t>(D) * (D + 1) / 2, 0.0);
    for (;;) {
        for (int r = 0; r < K; ++r) {
            for (double& v : cont) {
                seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
                v = static_cast<double>(seed >> 11) / 9007199254740992.0 * 2.0 - 1.0;
            }
            zlevrgx(m, cont.data(), level.data(), row.data());
            for (int i = 0; i < D; ++i)
                for (int j = 0; j <= i; ++j)
                    cross[static_cast<std::size_t>(i) * (i + 1) / 2 + j] += row[i] * row[j];
        }
        std::size_t k = nClass;
        while (k > 0 && ++level[k - 1] >= m.levels[k - 1].count())
            level[--k] = 0;
        if (k == 0) break;
    }
    std::vector<double> diag(D);
    for (int i = 0; i < D; ++i)
        diag[i] = cross[static_cast<std::size_t>(i) * (i + 1) / 2 + i];
    std::string status(static_cast<std::size_t>(D), '0');
    for (int k = 0; k < D; ++k)
        host::zsweep(cross.data(), D, k, 1e-9, diag.data(), status.data());
    std::vector<unsigned char> flags(static_cast<std::size_t>(D), 0);
    for (int k = 1; k < D; ++k)
        flags[k] = status[k] == '0';
    return flags;
}

// A model over three CLASS variables with the given level counts (each level occurs) and
// two continuous variables.
ModelDesc withLevels(const std::vector<int>& nLev, std::vector<EffectSpec> effects,
                     MemCursor*& cursor) {
    ModelSpec modelDef;
    for (std::size_t v = 0; v < nLev.size(); ++v)
        modelDef.classVars.push_back({"c" + std::to_string(v), 1, false, false});
    modelDef.nCont = 2;
    modelDef.effects = std::move(effects);
    ModelDesc m;
    EXPECT_EQ(zlevmod(m, modelDef), 0);
    std::vector<MemRow> rows;
    const int most = *std::max_element(nLev.begin(), nLev.end());
    for (int r = 0; r < most; ++r) {
        MemRow row;
        row.z = {0.0, 0.0};
        for (int n : nLev)
            row.text.push_back(std::string(1, static_cast<char>('a' + std::min(r, n - 1))));
        row.num.assign(nLev.size(), 0.0);
        rows.push_back(row);
    }
    cursor = new MemCursor(rows, std::vector<int>(nLev.size(), 1));
    zlevcur(m, cursor);
    EXPECT_EQ(zlevrgi(m), 0);
    return m;
}

TEST(StructuralAliases, RandomDesignsAgreeWithTheBruteForceScreen) {
    std::uint64_t s = 20261207;
    auto draw = [&](int n) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int>((s >> 33) % static_cast<std::uint64_t>(n));
    };
    int withAliases = 0;
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<int> nLev{1 + draw(3), 1 + draw(4), 2 + draw(2)};
        std::vector<EffectSpec> effects;
        const int nEff = 1 + draw(5);
        for (int e = 0; e < nEff; ++e) {
            EffectSpec es;
            const int nf = 1 + draw(3);
            for (int f = 0; f < nf; ++f) {
                const int pick = draw(5); // 0..2 CLASS, 3..4 continuous (repeats allowed)
                es.crossed.push_back(pick < 3 ? FactorRef{true, pick} : FactorRef{false, pick - 3});
            }
            if (draw(4) == 0) es.nested.push_back(FactorRef{true, draw(3)});
            effects.push_back(es);
        }
        MemCursor* cur = nullptr;
        ModelDesc m = withLevels(nLev, effects, cur);
        const std::vector<unsigned char> want = bruteForce(m, 77 + trial);
        std::ostringstream what;
        what << "trial " << trial << " levels " << nLev[0] << nLev[1] << nLev[2] << " D "
             << m.layout.D;
        EXPECT_EQ(structuralAliases(m), want) << what.str();
        withAliases += std::count(want.begin(), want.end(), 1) > 0;
        delete cur;
    }
    EXPECT_GT(withAliases, 100); // the draws do produce structural aliases
}

// Model rows over every level combination, each with K + 2 random continuous rows and a
// random treatment: the data leave no column aliased beyond the structural ones.
std::vector<double> everyCombination(const ModelDesc& m, int rowsEach, std::uint64_t& s, long* n) {
    const int D = m.layout.D;
    std::vector<double> out, rec(static_cast<std::size_t>(kRowDesign + D), 1.0);
    std::vector<int> level(m.levels.size(), 0);
    std::vector<double> cont(2);
    auto u = [&] {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(s >> 11) / 9007199254740992.0;
    };
    *n = 0;
    for (;;) {
        for (int r = 0; r < rowsEach; ++r) {
            cont = {u() * 4 - 2, u() * 3};
            rec[kRowObs] = static_cast<double>(++*n);
            rec[kRowTreat] = u() < 0.5 ? 1.0 : 0.0;
            zlevrgx(m, cont.data(), level.data(), rec.data() + kRowDesign);
            out.insert(out.end(), rec.begin(), rec.end());
        }
        std::size_t k = level.size();
        while (k > 0 && ++level[k - 1] >= m.levels[k - 1].count())
            level[--k] = 0;
        if (k == 0) break;
    }
    return out;
}

TEST(StructuralAliases, StructuralAliasesAreNotWarnedOnData) {
    addModelMessages();
    std::uint64_t s = 4242;
    auto draw = [&](int n) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int>((s >> 33) % static_cast<std::uint64_t>(n));
    };
    const FactorRef C0{true, 0}, C1{true, 1}, C2{true, 2}, X0{false, 0}, X1{false, 1};
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<EffectSpec> effects;
        if (trial == 0) {
            // Main effects whose levels are nested in an earlier crossing (c1, c2 after c1*c2)
            // and a nested slope after the plain one (x0(c1) after x0) add nothing. Five monomials
            // (1, x0, x1, x0 x1, x0^2) need more than three generic rows per combination to tell
            // x0^2 from the others.
            effects = {{{C1, C2}, {}}, {{C1}, {}},     {{C2}, {}},
                       {{X0}, {}},     {{X0}, {C1}},   {{X1}, {}},
                       {{X0, X1}, {}}, {{X0, X0}, {}}, {{X0, C1, X0}, {}}};
        } else {
            const FactorRef pool[5] = {C0, C1, C2, X0, X1};
            for (int e = 1 + draw(5); e > 0; --e) {
                EffectSpec es;
                for (int f = 1 + draw(3); f > 0; --f)
                    es.crossed.push_back(pool[draw(5)]);
                effects.push_back(es);
            }
        }
        MemCursor* cur = nullptr;
        ModelDesc m = withLevels({2 + draw(2), 2 + draw(2), 2}, effects, cur);
        const std::vector<unsigned char> structural = structuralAliases(m);
        ASSERT_EQ(structural.size(), static_cast<std::size_t>(m.layout.D));
        long n = 0;
        std::vector<double> data = everyCombination(m, 8, s, &n);
        VectorRowSource rows(data.data(), n, kRowDesign + m.layout.D);
        std::ostringstream log;
        host::Log::setStream(&log);
        FitResult res;
        fitLogistic(rows, m.layout.D, n, res, structural);
        host::Log::setStream(nullptr);
        EXPECT_FALSE(res.warned233) << "trial " << trial << "\n" << log.str();
        for (int k = 1; k < m.layout.D; ++k)
            EXPECT_EQ(res.aliased[k - 1], structural[k]) << "trial " << trial << " column " << k;
        delete cur;
    }
}

TEST(StructuralAliases, ManyCombinationsAreStillScreened) {
    // Four CLASS main effects of 12 levels: 20,736 combinations, more than any enumeration
    // should take, yet each main effect's last level is the only redundant column.
    ModelSpec modelDef;
    for (int v = 0; v < 4; ++v) {
        modelDef.classVars.push_back({"c" + std::to_string(v), 1, false, false});
        modelDef.effects.push_back({{FactorRef{true, v}}, {}});
    }
    ModelDesc m;
    ASSERT_EQ(zlevmod(m, modelDef), 0);
    std::vector<MemRow> rows;
    for (int r = 0; r < 12; ++r) {
        MemRow row;
        for (int v = 0; v < 4; ++v)
            row.text.push_back(std::string(1, static_cast<char>('a' + r)));
        row.num.assign(4, 0.0);
        rows.push_back(row);
    }
    MemCursor cur(rows, {1, 1, 1, 1});
    zlevcur(m, &cur);
    ASSERT_EQ(zlevrgi(m), 0);
    ASSERT_EQ(m.layout.D, 49);
    std::vector<unsigned char> want(49, 0);
    for (int v = 0; v < 4; ++v)
        want[static_cast<std::size_t>(12 * (v + 1))] = 1;
    EXPECT_EQ(structuralAliases(m), want);
}

} // namespace
