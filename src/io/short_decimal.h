// The shortest decimal text of a double that reads back to it, as fmt's "{}" writes it, with a
// fast path for the values data sets are mostly made of: numbers with few decimals.
#pragma once

namespace velloc::host {

// Writes the text of v at out (no terminator) and returns its end. out needs room for 32
// characters: the text is at most 24, and bytes after it, up to 32, may be overwritten.
// Identical to fmt::format_to(out, "{}", v) for every double.
char* writeShortest(double v, char* out);

} // namespace velloc::host
