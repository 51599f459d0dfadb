#include "io/short_decimal.h"

#include <fmt/compile.h>
#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace velloc::host {

namespace {

constexpr int kMaxDecimals = 9;
constexpr double kPow10[kMaxDecimals + 1] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
constexpr std::uint64_t kPow10Int[kMaxDecimals + 1] = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

// Per biased binary exponent, the most decimals k <= kMaxDecimals with 10^k * ulp < 1, or -1.
struct DecimalsTable {
    signed char k[2048];
    DecimalsTable() {
        for (int be = 0; be < 2048; ++be) {
            const double ulp = std::ldexp(1.0, be - 1075); // of a normal with this exponent
            int d = kMaxDecimals;
            while (d >= 0 && kPow10[d] * ulp >= 1.0)
                --d;
            k[be] = static_cast<signed char>(d);
        }
    }
};
const DecimalsTable kDecimals;

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536"
    "37383940414243444546474849505152535455565758596061626364656667686970717273"
    "74757677787980818283848586878889909192939495969798990";

// r / 10^k in fixed form, with the sign of v: digits from the right, two at a time (each
// division waits on the one before), so that the point and the zeros after it fall out of
// the same loop.
char* writeScaled(std::uint64_t r, int k, bool negative, char* out) {
    // At most 18 characters (r < 2^53, k <= 9) end at text + kLongest, and kLongest bytes are
    // copied whatever the length: one fixed-size copy rather than a call for a variable one.
    constexpr std::size_t kLongest = 24;
    char text[2 * kLongest];
    char* const end = text + kLongest;
    char* p = end;
    int i = 0;
    for (; i + 2 <= k; i += 2) {
        p -= 2;
        std::memcpy(p, kPairs + 2 * (r % 100), 2);
        r /= 100;
    }
    if (i < k) {
        *--p = static_cast<char>('0' + r % 10);
        r /= 10;
    }
    if (k > 0) *--p = '.';
    while (r >= 100) {
        p -= 2;
        std::memcpy(p, kPairs + 2 * (r % 100), 2);
        r /= 100;
    }
    if (r >= 10) {
        p -= 2;
        std::memcpy(p, kPairs + 2 * r, 2);
    } else {
        *--p = static_cast<char>('0' + r);
    }
    if (negative) *--p = '-';
    std::memcpy(out, p, kLongest);
    return out + (end - p);
}

// The fast path: |v| in [1e-4, 2^52) written with at most kMaxDecimals decimals. Returns
// nullptr when v needs more, or another form (an exponent), for the general writer.
//
// With k decimals chosen so that 10^k * ulp(v) < 1, the reals that round to v span less than
// one unit of 10^-k: at most one k-decimal number reads back as v. When r = round(v * 10^k)
// is that number (r / 10^k, both exact, divides with the rounding a reader applies), r with
// its trailing zeros dropped has the fewest decimals, hence the fewest digits, of any text
// that reads back as v: a shorter one would be a second k-decimal number after padding.
char* writeFewDecimals(double v, char* out) {
    const double a = std::fabs(v);
    if (!(a >= 9e-5 && a < 4503599627370496.0 /* 2^52 */)) return nullptr;
    if (a >= 1.0) { // whole numbers (counts, codes, identifiers) need no search
        const auto whole = static_cast<std::uint64_t>(a);
        if (static_cast<double>(whole) == a) return writeScaled(whole, 0, std::signbit(v), out);
    }
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    int k = kDecimals.k[bits >> 52];
    if (k < 0) return nullptr;
    // Rounded to an integer by the addition (below 2^52; from there on doubles are integers).
    constexpr double kTwo52 = 4503599627370496.0;
    const double product = a * kPow10[k];
    const double scaled = product < kTwo52 ? (product + kTwo52) - kTwo52 : product;
    if (scaled / kPow10[k] != a) return nullptr;
    auto r = static_cast<std::uint64_t>(scaled);
    while (k >= 2 && r % 100 == 0) {
        r /= 100;
        k -= 2;
    }
    if (k >= 1 && r % 10 == 0) {
        r /= 10;
        --k;
    }
    // The shortest form below 1e-4 takes an exponent.
    if (k >= 4 && r < kPow10Int[k - 4]) return nullptr;
    return writeScaled(r, k, std::signbit(v), out);
}

} // namespace

char* writeShortest(double v, char* out) {
    if (v == 0.0) {
        if (std::signbit(v)) *out++ = '-';
        *out++ = '0';
        return out;
    }
    if (char* end = writeFewDecimals(v, out)) return end;
    return fmt::format_to(out, FMT_COMPILE("{}"), v);
}

} // namespace velloc::host
