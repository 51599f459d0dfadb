// Small host services: symbols, the clock, upper-casing, trimming and cutting text.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velloc::host {

// Host symbols live for the whole session (across procedure steps).
void xjsympn(std::string_view name, std::string_view value);
std::optional<std::string> symget(std::string_view name);

// Current date-time in seconds (fractional), as the host counts it.
double wzdttme();

// Upper-cases ASCII letters in place.
void wzstrup(std::string& text);

// The text without its leading and trailing blanks.
std::string trimBlanks(std::string_view text);

// UTF-8 text cut to at most maxBytes bytes between characters, never inside one; bytes that do
// not form a character become U+FFFD, so what comes out is always valid UTF-8.
std::string cutText(std::string_view text, std::size_t maxBytes = std::string_view::npos);

// Names as a reader lists them: "a", "a and b", "a, b and c".
std::string listWithAnd(const std::vector<std::string>& names);

} // namespace velloc::host
