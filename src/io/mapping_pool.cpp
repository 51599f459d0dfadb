#include "io/mapping_pool.h"

#include <malloc.h>
#include <sys/mman.h>

#include <algorithm>
#include <limits>
#include <map>
#include <mutex>
#include <vector>

#include "io/utility_file.h"

namespace velloc::host::detail {

namespace {

std::mutex gPoolMutex;
std::vector<Mapping> gPool;
// Blocks handed out by takeBlock as mappings: their capacities and resident bytes, which may
// exceed what the allocator asked for.
std::mutex gBlockMutex;
std::map<char*, Mapping> gBlocks;

// The pool never holds more than two spill thresholds' worth of resident pages, so handing
// memory on cannot raise a step's peak by more than that.
std::size_t poolLimit() {
    return 2 * UtilFile::spillThreshold();
}

} // namespace

char* mapBytes(std::size_t cap) {
    void* p = ::mmap(nullptr, cap, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    return static_cast<char*>(p);
}

char* remapBytes(char* old, std::size_t oldCap, std::size_t cap) {
    void* p = ::mremap(old, oldCap, cap, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) return nullptr;
    return static_cast<char*>(p);
}

void unmapBytes(char* p, std::size_t cap) {
    if (p) ::munmap(p, cap);
}

void poolMapping(Mapping m) {
    if (m.mem == nullptr) return;
    m.resident = std::min(m.resident, m.cap);
    {
        std::lock_guard<std::mutex> lock(gPoolMutex);
        std::size_t held = 0;
        for (const Mapping& p : gPool)
            held += p.resident;
        if (held + m.resident <= poolLimit()) {
            gPool.push_back(m);
            return;
        }
    }
    unmapBytes(m.mem, m.cap);
}

Mapping takePooledMapping() {
    std::lock_guard<std::mutex> lock(gPoolMutex);
    if (gPool.empty()) return {};
    auto best =
        std::max_element(gPool.begin(), gPool.end(), [](const Mapping& a, const Mapping& b) {
            return a.resident < b.resident;
        });
    const Mapping m = *best;
    gPool.erase(best);
    return m;
}

void freePooledMappings() {
    std::lock_guard<std::mutex> lock(gPoolMutex);
    for (const Mapping& m : gPool)
        unmapBytes(m.mem, m.cap);
    gPool.clear();
    gPool.shrink_to_fit();
}

char* takeBlock(std::size_t bytes) {
    Mapping m = takePooledMapping();
    if (m.mem != nullptr && m.cap < bytes) {
        char* p = remapBytes(m.mem, m.cap, bytes);
        if (p == nullptr) {
            unmapBytes(m.mem, m.cap);
            m = {};
        } else {
            m.mem = p;
            m.cap = bytes;
        }
    }
    if (m.mem == nullptr) {
        m.mem = mapBytes(bytes);
        m.cap = bytes;
        if (m.mem == nullptr) return nullptr;
    }
    std::lock_guard<std::mutex> lock(gBlockMutex);
    gBlocks[m.mem] = m;
    return m.mem;
}

void giveBlock(char* p, std::size_t used) {
    Mapping m{p, used, used};
    {
        std::lock_guard<std::mutex> lock(gBlockMutex);
        auto it = gBlocks.find(p);
        if (it != gBlocks.end()) {
            m.cap = it->second.cap;
            m.resident = std::max(it->second.resident, used);
            gBlocks.erase(it);
        }
    }
    poolMapping(m);
}

} // namespace velloc::host::detail

namespace velloc::host {

void keepFreedHeap() {
    // A fixed threshold also stops glibc from raising it as blocks are freed, which would
    // leave the heap's top to be trimmed.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
}

} // namespace velloc::host
