#include "io/utility_file.h"

#include "base/run_state.h"
#include "io/mapping_pool.h"
#include "io/prefault.h"
#include "io/step_place.h"
#include "io/temp_files.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace velloc::host {

using detail::fail;

namespace {

std::atomic<std::size_t> gThreshold{std::size_t{256} << 20};

struct InjectedFault {
    bool armed = false;
    UtilFile::FaultOp op = UtilFile::FaultOp::Read;
    std::string phase;
    std::int64_t left = 0;
};
// A test hook, armed and fired on the test's own thread.
thread_local InjectedFault gInjected;

bool isFault(int code) {
    return code == kUtilIoError || code == kUtilDiskFull || code == kUtilNoMemory ||
           code == kUtilTempCreate;
}

bool injectedFaultFires(UtilFile::FaultOp op) {
    InjectedFault& f = gInjected;
    if (!f.armed || f.op != op) return false;
    if (!f.phase.empty() && f.phase != currentPhase()) return false;
    if (--f.left > 0) return false;
    f.armed = false;
    return true;
}

constexpr std::size_t kWindowBytes = std::size_t{1} << 20; // I/O buffer of a spilled file
constexpr std::size_t kFirstCapacity = std::size_t{64} << 10;
constexpr std::size_t kMaxReserve = std::size_t{1} << 30;
constexpr std::size_t kFaultAhead = std::size_t{8} << 20;

// In-memory records live in an anonymous mapping rather than the heap. First-touch page faults
// are the dominant cost of a pass over fresh memory on virtual machines, so the mapping
// reserves the spill threshold's worth of address space at once (pages are
// only committed when written), grows without copying (mremap), and is kept when the file is
// emptied: the next phase that rewrites the file reuses pages that are already resident. A
// file done with its records (release) hands its mapping to the next file that grows from
// nothing. A spilled file unmaps its memory: a resident mapping kept for later would raise the
// peak of a large step by a threshold's worth without making it faster.
std::size_t roundUp(std::size_t n, std::size_t to) {
    return (n + to - 1) / to * to;
}

} // namespace

struct UtilFile::Impl {
    std::string name;
    std::size_t rec = 0;
    std::int64_t count = 0;
    std::int64_t pos = 0; // 0-based index of the next record
    int err = 0;
    bool rangeFaultHandled = false; // readRecordsAt has handed a fault of these records on

    // In memory: the records back to back.
    char* mem = nullptr;
    std::size_t memCap = 0;
    std::size_t faulted = 0; // bytes of mem asked to be made resident ahead of the writes

    // Spilled: the file and one window of it. Bytes [winOff, winOff + winLen) of the window are
    // current; [dLo, dHi) of them (relative to winOff) are not yet written to the file.
    detail::TempFile file;
    char* win = nullptr;
    std::size_t winCap = 0;
    std::uint64_t winOff = 0;
    std::size_t winLen = 0;
    std::size_t dLo = 0, dHi = 0;

    Impl(std::string n, std::size_t r) : name(std::move(n)), rec(r) {}
    ~Impl() {
        detail::unmapBytes(mem, memCap);
        std::free(win);
    }

    int setError(int code) {
        err = code;
        if (auto handler = currentRunState().utilFaultHandler; handler && isFault(code))
            handler(code);
        return code;
    }

    int injectedFault() {
        return setError(fail(kUtilIoError, name,
                             std::to_string(pos * static_cast<std::int64_t>(rec)),
                             "injected fault"));
    }

    std::uint64_t bytes() const { return static_cast<std::uint64_t>(count) * rec; }

    int flush() {
        if (dHi > dLo) {
            int rc = file.writeAt(win + dLo, dHi - dLo, winOff + dLo, name);
            if (rc != kUtilOk) return setError(rc);
        }
        dLo = dHi = 0;
        return kUtilOk;
    }

