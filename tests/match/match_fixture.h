// Builds the working, treated and control files of one BY group by hand, in the layouts the
// group-file phase writes, so the matching phases can run without the earlier phases.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/phases.h"
#include "core/run_context.h"
#include "driver/message_catalogue.h"
#include "host/host.h"
#include "match/match.h"

namespace velloc::testing {

// The rows of a small comma-separated file without quoting, header left out.
inline std::vector<std::vector<std::string>> readCsv(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, ','))
            cells.push_back(cell);
        rows.push_back(cells);
    }
    return rows;
}

struct Unit {
    double obs;
    int treated;
    double ps;
    std::vector<double> exact = {}; // EXACT= level indices
    std::vector<double> cont = {};  // combined continuous values (Mahalanobis covariates)
    double freq = 1.0;
    double key = 0.0;    // random sort key of a treated unit
    double status = 1.0; // region status
};

// Captures the log while alive.
class LogCapture {
  public:
    LogCapture() { host::Log::setStream(&out_); }
    ~LogCapture() { host::Log::setStream(nullptr); }
    std::string text() const { return out_.str(); }
    int count(const std::string& id) const {
        std::string s = out_.str();
        int n = 0;
        for (std::size_t p = s.find(id); p != std::string::npos; p = s.find(id, p + 1))
            ++n;
        return n;
    }

  private:
    std::ostringstream out_;
};

struct MatchGroup {
    std::unique_ptr<VlcRun> run = std::make_unique<VlcRun>();
    int nExact = 0;
    int nCont = 0;

    // Options of a greedy 1:1 LPS match without caliper over the region [0, 1].
    MatchGroup(int exact = 0, int cont = 0) : nExact(exact), nCont(cont) {
        registerCatalogue();
        VlcRun& r = *run;
        r.matchGiven = r.matchActive = 1;
        r.method = kMethodGreedy;
        r.distance = r.caliperScale = kScoreLps;
        r.caliperOn = 0;
        r.k = 1;
        r.matchOrder = kOrderDescending;
        r.regionLower = 0.0;
        r.regionUpper = 1.0;
        r.exactVars.assign(static_cast<std::size_t>(exact), 0);
        r.nCombined = cont;
        for (int i = 0; i < cont; ++i) {
            r.combinedVars.push_back(i);
            r.analysisVars.push_back({i + 1, "x" + std::to_string(i + 1), host::VarType::Numeric});
        }
        r.voutExact = 13;
        r.voutClass = 13 + exact;
        r.voutCont = r.voutClass;
        r.balance.reset(cont + 2, 0, 0);
        r.vlcvout = std::make_unique<host::UtilFile>("VLCVOUT");
        r.vlctreat = std::make_unique<host::UtilFile>("VLCTREAT");
        r.vlccntl = std::make_unique<host::UtilFile>("VLCCNTL");
        r.vlctemp = std::make_unique<host::UtilFile>("VLCTEMP");
    }

    void setCaliper(double width) {
        run->caliperOn = 1;
        run->caliperWidth = width;
        run->caliperTestWidth = width + width * 1.110223024625157e-10;
    }

    void mahalanobis(std::vector<int> vars, int addPs, int addLps, int cov) {
        VlcRun& r = *run;
        r.distance = kScoreMahalanobis;
        r.mahVars = std::move(vars);
        int n = static_cast<int>(r.mahVars.size());
        r.mahAddPs = addPs ? ++n : 0;
        r.mahAddLps = addLps ? ++n : 0;
        r.nMahComp = n;
        r.mahCov = cov;
    }

