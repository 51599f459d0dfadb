// Memory made resident in the background: the contents stay as written, memory that is gone
// by the time the request is served is harmless, and a forked child can go on asking.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "io/prefault.h"

using velloc::host::prefaultAsync;

namespace {

constexpr std::size_t kBytes = std::size_t{16} << 20;

char* mapFresh() {
    void* p = ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<char*>(p);
}

// Resident pages of the mapping, by mincore.
std::size_t residentPages(char* p) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> in(kBytes / page);
    if (::mincore(p, kBytes, in.data()) != 0) return 0;
    std::size_t n = 0;
    for (unsigned char c : in)
        n += c & 1;
    return n;
}

TEST(Prefault, MakesPagesResidentWithoutChangingWhatWasWritten) {
    char* p = mapFresh();
    ASSERT_NE(p, nullptr);
    for (std::size_t i = 0; i < kBytes / 2; i += 4096)
        p[i] = static_cast<char>(i / 4096 % 251 + 1);
    prefaultAsync(p, kBytes);
    // The request is served soon; the second half becomes resident as zeros.
    const std::size_t all = kBytes / static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    for (int wait = 0; wait < 200 && residentPages(p) < all; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(residentPages(p), all);
    for (std::size_t i = 0; i < kBytes / 2; i += 4096)
        ASSERT_EQ(p[i], static_cast<char>(i / 4096 % 251 + 1)) << "offset " << i;
    for (std::size_t i = kBytes / 2; i < kBytes; i += 4096)
        ASSERT_EQ(p[i], 0) << "offset " << i;
    ::munmap(p, kBytes);
}

TEST(Prefault, MemoryUnmappedBeforeTheRequestIsServedIsHarmless) {
    for (int k = 0; k < 20; ++k) {
        char* p = mapFresh();
        ASSERT_NE(p, nullptr);
        prefaultAsync(p, kBytes);
        ::munmap(p, kBytes);
    }
    prefaultAsync(nullptr, kBytes);
    char* q = mapFresh();
    ASSERT_NE(q, nullptr);
    std::memset(q, 7, 4096);
    prefaultAsync(q, kBytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(q[4095], 7);
    ::munmap(q, kBytes);
}

// The address sanitizer's runtime (GCC 12) can leave a thread started in a forked child of a
// threaded process waiting on a lock the parent's threads held at the fork; there the child
// is only required not to hang and to keep its memory intact.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kChildThreadsReliable = false;
#else
constexpr bool kChildThreadsReliable = true;
#endif

TEST(Prefault, AForkedChildKeepsAskingWithoutHanging) {
    char* p = mapFresh();
    ASSERT_NE(p, nullptr);
    prefaultAsync(p, kBytes);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char* c = mapFresh();
        if (c == nullptr) ::_exit(5);
        for (std::size_t i = 0; i < kBytes / 2; i += 4096)
            c[i] = static_cast<char>(i / 4096 % 251 + 1);
        for (int k = 0; k < 50; ++k)
            prefaultAsync(c, kBytes);
        const std::size_t all = kBytes / static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        for (int wait = 0; wait < 200 && residentPages(c) < all; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const bool served = residentPages(c) == all; // before the reads below fault pages in
        // Served or not, the requests leave what was written, and zeros elsewhere.
        for (std::size_t i = 0; i < kBytes; i += 4096)
            if (c[i] != (i < kBytes / 2 ? static_cast<char>(i / 4096 % 251 + 1) : 0)) ::_exit(4);
        ::_exit(served || !kChildThreadsReliable ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0); // the child's own thread served its requests
    ::munmap(p, kBytes);
}

} // namespace
