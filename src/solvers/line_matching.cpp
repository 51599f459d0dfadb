#include "solvers/line_matching.h"

#include <algorithm>
#include <queue>

#include <fmt/format.h>

namespace velloc::host {
namespace {

// The first column at or after c not yet taken; taken columns point past themselves, with
// paths halved on the way.
class NextFree {
  public:
    explicit NextFree(std::int32_t n) : next_(static_cast<std::size_t>(n) + 1) {
        for (std::int32_t c = 0; c <= n; ++c)
            next_[c] = c;
    }
    std::int32_t find(std::int32_t c) {
        while (next_[c] != c) {
            next_[c] = next_[next_[c]];
            c = next_[c];
        }
        return c;
    }
    void take(std::int32_t c) { next_[c] = c + 1; }

  private:
    std::vector<std::int32_t> next_;
};

// The rows with pairs ordered by key[r] (a column index 0 .. cols), by counting: the rows of
// key k are rows[first[k]] .. rows[first[k + 1] - 1].
struct RowsByKey {
    std::vector<std::int32_t> first, rows;
    RowsByKey(const LinePairs& p, const std::vector<std::int32_t>& key)
        : first(static_cast<std::size_t>(p.cols()) + 2, 0) {
        for (std::int32_t r = 0; r < p.rows(); ++r)
            if (p.hasPairs(r)) ++first[key[r] + 1];
        for (std::size_t k = 1; k < first.size(); ++k)
            first[k] += first[k - 1];
        rows.resize(first.back());
        std::vector<std::int32_t> at(first.begin(), first.end() - 1);
        for (std::int32_t r = 0; r < p.rows(); ++r)
            if (p.hasPairs(r)) rows[at[key[r]]++] = r;
    }
};

} // namespace

LineMatching largestLineMatching(const LinePairs& p) {
    LineMatching m;
    m.colOfRow.assign(p.rows(), -1);
    m.rowOfCol.assign(p.cols(), -1);
    // Rows by ascending window end. A row whose window ends first has the fewest columns to
    // spare ahead, so it takes the first free one; no largest matching does better (the usual
    // exchange argument for runs).
    const RowsByKey byEnd(p, p.hi);
    NextFree free(p.cols());
    for (std::int32_t r : byEnd.rows) {
        const std::int32_t c = free.find(p.lo[r]);
        if (c >= p.hi[r]) continue;
        free.take(c);
        m.colOfRow[r] = c;
        m.rowOfCol[c] = r;
        ++m.size;
    }
    return m;
}

LineShortage lineShortage(const LinePairs& p, const LineMatching& m) {
    LineShortage s;
    s.row.assign(p.rows(), 0);
    s.col.assign(p.cols(), 0);
    std::vector<std::int32_t> stack;
    for (std::int32_t r = 0; r < p.rows(); ++r)
        if (p.hasPairs(r) && m.colOfRow[r] < 0) {
            s.row[r] = 1;
            stack.push_back(r);
        }
    // Each column is visited once: visited columns are skipped as taken ones are above.
    NextFree unvisited(p.cols());
    while (!stack.empty()) {
        const std::int32_t r = stack.back();
        stack.pop_back();
        for (std::int32_t c = unvisited.find(p.lo[r]); c < p.hi[r]; c = unvisited.find(c)) {
            unvisited.take(c);
            s.col[c] = 1;
            const std::int32_t next = m.rowOfCol[c];
            if (next < 0) {
                s.fault = fmt::format("column {} is free in reach of an unmatched row", c);
                return s;
            }
            if (!s.row[next]) {
                s.row[next] = 1;
                stack.push_back(next);
            }
        }
    }
    for (char x : s.row)
        s.rows += x;
    for (char x : s.col)
        s.cols += x;
    return s;
}

std::int32_t unservedRow(const LinePairs& p, std::int64_t demand,
                         std::span<const std::int64_t> capacity) {
    if (demand <= 0) return -1;
    const RowsByKey byStart(p, p.lo);
    // Waiting rows, the window that ends first on top, with the units they still need.
    struct Waiting {
        std::int32_t hi, row;
        std::int64_t left;
        bool operator<(const Waiting& o) const { return hi > o.hi || (hi == o.hi && row > o.row); }
    };
    std::priority_queue<Waiting> waiting;
    for (std::int32_t c = 0; c < p.cols(); ++c) {
        for (std::int32_t k = byStart.first[c]; k < byStart.first[c + 1]; ++k)
            waiting.push({p.hi[byStart.rows[k]], byStart.rows[k], demand});
        if (!waiting.empty() && waiting.top().hi <= c) return waiting.top().row;
        for (std::int64_t give = capacity[c]; give > 0 && !waiting.empty();) {
            Waiting w = waiting.top();
            waiting.pop();
            const std::int64_t units = std::min(give, w.left);
            give -= units;
            w.left -= units;
            if (w.left > 0) waiting.push(w);
        }
    }
    return waiting.empty() ? -1 : waiting.top().row;
}

} // namespace velloc::host
