// Random pairs on a line for the solver tests.
#pragma once
#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "solvers/line_pairs.h"

namespace velloc::host {

// Columns in blocks, each block sorted by position (positions from a small range, so ties
// are common); each row's window a random run of one block, sometimes empty.
inline LinePairs randomLine(std::mt19937_64& rng, int rows, int cols, int spread) {
    std::uniform_int_distribution<std::int64_t> pos(0, spread);
    LinePairs p;
    p.colAt.resize(cols);
    std::vector<int> blockStart = {0};
    for (int c = 1; c < cols; ++c)
        if (rng() % 4 == 0) blockStart.push_back(c);
    blockStart.push_back(cols);
    for (std::size_t b = 0; b + 1 < blockStart.size(); ++b) {
        for (int c = blockStart[b]; c < blockStart[b + 1]; ++c)
            p.colAt[c] = pos(rng);
        std::sort(p.colAt.begin() + blockStart[b], p.colAt.begin() + blockStart[b + 1]);
    }
    for (int r = 0; r < rows; ++r) {
        p.rowAt.push_back(pos(rng));
        const std::size_t b = rng() % (blockStart.size() - 1);
        const int a = blockStart[b], e = blockStart[b + 1];
        int lo = a + static_cast<int>(rng() % (e - a + 1));
        int hi = lo + static_cast<int>(rng() % (e - lo + 1));
        if (rng() % 8 == 0) hi = lo; // an empty caliper window
        p.lo.push_back(lo);
        p.hi.push_back(hi);
    }
    return p;
}

} // namespace velloc::host
