#include "numeric/random.h"

#include <cmath>
#include <string>

#include "base/run_state.h"
#include "base/text.h"

namespace velloc::support {

std::int64_t clockSeed(double seconds) {
    double scaled = seconds * 0.001;
    double f = scaled - std::floor(scaled);
    return static_cast<std::int64_t>(std::floor(f * 1000000000.0)) + 1;
}

void zranms(std::int64_t& slot, int mode) {
    switch (mode) {
    case 0:
        if (!(slot > 0 && slot < 2147483647)) slot = clockSeed(host::wzdttme());
        break;
    case 1:
        if (slot < 1 || slot > kMaxSeed) slot = clockSeed(host::wzdttme());
        host::xjsympn("SYSRANDOM", std::to_string(slot));
        break;
    case 2:
        host::xjsympn("SYSRANEND", std::to_string(slot));
        break;
    default:
        break;
    }
}

double zranuni(std::int64_t& slot) {
    // Only the low 32 bits take part; the product fits in 64 bits unsigned.
    std::uint64_t x = static_cast<std::uint32_t>(static_cast<std::uint64_t>(slot));
    std::uint64_t v = x * 397204094ULL;
    std::uint64_t r = (v >> 31) + (v & 0x7FFFFFFFULL);
    if (r >= 2147483647ULL) r -= 2147483647ULL;
    slot = static_cast<std::int64_t>(r);
    return static_cast<double>(r) / 2147483647.0;
}

std::int64_t& sessionStream() {
    return host::currentRunState().randomStream;
}

} // namespace velloc::support