    int loadWindow(std::uint64_t off) {
        if (int rc = flush(); rc != kUtilOk) return rc;
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(winCap, bytes() - off));
        winOff = off;
        winLen = 0;
        if (int rc = file.readAt(win, n, off, name); rc != kUtilOk) return setError(rc);
        winLen = n;
        return kUtilOk;
    }

    int grow(std::size_t need) {
        const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        std::size_t cap = std::max(memCap, kFirstCapacity);
        while (cap < need)
            cap = cap > SIZE_MAX / 2 ? need : cap * 2;
        // Address space up to the threshold costs nothing until written: reserve it at once.
        std::size_t reserve = std::min(gThreshold.load(std::memory_order_relaxed), kMaxReserve);
        cap = roundUp(std::max({need, cap, reserve}), page);
        if (mem == nullptr) {
            const detail::Mapping m = detail::takePooledMapping();
            if (m.mem != nullptr) {
                mem = m.mem;
                memCap = m.cap;
                faulted = m.resident;
                if (memCap >= cap) return kUtilOk;
            }
        }
        char* p = mem ? detail::remapBytes(mem, memCap, cap) : detail::mapBytes(cap);
        if (p == nullptr) return setError(fail(kUtilNoMemory, name, std::to_string(cap)));
        mem = p;
        memCap = cap;
        return kUtilOk;
    }

    // Hands the mapping to the pool with `resident` bytes known resident; the file holds no
    // memory afterwards.
    void poolMemory(std::size_t resident) {
        if (mem == nullptr) return;
        detail::poolMapping({mem, memCap, resident});
        mem = nullptr;
        memCap = faulted = 0;
    }

    int spill() {
        std::size_t cap = std::max(rec, kWindowBytes / rec * rec);
        char* w = static_cast<char*>(std::malloc(cap));
        if (w == nullptr) return setError(fail(kUtilNoMemory, name, std::to_string(cap)));
        if (int rc = file.createOrReuse(name); rc != kUtilOk) {
            std::free(w);
            return setError(rc);
        }
        if (int rc = file.writeAt(mem, bytes(), 0, name); rc != kUtilOk) {
            std::free(w);
            file.close();
            return setError(rc);
        }
        detail::unmapBytes(mem, memCap);
        mem = nullptr;
        memCap = faulted = 0;
        win = w;
        winCap = cap;
        winOff = bytes();
        winLen = 0;
        dLo = dHi = 0;
        return kUtilOk;
    }

    void empty() {
        file.recycle();
        std::free(win);
        win = nullptr;
        winCap = winLen = dLo = dHi = 0;
        winOff = 0;
        count = pos = 0;
        err = 0;
        rangeFaultHandled = false;
    }

    // The next record of a spilled file where it lies in the window (loaded to hold it).
    const char* nextInFile() {
        std::uint64_t off = static_cast<std::uint64_t>(pos) * rec;
        if (off < winOff || off + rec > winOff + winLen) {
            if (loadWindow(off) != kUtilOk) return nullptr;
        }
        ++pos;
        return win + (off - winOff);
    }
    bool readFile(void* buf) {
        const char* p = nextInFile();
        if (!p) return false;
        std::memcpy(buf, p, rec);
        return true;
    }

    int writeFile(const void* buf) {
        std::uint64_t off = static_cast<std::uint64_t>(pos) * rec;
        if (off < winOff || off > winOff + winLen || off + rec > winOff + winCap) {
            if (int rc = flush(); rc != kUtilOk) return rc;
            winOff = off;
            winLen = 0;
        }
        std::size_t rel = static_cast<std::size_t>(off - winOff);
        std::memcpy(win + rel, buf, rec);
        winLen = std::max(winLen, rel + rec);
        if (dHi == dLo) {
            dLo = rel;
            dHi = rel + rec;
        } else {
            dLo = std::min(dLo, rel);
            dHi = std::max(dHi, rel + rec);
        }
        if (pos == count) ++count;
        ++pos;
        return kUtilOk;
    }
};

UtilFile::UtilFile(std::string name, std::size_t recordBytes)
    : impl_(std::make_unique<Impl>(std::move(name), recordBytes)) {}
UtilFile::~UtilFile() = default;
UtilFile::UtilFile(UtilFile&&) noexcept = default;
UtilFile& UtilFile::operator=(UtilFile&&) noexcept = default;

void UtilFile::swapRecords(UtilFile& other) noexcept {
    if (!impl_ || !other.impl_) return;
    std::swap(impl_, other.impl_);
    std::swap(impl_->name, other.impl_->name);
}

