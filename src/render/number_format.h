// Number and text formatting shared by the renderers.
#pragma once
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "render/output.h"

namespace velloc::host {

// A number for the listing and the HTML report: "." when missing; fixed decimals when the format
// gives them (an integer format shows a non-integral value with 4 decimals rather than hide it);
// otherwise the best short form (integers plainly, else 8 significant digits). Never "-0".
std::string formatNumber(double v, const NumberFormat& f);

// A number for CSV: empty when missing, else the shortest text that reads back exactly.
std::string formatExact(double v);

// A text cell with its trailing blanks dropped (the procedure's buffers are blank-padded).
std::string trimRight(std::string_view s);

// A dynamic's value as text (numbers in their best short form).
std::string dynamicText(const DynValue& v);

// Display width of UTF-8 text, counting code points.
std::size_t displayWidth(std::string_view s);

} // namespace velloc::host

namespace velloc::host {

// Text for HTML and SVG: markup characters as entities, control characters (not allowed in
// XML 1.0) as spaces, bytes that are not UTF-8 as U+FFFD.
std::string escapeMarkup(std::string_view s);

// A name for a file: every character outside letters, digits, '_' and '-' becomes '_'.
std::string safeFileName(std::string_view name);

// Writes a whole file through a temporary name in the same folder and renames it into place, so
// a reader never sees half a file. On failure logs the file and the reason and returns false.
bool writeAtomically(const std::string& path, std::string_view content);
// The same for content written piece by piece; write returns false when it cannot go on.
bool writeAtomically(const std::string& path, const std::function<bool(std::ostream&)>& write);

} // namespace velloc::host
