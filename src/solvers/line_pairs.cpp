#include "solvers/line_pairs.h"

#include <algorithm>
#include <functional>
#include <limits>

#include <fmt/format.h>

namespace velloc::host {

namespace {

constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max() / 4;

} // namespace

std::int64_t LinePairs::count() const {
    std::int64_t n = 0;
    for (std::int32_t r = 0; r < rows(); ++r)
        if (hasPairs(r)) n += hi[r] - lo[r];
    return n;
}

std::int64_t LinePairs::maxCost() const {
    std::int64_t m = 0;
    for (std::int32_t r = 0; r < rows(); ++r)
        if (hasPairs(r)) m = std::max({m, cost(r, lo[r]), cost(r, hi[r] - 1)});
    return m;
}

std::string LinePairs::check() const {
    if (lo.size() != rowAt.size() || hi.size() != rowAt.size())
        return fmt::format("{} rows but {} window starts and {} ends", rowAt.size(), lo.size(),
                           hi.size());
    // descents[c]: columns c' <= c that lie left of column c' - 1; a window is in order when
    // no descent falls inside it. One pass over the columns however many pairs there are.
    std::vector<std::int32_t> descents(colAt.size(), 0);
    for (std::size_t c = 1; c < colAt.size(); ++c)
        descents[c] = descents[c - 1] + (colAt[c] < colAt[c - 1]);
    for (std::int32_t r = 0; r < rows(); ++r) {
        if (!hasPairs(r)) continue;
        if (lo[r] < 0 || hi[r] > cols())
            return fmt::format("row {} has the window {} .. {}, outside 0 .. {}", r, lo[r],
                               hi[r] - 1, cols() - 1);
        if (descents[hi[r] - 1] != descents[lo[r]]) {
            std::int32_t c = lo[r] + 1;
            while (colAt[c] >= colAt[c - 1])
                ++c;
            return fmt::format("column {} lies left of column {} in the window of row {}", c,
                               c - 1, r);
        }
    }
    return {};
}

LinePricer::LinePricer(const LinePairs& pairs) : p_(pairs), split_(pairs.rows(), 0) {
    for (std::int32_t r = 0; r < p_.rows(); ++r) {
        if (!p_.hasPairs(r)) continue;
        const auto first = p_.colAt.begin() + p_.lo[r], last = p_.colAt.begin() + p_.hi[r];
        split_[r] = static_cast<std::int32_t>(std::lower_bound(first, last, p_.rowAt[r]) -
                                              p_.colAt.begin());
    }
    while (leaves_ < p_.cols())
        leaves_ *= 2;
    right_.assign(2 * static_cast<std::size_t>(leaves_), kNever);
    left_.assign(2 * static_cast<std::size_t>(leaves_), kNever);
}

void LinePricer::setColumnTerms(std::span<const std::int64_t> colTerm) {
    for (std::int32_t c = 0; c < p_.cols(); ++c) {
        const std::int64_t t = std::min(colTerm[c], kNever);
        right_[leaves_ + c] = p_.colAt[c] + t;
        left_[leaves_ + c] = -p_.colAt[c] + t;
    }
    for (std::int32_t k = leaves_ - 1; k >= 1; --k) {
        right_[k] = std::min(right_[2 * k], right_[2 * k + 1]);
        left_[k] = std::min(left_[2 * k], left_[2 * k + 1]);
    }
}

std::int64_t LinePricer::rangeMin(const std::vector<std::int64_t>& tree, std::int32_t a,
                                  std::int32_t b) const {
    std::int64_t m = std::numeric_limits<std::int64_t>::max();
    for (std::int64_t l = a + std::int64_t(leaves_), h = b + std::int64_t(leaves_); l < h;
         l >>= 1, h >>= 1) {
        if (l & 1) m = std::min(m, tree[l++]);
        if (h & 1) m = std::min(m, tree[--h]);
    }
    return m;
}

std::int64_t LinePricer::minReduced(std::int32_t r, std::int64_t rowTerm, std::int32_t a,
                                    std::int32_t b) const {
    std::int64_t best = std::numeric_limits<std::int64_t>::max();
    a = std::max(a, p_.lo[r]);
    b = std::min(b, p_.hi[r]);
    if (a >= b) return best;
    const std::int32_t s = std::clamp(split(r), a, b);
    if (s < b) best = std::min(best, rangeMin(right_, s, b) - (p_.rowAt[r] - rowTerm));
    if (a < s) best = std::min(best, rangeMin(left_, a, s) - (-p_.rowAt[r] - rowTerm));
    return best;
}

void LinePricer::violated(std::int32_t r, std::int64_t rowTerm, std::int64_t most,
                          std::vector<PricedPair>& out) const {
    if (!p_.hasPairs(r) || most <= 0) return;
    // Best-first descent over the canonical nodes of both ranges: a node enters the heap
    // with its subtree's smallest reduced cost, so leaves leave it in ascending order. A
    // node code is the tree index, with the left tree's nodes offset by 2 x leaves.
    const std::int64_t offset = 2 * std::int64_t(leaves_);
    const std::int64_t boundRight = p_.rowAt[r] - rowTerm, boundLeft = -p_.rowAt[r] - rowTerm;
    heap_.clear();
    auto value = [&](std::int64_t code) {
        return code >= offset ? left_[code - offset] - boundLeft : right_[code] - boundRight;
    };
    auto push = [&](std::int64_t code) {
        const std::int64_t v = value(code);
        if (v >= 0) return; // nothing below this node is violated
        heap_.push_back({v, code});
        std::push_heap(heap_.begin(), heap_.end(), std::greater<>());
    };
    auto canonical = [&](std::int32_t a, std::int32_t b, std::int64_t base) {
        for (std::int64_t l = a + std::int64_t(leaves_), h = b + std::int64_t(leaves_); l < h;
             l >>= 1, h >>= 1) {
            if (l & 1) push(base + l++);
            if (h & 1) push(base + --h);
        }
    };
    const std::int32_t s = split(r);
    canonical(s, p_.hi[r], 0);
    canonical(p_.lo[r], s, offset);
    std::int64_t found = 0;
    while (!heap_.empty() && found < most) {
        std::pop_heap(heap_.begin(), heap_.end(), std::greater<>());
        const auto [v, code] = heap_.back();
        heap_.pop_back();
        const std::int64_t k = code >= offset ? code - offset : code;
        const std::int64_t base = code - k;
        if (k >= leaves_) {
            out.push_back({v, static_cast<std::int32_t>(k - leaves_)});
            ++found;
        } else {
            push(base + 2 * k);
            push(base + 2 * k + 1);
        }
    }
}

} // namespace velloc::host
