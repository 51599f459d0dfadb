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
};

// Model rows held in memory, record after record (tests, small groups).
class VectorRowSource : public ModelRowSource {
  public:
    // exposeRecords: records() shows data, as a file held in memory does.
    VectorRowSource(const double* data, std::int64_t nRows, int recordDoubles,
                    bool exposeRecords = false)
        : data_(data), n_(nRows), r_(recordDoubles), expose_(exposeRecords) {}
    const double* records(std::int64_t n) const override {
        return expose_ && n <= n_ ? data_ : nullptr;
    }
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
    std::int64_t pos_ = 0;
    std::int64_t passes_ = 0;
};

} // namespace velloc
