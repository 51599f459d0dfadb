// Formatted values: the BEST w. and F w.d numeric formats and the $w. character format.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <fmt/format.h>

#include "io/csv_dataset.h"
#include "io/csv_number.h"

namespace velloc::host {

namespace {

std::string rightJustify(std::string s, int width) {
    if (static_cast<int>(s.size()) < width)
        s.insert(0, static_cast<std::size_t>(width) - s.size(), ' ');
    return s;
}

void stripTrailingZeros(std::string& s) {
    if (s.find('.') == std::string::npos) return;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
}

// A number as its shortest round-trip decimal digits: value = 0.digits x 10^exp. Formats
// round these digits half away from zero, so 0.25 shows as 0.3 in one decimal and 2.675 as
// 2.68 in two, as the user wrote them, whatever the binary value's last bits say.
struct Decimal {
    bool neg = false;
    std::string digits; // no leading zeros; empty for zero
    int exp = 0;

    explicit Decimal(double v) {
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
        std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
        if (!s.empty() && s[0] == '-') {
            neg = true;
            s.remove_prefix(1);
        }
        std::size_t e = s.find('e');
        for (char c : s.substr(0, e))
            if (c != '.') digits += c;
        exp = std::stoi(std::string(s.substr(e + 1))) + 1;
        while (!digits.empty() && digits.back() == '0')
            digits.pop_back();
        if (digits.empty()) exp = 0;
    }

    // Keeps the first `kept` digits, rounding half away from zero; a carry may add a digit.
    void round(int kept) {
        if (kept < 0) {
            digits.clear();
            return;
        }
        if (kept >= static_cast<int>(digits.size())) return;
        bool up = digits[static_cast<std::size_t>(kept)] >= '5';
        digits.resize(static_cast<std::size_t>(kept));
        if (up) {
            int i = kept - 1;
            while (i >= 0 && digits[static_cast<std::size_t>(i)] == '9')
                digits[static_cast<std::size_t>(i--)] = '0';
            if (i >= 0)
                ++digits[static_cast<std::size_t>(i)];
            else {
                digits.insert(digits.begin(), '1');
                ++exp;
            }
        }
        while (!digits.empty() && digits.back() == '0')
            digits.pop_back();
        if (digits.empty()) exp = 0;
    }

    // Fixed notation with d decimals (all of them written).
    std::string fixed(int d) const {
        Decimal x = *this;
        x.round(x.exp + d);
        std::string out = x.neg && !x.digits.empty() ? "-" : "";
        auto digit = [&](int k) { // k-th digit, 0-based, of 0.digits
            return k >= 0 && k < static_cast<int>(x.digits.size())
                       ? x.digits[static_cast<std::size_t>(k)]
                       : '0';
        };
        if (x.exp <= 0)
            out += '0';
        else
            for (int k = 0; k < x.exp; ++k)
                out += digit(k);
        if (d > 0) {
            out += '.';
            for (int k = 0; k < d; ++k)
                out += digit(x.exp + k);
        }
        return out;
    }

    // Scientific notation "d.dddE-x" with d decimals, trailing zeros dropped.
    std::string scientific(int d) const {
        Decimal x = *this;
        x.round(d + 1);
        if (x.digits.empty()) return "0";
        std::string out = x.neg ? "-" : "";
        out += x.digits[0];
        if (x.digits.size() > 1) {
            out += '.';
            out += x.digits.substr(1);
        }
        return out + "E" + std::to_string(x.exp - 1);
    }
};

// Fixed notation with as many decimals as fit in w; empty when the integer part does not fit.
std::string bestFixed(const Decimal& x, int w) {
    for (int d = std::max(0, w - 2); d >= 0; --d) {
        std::string s = x.fixed(d);
        if (static_cast<int>(s.size()) > w) continue;
        stripTrailingZeros(s);
        return s;
    }
    return {};
}

// Fixed notation without the leading zero of a fraction (".25"), for narrow widths.
std::string bestFraction(const Decimal& x, int w) {
    if (x.exp > 0) return {};
    std::string s = bestFixed(x, w + 1);
    std::size_t z = s.find("0.");
    if (z == std::string::npos || z > 1) return {};
    s.erase(z, 1);
    if (static_cast<int>(s.size()) > w) return {};
    return s;
}

// Scientific notation with as many mantissa digits as fit in w.
std::string bestScientific(const Decimal& x, int w) {
    for (int d = w; d >= 0; --d) {
        std::string s = x.scientific(d);
        if (static_cast<int>(s.size()) <= w) return s;
    }
    return {};
}

double readBack(const std::string& s) {
    double x = 0;
    if (s.empty() || parseCell(s, x) != CellKind::Number) return NAN;
    return x;
}

} // namespace

std::string formatBest(double v, int width) {
    int w = width < 1 ? 12 : width;
    if (std::isnan(v)) return rightJustify(".", w);
    if (v == 0) return rightJustify("0", w);
    if (std::isinf(v)) return std::string(static_cast<std::size_t>(w), '*');
    // Integers print whole when they fit.
    if (std::fabs(v) < 1e17 && v == std::trunc(v)) {
        // Exact: below 1e17 an integral double is a 64-bit integer (CLASS levels are mostly
        // small ones, formatted for every row).
        char digits[24];
        const auto end =
            std::to_chars(digits, digits + sizeof digits, static_cast<std::int64_t>(v)).ptr;
        const int n = static_cast<int>(end - digits);
        if (n <= w) {
            std::string out(static_cast<std::size_t>(w - n), ' '); // right-justified
            out.append(digits, end);
            return out;
        }
    }
    // Otherwise the form closest to the value wins; fixed notation on a tie.
    // A fraction drops its leading zero only when that zero leaves no room for a decimal.
    Decimal x(v);
    std::string fixed = bestFixed(x, w);
    std::string fraction =
        fixed.find('.') == std::string::npos ? bestFraction(x, w) : std::string();
    std::string cand[3] = {fixed, bestScientific(x, w), fraction};
    const std::string* best = nullptr;
    double bestErr = 0;
    for (const std::string& s : cand) {
        double x = readBack(s);
        if (std::isnan(x)) continue;
        double err = std::fabs(x - v);
        if (!best || err < bestErr) {
            best = &s;
            bestErr = err;
        }
    }
    if (!best) return std::string(static_cast<std::size_t>(w), '*');
    return rightJustify(*best, w);
}

namespace {

std::string formatFixed(double v, int w, int d) {
    if (std::isnan(v)) return rightJustify(".", w);
    std::string s = Decimal(v).fixed(d);
    if (static_cast<int>(s.size()) > w) return formatBest(v, w);
    return rightJustify(s, w);
}

} // namespace

std::string formatValue(const Variable& v, double num, std::string_view text) {
    if (v.type == VarType::Character) {
        if (v.format == "$" && v.formatWidth > 0 && static_cast<int>(text.size()) > v.formatWidth)
            text = text.substr(0, static_cast<std::size_t>(v.formatWidth));
        return std::string(text);
    }
    if (v.format == "F") return formatFixed(num, v.formatWidth, v.formatDecimals);
    return formatBest(num, v.format == "BEST" ? v.formatWidth : 12);
}

} // namespace velloc::host