const std::string& UtilFile::name() const {
    static const std::string none;
    return impl_ ? impl_->name : none;
}

std::size_t UtilFile::recordBytes() const {
    return impl_ ? impl_->rec : 0;
}

int UtilFile::setRecordBytes(std::size_t bytes) {
    if (!impl_) return fail(kUtilNoRecordLength, "(moved)");
    Impl& f = *impl_;
    if (bytes == f.rec) return kUtilOk;
    if (f.count > 0) return f.setError(fail(kUtilNotEmpty, f.name, std::to_string(bytes)));
    // The window of a spilled file is sized for the old length; start over in memory.
    f.empty();
    f.rec = bytes;
    return kUtilOk;
}

void UtilFile::release() {
    if (!impl_) return;
    Impl& f = *impl_;
    f.poolMemory(std::max(f.faulted, std::min<std::size_t>(f.memCap, f.bytes())));
    f.empty();
}

void UtilFile::releasePool() {
    detail::freePooledMappings();
    detail::TempFile::closeRecycled();
}

void UtilFile::releaseRecycledFiles() {
    detail::TempFile::closeRecycled();
}

int UtilFile::point(std::int64_t position) {
    if (!impl_) return fail(kUtilBadPosition, "(moved)", std::to_string(position), "0");
    Impl& f = *impl_;
    if (position == -2) {
        f.empty();
        return kUtilOk;
    }
    if (position < 0 || position > f.count + 1)
        return f.setError(
            fail(kUtilBadPosition, f.name, std::to_string(position), std::to_string(f.count)));
    // A rewind ends a run of writes: the records a spilled file still holds back go to disk,
    // so a failed write is reported here rather than by some later read.
    if (position == 0 && f.file.open())
        if (int rc = f.flush(); rc != kUtilOk) return rc;
    f.pos = position == 0 ? 0 : position - 1;
    return kUtilOk;
}

bool UtilFile::read(void* buf) {
    if (!impl_) return false;
    Impl& f = *impl_;
    if (f.pos >= f.count) return false;
    if (injectedFaultFires(FaultOp::Read)) return f.injectedFault(), false;
    if (!f.file.open()) {
        std::memcpy(buf, f.mem + static_cast<std::size_t>(f.pos) * f.rec, f.rec);
        ++f.pos;
        return true;
    }
    return f.readFile(buf);
}

const void* UtilFile::next() {
    if (!impl_) return nullptr;
    Impl& f = *impl_;
    if (f.pos >= f.count) return nullptr;
    if (injectedFaultFires(FaultOp::Read)) return f.injectedFault(), nullptr;
    if (!f.file.open()) return f.mem + static_cast<std::size_t>(f.pos++) * f.rec;
    return f.nextInFile();
}

int UtilFile::readRecordsAt(std::int64_t first, std::int64_t n, void* buf) const {
    if (!impl_) return fail(kUtilBadPosition, "(moved)", std::to_string(first), "0");
    const Impl& f = *impl_;
    // Records held back in the window are not in the file yet: a caller that forgot the rewind.
    if (first < 0 || n < 0 || first > f.count - n || f.dHi > f.dLo)
        return fail(kUtilBadPosition, f.name, std::to_string(first + 1), std::to_string(f.count));
    if (n == 0) return kUtilOk;
    const std::uint64_t off = static_cast<std::uint64_t>(first) * f.rec;
    int rc = kUtilOk;
    if (injectedFaultFires(FaultOp::Read))
        rc = fail(kUtilIoError, f.name, std::to_string(off), "injected fault");
    else if (!f.file.open())
        std::memcpy(buf, f.mem + off, static_cast<std::size_t>(n) * f.rec);
    else
        rc = impl_->file.readAt(buf, static_cast<std::size_t>(n) * f.rec, off, f.name);
    if (rc == kUtilOk) return rc;
    // The file's own last error is left alone: other threads may be reading it. A fault of
    // the file goes to the handler once, however many readers meet it (a handler logs and
    // ends the step; the lock is let go as it throws); the others only return the code.
    static std::mutex handling;
    std::lock_guard<std::mutex> turn(handling);
    if (impl_->rangeFaultHandled) return rc;
    if (auto handler = currentRunState().utilFaultHandler; handler && isFault(rc)) {
        impl_->rangeFaultHandled = true;
        handler(rc);
    }
    return rc;
}

