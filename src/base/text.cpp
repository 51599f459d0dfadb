#include "base/text.h"

#include "base/run_state.h"

#include <algorithm>
#include <chrono>
#include <map>

namespace velloc::host {

namespace {
std::map<std::string, std::string, std::less<>>& symbols() {
    return currentRunState().symbols;
}
std::string upper(std::string_view s) {
    std::string u(s);
    wzstrup(u);
    return u;
}
} // namespace

void xjsympn(std::string_view name, std::string_view value) {
    symbols()[upper(name)] = std::string(value);
}

std::optional<std::string> symget(std::string_view name) {
    auto it = symbols().find(upper(name));
    if (it == symbols().end()) return std::nullopt;
    return it->second;
}

double wzdttme() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

void wzstrup(std::string& text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

std::string trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

namespace {

// Length of the well-formed character at the start of s, or 0 when its first byte starts none.
std::size_t characterLength(std::string_view s) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = at(0);
    if (c < 0x80) return 1;
    std::size_t n = c >= 0xC2 && c <= 0xDF   ? 2
                    : c >= 0xE0 && c <= 0xEF ? 3
                    : c >= 0xF0 && c <= 0xF4 ? 4
                                             : 0;
    if (n == 0 || s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((at(i) & 0xC0) != 0x80) return 0;
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    if ((c == 0xE0 && at(1) < 0xA0) || (c == 0xED && at(1) > 0x9F) || (c == 0xF0 && at(1) < 0x90) ||
        (c == 0xF4 && at(1) > 0x8F))
        return 0;
    return n;
}

} // namespace

std::string cutText(std::string_view text, std::size_t maxBytes) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = characterLength(text.substr(i));
        const std::string_view piece = n ? text.substr(i, n) : kReplacement;
        if (out.size() + piece.size() > maxBytes) break;
        out += piece;
        i += n ? n : 1;
    }
    return out;
}

std::string listWithAnd(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i)
        out += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return out;
}

} // namespace velloc::host
