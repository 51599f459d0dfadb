// Column groups of a table too wide for a printed page: the listing and the HTML report cut it
// into blocks of columns, each repeating the columns that name a row.
#pragma once
#include <cstddef>
#include <vector>

#include "render/templates.h"

namespace velloc::host {

// Printed width of the listing (characters) and of the HTML report (characters of its 8-point
// print type, cell padding counted as the gap): what an A4 or Letter page holds in portrait.
inline constexpr std::size_t kListingPageWidth = 100;
inline constexpr std::size_t kHtmlPageWidth = 100;

// The leading columns that name a row: the text columns (Variable, Level) and every column
// before the first spanned block (a Stratum number). They repeat in every group; none when they
// are the whole table, fewer when they would leave less than half the page to the rest.
std::size_t rowLabelColumns(const TableLayout& lay, const std::vector<std::size_t>& widths,
                            std::size_t budget, std::size_t gap);

// Splits the columns after the first `labels` into groups whose width (the label columns, the
// group's own columns and `gap` between any two) stays within `budget`. A block under one
// spanning header stays in one group when it fits on a page; a column wider than the page
// gets a group of its own. Each group lists column indices, the label columns first; a table
// that fits is one group of every column.
std::vector<std::vector<std::size_t>> columnGroups(const std::vector<std::size_t>& widths,
                                                   std::size_t labels,
                                                   const std::vector<LayoutSpan>& spans,
                                                   std::size_t budget, std::size_t gap);

// The spans over a group's columns, renumbered to the group's positions; a span the group cuts
// keeps the part inside it.
std::vector<LayoutSpan> groupSpans(const std::vector<LayoutSpan>& spans,
                                   const std::vector<std::size_t>& group);

} // namespace velloc::host