int UtilFile::write(const void* buf) {
    if (!impl_) return fail(kUtilNoRecordLength, "(moved)");
    Impl& f = *impl_;
    if (f.rec == 0) return f.setError(fail(kUtilNoRecordLength, f.name));
    if (injectedFaultFires(FaultOp::Write)) return f.injectedFault();
    if (!f.file.open()) {
        std::size_t off = static_cast<std::size_t>(f.pos) * f.rec;
        if (f.pos == f.count) {
            std::size_t need = off + f.rec;
            if (need > gThreshold.load(std::memory_order_relaxed)) {
                if (int rc = f.spill(); rc != kUtilOk) return rc;
                return f.writeFile(buf);
            }
            if (need > f.memCap) {
                if (int rc = f.grow(need); rc != kUtilOk) return rc;
            }
            if (need + kFaultAhead / 2 > f.faulted && f.faulted < f.memCap) {
                const std::size_t n = std::min(kFaultAhead, f.memCap - f.faulted);
                prefaultAsync(f.mem + f.faulted, n);
                f.faulted += n;
            }
            ++f.count;
        }
        std::memcpy(f.mem + off, buf, f.rec);
        ++f.pos;
        return kUtilOk;
    }
    return f.writeFile(buf);
}

char* UtilFile::appendInPlace(std::int64_t n) {
    if (!impl_ || n <= 0) return nullptr;
    Impl& f = *impl_;
    if (f.rec == 0 || f.file.open() || f.pos != f.count) return nullptr;
    const std::size_t off = static_cast<std::size_t>(f.count) * f.rec;
    const std::size_t need = off + static_cast<std::size_t>(n) * f.rec;
    if (need > gThreshold.load(std::memory_order_relaxed)) return nullptr;
    if (injectedFaultFires(FaultOp::Write)) return f.injectedFault(), nullptr;
    if (need > f.memCap && f.grow(need) != kUtilOk) return nullptr;
    // The fillers make the pages resident themselves, each its own part.
    f.faulted = std::max(f.faulted, need);
    f.count += n;
    f.pos = f.count;
    return f.mem + off;
}

int UtilFile::expectRecords(std::int64_t n) {
    if (!impl_) return kUtilOk;
    Impl& f = *impl_;
    if (f.count != 0 || f.file.open() || f.rec == 0 || n <= 0) return kUtilOk;
    if (static_cast<double>(n) * static_cast<double>(f.rec) <=
        static_cast<double>(gThreshold.load(std::memory_order_relaxed)))
        return kUtilOk;
    // Pooled or kept memory goes back to the pool for the files that stay in memory.
    f.poolMemory(f.faulted);
    return f.spill();
}

std::int64_t UtilFile::count() const {
    return impl_ ? impl_->count : 0;
}
std::int64_t UtilFile::position() const {
    return impl_ ? impl_->pos + 1 : 1;
}
int UtilFile::lastError() const {
    return impl_ ? impl_->err : 0;
}
bool UtilFile::spilled() const {
    return impl_ && impl_->file.open();
}

const char* UtilFile::memoryData() const {
    return impl_ && !impl_->file.open() ? impl_->mem : nullptr;
}

char* UtilFile::memoryDataForUpdate() {
    return impl_ && !impl_->file.open() ? impl_->mem : nullptr;
}

void UtilFile::setSpillThreshold(std::size_t bytes) {
    gThreshold.store(bytes, std::memory_order_relaxed);
}
std::size_t UtilFile::spillThreshold() {
    return gThreshold.load(std::memory_order_relaxed);
}
void UtilFile::setFaultHandler(FaultHandler handler) {
    currentRunState().utilFaultHandler = handler;
}
void UtilFile::injectFault(FaultOp op, std::string phase, std::int64_t nth) {
    gInjected = InjectedFault{true, op, std::move(phase), nth < 1 ? 1 : nth};
}
void UtilFile::clearInjectedFault() {
    gInjected = InjectedFault{};
}
void UtilFile::setTempDir(std::string dir) {
    detail::setTempDir(std::move(dir));
}
std::string UtilFile::tempDir() {
    return detail::tempDir();
}

} // namespace velloc::host
