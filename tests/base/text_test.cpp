#include <gtest/gtest.h>

#include "base/missing.h"
#include "base/text.h"

using namespace velloc::host;

TEST(HostMisc, SymbolsAreCaseInsensitiveAndReplaced) {
    xjsympn("sysrandom", "12");
    xjsympn("SYSRANDOM", "13");
    ASSERT_TRUE(symget("SysRandom").has_value());
    EXPECT_EQ(*symget("SYSRANDOM"), "13");
    EXPECT_FALSE(symget("NOSUCH").has_value());
}

TEST(HostMisc, UpperCasesAsciiOnly) {
    std::string s = "abc_Z9\xC3\xA9";
    wzstrup(s);
    EXPECT_EQ(s, "ABC_Z9\xC3\xA9");
}

TEST(HostMisc, TrimsBlanksOnBothSidesOnly) {
    EXPECT_EQ(trimBlanks("  no degree  "), "no degree"); // inner blanks stay
    EXPECT_EQ(trimBlanks("\tx "), "\tx");                // only blanks are trimmed
    EXPECT_EQ(trimBlanks("    "), "");
    EXPECT_EQ(trimBlanks(""), "");
}

TEST(HostMisc, MissingIsTheHostBitPatternAndANaN) {
    double m = missingValue();
    EXPECT_TRUE(isMissing(m));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(m), 0xFFFFFE0000000000ULL);
    EXPECT_FALSE(isMissing(0.0));
}
