#include "io/prefault.h"

#include <pthread.h>
#include <sys/mman.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace velloc::host {
namespace {

struct Prefaulter {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<void*, std::size_t>> queue;
    bool serving = false; // its thread has been started
    bool unsupported = false;

    void serve() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return !queue.empty(); });
            const auto [p, n] = queue.front();
            queue.pop_front();
            lock.unlock();
            const bool ok = ::madvise(p, n, MADV_POPULATE_WRITE) == 0 || errno != EINVAL;
            lock.lock();
            if (!ok) unsupported = true; // a kernel without it: stop asking
        }
    }
};

// Never destroyed: the thread may still wait on it while the process exits. A fork takes the
// mutex first, so the parent never forks half-way through a request. The child has no thread,
// and the condition variable it inherits still counts the parent's waiting thread, so a wake
// could go to that ghost: the child starts over with a state of its own (the old one is left).
Prefaulter* gPrefaulter = nullptr;

Prefaulter& prefaulter() {
    static const bool registered = [] {
        gPrefaulter = new Prefaulter;
        ::pthread_atfork([] { gPrefaulter->mutex.lock(); }, [] { gPrefaulter->mutex.unlock(); },
                         [] { gPrefaulter = new Prefaulter; });
        return true;
    }();
    (void)registered;
    return *gPrefaulter;
}

} // namespace

void prefaultAsync(void* p, std::size_t n) {
    if (p == nullptr || n == 0) return;
    Prefaulter& f = prefaulter();
    std::lock_guard lock(f.mutex);
    if (f.unsupported || f.queue.size() >= 16) return;
    if (!f.serving) {
        f.serving = true;
        std::thread([&f] { f.serve(); }).detach();
    }
    f.queue.emplace_back(p, n);
    f.wake.notify_one();
}

} // namespace velloc::host
