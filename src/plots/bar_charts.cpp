// Bar charts of the assessed CLASS variables: per panel (or stratum) the share of each level
// in the control and the treated group, stacked, or the counts behind them.
#include <algorithm>
#include <array>
#include <cmath>

#include "base/text.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "plots/plot_messages.h"
#include "plots/plots.h"
#include "render/dynamics.h"

namespace velloc {

namespace {

using host::ColumnKind;

// One chart: a CLASS variable and the balance slots of its levels' bars. A two-level variable
// has one slot (the first level; the second level's bar is the complement), any other one
// slot per level.
struct BarVar {
    int j = 0; // position in the assessed CLASS list
    std::vector<int> slots;
    std::string name, label;
    std::vector<std::string> levels; // the bars' level texts, in level order
    bool complement = false;

    int levelWidth() const {
        std::size_t w = 1;
        for (const std::string& l : levels)
            w = std::max(w, l.size());
        return static_cast<int>(w);
    }
};

std::vector<BarVar> barVars(const VlcRun& run) {
    const BalanceStats& b = run.balance;
    std::vector<BarVar> out;
    for (std::size_t c = 0; c < run.classIndicators.size() && static_cast<int>(c) < b.nBin; ++c) {
        const ClassIndicator& ind = run.classIndicators[c];
        const auto j = static_cast<std::size_t>(ind.cls);
        const int slot = b.binSlot(static_cast<int>(c));
        if (j >= run.barSel.vars.size() || !run.barSel.vars[j] ||
            (slot < static_cast<int>(b.excluded.size()) && b.excluded[slot]))
            continue;
        if (out.empty() || out.back().j != ind.cls) {
            const VarRef& v =
                run.classVars[static_cast<std::size_t>(run.assessClass[j].classIndex)].var;
            std::string label;
            if (run.inData && v.number > 0) label = run.inData->var(v.number).label;
            BarVar bv;
            bv.j = ind.cls;
            bv.name = host::cutText(v.name, 40);
            bv.label = host::cutText(label.empty() ? v.name : label, 40);
            bv.complement = run.assessClass[j].nLevels == 2;
            out.push_back(std::move(bv));
        }
        BarVar& bv = out.back();
        bv.slots.push_back(slot);
        bv.levels.push_back(host::trimBlanks(ind.text));
        if (bv.complement) bv.levels.push_back(host::trimBlanks(ind.complement));
    }
    return out;
}

// Which statistics a panel reads.
int panelSet(int panel) {
    switch (panel) {
    case kPanelAll:
        return kAllObs;
    case kPanelRegion:
        return kRegion;
    case kPanelMatch:
        return kMatch;
    default:
        return kFourth;
    }
}

// The stacked bars of one position: control at k - 0.15, treated at k + 0.15, one bar per
// level in level order, the first level with the highest RIndex (the level count) and the last
// with 1. p holds each slot's proportion per side; scale turns proportions into counts.
void addBars(PlotGraph& g, const BarVar& v, double k, const std::vector<std::array<double, 2>>& p,
             const double scale[2]) {
    const std::size_t n = v.levels.size();
    for (int side : {0, 1}) {
        const double x = side ? k + 0.15 : k - 0.15;
        for (std::size_t l = 0; l < n; ++l) {
            const double share =
                v.complement ? (l == 0 ? p[0][side] : 1.0 - p[0][side]) : p[l][side];
            const double y = share * scale[side];
            const auto index = static_cast<double>(n - l);
            if (side)
                g.row({kPlotNaN, kPlotNaN, x, y, v.levels[l], index});
            else
                g.row({x, y, kPlotNaN, kPlotNaN, v.levels[l], index});
        }
    }
}

void barColumns(PlotGraph& g, int levelWidth) {
    for (const char* c : {"XVal0", "YVal0", "XVal1", "YVal1"})
        g.column(c);
    g.column("Response", ColumnKind::Character, std::max(levelWidth, 1));
    g.column("RIndex");
}

void barDynamics(const VlcRun& run, PlotGraph& g, const BarVar& v, int positions, int titleMsg,
                 int yLabelMsg, const std::string& ticks) {
    const bool vertical = run.plotOrientation == 2;
    g.dyn(host::dyn::kETitle, plotText(run.barFreq ? titleMsg - 1 : titleMsg, v.name));
    g.dyn(host::dyn::kVertical, std::int64_t{vertical ? 1 : 0});
    g.dyn(host::dyn::kXLabel,
          plotText(run.barFreq ? kPlotTextFrequencyOf : kPlotTextProportionOf, v.label));
    g.dyn(host::dyn::kYMax, positions + (vertical ? 0.2 : 0.8));
    g.dyn(host::dyn::kYMin, 0.8);
    g.dyn(host::dyn::kYLabel, plotText(yLabelMsg));
    g.dyn(host::dyn::kYEnd, std::int64_t{positions});
    groupDynamics(run, g);
    g.dyn(host::dyn::kXVarName, v.name);
    g.dyn(host::dyn::kXMin, 0.0);
    g.dyn(host::dyn::kYTicks, ticks);
}

} // namespace

int vlcplta(VlcRun& run) {
    openPlotGroup(run, 18, 19);
    const BalanceStats& b = run.balance;
    const int P = static_cast<int>(run.plotPanels.size());
    for (const BarVar& v : barVars(run)) {
        PlotGraph g("BarPhnt", "BarChart");
        barDynamics(run, g, v, P, 143, 138, run.panelLabels);
        double largest = 0.0;
        for (int panel : run.plotPanels) {
            const SetStats& s = b.sets[panelSet(panel)];
            for (int side : {0, 1})
                largest =
                    std::max({largest, s.total[side], weightedPanel(panel) ? s.wtotal[side] : 0.0});
        }
        g.dyn(host::dyn::kXMax, run.barFreq ? 1.2 * largest : 1.09);
        // Counts of a weighted panel are sums of weights: the chart says so at those panels.
        std::string weightedAt;
        for (int k = 1; k <= P && run.barFreq; ++k)
            if (weightedPanel(run.plotPanels[static_cast<std::size_t>(k - 1)]))
                weightedAt += std::to_string(k) + " ";
        if (!weightedAt.empty()) g.dyn(host::dyn::kWgtTotals, weightedAt);
        barColumns(g, v.levelWidth());
        for (int k = 1; k <= P; ++k) {
            const int panel = run.plotPanels[static_cast<std::size_t>(k - 1)];
            const SetStats& s = b.sets[panelSet(panel)];
            std::vector<std::array<double, 2>> p;
            for (int slot : v.slots) {
                const SlotStats& st = s.slots[static_cast<std::size_t>(slot)];
                p.push_back({st.g[kControl].mean, st.g[kTreated].mean});
            }
            double scale[2] = {1.0, 1.0};
            if (run.barFreq)
                for (int side : {0, 1})
                    scale[side] = weightedPanel(panel) ? s.wtotal[side] : s.total[side];
            addBars(g, v, k, p, scale);
        }
        deliverGraph(run, g, plotText(kPlotTextBarCharts), v.name, g.rows() > 0);
    }
    closePlotGroup(run);
    return 0;
}

int vlcplsa(VlcRun& run) {
    const int shown = openStrataPlotGroup(run, 28, 29);
    const BalanceStats& b = run.balance;
    const int K = std::min(shown, static_cast<int>(b.strata.size()) - 1);
    const bool weighted = run.weightType != kWeightNone;
    for (const BarVar& v : barVars(run)) {
        PlotGraph g("StrataBarPhnt", "StrataBarChart");
        barDynamics(run, g, v, K, 149, 139, strataTicks(K));
        double largest = 0.0;
        for (int k = 1; k <= K; ++k) {
            const StratumSlot& st =
                b.strata[static_cast<std::size_t>(k)][static_cast<std::size_t>(v.slots[0])];
            for (int side : {0, 1})
                largest = std::max(largest, weighted ? st.w[side] : st.n[side]);
        }
        g.dyn(host::dyn::kXMax, run.barFreq ? 1.2 * largest : 1.09);
        std::string weightedAt;
        for (int k = 1; k <= K && run.barFreq && weighted; ++k)
            weightedAt += std::to_string(k) + " ";
        if (!weightedAt.empty()) g.dyn(host::dyn::kWgtTotals, weightedAt);
        barColumns(g, v.levelWidth());
        for (int k = 1; k <= K; ++k) {
            const StratumSlot& st =
                b.strata[static_cast<std::size_t>(k)][static_cast<std::size_t>(v.slots[0])];
            std::vector<std::array<double, 2>> p;
            for (int slot : v.slots) {
                const StratumSlot& sl =
                    b.strata[static_cast<std::size_t>(k)][static_cast<std::size_t>(slot)];
                p.push_back({sl.mean[kControl], sl.mean[kTreated]});
            }
            double scale[2] = {1.0, 1.0};
            if (run.barFreq)
                for (int side : {0, 1})
                    scale[side] = weighted ? st.w[side] : st.n[side];
            addBars(g, v, k, p, scale);
        }
        deliverGraph(run, g, plotText(kPlotTextBarChartsByStratum), v.name, g.rows() > 0);
    }
    closePlotGroup(run);
    return 0;
}

} // namespace velloc
