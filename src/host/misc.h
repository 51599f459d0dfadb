// Small host services: symbols, the clock, upper-casing.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace velloc::host {

// Host symbols live for the whole program run (across procedure steps).
void xjsympn(std::string_view name, std::string_view value);
std::optional<std::string> symget(std::string_view name);

// Current date-time in seconds (fractional), as the host counts it.
double wzdttme();

// Upper-cases ASCII letters in place.
void wzstrup(std::string& text);

// The text without its leading and trailing blanks.
std::string trimBlanks(std::string_view text);

} // namespace velloc::host
