// Fresh memory made resident ahead of its writer. Zeroing a fresh page happens on the first
// write to it, in the writing thread; on virtual machines that is a third of a pass that writes
// a new file. A background thread can take that cost off the writer.
#pragma once
#include <cstddef>

namespace velloc::host {

// Asks for the pages of [p, p + n) to be made resident and writable soon, on a background
// thread. Their contents are never touched, so a request that arrives after the memory was
// written, moved or unmapped is harmless. Requests beyond a short queue are dropped.
void prefaultAsync(void* p, std::size_t n);

} // namespace velloc::host
