// The shortest decimal text of a double that reads back to it, as fmt's "{}" writes it, with a
// fast path for the values data sets are mostly made of: numbers with few decimals.
#pragma once

namespace velloc::host {

// Writes the text of v at out (at most 32 characters, no terminator) and returns its end.
// Identical to fmt::format_to(out, "{}", v) for every double.
char* writeShortest(double v, char* out);

} // namespace velloc::host
