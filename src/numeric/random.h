// The uniform random stream: a multiplicative congruential generator (modulus 2^31 - 1,
// multiplier 397204094) whose state is a 64-bit slot seeded once per procedure step.
#pragma once
#include <cstdint>

namespace velloc::support {

// Largest state a seeded stream may hold, and the first rejected SEED= value (2^53).
inline constexpr std::int64_t kMaxSeed = 2147483646;
inline constexpr double kSeedLimit = 9007199254740992.0;

// Validates or creates a seed in place.
//   mode 0: keeps 0 < slot < 2147483647, else stores a clock seed;
//   mode 1: replaces a value outside 1..2147483646 by a clock seed, then publishes the slot as
//           the host symbol SYSRANDOM;
//   mode 2: publishes the slot unchanged as SYSRANEND.
void zranms(std::int64_t& slot, int mode);

// Advances the stream and returns a draw in the open interval (0, 1).
double zranuni(std::int64_t& slot);

// A seed from the host clock: floor(frac(t / 1000) * 1e9) + 1 with t in seconds.
std::int64_t clockSeed(double seconds);

// The matching stream's live state, kept by the session so that a step without SEED=
// continues the stream an earlier step left (0 until some step seeds it).
std::int64_t& sessionStream();

} // namespace velloc::support
