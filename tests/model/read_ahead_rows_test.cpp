// Model rows read ahead on a thread: the same records in the same order as the source gives
// them, pass after pass; the end where the source ends; a fault the source raises surfaces at
// the record where it happened, not before, and is handled by the reading session's fault
// handler; a reader dropped half-way stops its thread.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "base/run_state.h"
#include "model/read_ahead_rows.h"

namespace velloc {
namespace {

constexpr int kStride = 3;

// Records (i, 2i, -i) for i = 0 .. n - 1; optionally throws instead of giving record failAt,
// as a utility file's fault handler does.
class CountingRows : public ModelRowSource {
  public:
    explicit CountingRows(std::int64_t n, std::int64_t failAt = -1) : n_(n), failAt_(failAt) {}
    int recordDoubles() const override { return kStride; }
    int rewind() override {
        pos_ = 0;
        ++rewinds_;
        return 0;
    }
    bool read(double* rec) override {
        if (pos_ == failAt_) throw std::runtime_error("fault at " + std::to_string(pos_));
        if (pos_ >= n_) return false;
        rec[0] = double(pos_);
        rec[1] = 2.0 * double(pos_);
        rec[2] = -double(pos_);
        ++pos_;
        return true;
    }
    int rewinds() const { return rewinds_; }

  private:
    std::int64_t n_, failAt_, pos_ = 0;
    int rewinds_ = 0;
};

// Batches of 4,096 records: sizes around and across their edges.
TEST(ReadAheadRows, GivesTheSourceRecordsInOrderOnEveryPass) {
    for (std::int64_t n : {0, 1, 4095, 4096, 4097, 12288, 20001}) {
        CountingRows source(n);
        ReadAheadRows rows(source);
        EXPECT_EQ(rows.recordDoubles(), kStride);
        for (int pass = 0; pass < 3; ++pass) {
            ASSERT_EQ(rows.rewind(), 0);
            double rec[kStride];
            std::int64_t got = 0;
            while (rows.read(rec)) {
                ASSERT_EQ(rec[0], double(got)) << "n " << n << " pass " << pass;
                ASSERT_EQ(rec[1], 2.0 * double(got));
                ASSERT_EQ(rec[2], -double(got));
                ++got;
            }
            EXPECT_EQ(got, n) << "pass " << pass;
            EXPECT_FALSE(rows.read(rec)); // and stays at the end
        }
        EXPECT_EQ(source.rewinds(), 3);
    }
}

TEST(ReadAheadRows, AFaultSurfacesAtItsRecord) {
    CountingRows source(10000, 5000);
    ReadAheadRows rows(source);
    double rec[kStride];
    for (std::int64_t i = 0; i < 5000; ++i)
        ASSERT_TRUE(rows.read(rec)) << i;
    EXPECT_EQ(rec[0], 4999.0);
    EXPECT_THROW(rows.read(rec), std::runtime_error);
    EXPECT_FALSE(rows.read(rec));
}

// A source that reports a failed read to the session's fault handler, as a utility file
// does, and returns false when the session has none.
class FaultingRows : public CountingRows {
  public:
    FaultingRows(std::int64_t n, std::int64_t failAt) : CountingRows(n), failAt_(failAt) {}
    bool read(double* rec) override {
        if (at_++ == failAt_) {
            if (auto handler = host::currentRunState().utilFaultHandler) handler(306);
            return false;
        }
        return CountingRows::read(rec);
    }

  private:
    std::int64_t failAt_, at_ = 0;
};

struct HandledFault {
    int code;
};

TEST(ReadAheadRows, TheReadingSessionsFaultHandlerHandlesAFault) {
    host::RunState session;
    session.utilFaultHandler = [](int code) { throw HandledFault{code}; };
    host::RunStateScope bound(session);
    FaultingRows source(20000, 9000);
    ReadAheadRows rows(source);
    double rec[kStride];
    for (std::int64_t i = 0; i < 9000; ++i)
        ASSERT_TRUE(rows.read(rec)) << i;
    try {
        rows.read(rec);
        ADD_FAILURE() << "the fault was not raised";
    } catch (const HandledFault& f) {
        EXPECT_EQ(f.code, 306);
    }
}

TEST(ReadAheadRows, AReaderDroppedHalfWayStopsItsThread) {
    CountingRows source(100000);
    {
        ReadAheadRows rows(source);
        double rec[kStride];
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(rows.read(rec));
        // The thread has filled every batch and waits for one to be given back.
    }
    // A rewind half-way starts the next pass from the first record.
    ReadAheadRows rows(source);
    ASSERT_EQ(rows.rewind(), 0);
    double rec[kStride];
    for (int i = 0; i < 7000; ++i)
        ASSERT_TRUE(rows.read(rec));
    ASSERT_EQ(rows.rewind(), 0);
    ASSERT_TRUE(rows.read(rec));
    EXPECT_EQ(rec[0], 0.0);
}

} // namespace
} // namespace velloc
