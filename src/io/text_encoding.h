// Text encodings of input files: UTF-8 checks and Windows-1252 to UTF-8, so that every text
// the program shows (listing, HTML, SVG) is valid UTF-8 whatever the file held.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace velloc::host {

// True when s is well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool isValidUtf8(std::string_view s);

// Appends s, read as Windows-1252, to out as UTF-8. The five bytes that code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same value.
void appendCp1252AsUtf8(std::string& out, std::string_view s);

// Length in bytes of s read as Windows-1252 and written as UTF-8.
std::size_t cp1252Utf8Length(std::string_view s);

} // namespace velloc::host
