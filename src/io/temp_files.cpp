#include "io/temp_files.h"

#include "base/messages.h"
#include "base/run_messages.h"
#include "io/utility_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velloc::host {

namespace {

thread_local detail::FailureDetails lastFailureHere;

std::mutex dirMutex;
std::string chosenDir;

// Recycled files, kept open; a step has only a handful of utility files, so a few suffice.
struct Recycled {
    int fd;
    std::int64_t bytes;
};
constexpr std::size_t kMaxRecycled = 8;
std::mutex recycledMutex;
std::vector<Recycled> recycled;

constexpr std::array<MessageDef, 10> kMessages{{
    {kGroupHostRun, runmsg::kUtilUnknownCode, Severity::Error, "Utility file or sort error %1."},
    {kGroupHostRun, kUtilIoError, Severity::Error, "I/O error on utility file %1 at byte %2: %3."},
    {kGroupHostRun, kUtilDiskFull, Severity::Error,
     "No space left for utility file %1 in the temporary folder %2."},
    {kGroupHostRun, kUtilBadPosition, Severity::Error,
     "Utility file %1 cannot be positioned at %2: it holds %3 records."},
    {kGroupHostRun, kUtilNoRecordLength, Severity::Error,
     "Utility file %1 has no record length, so no record can be written to it."},
    {kGroupHostRun, kUtilNotEmpty, Severity::Error,
     "The record length of utility file %1 cannot change to %2 bytes while it holds records."},
    {kGroupHostRun, kUtilNoMemory, Severity::Error,
     "Out of memory for utility file %1 (%2 bytes requested)."},
    {kGroupHostRun, kUtilBadKey, Severity::Error, "Sort of utility file %1: %2."},
    {kGroupHostRun, kUtilTempCreate, Severity::Error,
     "Cannot create a temporary file for utility file %1 in the folder %2: %3."},
    {kGroupHostRun, kUtilSameFile, Severity::Error,
     "Sort of utility file %1: the source and the target are the same file."},
}};

void registerMessages() {
    static std::once_flag once;
    std::call_once(once, [] { addMessages(kMessages); });
}

} // namespace

void xprrlog(int code) {
    registerMessages();
    if (code == kUtilOk) return;
    const detail::FailureDetails& f = lastFailureHere;
    if (!hasMessage(kGroupHostRun, code) || code < kUtilIoError || code > kUtilSameFile) {
        xpmlog(kGroupHostRun, runmsg::kUtilUnknownCode, {std::to_string(code)});
        return;
    }
    if (f.code == code) {
        xpmlog(kGroupHostRun, code, {f.a1, f.a2, f.a3});
    } else {
        xpmlog(kGroupHostRun, code, {"(unknown)", "?", "?"});
    }
}

namespace detail {

int fail(int code, std::string a1, std::string a2, std::string a3) {
    lastFailureHere = FailureDetails{code, std::move(a1), std::move(a2), std::move(a3)};
    return code;
}

FailureDetails lastFailure() {
    return lastFailureHere;
}

void adoptFailure(const FailureDetails& f) {
    lastFailureHere = f;
}

void setTempDir(std::string dir) {
    {
        std::lock_guard lock(dirMutex);
        chosenDir = std::move(dir);
    }
    // Later spills go to the new folder, not to files recycled in the old one.
    TempFile::closeRecycled();
}

std::string tempDir() {
    {
        std::lock_guard lock(dirMutex);
        if (!chosenDir.empty()) return chosenDir;
    }
    const char* env = std::getenv("TMPDIR");
    if (env != nullptr && *env != '\0') return env;
    return "/tmp";
}

TempFile::~TempFile() {
    close();
}

TempFile& TempFile::operator=(TempFile&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

void TempFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TempFile::recycle() {
    if (fd_ < 0) return;
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && st.st_size > 0) {
        std::lock_guard lock(recycledMutex);
        if (recycled.size() < kMaxRecycled) {
            recycled.push_back({fd_, static_cast<std::int64_t>(st.st_size)});
            fd_ = -1;
            return;
        }
    }
    close();
}

void TempFile::closeRecycled() {
    std::lock_guard lock(recycledMutex);
    for (const Recycled& r : recycled)
        ::close(r.fd);
    recycled.clear();
}

int TempFile::createOrReuse(const std::string& member) {
    close();
    {
        // The largest holds the most pages to write over.
        std::lock_guard lock(recycledMutex);
        if (!recycled.empty()) {
            auto best = std::max_element(
                recycled.begin(), recycled.end(),
                [](const Recycled& a, const Recycled& b) { return a.bytes < b.bytes; });
            fd_ = best->fd;
            recycled.erase(best);
            return kUtilOk;
        }
    }
    return create(member);
}

int TempFile::create(const std::string& member) {
    close();
    std::string dir = tempDir();
    std::string path = dir + "/velloc-";
    // Member names may hold blanks ("VLCSKIP "); keep the file name plain.
    for (char c : member)
        if (std::isalnum(static_cast<unsigned char>(c))) path += c;
    path += "-XXXXXX";
    int fd = ::mkstemp(path.data());
    if (fd < 0) return fail(kUtilTempCreate, member, dir, std::strerror(errno));
    ::unlink(path.c_str());
    fd_ = fd;
    return kUtilOk;
}

int TempFile::writeAt(const void* p, std::size_t n, std::uint64_t off, const std::string& member) {
    const char* c = static_cast<const char*>(p);
    while (n > 0) {
        ssize_t w = ::pwrite(fd_, c, n, static_cast<off_t>(off));
        if (w < 0) {
            if (errno == EINTR) continue;
            if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)
                return fail(kUtilDiskFull, member, tempDir());
            return fail(kUtilIoError, member, std::to_string(off), std::strerror(errno));
        }
        if (w == 0) return fail(kUtilDiskFull, member, tempDir());
        c += w;
        n -= static_cast<std::size_t>(w);
        off += static_cast<std::uint64_t>(w);
    }
    return kUtilOk;
}

int TempFile::readAt(void* p, std::size_t n, std::uint64_t off, const std::string& member) {
    char* c = static_cast<char*>(p);
    while (n > 0) {
        ssize_t r = ::pread(fd_, c, n, static_cast<off_t>(off));
        if (r < 0) {
            if (errno == EINTR) continue;
            return fail(kUtilIoError, member, std::to_string(off), std::strerror(errno));
        }
        if (r == 0)
            return fail(kUtilIoError, member, std::to_string(off), "unexpected end of file");
        c += r;
        n -= static_cast<std::size_t>(r);
        off += static_cast<std::uint64_t>(r);
    }
    return kUtilOk;
}

} // namespace detail
} // namespace velloc::host
