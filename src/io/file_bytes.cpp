#include "io/file_bytes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velloc::host {

std::int64_t readFileBytes(const std::string& path, std::int64_t offset, std::int64_t count,
                           std::string& buf, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    std::int64_t want = count;
    if (want < 0) {
        struct stat st {};
        want = ::fstat(fd, &st) == 0 && st.st_size > offset ? st.st_size - offset : 0;
        ++want; // room to see the end
    }
    std::int64_t got = 0;
    for (;;) {
        if (static_cast<std::int64_t>(buf.size()) < want)
            buf.resize(static_cast<std::size_t>(want));
        const ssize_t n =
            ::pread(fd, buf.data() + got, static_cast<std::size_t>(want - got), offset + got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            ::close(fd);
            return -1;
        }
        got += n;
        if (n == 0 || (count >= 0 && got == count)) break;
        if (got == want) want *= 2; // the file grew: read on to its end
    }
    ::close(fd);
    return got;
}

} // namespace velloc::host
