#include "host/misc.h"

#include <chrono>
#include <map>

namespace velloc::host {

namespace {
std::map<std::string, std::string, std::less<>>& symbols() {
    static std::map<std::string, std::string, std::less<>> table;
    return table;
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

} // namespace velloc::host
