// Formatted values, checked against expectations worked out by hand: BEST w. shows as many
// significant places as fit in w columns, integers whole, scientific notation when fixed
// notation cannot hold the value (or holds it less exactly).
#include <gtest/gtest.h>

#include <cstdio>

#include "base/missing.h"
#include "io/csv_dataset.h"
#include "io/dataset.h"

using namespace velloc::host;

namespace {
Variable withFormat(VarType type, std::string format, int width, int decimals) {
    Variable v;
    v.type = type;
    v.format = std::move(format);
    v.formatWidth = width;
    v.formatDecimals = decimals;
    return v;
}
} // namespace

TEST(FormatBest, IntegersAndSpecialValues) {
    EXPECT_EQ(formatBest(0), "           0");
    EXPECT_EQ(formatBest(-0.0), "           0");
    EXPECT_EQ(formatBest(missingValue()), "           .");
    EXPECT_EQ(formatBest(42), "          42");
    EXPECT_EQ(formatBest(-17), "         -17");
    EXPECT_EQ(formatBest(123456789012.0), "123456789012");  // 12 digits fill BEST12.
    EXPECT_EQ(formatBest(1234567890123.0), "1.2345679E12"); // 13 digits do not
    EXPECT_EQ(formatBest(1e20), "        1E20");
    EXPECT_EQ(formatBest(-1e20), "       -1E20");
    EXPECT_EQ(formatBest(123456, 5), "1.2E5");
    EXPECT_EQ(formatBest(7, 1), "7");
    // Whole numbers up to 17 digits print as printf's %.0f prints them, right-justified in
    // wide fields (BEST32).
    for (double v : {1.0, -1.0, 9.0, 10.0, -99.0, 2147483648.0, -9007199254740993.0,
                     99999999999999984.0, 1e16, -1e16 + 2}) {
        char want[64];
        std::snprintf(want, sizeof want, "%32.0f", v);
        EXPECT_EQ(formatBest(v, 32), want) << v;
    }
}

TEST(FormatBest, Fractions) {
    // 1/3: "0." and ten 3s fill 12 columns; with a sign one 3 fewer.
    EXPECT_EQ(formatBest(1.0 / 3), "0.3333333333");
    EXPECT_EQ(formatBest(-1.0 / 3), "-0.333333333");
    EXPECT_EQ(formatBest(2.0 / 3), "0.6666666667");     // rounded, not cut
    EXPECT_EQ(formatBest(1234567.891), " 1234567.891"); // exact: no trailing zeros
    EXPECT_EQ(formatBest(3.14159265358979), "3.1415926536");
    EXPECT_EQ(formatBest(0.1), "         0.1");
    EXPECT_EQ(formatBest(123.456, 6), "123.46");
    EXPECT_EQ(formatBest(99999.99, 6), "100000");
    EXPECT_EQ(formatBest(0.5, 3), "0.5");
    EXPECT_EQ(formatBest(0.5, 2), ".5");     // the leading zero goes only when it must
    EXPECT_EQ(formatBest(0.125, 4), "0.13"); // half away from zero
}

TEST(FormatBest, SmallValues) {
    // Fixed notation would lose every digit: scientific.
    EXPECT_EQ(formatBest(1.5e-11), "     1.5E-11");
    // Both exact: fixed notation wins the tie.
    EXPECT_EQ(formatBest(1e-10), "0.0000000001");
    EXPECT_EQ(formatBest(0.0001), "      0.0001");
    // 0.0001234568 keeps 7 places, 1.2345679E-4 keeps 8: the closer one is shown.
    EXPECT_EQ(formatBest(0.000123456789), "1.2345679E-4");
    EXPECT_EQ(formatBest(-2.5e-300), "   -2.5E-300");
}

TEST(FormatValue, FixedAndCharacterFormats) {
    Variable f = withFormat(VarType::Numeric, "F", 8, 2);
    EXPECT_EQ(formatValue(f, 3.14159, ""), "    3.14");
    EXPECT_EQ(formatValue(f, 2.675, ""), "    2.68");  // as written, half away from zero
    EXPECT_EQ(formatValue(f, -0.001, ""), "    0.00"); // no negative zero
    EXPECT_EQ(formatValue(f, -1.5, ""), "   -1.50");
    EXPECT_EQ(formatValue(f, missingValue(), ""), "       .");
    f.formatWidth = 5;
    f.formatDecimals = 0;
    EXPECT_EQ(formatValue(f, 2.5, ""), "    3");
    f.formatDecimals = 2;
    EXPECT_EQ(formatValue(f, 12345.6, ""), "12346"); // too wide for F5.2: BEST5.
    Variable b = withFormat(VarType::Numeric, "BEST", 4, 0);
    EXPECT_EQ(formatValue(b, 1.0 / 3, ""), "0.33");
    Variable c = withFormat(VarType::Character, "", 0, 0);
    EXPECT_EQ(formatValue(c, 0, "abc "), "abc ");
    c = withFormat(VarType::Character, "$", 2, 0);
    EXPECT_EQ(formatValue(c, 0, "abc"), "ab");
    Variable plain;
    EXPECT_EQ(formatValue(plain, 10, ""), "          10");
}
