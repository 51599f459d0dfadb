// How a CSV cell reads as a number.
#pragma once
#include <fast_float/fast_float.h>
#include <string_view>
#include <system_error>

namespace velloc::host {

enum class CellKind { Number, Missing, Text };

// Blank cells and "." are missing. Otherwise the whole cell (surrounding blanks aside) must be
// a decimal number, optionally signed, with or without exponent; "inf" is accepted so that
// every value the writer produces reads back, "nan" is not.
inline CellKind parseCell(std::string_view s, double& value) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    if (b == e || (e - b == 1 && s[b] == '.')) return CellKind::Missing;
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

} // namespace velloc::host