    // Writes the three files from the units (any order): PS ascending, then observation number.
    void write(std::vector<Unit> units) {
        VlcRun& r = *run;
        std::stable_sort(units.begin(), units.end(), [](const Unit& a, const Unit& b) {
            return a.ps < b.ps || (a.ps == b.ps && a.obs < b.obs);
        });
        const int e = nExact, m = nCont;
        const int vlen = 13 + e + m + 2, tlen = 15 + e + m + 2, clen = 13 + m + 2;
        r.vlcvout->point(-2);
        r.vlctreat->point(-2);
        r.vlccntl->point(-2);
        r.vlcvout->setRecordBytes(vlen * 8);
        r.vlctreat->setRecordBytes(tlen * 8);
        r.vlccntl->setRecordBytes(clen * 8);
        int ordinal = 0;
        r.nTreated = r.nControl = 0;
        for (const Unit& u : units) {
            double lps = logitClamp(u.ps);
            std::vector<double> w(vlen, 0.0);
            w[0] = u.obs, w[1] = u.freq, w[2] = u.treated, w[3] = u.ps, w[4] = lps, w[5] = u.status;
            for (int i = 0; i < e; ++i)
                w[13 + i] = u.exact[i];
            for (int i = 0; i < m; ++i)
                w[13 + e + i] = u.cont[i];
            w[13 + e + m] = u.ps, w[14 + e + m] = lps;
            r.vlcvout->write(w.data());
            if (u.treated) {
                ++r.nTreated;
                std::vector<double> t(tlen, 0.0);
                t[0] = u.obs, t[1] = u.key, t[2] = u.ps, t[3] = lps, t[5] = u.status, t[6] = u.freq,
                t[13] = ordinal++;
                for (int i = 0; i < e; ++i)
                    t[15 + i] = u.exact[i];
                for (int i = 0; i < m; ++i)
                    t[15 + e + i] = u.cont[i];
                t[15 + e + m] = u.ps, t[16 + e + m] = lps;
                r.vlctreat->write(t.data());
            } else {
                ++r.nControl;
                std::vector<double> c(clen, 0.0);
                c[1] = u.status, c[2] = u.ps, c[3] = lps, c[6] = u.freq;
                for (int i = 0; i < m; ++i)
                    c[13 + i] = u.cont[i];
                c[13 + m] = u.ps, c[14 + m] = lps;
                r.vlccntl->write(c.data());
            }
        }
        r.vlcvout->point(0);
        r.vlctreat->point(0);
        r.vlccntl->point(0);
    }

    std::vector<std::vector<double>> records(host::UtilFile& f) {
        std::vector<std::vector<double>> out;
        std::vector<double> rec(f.recordBytes() / 8);
        f.point(0);
        while (f.read(rec.data()))
            out.push_back(rec);
        f.point(0);
        return out;
    }
    std::vector<std::vector<double>> treated() { return records(*run->vlctreat); }
    std::vector<std::vector<double>> controls() { return records(*run->vlccntl); }
    std::vector<std::vector<double>> working() { return records(*run->vlcvout); }

    // Set number of each unit by observation number, from the working file after vlccomb
    // (0 when missing).
    double setOf(double obs) {
        for (const auto& w : working())
            if (w[0] == obs) return w[9] >= 0.1 ? w[9] : 0.0;
        ADD_FAILURE() << "no observation " << obs;
        return -1;
    }
    const std::vector<double>* workRec(double obs) {
        static std::vector<double> keep;
        for (const auto& w : working())
            if (w[0] == obs) return &(keep = w);
        return nullptr;
    }
};

// The group means the balance phase hands to the covariance: sums over the group divided by
// its size, in double, as the weights phase forms them.
inline void setGroupMeans(MatchGroup& g, const std::vector<Unit>& units) {
    const int m = static_cast<int>(units[0].cont.size());
    auto& balance = g.run->balance;
    std::vector<double> sum(static_cast<std::size_t>(m) + 2, 0.0);
    for (int grp = 0; grp < 2; ++grp) {
        std::fill(sum.begin(), sum.end(), 0.0);
        double n = 0;
        for (const Unit& u : units) {
            if (u.treated != grp) continue;
            for (int i = 0; i < m; ++i)
                sum[i] += u.cont[i];
            sum[m] += u.ps;
            sum[m + 1] += logitClamp(u.ps);
            ++n;
        }
        const int gi = grp ? kTreated : kControl;
        for (int i = 0; i < m; ++i)
            balance.sets[kAllObs].slots[i].g[gi].mean = sum[i] / n;
        balance.sets[kAllObs].slots[balance.psSlot()].g[gi].mean = sum[m] / n;
        balance.sets[kAllObs].slots[balance.lpsSlot()].g[gi].mean = sum[m + 1] / n;
    }
}

} // namespace velloc::testing
