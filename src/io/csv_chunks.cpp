#include "io/csv_chunks.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace velloc::host {

namespace {
std::size_t testChunkBytes = 0;
// Below this the threads cost more than they save.
constexpr std::int64_t kMinParallelBytes = 4 << 20;
constexpr std::size_t kChunkBytes = 1 << 20; // its rows stay in the shared cache
} // namespace

void setCsvChunkBytesForTesting(std::size_t bytes) {
    testChunkBytes = bytes;
}

CsvParallelism csvParallelismFor(std::int64_t dataBytes) {
    int cores = static_cast<int>(std::thread::hardware_concurrency());
    if (testChunkBytes > 0) return {testChunkBytes, std::max(cores, 2)};
    if (cores < 2 || dataBytes < kMinParallelBytes) return {};
    return {kChunkBytes, cores};
}

std::vector<std::int64_t> guessCsvCuts(const std::string& path, std::int64_t from, std::int64_t end,
                                       std::size_t chunkBytes, std::string& error) {
    std::vector<std::int64_t> cuts{from};
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return {};
    }
    std::vector<char> buf(std::min<std::size_t>(chunkBytes, 1 << 16));
    const auto step = static_cast<std::int64_t>(chunkBytes);
    for (std::int64_t at = from + step; at < end;) {
        ssize_t n = ::pread(fd, buf.data(), buf.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            cuts.clear();
            break;
        }
        if (n == 0) break;
        const char* nl = static_cast<const char*>(std::memchr(buf.data(), '\n', n));
        if (!nl) {
            at += n; // a very long line: look further
            continue;
        }
        std::int64_t cut = at + (nl - buf.data()) + 1;
        if (cut >= end) break;
        cuts.push_back(cut);
        at = std::max(cut, from + step * static_cast<std::int64_t>(cuts.size()));
    }
    ::close(fd);
    return cuts;
}

} // namespace velloc::host
