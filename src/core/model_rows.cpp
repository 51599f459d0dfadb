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

} // namespace velloc
