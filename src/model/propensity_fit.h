// The logistic fit phase of a BY group and the utility-file source of model rows.
#pragma once
#include "core/model_rows.h"
#include "io/utility_file.h"

namespace velloc {

struct VlcRun;

// Model rows read from a utility file (VLCLREG).
class UtilFileRows : public ModelRowSource {
  public:
    explicit UtilFileRows(host::UtilFile& file) : file_(file) {}
    int recordDoubles() const override {
        return static_cast<int>((file_.recordBytes() + sizeof(double) - 1) / sizeof(double));
    }
    int rewind() override { return file_.point(0); }
    bool read(double* rec) override { return file_.read(rec); }
    const double* records(std::int64_t n) const override {
        if (file_.recordBytes() % sizeof(double) != 0 || file_.count() < n) return nullptr;
        return reinterpret_cast<const double*>(file_.memoryData());
    }
    bool rangeReads() const override { return file_.recordBytes() % sizeof(double) == 0; }
    bool readRecords(std::int64_t first, std::int64_t n, double* buf) override {
        return rangeReads() && file_.readRecordsAt(first, n, buf) == host::kUtilOk;
    }

  private:
    host::UtilFile& file_;
};

// Fits the BY group's propensity score model over run.lregRows (run.nObsRead rows, design
// width run.model.layout.D). Fills run.coef,
// run.aliasFlags, run.nAliased, run.nFree and the fit diagnostics. 0 = go on (also when the
// fit did not converge), 1 = abandon the BY group (message 224 issued when one treatment
// group has no positive weight).
int vlclreg(VlcRun& run);

} // namespace velloc
