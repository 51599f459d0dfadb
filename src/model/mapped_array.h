// A fixed-capacity array in an anonymous mapping, for the fit's copy of its rows and the
// concordance sort. Each is written once and read several times; on virtual machines the
// first-touch faults cost more than a pass over the pages, so the mapping is made resident
// in the background as it is written. It takes the kernel's default page size: where freed
// 2 MiB blocks go back to the host, a fresh huge page costs several times more than as many
// small ones.
#pragma once
#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "io/prefault.h"

namespace velloc {

template <class T> class MappedArray {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    MappedArray() = default;
    MappedArray(const MappedArray&) = delete;
    MappedArray& operator=(const MappedArray&) = delete;
    ~MappedArray() { release(); }

    // Room for cap values, the array emptied; false when the mapping fails (no room then).
    bool reserve(std::size_t cap) {
        release();
        if (cap == 0) return true;
        const std::size_t bytes = cap * sizeof(T);
        void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) return false;
        // Every array is reserved at the size it will be filled to: fault it all in on the
        // background thread, ahead of the writes.
        host::prefaultAsync(p, bytes);
        p_ = static_cast<T*>(p);
        cap_ = cap;
        return true;
    }
    void release() {
        if (p_) ::munmap(p_, cap_ * sizeof(T));
        p_ = nullptr;
        cap_ = n_ = 0;
    }
    // Appends within the capacity reserved.
    void push_back(const T& v) { p_[n_++] = v; }
    void append(const T* first, const T* last) {
        std::copy(first, last, p_ + n_);
        n_ += static_cast<std::size_t>(last - first);
    }
    void resize(std::size_t n) { n_ = n; } // within the capacity; new values unset
    void swap(MappedArray& o) noexcept {
        std::swap(p_, o.p_);
        std::swap(cap_, o.cap_);
        std::swap(n_, o.n_);
    }

    T* data() { return p_; }
    const T* data() const { return p_; }
    std::size_t size() const { return n_; }
    T& operator[](std::size_t i) { return p_[i]; }
    const T& operator[](std::size_t i) const { return p_[i]; }

  private:
    T* p_ = nullptr;
    std::size_t cap_ = 0;
    std::size_t n_ = 0;
};

} // namespace velloc
