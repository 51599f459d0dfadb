#include "io/prefault.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

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
    pid_t owner = 0; // the process whose thread serves the queue (a forked child has none)
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

// Never destroyed: the thread may still wait on it while the process exits. A fork waits for
// the mutex, so the child never inherits it locked; the child starts a thread of its own.
Prefaulter& prefaulter() {
    static Prefaulter* const p = [] {
        auto* f = new Prefaulter;
        ::pthread_atfork([] { prefaulter().mutex.lock(); }, [] { prefaulter().mutex.unlock(); },
                         [] { prefaulter().mutex.unlock(); });
        return f;
    }();
    return *p;
}

} // namespace

void prefaultAsync(void* p, std::size_t n) {
    if (p == nullptr || n == 0) return;
    Prefaulter& f = prefaulter();
    std::lock_guard lock(f.mutex);
    if (f.unsupported || f.queue.size() >= 16) return;
    if (f.owner != ::getpid()) {
        f.owner = ::getpid();
        f.queue.clear();
        std::thread([&f] { f.serve(); }).detach();
    }
    f.queue.emplace_back(p, n);
    f.wake.notify_one();
}

} // namespace velloc::host
