// Whether the machine has a second core for the work that splits in two (the fit's passes, the
// model rows, the box summaries, the next CDF row's sort).
#pragma once
#include <thread>

namespace velloc {

inline bool twoCores() {
    static const bool two = std::thread::hardware_concurrency() >= 2;
    return two;
}

} // namespace velloc
