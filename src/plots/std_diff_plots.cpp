// The standardized-difference plots: one position per balance row, one mark per set (or
// stratum) at the row's standardized difference.
#include <algorithm>
#include <cmath>

#include "assess/balance_rows.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "plots/plot_messages.h"
#include "plots/plots.h"
#include "render/dynamics.h"

namespace velloc {

namespace {

// Binary rows are plotted from the proportions, standardized by the all-observations binary
// deviation (or not at all); a missing deviation leaves the position empty.
double binaryDivisor(const VlcRun& run, int slot) {
    if (!run.stdBinVar) return 1.0;
    return run.balance.sets[kAllObs].slots[static_cast<std::size_t>(slot)].s;
}

// The dynamics both forms share.
void axisDynamics(const VlcRun& run, PlotGraph& g, int n, double limit) {
    g.dyn(host::dyn::kPs, std::int64_t{run.assessPs > 0 || run.assessLps ? 1 : 0});
    g.dyn(host::dyn::kX, std::int64_t{run.nAssessCont > 0 ? 1 : 0});
    g.dyn(host::dyn::kVertical, std::int64_t{run.plotOrientation == 2 ? 1 : 0});
    g.dyn(host::dyn::kYTicks, run.stdDiffTicks);
    g.dyn(host::dyn::kYEnd, std::int64_t{n});
    g.dyn(host::dyn::kYIncr, std::int64_t{n >= 2 ? 1 : 0});
    g.dyn(host::dyn::kXMin, -limit);
    g.dyn(host::dyn::kXMax, limit);
    g.dyn(host::dyn::kYMin, 0.0);
    g.dyn(host::dyn::kYMax, static_cast<double>(n + 1));
    g.dyn(host::dyn::kDMin, -run.stdDiffRef);
    g.dyn(host::dyn::kDMax, run.stdDiffRef);
    // Reference lines at the balance threshold of the summary table.
    g.dyn(host::dyn::kRefLine, run.balance.settings.stdDiffThreshold);
}

} // namespace

int vlcpltd(VlcRun& run) {
    const BalanceStats& b = run.balance;
    const std::vector<BalanceRow> rows = balanceRows(run);
    const int n = static_cast<int>(rows.size());
    PlotGraph g("StdDiffPhnt", "StdDiffPlot");
    const std::vector<int>& p = run.plotPanels;
    auto has = [&](int panel) {
        return std::int64_t{std::find(p.begin(), p.end(), panel) != p.end() ? 1 : 0};
    };
    axisDynamics(run, g, n, b.stdDiffLimit);
    g.dyn(host::dyn::kBand, std::int64_t{run.stdDiffRef > kTolerance ? 1 : 0});
    if (!(run.stdDiffRef > kTolerance)) {
        // Without a band its bounds collapse to the zero line.
        for (auto& d : g.rec.phantom.dynamics)
            if (d.name == host::dyn::kDMin || d.name == host::dyn::kDMax) d.value = 0.0;
    }
    g.dyn(host::dyn::kRegion, has(kPanelRegion));
    g.dyn(host::dyn::kRegionWgt, has(kPanelRegionWgt));
    if (run.matchActive) {
        g.dyn(host::dyn::kMatch, has(kPanelMatch));
        g.dyn(host::dyn::kMatchWgt, has(kPanelMatchWgt));
    }
    g.dyn(host::dyn::kStrata, std::int64_t{run.nStrata ? 1 : 0});
    for (const char* c : {"XVar", "XAllObsMean", "XRegionMean", "XRegionWgtMean", "XMatchMean",
                          "XMatchWgtMean", "XStrMean"})
        g.column(c);
    // Column of the fourth set, or -1 when it is not plotted.
    int fourth = -1;
    if (run.nStrata)
        fourth = 6;
    else if (run.weightType != kWeightNone && run.matchActive)
        fourth = 5;
    else if (run.weightType != kWeightNone && !run.matchGiven)
        fourth = 3;
    int added = 0;
    for (int i = 0; i < n; ++i) {
        const int slot = rows[static_cast<std::size_t>(i)].slot;
        auto value = [&](int set) {
            const SlotStats& st = b.sets[set].slots[static_cast<std::size_t>(slot)];
            if (!rows[static_cast<std::size_t>(i)].binary) return st.z;
            const double d = st.g[kTreated].mean - st.g[kControl].mean;
            return rows[static_cast<std::size_t>(i)].difference(d) / binaryDivisor(run, slot);
        };
        if (rows[static_cast<std::size_t>(i)].binary && std::isnan(binaryDivisor(run, slot)))
            continue;
        std::vector<host::Cell> r(7, kPlotNaN);
        r[0] = static_cast<double>(i + 1);
        r[1] = value(kAllObs);
        r[2] = value(kRegion);
        if (run.matchActive) r[4] = value(kMatch);
        if (fourth >= 0) r[static_cast<std::size_t>(fourth)] = value(kFourth);
        g.row(std::move(r));
        ++added;
    }
    g.row(std::vector<host::Cell>(7, kPlotNaN));
    deliverGraph(run, g, plotText(kPlotTextStdDiff), plotText(kPlotTextStdDiff), added > 0);
    return 0;
}

int vlcplsd(VlcRun& run) {
    const BalanceStats& b = run.balance;
    const std::vector<BalanceRow> rows = balanceRows(run);
    const int n = static_cast<int>(rows.size());
    PlotGraph g("StrataStdDiffPhnt", "StrataStdDiffPlot");
    axisDynamics(run, g, n, b.strataStdDiffLimit);
    for (const char* c : {"XVar", "XMean", "XMean0", "XStrata"})
        g.column(c);
    const int nStrata = std::min(run.nStrata, static_cast<int>(b.strata.size()) - 1);
    int added = 0;
    for (int i = 0; i < n; ++i) {
        const BalanceRow& row = rows[static_cast<std::size_t>(i)];
        const double d = row.binary ? binaryDivisor(run, row.slot) : 1.0;
        if (std::isnan(d)) continue;
        for (int k = 1; k <= nStrata; ++k) {
            const StratumSlot& st =
                b.strata[static_cast<std::size_t>(k)][static_cast<std::size_t>(row.slot)];
            double z =
                row.binary ? row.difference(st.mean[kTreated] - st.mean[kControl]) / d : st.z;
            g.row({static_cast<double>(i + 1), z, kPlotNaN, static_cast<double>(k)});
            ++added;
        }
    }
    g.row(std::vector<host::Cell>(4, kPlotNaN));
    deliverGraph(run, g, plotText(kPlotTextStdDiffByStratum), plotText(kPlotTextStdDiffByStratum),
                 added > 0);
    return 0;
}

} // namespace velloc
