// A bounded queue from one thread that makes items to one that takes them in order: the maker
// waits while `depth` items wait, the taker while none does. Either side can end it: the maker
// closes it after its last item (or when it fails, so the taker does not wait for ever), the
// taker stops it when it fails (so the maker does not).
#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace velloc {

template <class T> class Handoff {
  public:
    explicit Handoff(std::size_t depth) : depth_(depth) {}

    // Hands v on, once there is room; false, v not taken, once the taker has stopped.
    bool put(T&& v) {
        std::unique_lock hold(lock_);
        changed_.wait(hold, [&] { return items_.size() < depth_ || stopped_; });
        if (stopped_) return false;
        items_.push_back(std::move(v));
        changed_.notify_all();
        return true;
    }
    // The next item, once there is one; nothing once the queue is closed and empty.
    std::optional<T> take() {
        std::unique_lock hold(lock_);
        changed_.wait(hold, [&] { return !items_.empty() || closed_; });
        if (items_.empty()) return std::nullopt;
        std::optional<T> v(std::move(items_.front()));
        items_.pop_front();
        changed_.notify_all();
        return v;
    }
    void close() { set(closed_); }
    void stop() { set(stopped_); }

  private:
    void set(bool& flag) {
        const std::lock_guard hold(lock_);
        flag = true;
        changed_.notify_all();
    }

    const std::size_t depth_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<T> items_;
    bool closed_ = false, stopped_ = false;
};

} // namespace velloc
