// Model rows (VLCLREG) and the sources the fit reads them from.
#pragma once
#include <cstdint>

namespace velloc {

// Offsets, in doubles, of the fields of a model row.
inline constexpr int kRowObs = 0;
inline constexpr int kRowFreq = 1;
inline constexpr int kRowWeight = 2;
inline constexpr int kRowScore = 3;
inline constexpr int kRowTreat = 4;  // 1 treated, 0 control, negative: no treatment level
inline constexpr int kRowDesign = 5; // D design values follow

// A sequential source of model rows: the fit rewinds it before every pass.
class ModelRowSource {
  public:
    virtual ~ModelRowSource() = default;
    virtual int recordDoubles() const = 0; // doubles to reserve per record (at least 5 + D)
    virtual int rewind() = 0;              // 0 on success
    virtual bool read(double* rec) = 0;    // the next record; false at the end
    // The first n records back to back, recordDoubles() apart, when the source holds them in
    // memory, unchanged while they are read; nullptr otherwise (read() then).
    virtual const double* records(std::int64_t /*n*/) const { return nullptr; }
    // Whether readRecords works: records by number, from any thread, beside the sequential
    // reads, so that a pass over rows on disk can be split between cores.
    virtual bool rangeReads() const { return false; }
    // Records first .. first + n - 1, recordDoubles() apart, into buf, without moving the
    // sequential read. Any number of threads may call it at once while nothing writes the
    // rows. False on a fault, or when rangeReads() is false.
    virtual bool readRecords(std::int64_t /*first*/, std::int64_t /*n*/, double* /*buf*/) {
        return false;
    }
};

// Model rows held in memory, record after record (tests, small groups).
class VectorRowSource : public ModelRowSource {
  public:
    // exposeRecords: records() shows data, as a file held in memory does; rangeReads:
    // readRecords() copies records by number, as from a file on disk.
    VectorRowSource(const double* data, std::int64_t nRows, int recordDoubles,
                    bool exposeRecords = false, bool rangeReads = false)
        : data_(data), n_(nRows), r_(recordDoubles), expose_(exposeRecords), ranges_(rangeReads) {}
    const double* records(std::int64_t n) const override {
        return expose_ && n <= n_ ? data_ : nullptr;
    }
    bool rangeReads() const override { return ranges_; }
    bool readRecords(std::int64_t first, std::int64_t n, double* buf) override;
    int recordDoubles() const override { return r_; }
    int rewind() override {
        pos_ = 0;
        return 0;
    }
    bool read(double* rec) override;
    std::int64_t passes() const { return passes_; }

  private:
    const double* data_;
    std::int64_t n_;
    int r_;
    bool expose_;
    bool ranges_;
    std::int64_t pos_ = 0;
    std::int64_t passes_ = 0;
};

} // namespace velloc
