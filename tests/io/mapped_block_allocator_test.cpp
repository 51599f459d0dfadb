// Large buffers of the mapped-block allocator come from, and go back to, the pool of resident
// mappings that the utility files share.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "io/mapped_block_allocator.h"
#include "io/utility_file.h"

namespace velloc::host {
namespace {

using Big = std::vector<std::uint64_t, MappedBlockAllocator<std::uint64_t>>;
constexpr std::size_t kMiB = std::size_t{1} << 20;

TEST(MappedBlockAllocator, FreedBlocksAreReusedAndGrowWithTheirContents) {
    UtilFile::releasePool();
    const std::uint64_t* first = nullptr;
    {
        Big v(8 * kMiB / sizeof(std::uint64_t));
        std::iota(v.begin(), v.end(), 0);
        first = v.data();
    }
    // A smaller block takes the pooled mapping, whole: handed back it keeps its capacity, so
    // the next block of the first size is served from it again without moving.
    {
        Big v(4 * kMiB / sizeof(std::uint64_t), 7);
        EXPECT_EQ(v.data(), first);
        EXPECT_EQ(v.back(), 7u);
    }
    {
        Big v(8 * kMiB / sizeof(std::uint64_t), 3);
        EXPECT_EQ(v.data(), first);
    }
    // Growing past the pooled mapping: the values pushed survive every reallocation.
    Big grown;
    for (std::uint64_t i = 0; i < 5 * kMiB; ++i)
        grown.push_back(i * 3);
    for (std::uint64_t i = 0; i < grown.size(); i += 4093)
        ASSERT_EQ(grown[i], i * 3) << i;
    EXPECT_EQ(grown.back(), (5 * kMiB - 1) * 3);
    // Small blocks come from the heap and never enter the pool.
    Big small(100, 1);
    EXPECT_EQ(small[99], 1u);
    UtilFile::releasePool();
}

// A block that took a pooled mapping gives it back with the pages it had: the pool still knows
// them resident, so the utility file that wants the most resident mapping finds it.
TEST(MappedBlockAllocator, GivenBackMappingKeepsItsResidentBytes) {
    UtilFile::releasePool();
    char* mem = detail::mapBytes(16 * kMiB);
    ASSERT_NE(mem, nullptr);
    detail::poolMapping({mem, 16 * kMiB, 12 * kMiB});
    char* block = detail::takeBlock(2 * kMiB);
    EXPECT_EQ(block, mem);
    detail::giveBlock(block, 2 * kMiB);
    const detail::Mapping m = detail::takePooledMapping();
    EXPECT_EQ(m.mem, mem);
    EXPECT_EQ(m.cap, 16 * kMiB);
    EXPECT_EQ(m.resident, 12 * kMiB);
    detail::unmapBytes(m.mem, m.cap);
}

} // namespace
} // namespace velloc::host
