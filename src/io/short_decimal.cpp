#include "io/short_decimal.h"

#include <fmt/compile.h>
#include <fmt/format.h>

#include <bit>
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

// x < 10^8 as eight decimal digits, the first in the lowest byte (so first in memory), each
// 0-9 rather than ASCII. The digits are split in parallel within one word: two halves of four
// in 32-bit lanes, each into two pairs in 16-bit lanes, each pair into two bytes; the
// multiply-shift quotients are exact over those ranges (x / 100 for x < 10^4, x / 10 for
// x < 100). Instead of a chain of dependent divisions, one per pair.
inline std::uint64_t eightDigits(std::uint32_t x) {
    std::uint64_t v = (x / 10000) | (static_cast<std::uint64_t>(x % 10000) << 32);
    std::uint64_t q = ((v * 10486) >> 20) & 0x0000007F0000007FULL;
    v = q | ((v - q * 100) << 16);
    q = ((v * 103) >> 10) & 0x000F000F000F000FULL;
    return q | ((v - q * 10) << 8);
}

constexpr std::uint64_t kAsciiZeros = 0x3030303030303030ULL;

// n in decimal at p; returns the end. Writes up to 16 bytes past p whatever n's length.
char* writeWhole(std::uint64_t n, char* p) {
    if (n < 10) {
        *p = static_cast<char>('0' + n);
        return p + 1;
    }
    if (n >= 100000000) { // below 2^53: the part above 10^8 has eight digits at most
        p = writeWhole(n / 100000000, p);
        const std::uint64_t w =
            eightDigits(static_cast<std::uint32_t>(n % 100000000)) + kAsciiZeros;
        std::memcpy(p, &w, 8);
        return p + 8;
    }
    const std::uint64_t d = eightDigits(static_cast<std::uint32_t>(n));
    // The leading zero digits are the lowest zero bytes; n >= 10 leaves at least two digits.
    const int lead = std::countr_zero(d) / 8;
    const std::uint64_t w = (d + kAsciiZeros) >> (8 * lead);
    std::memcpy(p, &w, 8);
    return p + (8 - lead);
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
    char* p = out;
    *p = '-';
    p += std::signbit(v) ? 1 : 0;
    if (a >= 1.0) { // whole numbers (counts, codes, identifiers) need no search
        const auto whole = static_cast<std::uint64_t>(a);
        if (static_cast<double>(whole) == a) return writeWhole(whole, p);
    }
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const int k = kDecimals.k[bits >> 52];
    if (k < 0) return nullptr;
    // Rounded to an integer by the addition (below 2^52; from there on doubles are integers).
    constexpr double kTwo52 = 4503599627370496.0;
    const double product = a * kPow10[k];
    const double scaled = product < kTwo52 ? (product + kTwo52) - kTwo52 : product;
    if (scaled / kPow10[k] != a) return nullptr;
    // r / 10^k lies less than 10^-k below a's next integer (10^k ulp < 1), so a's whole part
    // is r's; a whole a went above, so the decimals are not all zero.
    const auto whole = static_cast<std::uint64_t>(a);
    const auto r = static_cast<std::uint64_t>(scaled);
    // The decimals padded to nine: the first digit, then eight.
    const std::uint64_t frac = (r - whole * kPow10Int[k]) * kPow10Int[kMaxDecimals - k];
    // The shortest form below 1e-4 takes an exponent.
    if (whole == 0 && frac < 100000) return nullptr;
    const auto first = static_cast<std::uint32_t>(frac / 100000000);
    const std::uint64_t rest = eightDigits(static_cast<std::uint32_t>(frac % 100000000));
    // Trailing zero digits are the highest zero bytes of rest.
    const int len = rest == 0 ? 1 : 9 - std::countl_zero(rest) / 8;
    p = writeWhole(whole, p);
    p[0] = '.';
    p[1] = static_cast<char>('0' + first);
    const std::uint64_t ascii = rest + kAsciiZeros;
    std::memcpy(p + 2, &ascii, 8);
    return p + 1 + len;
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
