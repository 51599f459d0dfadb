// Anonymous mappings that hold records in memory, and the pool of mappings done with their
// records whose pages are resident already. On virtual machines that hand freed memory back to
// the host a fresh page costs more than a pass that writes it, so memory a phase is done with
// goes to the next one instead of back to the system.
#pragma once
#include <cstddef>

namespace velloc::host::detail {

// A mapping of cap bytes, in the kernel's default pages (no huge-page advice: on virtual
// machines that hand freed 2 MiB blocks back to the host, a fresh huge page costs about five
// times as much as as many small pages); nullptr when none can be made. Pages are only
// committed when written.
char* mapBytes(std::size_t cap);
// Grows (or moves) a mapping without copying its pages; nullptr on failure, old stays valid.
char* remapBytes(char* old, std::size_t oldCap, std::size_t cap);
void unmapBytes(char* p, std::size_t cap);

struct Mapping {
    char* mem = nullptr;
    std::size_t cap = 0;
    std::size_t resident = 0; // bytes from the start known to be resident
};

// Gives a mapping to the pool; unmapped instead when the pool holds its limit already.
void poolMapping(Mapping m);
// The pooled mapping with the most resident bytes, or an empty Mapping.
Mapping takePooledMapping();
// Unmaps every pooled mapping (when a step ends).
void freePooledMappings();

// A block of at least `bytes` for an allocator, from the pool when it holds a mapping (grown
// in place as needed, so its resident pages are reused), else freshly mapped; nullptr when
// none can be made. giveBlock hands it back to the pool with its first `used` bytes resident,
// or the bytes that were when the pool gave it out, whichever are more.
char* takeBlock(std::size_t bytes);
void giveBlock(char* p, std::size_t used);

} // namespace velloc::host::detail

namespace velloc::host {

// Asks the C allocator to keep the blocks a program frees for its next allocations instead of
// returning their pages to the system (up to the largest block it serves from its heap,
// 32 MiB), for the same reason. For a program of its own: a host process keeps its settings.
void keepFreedHeap();

} // namespace velloc::host
