// Formatted values: the BEST w. and F w.d numeric formats and the $w. character format.
#include <cmath>
#include <fmt/format.h>

#include "host/csv_dataset.h"
#include "host/csv_number.h"

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

// Fixed notation with as many decimals as fit in w; empty when the integer part does not fit.
std::string bestFixed(double v, int w) {
    for (int d = w; d >= 0; --d) {
        std::string s = fmt::format("{:.{}f}", v, d);
        if (static_cast<int>(s.size()) > w) continue;
        stripTrailingZeros(s);
        if (s == "-0") s = "0";
        return s;
    }
    return {};
}

// Fixed notation without the leading zero of a fraction (".25"), for narrow widths.
std::string bestFraction(double v, int w) {
    if (std::fabs(v) >= 1) return {};
    std::string s = bestFixed(v, w + 1);
    std::size_t z = s.find("0.");
    if (z == std::string::npos || z > 1) return {};
    s.erase(z, 1);
    if (static_cast<int>(s.size()) > w) return {};
    return s;
}

// Scientific notation "1.2345E-10" with as many mantissa digits as fit in w.
std::string bestScientific(double v, int w) {
    for (int d = w; d >= 0; --d) {
        std::string s = fmt::format("{:.{}E}", v, d);
        std::size_t e = s.find('E');
        std::string mant = s.substr(0, e);
        int exp = std::stoi(s.substr(e + 1));
        stripTrailingZeros(mant);
        std::string out = mant + "E" + std::to_string(exp);
        if (static_cast<int>(out.size()) <= w) return out;
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
        std::string s = fmt::format("{:.0f}", v);
        if (static_cast<int>(s.size()) <= w) return rightJustify(s, w);
    }
    // Otherwise the form closest to the value wins; fixed notation on a tie.
    std::string cand[3] = {bestFixed(v, w), bestFraction(v, w), bestScientific(v, w)};
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
    std::string s = fmt::format("{:.{}f}", v, d);
    if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-') s.erase(0, 1);
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
