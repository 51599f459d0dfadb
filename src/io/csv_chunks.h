// Reading a CSV file on several threads: the file is cut into chunks near given byte offsets,
// threads parse chunks ahead, and the reader takes their results strictly in file order.
//
// A cut is a guess: the first line start after the chosen offset may lie inside a quoted field
// that holds a line break. The reader checks each guess when it takes the chunk: it is right when
// the chunk before, parsed from a start known to be right, ended exactly there. A wrong guess is
// parsed again from where that chunk ended, so records and messages are the serial reader's.
#pragma once
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velloc::host {

// Where a record starts: byte offset and 1-based line.
struct CsvPlace {
    std::int64_t offset = 0, line = 0;
    bool operator==(const CsvPlace&) const = default;
};

// How a file is read in parallel: chunk size and threads; {0, 0} reads it serially.
struct CsvParallelism {
    std::size_t chunkBytes = 0;
    int threads = 0;
};

// The parallelism for data of the given size: none under a few megabytes or on one core.
CsvParallelism csvParallelismFor(std::int64_t dataBytes);

// Tests force small chunks (and two threads even on one core) so that small files take the
// parallel path; 0 restores the automatic choice.
void setCsvChunkBytesForTesting(std::size_t bytes);

// Guessed record starts: offset `from` first, then the byte after the first line feed at or
// past every further multiple of chunkBytes, up to `end`. Empty with the reason in error when the
// file cannot be read.
std::vector<std::int64_t> guessCsvCuts(const std::string& path, std::int64_t from, std::int64_t end,
                                       std::size_t chunkBytes, std::string& error);

// Parses chunks first, first + 1, ... count - 1 on threads, at most `window` ahead of the one the
// caller takes, and hands their results over in order.
template <class Result> class OrderedChunks {
  public:
    // Fills out (which may hold an earlier chunk's result) with the chunk's.
    using Parse = std::function<void(std::size_t chunk, Result& out)>;

    OrderedChunks(std::size_t first, std::size_t count, int threads, std::size_t window,
                  Parse parse)
        : parse_(std::move(parse)), next_(first), take_(first), count_(count),
          window_(std::max<std::size_t>(window, 1)) {
        for (int t = 0; t < threads; ++t)
            workers_.emplace_back([this] { work(); });
    }
    ~OrderedChunks() {
        {
            std::lock_guard<std::mutex> lock(mu_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_)
            t.join();
    }
    OrderedChunks(const OrderedChunks&) = delete;
    OrderedChunks& operator=(const OrderedChunks&) = delete;

    // The next chunk's result, waiting for it; null after the last. A fault of the parse (out
    // of memory) is thrown here, in the caller's thread.
    std::unique_ptr<Result> take() {
        std::unique_lock<std::mutex> lock(mu_);
        if (take_ >= count_) return nullptr;
        ready_.wait(lock, [this] { return done_.count(take_) > 0; });
        auto it = done_.find(take_);
        std::unique_ptr<Result> r = std::move(it->second.result);
        std::exception_ptr fault = it->second.fault;
        done_.erase(it);
        ++take_;
        lock.unlock();
        wake_.notify_all();
        if (fault) std::rethrow_exception(fault);
        return r;
    }

    // Hands a taken result back for a later chunk to fill: big buffers are reused rather than
    // mapped and faulted in afresh for every chunk.
    void giveBack(std::unique_ptr<Result> r) {
        if (!r) return;
        std::lock_guard<std::mutex> lock(mu_);
        spare_.push_back(std::move(r));
    }

  private:
    struct Done {
        std::unique_ptr<Result> result;
        std::exception_ptr fault;
    };

    void work() {
        std::unique_lock<std::mutex> lock(mu_);
        for (;;) {
            wake_.wait(lock,
                       [this] { return stop_ || (next_ < count_ && next_ < take_ + window_); });
            if (stop_) return;
            std::size_t chunk = next_++;
            Done d;
            if (!spare_.empty()) {
                d.result = std::move(spare_.back());
                spare_.pop_back();
            }
            lock.unlock();
            try {
                if (!d.result) d.result = std::make_unique<Result>();
                parse_(chunk, *d.result);
            } catch (...) {
                d.fault = std::current_exception();
            }
            lock.lock();
            done_[chunk] = std::move(d);
            ready_.notify_all();
        }
    }

    Parse parse_;
    std::mutex mu_;
    std::condition_variable wake_, ready_;
    std::size_t next_, take_, count_, window_;
    bool stop_ = false;
    std::map<std::size_t, Done> done_;
    std::vector<std::unique_ptr<Result>> spare_;
    std::vector<std::thread> workers_;
};

} // namespace velloc::host
