// Shared pieces of the optimal methods: growable plain arrays for the pair and arc lists, the
// admissible-pair scan over each treated unit's caliper window, the solver outcome and the
// reset of an earlier attempt's sets.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>
#include <type_traits>
#include <vector>

#include "solvers/line_pairs.h"

namespace velloc {

struct VlcRun;

// A plain array grown with realloc, so that a large block is remapped rather than copied and
// the untouched capacity costs no memory. Growth failure throws std::bad_alloc.
template <class T> class GrowArray {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    GrowArray() = default;
    GrowArray(const GrowArray&) = delete;
    GrowArray& operator=(const GrowArray&) = delete;
    ~GrowArray() { std::free(data_); }

    void reserve(std::int64_t n) {
        if (n <= cap_) return;
        if (n > PTRDIFF_MAX / static_cast<std::int64_t>(sizeof(T))) throw std::bad_alloc();
        void* p = std::realloc(data_, static_cast<std::size_t>(n) * sizeof(T));
        if (!p) throw std::bad_alloc();
        data_ = static_cast<T*>(p);
        cap_ = n;
    }
    // Doubling from 100 entries.
    void push(T v) {
        if (size_ == cap_) reserve(cap_ < 100 ? 100 : 2 * cap_);
        data_[size_++] = v;
    }
    void resize(std::int64_t n) {
        reserve(n);
        size_ = n;
    }
    void release() {
        std::free(data_);
        data_ = nullptr;
        size_ = cap_ = 0;
    }
    T& operator[](std::int64_t k) { return data_[k]; }
    const T& operator[](std::int64_t k) const { return data_[k]; }
    std::int64_t size() const { return size_; }
    std::span<const T> span() const { return {data_, static_cast<std::size_t>(size_)}; }

  private:
    T* data_ = nullptr;
    std::int64_t size_ = 0, cap_ = 0;
};

// The admissible pairs of the BY group, in treated-file order and, within a treated unit, in
// control order: tail i (the treated unit's position), head colBase + j, cost the distance.
struct PairList {
    GrowArray<std::int32_t> tail, head;
    GrowArray<double> cost;
    std::vector<std::int32_t> markTrt, markCtl; // 1 when the unit has an admissible pair
};

// Scans the treated file and appends every admissible pair. Throws std::bad_alloc when the
// lists cannot grow; returns non-zero when the control file cannot be read.
int collectPairs(VlcRun& run, std::int64_t colBase, PairList& pairs);

// The admissible pairs of a score distance (PS or LPS) as pairs on a line: row i is treated
// unit i, column c is control `control[c]`; the positions are the distance-scale scores on
// an integer grid of `scale` steps a unit.
struct ScoreLine {
    host::LinePairs pairs;
    std::vector<std::int32_t> control;
    std::vector<double> rowDist, colDist; // distance-scale scores, for the reported distances
    std::vector<std::int32_t> markCtl;    // per control: 1 when some treated unit may take it
    double scale = 1e9;
    // The distance of pair (i, c), as the listed pairs compute it.
    double distance(std::int32_t i, std::int32_t c) const {
        return std::fabs(rowDist[i] - colDist[c]);
    }
};

enum ScoreLineOutcome { kLineBuilt = 0, kLineListPairs = 1, kLineReadFailed = 2 };

// Builds the line unless the pairs are to be listed: a Mahalanobis distance, EXACT= values
// that are not whole numbers, or fewer admissible pairs than run.pairListLimit.
int scoreLine(VlcRun& run, ScoreLine& line);

// The optimal methods on a built line. Fixed ratio: K controls for each treated unit with
// pairs, or a largest such match of least cost; `assigned` is the number of pairs made.
// Variable ratio and full matching: n controls in all. A match status; kMatchOk when sets
// were joined. Throws std::bad_alloc.
int lapOnLine(VlcRun& run, const ScoreLine& line, int k, std::int64_t& assigned);
int mcfOnLine(VlcRun& run, const ScoreLine& line, std::int64_t n);

// Records the network service's status as solverOutcome (0 optimal, 1 to be checked by
// vlcfeas, 2 no usable result). Returns false when there is no result to read.
bool recordSolverOutcome(VlcRun& run, int status);

// Clears the sets of an earlier attempt.
void clearSets(VlcRun& run);

} // namespace velloc
