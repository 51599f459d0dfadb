// The shortest decimal text against fmt's own "{}" as the reference, on the values where a fast
// path could go wrong: decimals read from text at every magnitude, the neighbours of such
// values, the edges of the fixed form (1e-4, 2^52, 2^53, powers of ten) and arbitrary bits.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "io/short_decimal.h"

using velloc::host::writeShortest;

namespace {

std::string ours(double v) {
    char buf[64];
    return std::string(buf, writeShortest(v, buf));
}

// Counts the values tried, so a broken generator cannot pass by trying nothing.
struct Checker {
    long tried = 0, failed = 0;
    void operator()(double v) {
        ++tried;
        const std::string want = fmt::format("{}", v), got = ours(v);
        if (got != want && ++failed <= 10)
            ADD_FAILURE() << "value " << fmt::format("{:a}", v) << ": fmt " << want << ", ours "
                          << got;
    }
};

double fromText(const std::string& s) {
    double v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

TEST(WriteShortest, DecimalsAtEveryMagnitudeAndTheirNeighbours) {
    Checker check;
    std::mt19937_64 rng(7);
    for (int i = 0; i < 400000; ++i) {
        // An integer of 1 to 17 digits with 0 to 20 decimals, of either sign.
        const int digits = 1 + static_cast<int>(rng() % 17);
        std::uint64_t r = rng() % static_cast<std::uint64_t>(std::pow(10.0, digits));
        const int decimals = static_cast<int>(rng() % 21);
        std::string s = std::to_string(r);
        if (decimals > 0) {
            if (static_cast<int>(s.size()) <= decimals)
                s.insert(0, static_cast<std::size_t>(decimals - s.size() + 1), '0');
            s.insert(s.size() - static_cast<std::size_t>(decimals), ".");
        }
        const double v = (rng() & 1 ? -1.0 : 1.0) * fromText(s);
        check(v);
        check(std::nextafter(v, HUGE_VAL));
        check(std::nextafter(v, -HUGE_VAL));
    }
    EXPECT_EQ(check.tried, 1200000);
    EXPECT_EQ(check.failed, 0);
}

TEST(WriteShortest, EdgesOfTheFixedFormAndOfExactness) {
    Checker check;
    const double edges[] = {1e-4,
                            1e-5,
                            9e-5,
                            0.00012345,
                            0.1,
                            0.5,
                            1,
                            9.999999999999998,
                            10,
                            1e9,
                            123456789,
                            4503599627370496.0, // 2^52
                            9007199254740992.0, // 2^53
                            1e15,
                            1e16,
                            1e17,
                            std::numeric_limits<double>::min(),
                            std::numeric_limits<double>::denorm_min(),
                            std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::epsilon()};
    for (double e : edges)
        for (double s : {1.0, -1.0}) {
            double v = s * e;
            for (int step = 0; step < 64; ++step) {
                check(v);
                v = std::nextafter(v, HUGE_VAL);
            }
            v = s * e;
            for (int step = 0; step < 64; ++step) {
                check(v);
                v = std::nextafter(v, -HUGE_VAL);
            }
        }
    for (int p = -30; p <= 30; ++p) {
        check(std::pow(10.0, p));
        check(std::ldexp(1.0, p * 2));
        check(std::ldexp(3.0, p));
    }
    // Where the digits are split: whole numbers at every length and around each power of ten,
    // and decimals with a single non-zero digit at each place (the zeros before and after it
    // are what the fraction's first digit and its trailing-zero count must get right).
    for (double p10 = 1; p10 <= 1e16; p10 *= 10)
        for (double d : {-1.0, 0.0, 1.0, 0.5 * p10})
            check(p10 + d);
    for (int place = 1; place <= 10; ++place)
        for (int digit = 1; digit <= 9; ++digit)
            for (double whole : {0.0, 7.0, 12345678.0}) {
                const std::string text =
                    fmt::format("{}.{}{}", whole, std::string(place - 1, '0'), digit);
                check(fromText(text));
            }
    check(0.0);
    check(-0.0);
    check(HUGE_VAL);
    check(-HUGE_VAL);
    EXPECT_EQ(ours(0.0), "0");
    EXPECT_EQ(ours(-0.0), "-0");
    EXPECT_EQ(ours(0.0001), "0.0001");
    EXPECT_EQ(ours(-2.5), "-2.5");
    EXPECT_EQ(ours(1e-5), "1e-05");
    EXPECT_GT(check.tried, 5000);
    EXPECT_EQ(check.failed, 0);
}

TEST(WriteShortest, ArbitraryBitsAndQuotients) {
    Checker check;
    std::mt19937_64 rng(11);
    for (int i = 0; i < 200000; ++i) {
        std::uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isnan(v)) check(v);
        // Values a step computes: ratios of small integers, logits, probabilities.
        const double q = double(rng() % 100000) / double(1 + rng() % 1000);
        check(q);
        check(1.0 / (1.0 + std::exp(-q / 100.0)));
    }
    EXPECT_GT(check.tried, 590000);
    EXPECT_EQ(check.failed, 0);
}

} // namespace
