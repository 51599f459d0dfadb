// Model rows read ahead on a thread of their own: while the fit works through one batch of
// records the next is read from the source (a utility file on disk), so a pass costs the
// larger of the two instead of their sum. The records and their order are the source's.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "core/model_rows.h"

namespace velloc {

class ReadAheadRows final : public ModelRowSource {
  public:
    // Reads `rows`, which nothing else may read while this lives.
    explicit ReadAheadRows(ModelRowSource& rows);
    ~ReadAheadRows() override;
    ReadAheadRows(const ReadAheadRows&) = delete;
    ReadAheadRows& operator=(const ReadAheadRows&) = delete;

    int recordDoubles() const override { return stride_; }
    // Stops reading ahead and rewinds the source; the next read starts again.
    int rewind() override;
    // The next record; false where the source's read returned false. The source is read for
    // the calling thread's session (its fault handler, phase and log), and a fault it raised
    // while reading ahead is raised here, at the record where it happened. The calling thread
    // must not change that session state while it reads.
    bool read(double* rec) override;
    // Reads by number go to the source itself (between passes: the fit rewinds first).
    bool rangeReads() const override { return rows_.rangeReads(); }
    bool readRecords(std::int64_t first, std::int64_t n, double* buf) override {
        return rows_.readRecords(first, n, buf);
    }

  private:
    struct Batch {
        std::vector<double> data;
        std::size_t count = 0, next = 0;
        bool last = false; // the source ended after these records
        std::exception_ptr fault;
    };
    void produce();
    void stop();

    ModelRowSource& rows_;
    const int stride_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Batch> batches_; // a ring: the consumer's batch, then the ones filled ahead
    std::size_t head_ = 0;       // the batch being read
    std::size_t filled_ = 0;     // batches ready from head_ on
    bool stopping_ = false, ended_ = false;
    bool holding_ = false; // the consumer has seen the head batch filled
    std::thread worker_;
};

} // namespace velloc
