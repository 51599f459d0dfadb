#include "numeric/random.h"

#include <gtest/gtest.h>

#include <string>

#include "base/text.h"

using namespace velloc;
using support::zranms;
using support::zranuni;

TEST(Random, FirstDrawFromStateOne) {
    std::int64_t s = 1;
    EXPECT_EQ(zranuni(s), 397204094.0 / 2147483647.0);
    EXPECT_EQ(s, 397204094);
}

TEST(Random, MatchesModularOracle) {
    // Brute force: state * a mod (2^31 - 1) with 128-bit arithmetic.
    std::int64_t s = 123456789;
    unsigned __int128 ref = 123456789;
    for (int i = 0; i < 10000; ++i) {
        double u = zranuni(s);
        ref = (ref * 397204094u) % 2147483647u;
        ASSERT_EQ(static_cast<std::uint64_t>(s), static_cast<std::uint64_t>(ref)) << i;
        ASSERT_GT(u, 0.0);
        ASSERT_LT(u, 1.0);
    }
}

TEST(Random, DrawUsesOnlyLowBits) {
    std::int64_t a = 5, b = (std::int64_t{7} << 32) + 5;
    EXPECT_EQ(zranuni(a), zranuni(b));
    EXPECT_EQ(a, b);
}

TEST(Random, ClockSeedFormula) {
    // 1000500 s: frac(1000.5) = 0.5 -> 500000000 + 1.
    EXPECT_EQ(support::clockSeed(1000500.0), 500000001);
    // 2000000 s: frac(2000) = 0 -> 1.
    EXPECT_EQ(support::clockSeed(2000000.0), 1);
}

TEST(Random, ModeOneKeepsValidSeedAndPublishes) {
    std::int64_t s = 2147483646;
    zranms(s, 1);
    EXPECT_EQ(s, 2147483646);
    EXPECT_EQ(host::symget("SYSRANDOM").value_or(""), "2147483646");
}

TEST(Random, ModeOneReplacesOutOfRange) {
    for (std::int64_t bad : {std::int64_t{0}, std::int64_t{-5}, std::int64_t{2147483647}}) {
        std::int64_t s = bad;
        zranms(s, 1);
        EXPECT_GE(s, 1);
        EXPECT_LE(s, 1000000000);
        EXPECT_EQ(host::symget("SYSRANDOM").value_or(""), std::to_string(s));
    }
}

TEST(Random, ModeZeroAndTwo) {
    std::int64_t s = 77;
    zranms(s, 0);
    EXPECT_EQ(s, 77);
    s = 2147483647;
    zranms(s, 0);
    EXPECT_NE(s, 2147483647);
    std::int64_t e = 4242;
    zranms(e, 2);
    EXPECT_EQ(e, 4242);
    EXPECT_EQ(host::symget("SYSRANEND").value_or(""), "4242");
}
