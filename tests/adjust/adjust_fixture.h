// A BY group built by hand for the weights, region and strata phases: model rows with
// supplied scores written to VLCLREG in the layout the run fields describe.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "adjust/adjust.h"
#include "adjust/adjust_messages.h"
#include "base/messages.h"
#include "core/model_rows.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "io/utility_file.h"

namespace velloc::testing {

struct Row {
    double score;                   // supplied PS (or LPS with lpsSupplied)
    int treated;                    // 1 treated, 0 control, -1 no group
    double f = 1.0;                 // frequency
    std::vector<double> cont = {};  // combined continuous values
    std::vector<double> cls = {};   // assessed CLASS indicators
    std::vector<double> exact = {}; // EXACT level indices
    double idNum = 0.0;             // one numeric ID value (with ID variables)
    std::string idText = "";        // 8 bytes of ID text (with ID variables)
};

class AdjustTest : public ::testing::Test {
  protected:
    void SetUp() override {
        addAdjustMessages();
        host::Log::setStream(&log);
        run.vlclreg = std::make_unique<host::UtilFile>("VLCLREG");
        run.vlcvout = std::make_unique<host::UtilFile>("VLCVOUT");
        run.vlctemp = std::make_unique<host::UtilFile>("VLCTEMP");
        run.vlctreat = std::make_unique<host::UtilFile>("VLCTREAT");
        run.vlccntl = std::make_unique<host::UtilFile>("VLCCNTL");
        run.psSupplied = 1;
        run.psSource = kScorePs;
        run.regionType = 57;
        run.regionExtend = 0;
        run.regionScore = kScorePs;
    }
    void TearDown() override { host::Log::setStream(nullptr); }

    // Lays out VLCLREG for nCont combined values (each its own analysis variable), nCls
    // assessed two-level CLASS indicators, nExact EXACT variables and optional ID variables,
    // and writes the rows.
    void build(const std::vector<Row>& rows, int nCont = 0, int nCls = 0, int nExact = 0,
               bool ids = false) {
        run.analysisVars.assign(static_cast<std::size_t>(nCont), VarRef{});
        run.nCombined = nCont;
        run.combinedVars.clear();
        for (int i = 0; i < nCont; ++i)
            run.combinedVars.push_back(i);
        run.assessClass.assign(static_cast<std::size_t>(nCls), AssessClass{0, 2});
        run.classIndicators.clear();
        for (int j = 0; j < nCls; ++j)
            run.classIndicators.push_back({j, 0, {}, {}});
        run.exactVars.assign(static_cast<std::size_t>(nExact), 0);
        run.idNumCount = ids ? 1 : 0;
        run.idTextBytes = ids ? 8 : 0;
        run.model.layout.D = 0;
        run.lregExact = kRowDesign;
        run.lregClass = run.lregExact + nExact;
        run.lregCont = run.lregClass + nCls;
        run.lregIdNum = run.lregCont + nCont;
        run.lregIdText = run.lregIdNum + run.idNumCount;
        run.lregRecBytes = 8 * run.lregIdText + run.idTextBytes;
        run.balance.reset(nCont + 2, nCls, 0);
        run.vlclreg->point(-2);
        run.vlclreg->setRecordBytes(static_cast<std::size_t>(run.lregRecBytes));
        run.freqTreated = run.freqControl = 0;
        std::vector<double> rec(static_cast<std::size_t>(run.lregRecBytes) / 8);
        int obs = 0;
        for (const Row& r : rows) {
            std::fill(rec.begin(), rec.end(), 0.0);
            rec[kRowObs] = ++obs;
            rec[kRowFreq] = r.f;
            rec[kRowWeight] = 1.0;
            rec[kRowScore] = r.score;
            rec[kRowTreat] = r.treated;
            for (int i = 0; i < nExact; ++i)
                rec[run.lregExact + i] = r.exact[i];
            for (int i = 0; i < nCls; ++i)
                rec[run.lregClass + i] = r.cls[i];
            for (int i = 0; i < nCont; ++i)
                rec[run.lregCont + i] = r.cont[i];
            if (ids) {
                rec[run.lregIdNum] = r.idNum;
                std::memcpy(&rec[run.lregIdText], r.idText.c_str(), 8);
            }
            run.vlclreg->write(rec.data());
            if (r.treated >= 0) // a row of no group (-1) counts in neither
                (r.treated ? run.freqTreated : run.freqControl) += static_cast<std::int64_t>(r.f);
        }
        run.nObsRead = obs;
    }

    // The working file's records in file order.
    std::vector<std::vector<double>> records(host::UtilFile& file) {
        std::vector<std::vector<double>> out;
        std::vector<double> rec(file.recordBytes() / 8);
        file.point(0);
        while (file.read(rec.data()))
            out.push_back(rec);
        file.point(0);
        return out;
    }

    // How often the log holds the message id "[1049-n]".
    int logged(int n) const {
        const std::string id = "[1049-" + std::to_string(n) + "]";
        int c = 0;
        for (auto p = log.str().find(id); p != std::string::npos; p = log.str().find(id, p + 1))
            ++c;
        return c;
    }

    const GroupStats& stat(int set, int slot, int g) {
        return run.balance.sets[set].slots[static_cast<std::size_t>(slot)].g[g];
    }

    std::ostringstream log;
    VlcRun run;
};

} // namespace velloc::testing
