// Reading a BY group into VLCSKIP and VLCDATA, and the row cursor over VLCDATA that the
// levelization library walks.
#pragma once
#include <vector>

#include "model/levelize.h"

namespace velloc {

struct VlcRun;

// VLCDATA record fields, in doubles from the record start.
inline constexpr int kDataObs = 0;
inline constexpr int kDataFreq = 1;
inline constexpr int kDataWeight = 2;
inline constexpr int kDataScore = 3;
inline constexpr int kDataAnalysis = 4; // one value per analysis variable

// Fixes the record layouts and the analysis-variable roles and registers the model with the
// levelization library. Runs once, from the first vlcbin. 0 done, 1 the model was refused.
int inputSetup(VlcRun& run);

// The range of each model continuous variable over the group's VLCDATA records, gathered as
// vlcin writes them, so that the scales need no pass of their own.
void startContRanges(VlcRun& run);
void addToContRanges(VlcRun& run, const double* rec);

// The model as the levelization library takes it: every CLASS variable, the nModelCont model
// continuous variables and (unless the scores are supplied) the PSMODEL effects, whose factors
// are CLASS or analysis-list positions; a factor in neither list is -1, refused by zlevmod.
ModelSpec modelDefinition(const VlcRun& run);

// The row cursor: walks the nObsRead records of VLCDATA; the "z" values are the model
// continuous values divided by their scales (run.contScale).
class DataCursor : public RowCursor {
  public:
    explicit DataCursor(VlcRun& run);
    // Over records [from, to) of the copy of the input where it lies in memory (records, whole
    // doubles, back to back), for a thread of its own: nothing of the file is touched.
    DataCursor(VlcRun& run, const double* records, std::size_t from, std::size_t to);
    // Over records [from, to) of the copy of the input on disk, read a block at a time by
    // number, for a thread of its own: the file's position is not touched. The copy's writes
    // must have gone out (a rewind sends them).
    DataCursor(VlcRun& run, std::size_t from, std::size_t to);
    int vlcxini() override;
    int vlcxnxt() override;
    int vlcxval(CursorRow& row) override;
    // The current record, where the copy of the input holds it (records are whole doubles).
    const double* record() const { return rec_; }

  private:
    VlcRun& run_;
    const double* rec_ = nullptr;
    long long row_ = 0;
    const double* records_ = nullptr; // a range of records in memory, else the file
    std::size_t from_ = 0, to_ = 0;
    bool ranged_ = false;       // a range of the file, read by number into block_
    std::vector<double> block_; // records blockFirst_ .. blockEnd_ - 1
    std::size_t blockFirst_ = 0, blockEnd_ = 0;
};

} // namespace velloc
