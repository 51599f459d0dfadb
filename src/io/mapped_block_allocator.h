// An allocator for large buffers that are filled once and read a few times (the columns of a
// graph's data): blocks of 2 MiB or more are mappings, and freed blocks go to the pool of
// resident mappings for the next large buffer or utility file of the step, which then writes
// pages that are already resident. On virtual machines a fresh page costs more than the
// writes to it. Smaller blocks come from the heap as usual.
#pragma once
#include <cstddef>
#include <new>

#include "io/mapping_pool.h"

namespace velloc::host {

template <class T> struct MappedBlockAllocator {
    using value_type = T;
    static constexpr std::size_t kMappedBytes = std::size_t{2} << 20;

    MappedBlockAllocator() = default;
    template <class U> MappedBlockAllocator(const MappedBlockAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kMappedBytes) return static_cast<T*>(::operator new(bytes));
        char* p = detail::takeBlock(bytes);
        if (!p) throw std::bad_alloc();
        return reinterpret_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kMappedBytes)
            ::operator delete(p);
        else
            detail::giveBlock(reinterpret_cast<char*>(p), bytes);
    }
    template <class U> bool operator==(const MappedBlockAllocator<U>&) const noexcept {
        return true;
    }
};

} // namespace velloc::host
