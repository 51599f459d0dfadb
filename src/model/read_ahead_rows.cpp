#include "model/read_ahead_rows.h"

#include <algorithm>

#include "base/run_state.h"

namespace velloc {

namespace {

constexpr std::size_t kBatches = 3;
constexpr std::size_t kBatchRecords = 4096;

} // namespace

ReadAheadRows::ReadAheadRows(ModelRowSource& rows)
    : rows_(rows), stride_(rows.recordDoubles()), batches_(kBatches) {
    for (Batch& b : batches_)
        b.data.resize(kBatchRecords * static_cast<std::size_t>(std::max(stride_, 1)));
}

ReadAheadRows::~ReadAheadRows() {
    stop();
}

void ReadAheadRows::stop() {
    if (!worker_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
    stopping_ = false;
}

int ReadAheadRows::rewind() {
    stop();
    head_ = filled_ = 0;
    ended_ = holding_ = false;
    return rows_.rewind();
}

// Invariant: the batches head_ .. head_ + filled_ - 1 (in the ring) are the consumer's; the
// worker writes only the one after them, outside the lock, and hands it over under it.
void ReadAheadRows::produce() {
    const auto stride = static_cast<std::size_t>(stride_);
    for (;;) {
        std::size_t slot;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || filled_ < kBatches; });
            if (stopping_) return;
            slot = (head_ + filled_) % kBatches;
        }
        Batch& b = batches_[slot];
        b.count = b.next = 0;
        b.last = false;
        b.fault = nullptr;
        try {
            while (b.count < kBatchRecords) {
                if (!rows_.read(b.data.data() + b.count * stride)) {
                    b.last = true;
                    break;
                }
                ++b.count;
            }
        } catch (...) {
            b.fault = std::current_exception();
            b.last = true;
        }
        {
            std::lock_guard lock(mutex_);
            ++filled_;
        }
        changed_.notify_all();
        if (b.last) return;
    }
}

bool ReadAheadRows::read(double* rec) {
    if (ended_) return false;
    // The worker reads for this thread's session: a utility-file fault it meets is handled,
    // logged and placed (phase, BY group) as it would be here, then raised here.
    if (!worker_.joinable())
        worker_ = std::thread([this, &state = host::currentRunState()] {
            host::RunStateScope scope(state);
            produce();
        });
    const auto stride = static_cast<std::size_t>(stride_);
    for (;;) {
        // Once the head batch is known to be filled its records are read without the lock.
        if (!holding_) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return filled_ > 0; });
            holding_ = true;
        }
        Batch& b = batches_[head_];
        if (b.next < b.count) {
            std::copy_n(b.data.data() + b.next * stride, stride, rec);
            ++b.next;
            return true;
        }
        if (b.last) {
            ended_ = true;
            if (b.fault) std::rethrow_exception(b.fault);
            return false;
        }
        {
            std::lock_guard lock(mutex_);
            head_ = (head_ + 1) % kBatches;
            --filled_;
        }
        holding_ = false;
        changed_.notify_all();
    }
}

} // namespace velloc
