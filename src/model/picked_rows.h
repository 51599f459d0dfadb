// Model rows drawn from rows held in memory, as a bootstrap replicate draws them.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/model_rows.h"

namespace velloc {

// The rows listed in picks, in that order, each with its frequency times its count: a row
// drawn k times is one row of k times the frequency, which every sum of the fit weighs alike.
// The rows stay owned by the caller, so each replicate of a bootstrap costs only its lists.
class PickedRowSource : public ModelRowSource {
  public:
    PickedRowSource(const double* data, int recordDoubles, const std::vector<std::uint32_t>& picks,
                    const std::vector<std::uint32_t>& counts)
        : data_(data), r_(recordDoubles), picks_(picks), counts_(counts) {}
    int recordDoubles() const override { return r_; }
    int rewind() override {
        pos_ = 0;
        return 0;
    }
    bool read(double* rec) override {
        if (pos_ >= picks_.size()) return false;
        const double* src = data_ + static_cast<std::size_t>(picks_[pos_]) * r_;
        std::copy(src, src + r_, rec);
        rec[kRowFreq] *= counts_[pos_];
        ++pos_;
        return true;
    }

  private:
    const double* data_;
    int r_;
    const std::vector<std::uint32_t>& picks_;
    const std::vector<std::uint32_t>& counts_;
    std::size_t pos_ = 0;
};

} // namespace velloc
