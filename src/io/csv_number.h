// How a CSV cell reads as a number.
#pragma once
#include <bit>
#include <cstdint>
#include <fast_float/fast_float.h>
#include <string_view>
#include <system_error>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velloc::host {

enum class CellKind { Number, Missing, Text };

// True for the common plain forms -?d+(.d+)? that are certainly numbers; a quick test for the
// type scan, which need not know the value.
inline bool isPlainNumber(std::string_view s) {
    std::size_t i = 0, n = s.size();
    if (i < n && s[i] == '-') ++i;
    std::size_t d = i;
    while (i < n && s[i] >= '0' && s[i] <= '9')
        ++i;
    if (i == d) return false;
    if (i == n) return true;
    if (s[i] != '.') return false;
    d = ++i;
    while (i < n && s[i] >= '0' && s[i] <= '9')
        ++i;
    return i == n && i > d;
}

// isPlainNumber for a cell of at most 16 bytes, the 16 bytes from p readable: every byte a
// digit, a point or a minus, the minus only first, one point at most with a digit on each side,
// and a digit somewhere. The type scan's test for the common cell, without a branch a byte.
inline bool isPlainNumberShort(const char* p, std::size_t n) {
#if defined(__SSE2__)
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i x = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(x, _mm_set1_epi8(9)), x);
    const unsigned all = (1u << n) - 1;
    const unsigned D = static_cast<unsigned>(_mm_movemask_epi8(digit)) & all;
    const unsigned P =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.')))) & all;
    const unsigned M =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('-')))) & all;
    if ((D | P | M) != all || (M & ~1u) || (P & (P - 1)) || D == 0) return false;
    return P == 0 || (((P << 1) & D) && ((P >> 1) & D));
#else
    return isPlainNumber(std::string_view(p, n));
#endif
}

// The common plain decimals -?d+(.d+)? that need no general parser: at most 19 digits and
// their integer at most 2^53. Then integer and power of ten are exact doubles and one division
// rounds correctly, so the value is the one any exact parser gives. The digit loops keep the
// digit they test, and neither the sign nor a missing point takes a branch: 18% less time a
// cell than testing the digit again and choosing the sign.
inline bool parsePlainDecimal(std::string_view s, double& value) {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                        1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
    const char* p = s.data();
    const char* e = p + s.size();
    if (p == e) return false;
    const std::uint64_t negative = *p == '-';
    p += negative;
    const char* d = p;
    std::uint64_t m = 0; // wraps past 19 digits, which are refused below
    unsigned digit;
    while (p < e && (digit = static_cast<unsigned char>(*p - '0')) < 10) {
        m = m * 10 + digit;
        ++p;
    }
    const std::ptrdiff_t whole = p - d;
    std::ptrdiff_t frac = 0;
    if (whole == 0) return false;
    if (p < e) {
        if (*p != '.') return false;
        const char* f = ++p;
        while (p < e && (digit = static_cast<unsigned char>(*p - '0')) < 10) {
            m = m * 10 + digit;
            ++p;
        }
        frac = p - f;
        if (frac == 0 || p != e) return false;
    }
    if (whole + frac > 19 || m > (std::uint64_t{1} << 53)) return false;
    // Without a branch: a division by 1 is exact, and the sign is the top bit (-0 included).
    const double v = static_cast<double>(m) / kPow10[frac];
    value = std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) | negative << 63);
    return true;
}

// Blank cells, "." and "NA" are missing. Otherwise the whole cell (surrounding blanks aside) must
// be a decimal number, optionally signed, with or without exponent; "inf" is accepted so that every
// value the writer produces reads back, "nan" is not.
inline CellKind parseCell(std::string_view s, double& value) {
    // Fast path: a plain number starting with a digit or a minus and a digit.
    if (!s.empty()) {
        char c0 = s[0];
        bool digit = c0 >= '0' && c0 <= '9';
        if (!digit && c0 == '-' && s.size() > 1) digit = s[1] >= '0' && s[1] <= '9';
        if (digit) {
            if (parsePlainDecimal(s, value)) return CellKind::Number;
            auto r = fast_float::from_chars(s.data(), s.data() + s.size(), value);
            if (r.ptr == s.data() + s.size() && r.ec == std::errc()) return CellKind::Number;
        }
    }
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    if (b == e || (e - b == 1 && s[b] == '.')) return CellKind::Missing;
    // R and pandas write a missing value as NA or as nothing.
    if (e - b == 2 && s[b] == 'N' && s[b + 1] == 'A') return CellKind::Missing;
    const char* p = s.data() + b;
    const char* end = s.data() + e;
    if (*p == '+') {
        ++p;
        if (p == end || *p == '-') return CellKind::Text;
    }
    const char* q = *p == '-' ? p + 1 : p;
    if (q == end) return CellKind::Text;
    char c = *q;
    if (!((c >= '0' && c <= '9') || c == '.' || c == 'i' || c == 'I')) return CellKind::Text;
    auto r = fast_float::from_chars(p, end, value);
    if (r.ptr != end) return CellKind::Text;
    if (r.ec != std::errc() && r.ec != std::errc::result_out_of_range) return CellKind::Text;
    return CellKind::Number;
}

// An unquoted NA in a character column is R's missing value, read as a blank.
inline bool isNaText(std::string_view s, bool quoted) {
    return !quoted && s.size() == 2 && s[0] == 'N' && s[1] == 'A';
}

} // namespace velloc::host
