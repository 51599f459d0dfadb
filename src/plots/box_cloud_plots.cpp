// Box plots and cloud plots of the assessed rows, and the weight cloud plot.
#include <algorithm>
#include <array>
#include <cmath>

#include "assess/balance_rows.h"
#include "base/text.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "plots/plots.h"

namespace velloc {

namespace {

using host::ColumnKind;

std::int64_t vertical(const VlcRun& run) {
    return run.plotOrientation == 2 ? 1 : 0;
}

// Stratum number of an observation when it lies in strata 1..k, else 0.
int stratumOf(const PlotObs& o, int k) {
    if (!(o.stratum >= 0.5) || !(o.stratum <= k + 0.5)) return 0;
    return static_cast<int>(std::lround(o.stratum));
}

std::string groupTicks() {
    return tickLabel(plotText(81)) + tickLabel(plotText(80));
}

// The phantom of a box plot over n positions (panels or strata) and the value range lo..hi.
PlotGraph boxGraph(const VlcRun& run, const char* phantom, const char* graph, int titleMsg,
                   int yLabelMsg, const PlotRow& row, int n, double lo, double hi) {
    PlotGraph g(phantom, graph);
    g.dyn("_ETitle", plotText(titleMsg, row.name));
    g.dyn("_Vertical", vertical(run));
    g.dyn("_YMax", n + (vertical(run) ? 0.5 : 0.9));
    g.dyn("_YLabel", plotText(yLabelMsg));
    g.dyn("_YEnd", std::int64_t{n});
    g.dyn("_XLabel", row.label);
    g.dyn("_XMin", lo);
    g.dyn("_XMax", hi);
    g.dyn("_YTicks", run.panelLabels);
    g.dyn("_YMin", 0.5);
    groupDynamics(run, g);
    g.column("YVal");
    g.column("Response", ColumnKind::Character, levelWidth(run));
    g.column("XVal");
    g.column("XFrq");
    g.column("XWgt");
    return g;
}

// The codes of the control and treated level texts in a graph, coded in that order.
std::array<std::uint32_t, 2> levelCodes(const VlcRun& run, PlotGraph& g) {
    const std::array<std::string, 2> levels = groupLevels(run);
    const std::uint32_t ctl = g.code(levels[0]);
    return {ctl, g.code(levels[1])};
}

} // namespace

int vlcpltx(VlcRun& run) {
    openPlotGroup(run, 14, 15);
    const BalanceStats& b = run.balance;
    const int P = static_cast<int>(run.plotPanels.size());
    forEachDistributionRow(run, run.boxSel, [&](const PlotRow& row, std::vector<PlotObs>& obs) {
        const auto slot = static_cast<std::size_t>(row.slot);
        PlotGraph g =
            boxGraph(run, "BoxPhnt", "BoxPlot", 140, 138, row, P, b.wideLo[slot], b.wideHi[slot]);
        g.reserve(obs.size() * static_cast<std::size_t>(P));
        const std::array<std::uint32_t, 2> level = levelCodes(run, g);
        for (int k = 1; k <= P; ++k) {
            const int panel = run.plotPanels[static_cast<std::size_t>(k - 1)];
            for (int side : {1, 0})
                for (const PlotObs& o : obs) {
                    if (o.treated != (side == 1) || !inPanel(o, panel)) continue;
                    g.coded({k + (side ? 0.15 : -0.15), o.value, o.freq, panelWeight(o, panel)},
                            {level[side]});
                }
        }
        deliverGraph(run, g, plotText(15), row.name, true);
    });
    closePlotGroup(run);
    return 0;
}

int vlcpltj(VlcRun& run) {
    openPlotGroup(run, 20, 21);
    const BalanceStats& b = run.balance;
    forEachDistributionRow(run, run.cloudSel, [&](const PlotRow& row, std::vector<PlotObs>& obs) {
        PlotGraph g("CloudPhnt", "CloudPlot");
        g.dyn("_ETitle", plotText(144, row.name));
        g.dyn("_Vertical", vertical(run));
        g.dyn("_XMin", b.wideLo[static_cast<std::size_t>(row.slot)]);
        g.dyn("_XMax", b.wideHi[static_cast<std::size_t>(row.slot)]);
        g.dyn("_YTicks", groupTicks());
        g.dyn("_XLabel", plotText(138));
        g.dyn("_YLabel", row.label);
        g.dyn("_Match", std::int64_t{run.matchActive ? 1 : 0});
        // The jitter of the drawing comes from the cloud stream recorded for the BY group.
        g.dyn("_Seed", run.cloudSeed);
        groupDynamics(run, g);
        g.column("XVal");
        for (const char* c : {"YVal1", "YVal2", "YVal3"})
            g.column(c);
        g.column("Response", ColumnKind::Character, levelWidth(run));
        g.reserve(obs.size());
        const std::array<std::uint32_t, 2> level = levelCodes(run, g);
        for (int side : {1, 0})
            for (const PlotObs& o : obs) {
                if (o.treated != (side == 1)) continue;
                // The value goes to YVal1 outside the region, YVal2 in it, YVal3 when matched.
                const int at = o.status <= 0.1 ? 0 : o.status <= 1.1 ? 1 : 2;
                g.coded({side ? 4.0 : 2.0, at == 0 ? o.value : kPlotNaN,
                         at == 1 ? o.value : kPlotNaN, at == 2 ? o.value : kPlotNaN},
                        {level[side]});
            }
        deliverGraph(run, g, plotText(21), row.name, g.rows() > 0);
    });
    closePlotGroup(run);
    return 0;
}

int vlcpltw(VlcRun& run) {
    closePlotGroup(run);
    if (run.weightType != 122 && run.weightType != 124) return 0;
    std::vector<PlotObs> obs;
    if (!readPlotObs(run, -1, obs)) return 0;
    const double ref = std::isnan(run.wgtCloudRef) ? 10.0 : run.wgtCloudRef;
    PlotGraph g("WgtCloudPhnt", "WgtCloudPlot");
    g.dyn("_ETitle", plotText(145));
    g.dyn("_Vertical", vertical(run));
    const bool att = run.weightType == 124, stab = !att && run.stabilize;
    g.dyn("_AttWgt", std::int64_t{att});
    g.dyn("_AteWgt", std::int64_t{!att && !stab});
    g.dyn("_StabWgt", std::int64_t{stab});
    double refMax = 0.0;
    auto line = [&](const char* name, double v) {
        g.dyn(name, v);
        if (v > refMax) refMax = v;
    };
    if (att) {
        line("_CntlWgtRef", ref * run.pT / run.pC);
    } else if (!stab) {
        line("_TrtWgtRef", ref / run.pT);
        line("_CntlWgtRef", ref / run.pC);
    } else {
        line("_WgtRef", ref);
    }
    g.dyn("_XMin", 0.0);
    g.dyn("_XMax", std::max(run.maxWeight, refMax));
    g.dyn("_YTicks", groupTicks());
    g.dyn("_XLabel", plotText(138));
    g.dyn("_YLabel", plotText(att ? 89 : stab ? 88 : 87));
    groupDynamics(run, g);
    g.column("XVal");
    g.column("YVal1");
    g.column("YVal2");
    g.column("Response", ColumnKind::Character, levelWidth(run));
    g.reserve(obs.size());
    const std::array<std::string, 2> levels = groupLevels(run);
    for (int side : {1, 0})
        for (const PlotObs& o : obs) {
            if (o.treated != (side == 1)) continue;
            std::vector<host::Cell> r{side ? 4.0 : 2.0, kPlotNaN, kPlotNaN, levels[side]};
            r[o.status <= 0.1 ? 1 : 2] = o.wRegion;
            g.row(std::move(r));
        }
    deliverGraph(run, g, plotText(22), plotText(22), g.rows() > 0);
    return 0;
}

int vlcplsx(VlcRun& run) {
    const int K = openStrataPlotGroup(run, 24, 25);
    const BalanceStats& b = run.balance;
    run.panelLabels = strataTicks(K);
    forEachDistributionRow(run, run.boxSel, [&](const PlotRow& row, std::vector<PlotObs>& obs) {
        const auto slot = static_cast<std::size_t>(row.slot);
        PlotGraph g = boxGraph(run, "StrataBoxPhnt", "StrataBoxPlot", 146, 139, row, K,
                               b.strataLo[slot], b.strataHi[slot]);
        g.reserve(obs.size());
        const std::array<std::uint32_t, 2> level = levelCodes(run, g);
        for (const PlotObs& o : obs) {
            int k = stratumOf(o, K);
            if (!k) continue;
            double w = run.weightType == 121 ? 1.0 : run.matchActive ? o.wMatch : o.wRegion;
            g.coded({k + (o.treated ? 0.15 : -0.15), o.value, o.freq, w}, {level[o.treated]});
        }
        deliverGraph(run, g, plotText(25), row.name, true);
    });
    closePlotGroup(run);
    return 0;
}

int vlcplsj(VlcRun& run) {
    const int K = openStrataPlotGroup(run, 30, 31);
    const BalanceStats& b = run.balance;
    forEachDistributionRow(run, run.cloudSel, [&](const PlotRow& row, std::vector<PlotObs>& obs) {
        PlotGraph g("StrataCloudPhnt", "StrataCloudPlot");
        g.dyn("_ETitle", plotText(150, row.name));
        g.dyn("_Vertical", vertical(run));
        g.dyn("_Cont", std::int64_t{1});
        g.dyn("_YMin", 0.0);
        g.dyn("_YMax", static_cast<double>(K + 1));
        g.dyn("_YEnd", std::int64_t{K});
        g.dyn("_XMin", b.strataLo[static_cast<std::size_t>(row.slot)]);
        g.dyn("_XMax", b.strataHi[static_cast<std::size_t>(row.slot)]);
        g.dyn("_XLabel", plotText(139));
        g.dyn("_YLabel", row.label);
        g.dyn("_YTicks", strataTicks(K));
        g.dyn("_Seed", run.cloudSeed);
        groupDynamics(run, g);
        for (const char* c : {"XVal", "YVal1", "YVal2"})
            g.column(c);
        g.reserve(obs.size());
        for (const PlotObs& o : obs) {
            int k = stratumOf(o, K);
            if (!k) continue;
            g.row({static_cast<double>(k), o.treated ? o.value : kPlotNaN,
                   o.treated ? kPlotNaN : o.value});
        }
        deliverGraph(run, g, plotText(31), row.name, g.rows() > 0);
    });
    closePlotGroup(run);
    return 0;
}

} // namespace velloc
