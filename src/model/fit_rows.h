// What every pass of the logistic fit reads its rows with: which rows enter the fit, the
// cached rows' design columns, and a reader of a range of records for a thread of its own.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/cores.h"
#include "base/missing.h"
#include "core/model_rows.h"
#include "model/fit_records.h"
#include "model/logistic.h"

namespace velloc::fitrows {

inline bool anyMissing(const double* x, int n) {
    for (int i = 0; i < n; ++i)
        if (host::isMissing(x[i])) return true;
    return false;
}

// Treatment group of a row: round(y), -1 when there is none.
inline int groupOf(double y) {
    if (!(y + 0.5 >= 0.0)) return -1;
    return static_cast<int>(y + 0.5);
}

// Whether a row enters the fit (a group of 0 or 1, a positive weight, no missing design
// value), with its weight f x w and group.
inline bool usableRow(const double* rec, int D, double& w, int& k) {
    w = rec[kRowFreq] * rec[kRowWeight];
    k = groupOf(rec[kRowTreat]);
    return k >= 0 && k <= 1 && w > 0.0 && !anyMissing(rec + kRowDesign, D);
}

// Records from .. to - 1 of the fit's rows, in order: where they lie when the rows are in
// memory, else read by number a chunk at a time, so each thread can walk a range of its own.
class RecordRange {
  public:
    RecordRange(const VlcFit& fit, std::size_t from, std::size_t to)
        : fit_(fit), stride_(static_cast<std::size_t>(fit.rows->recordDoubles())), next_(from),
          to_(to) {}
    // The next record; nullptr at the end and when a read failed (failed()).
    const double* next() {
        if (next_ >= to_) return nullptr;
        if (fit_.records) return fit_.records + next_++ * stride_;
        if (next_ >= bufEnd_) {
            const std::size_t n = std::min(kChunkRecords, to_ - next_);
            buf_.resize(n * stride_);
            if (!fit_.rows->readRecords(static_cast<std::int64_t>(next_),
                                        static_cast<std::int64_t>(n), buf_.data())) {
                failed_ = true;
                next_ = to_;
                return nullptr;
            }
            bufFirst_ = next_;
            bufEnd_ = next_ + n;
        }
        return buf_.data() + (next_++ - bufFirst_) * stride_;
    }
    std::size_t number() const { return next_ - 1; } // of the record next() gave last
    bool failed() const { return failed_; }

  private:
    static constexpr std::size_t kChunkRecords = 2048;
    const VlcFit& fit_;
    const std::size_t stride_;
    std::size_t next_, to_;
    std::vector<double> buf_;
    std::size_t bufFirst_ = 0, bufEnd_ = 0;
    bool failed_ = false;
};

// Design columns 1 .. D-1 of the k-th usable row as the cache holds them.
inline const double* cachedDesign(const VlcFit& fit, std::size_t k) {
    if (fit.records) {
        const auto stride = static_cast<std::size_t>(fit.rows->recordDoubles());
        return fit.records + fit.cacheRecord[k] * stride + kRowDesign + 1;
    }
    return fit.cacheX.data() + k * static_cast<std::size_t>(fit.D - 1);
}

// Whether a pass runs on two cores: from kFitTwoCoreRows cached rows, or when the rows are
// read by number in two halves.
inline bool useTwoCores(const VlcFit& fit) {
    return twoCores() &&
           ((fit.cacheFull && fit.cacheW.size() >= kFitTwoCoreRows) || fit.splitReads);
}

} // namespace velloc::fitrows
