// Whether the machine has a second core for the work that splits in two (the fit's passes, the
// model rows, the box summaries, the next CDF row's sort), and the split itself.
#pragma once
#include <exception>
#include <thread>

#include "base/run_state.h"

namespace velloc {

inline bool twoCores() {
    static const bool two = std::thread::hardware_concurrency() >= 2;
    return two;
}

// Runs second() on a thread of its own, bound to the calling thread's session (its log, fault
// handler and phase), while first() runs here, and returns when both are done. What either
// throws is raised here once both have finished, first()'s before second()'s.
template <class First, class Second> void runBeside(First&& first, Second&& second) {
    std::exception_ptr secondFault;
    std::thread other([&second, &secondFault, &state = host::currentRunState()] {
        host::RunStateScope scope(state);
        try {
            second();
        } catch (...) {
            secondFault = std::current_exception();
        }
    });
    std::exception_ptr firstFault;
    try {
        first();
    } catch (...) {
        firstFault = std::current_exception();
    }
    other.join();
    if (firstFault) std::rethrow_exception(firstFault);
    if (secondFault) std::rethrow_exception(secondFault);
}

} // namespace velloc
