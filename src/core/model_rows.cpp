#include "core/model_rows.h"

#include <algorithm>

namespace velloc {

bool VectorRowSource::read(double* rec) {
    if (pos_ >= n_) return false;
    if (pos_ == 0) ++passes_;
    const double* src = data_ + pos_ * r_;
    std::copy(src, src + r_, rec);
    ++pos_;
    return true;
}

bool VectorRowSource::readRecords(std::int64_t first, std::int64_t n, double* buf) {
    if (!ranges_ || first < 0 || n < 0 || first + n > n_) return false;
    std::copy(data_ + first * r_, data_ + (first + n) * r_, buf);
    return true;
}

} // namespace velloc
