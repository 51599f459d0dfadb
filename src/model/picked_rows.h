// Model rows drawn from rows held in memory, as a bootstrap replicate draws them.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "model/modelrow.h"

namespace velloc {

// The rows listed in picks (repeats allowed), in that order. The rows stay owned by the
// caller, so each replicate of a bootstrap costs only its index list.
class PickedRowSource : public ModelRowSource {
  public:
    PickedRowSource(const double* data, int recordDoubles, const std::vector<std::uint32_t>& picks)
        : data_(data), r_(recordDoubles), picks_(picks) {}
    int recordDoubles() const override { return r_; }
    int rewind() override {
        pos_ = 0;
        return 0;
    }
    bool read(double* rec) override {
        if (pos_ >= picks_.size()) return false;
        const double* src = data_ + static_cast<std::size_t>(picks_[pos_]) * r_;
        std::copy(src, src + r_, rec);
        ++pos_;
        return true;
    }

  private:
    const double* data_;
    int r_;
    const std::vector<std::uint32_t>& picks_;
    std::size_t pos_ = 0;
};

} // namespace velloc
