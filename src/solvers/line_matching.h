// Largest matchings of rows to the columns of their windows, without costs. On a line every
// window is a run of columns, so a greedy pass finds a largest matching, and one alternating
// search splits the rows into those every largest matching covers and those it may leave out.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "solvers/line_pairs.h"

namespace velloc::host {

struct LineMatching {
    std::vector<std::int32_t> colOfRow; // -1 unmatched (always for rows without pairs)
    std::vector<std::int32_t> rowOfCol; // -1 unmatched
    std::int64_t size = 0;
};

// A largest matching: rows taken by ascending window end, each given the first free column
// of its window. O((rows + columns) log* columns).
LineMatching largestLineMatching(const LinePairs& pairs);

// The rows with pairs that some largest matching leaves out (those reachable from an
// unmatched row by alternating paths: a row's window columns, a column's matched row) and the
// columns of their windows. Every largest matching matches each of these columns to one of
// these rows, and every other row with pairs to a column outside the set, so the two parts
// can be solved apart.
struct LineShortage {
    std::vector<char> row, col;
    std::int64_t rows = 0, cols = 0;
    std::string fault; // not empty when `matching` was not a largest one
};

LineShortage lineShortage(const LinePairs& pairs, const LineMatching& matching);

// A row with pairs whose demand cannot be met when every row with pairs needs `demand` units
// from the columns of its window and column c gives at most capacity[c] units in all (a row
// may take several units of one column here); -1 when all can be met at once. Columns are taken
// in order, each giving its units to the waiting rows whose windows end first, which is a
// largest assignment on windows that are runs. A flow that also holds a row to at most one unit
// a column needs this much, so a row found here proves that flow impossible. O((rows +
// columns) log rows).
std::int32_t unservedRow(const LinePairs& pairs, std::int64_t demand,
                         std::span<const std::int64_t> capacity);

} // namespace velloc::host
