// Test helpers: an in-memory row cursor and the model rows it yields.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include "core/model_rows.h"
#include "model/levelize.h"

namespace velloc::testing {

struct MemRow {
    std::vector<double> z;         // continuous values
    std::vector<std::string> text; // CLASS formatted values (padded here to the width)
    std::vector<double> num;       // numeric CLASS values
    double freq = 1.0;
    double weight = 1.0;
};

class MemCursor : public RowCursor {
  public:
    MemCursor(std::vector<MemRow> rows, std::vector<int> widths)
        : rows_(std::move(rows)), widths_(std::move(widths)) {}
    int vlcxini() override {
        pos_ = -1;
        return 0;
    }
    int vlcxnxt() override {
        if (pos_ + 1 >= static_cast<long>(rows_.size())) return 0;
        ++pos_;
        return 1;
    }
    int vlcxval(CursorRow& out) override {
        const MemRow& r = rows_[static_cast<std::size_t>(pos_)];
        for (std::size_t i = 0; i < r.z.size(); ++i)
            out.z[i] = r.z[i];
        std::size_t off = 0;
        for (std::size_t v = 0; v < widths_.size(); ++v) {
            const std::string& t = v < r.text.size() ? r.text[v] : std::string();
            std::memcpy(out.classText + off, t.data(), std::min(t.size(), std::size_t(widths_[v])));
            off += static_cast<std::size_t>(widths_[v]);
            out.classNum[v] = v < r.num.size() ? r.num[v] : 0.0;
        }
        out.freq = r.freq;
        out.weight = r.weight;
        return 1;
    }

  private:
    std::vector<MemRow> rows_;
    std::vector<int> widths_;
    long pos_ = -1;
};

// Walks the cursor and writes model rows as the model-row phase does: treatment indicator =
// level index of CLASS variable treatVar. Returns the rows, record length 5 + D.
inline std::vector<double> buildModelRows(ModelDesc& m, int treatVar, long* nRows) {
    std::vector<double> out;
    const int D = m.layout.D;
    std::vector<double> rec(static_cast<std::size_t>(kRowDesign + D));
    long n = 0;
    m.cursor->vlcxini();
    while (m.cursor->vlcxnxt() == 1) {
        double w = 0, f = 0;
        zlevrgd(m, &w, &f);
        rec[kRowObs] = static_cast<double>(n + 1);
        rec[kRowFreq] = f;
        rec[kRowWeight] = w;
        rec[kRowScore] = 0.0;
        rec[kRowTreat] = m.levelIdx[static_cast<std::size_t>(treatVar)];
        zlevrgx(m, m.contVals.data(), m.levelIdx.data(), rec.data() + kRowDesign);
        out.insert(out.end(), rec.begin(), rec.end());
        ++n;
    }
    *nRows = n;
    return out;
}

} // namespace velloc::testing
