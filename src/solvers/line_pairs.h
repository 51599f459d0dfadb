// Pairs of units placed on a line, priced without listing them. Rows (treated units) and
// columns (controls) have integer positions; row r may pair with the columns of one window,
// a run of columns sorted by position, at cost |position(column) - position(row)|. A pair's
// reduced cost then splits by side: for a column at or right of the row it is
// (colAt + colTerm) - (rowAt - rowTerm), for a column left of it (-colAt + colTerm) -
// (-rowAt - rowTerm), so the most violated pairs of a row are the smallest keys of a range,
// found in a tree of range minima.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace velloc::host {

struct LinePairs {
    std::vector<std::int64_t> rowAt; // position of each row
    std::vector<std::int64_t> colAt; // position of each column, ascending within every window
    // Row r's window is the columns lo[r] .. hi[r] - 1; empty when lo[r] >= hi[r].
    std::vector<std::int32_t> lo, hi;

    std::int32_t rows() const { return static_cast<std::int32_t>(rowAt.size()); }
    std::int32_t cols() const { return static_cast<std::int32_t>(colAt.size()); }
    bool hasPairs(std::int32_t r) const { return lo[r] < hi[r]; }
    std::int64_t cost(std::int32_t r, std::int32_t c) const {
        const std::int64_t d = colAt[c] - rowAt[r];
        return d < 0 ? -d : d;
    }
    // The number of pairs (sum of the window lengths).
    std::int64_t count() const;
    // The largest pair cost (0 without pairs): the window's ends are its farthest columns.
    std::int64_t maxCost() const;
    // An empty string when the arrays agree in length, windows lie inside the columns and
    // positions ascend within each window; else what is wrong.
    std::string check() const;
};

// A pair of a row's window with its reduced cost.
struct PricedPair {
    std::int64_t reduced;
    std::int32_t col;
};

// Reduced costs cost(r, c) + rowTerm + colTerm[c] of every pair, from per-column terms set
// once a round. Not thread-safe for concurrent use of one instance.
class LinePricer {
  public:
    explicit LinePricer(const LinePairs& pairs);

    // Sets colTerm[c] for every column (a term that makes every pair of a column
    // non-violated may be a large value such as INT64_MAX / 4).
    void setColumnTerms(std::span<const std::int64_t> colTerm);

    // Appends the at most `most` pairs of row r with reduced cost below 0, the most negative
    // first (ties by column). O((most + 1) log n).
    void violated(std::int32_t r, std::int64_t rowTerm, std::int64_t most,
                  std::vector<PricedPair>& out) const;

    // The smallest reduced cost of row r's pairs with the columns a .. b - 1 (INT64_MAX when
    // there are none), by range-minimum queries: the check that no pair there is violated.
    std::int64_t minReduced(std::int32_t r, std::int64_t rowTerm, std::int32_t a,
                            std::int32_t b) const;

  private:
    // The first column of row r's window at or right of its position.
    std::int32_t split(std::int32_t r) const { return split_[r]; }
    std::int64_t rangeMin(const std::vector<std::int64_t>& tree, std::int32_t a,
                          std::int32_t b) const;

    const LinePairs& p_;
    std::vector<std::int32_t> split_;
    std::int32_t leaves_ = 1;
    // Two trees of range minima over the columns: right keys colAt + colTerm, left keys
    // -colAt + colTerm; node k has children 2k and 2k + 1, leaf c is node leaves_ + c.
    std::vector<std::int64_t> right_, left_;
    mutable std::vector<std::pair<std::int64_t, std::int64_t>> heap_;
};

} // namespace velloc::host
