// Cumulative distribution plots: per panel the treated and control curves (running percentages
// in value order) and the band between them; one graph per variable holds every panel, laid out
// in a grid of up to three columns.
#include <algorithm>
#include <array>
#include <cmath>
#include <future>
#include <span>

#include "assess/balance_rows.h"
#include "base/cores.h"
#include "base/text.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "plots/plot_messages.h"
#include "plots/plots.h"
#include "plots/value_order.h"
#include "render/dynamics.h"
#include "render/graph_renderers.h"

namespace velloc {

namespace {

using host::Cell;
using host::ColumnKind;

// The phantom of one CDF graph; `first` names the panel column (Obs or Stratum).
struct CdfGraph {
    PlotGraph g;
    CdfGraph(const VlcRun& run, const char* phantom, const char* graph, const char* first,
             int firstWidth, int panels, const PlotRow& row, int titleMsg, double lo, double hi)
        : g(phantom, graph) {
        const bool vertical = run.plotOrientation == 2;
        // Two columns up to four panels (All, Region, Matched, Weighted), three beyond.
        const int cols = panels <= 1 ? 1 : panels <= 4 ? 2 : 3;
        g.dyn(host::dyn::kETitle, plotText(titleMsg, row.name));
        g.dyn(host::dyn::kVertical, std::int64_t{vertical ? 1 : 0});
        g.dyn(host::dyn::kDesignWidth,
              std::string(vertical ? "defaultdesignwidth" : "defaultdesignheight"));
        g.dyn(host::dyn::kNRow, std::int64_t{(panels + cols - 1) / cols});
        g.dyn(host::dyn::kNCol, std::int64_t{cols});
        g.dyn(host::dyn::kXLabel, row.label);
        g.dyn(host::dyn::kXMin, lo);
        g.dyn(host::dyn::kXMax, hi);
        groupDynamics(run, g);
        g.column(first, ColumnKind::Character, std::max(firstWidth, 1));
        g.column("Treatment", ColumnKind::Character, levelWidth(run));
        for (const char* c : {"XVal", "YVal", "TMin", "TMax", "CMin", "CMax"})
            g.column(c);
    }
    static std::vector<Cell> blank() {
        return {std::string(), std::string(), kPlotNaN, kPlotNaN,
                kPlotNaN,      kPlotNaN,      kPlotNaN, kPlotNaN};
    }
};

// The group totals (f x w) of a panel, treated at 1.
struct Totals {
    double g[2] = {0.0, 0.0};
};

// A curve's drawn points (value, cumulative percent), when only its vertices are kept.
using CurvePoints = std::vector<std::array<double, 2>>;

// Adds one panel: the treated curve, the control curve, then the difference band (when bands;
// the drawing does not read its rows). Observations are in value order; `in` says which belong
// to the panel and `weight` gives each one's weight. With vertices (when no sink keeps the
// rows), each curve is only the points its drawing keeps, gathered there first.
template <class In, class Weight>
void addPanel(PlotGraph& g, const std::string& title, const std::array<std::string, 2>& levels,
              std::span<const PlotObs> sorted, double lo, double hi, In in, Weight weight,
              bool bands, CurvePoints* vertices) {
    Totals tot;
    for (const PlotObs& o : sorted)
        if (in(o)) tot.g[o.treated] += o.freq * weight(o);
    const std::uint32_t t = g.code(title), none = g.code(std::string());
    const std::uint32_t level[2] = {g.code(levels[0]), g.code(levels[1])};
    // Running percentages from the running sum of f x w, summed in the order of the total,
    // so the last record of a curve is at exactly 100.
    for (int side : {1, 0}) {
        const std::uint32_t codes[2] = {t, level[side]};
        auto point = [&](double x, double y) {
            if (!vertices)
                g.coded({x, y, kPlotNaN, kPlotNaN, kPlotNaN, kPlotNaN}, {codes[0], codes[1]});
            else if (!std::isnan(x) && !std::isnan(y)) // the points the drawing takes
                vertices->push_back({x, y});
        };
        if (vertices) vertices->clear();
        point(lo, 0.0);
        double sum = 0.0;
        for (const PlotObs& o : sorted) {
            if (o.treated != (side == 1) || !in(o)) continue;
            sum += o.freq * weight(o);
            point(o.value, sum / tot.g[side] * 100.0);
        }
        point(hi, 100.0);
        if (vertices) {
            const CurvePoints& v = *vertices;
            // A curve without a point still names its panel, where the whole curve would.
            if (v.empty())
                g.coded({lo, 0.0, kPlotNaN, kPlotNaN, kPlotNaN, kPlotNaN}, {codes[0], codes[1]});
            host::forEachCurveVertex(v.size(), [&](std::size_t i) {
                g.coded({v[i][0], v[i][1], kPlotNaN, kPlotNaN, kPlotNaN, kPlotNaN},
                        {codes[0], codes[1]});
            });
        }
        g.row(CdfGraph::blank());
    }
    if (!bands) return;
    double sum[2] = {0.0, 0.0};
    for (const PlotObs& o : sorted) {
        if (!in(o)) continue;
        g.coded({o.value, kPlotNaN, kPlotNaN, kPlotNaN, kPlotNaN, kPlotNaN}, {t, none});
        sum[o.treated] += o.freq * weight(o);
        const double ft = tot.g[1] > 0 ? sum[1] / tot.g[1] * 100.0 : 0.0;
        const double fc = tot.g[0] > 0 ? sum[0] / tot.g[0] * 100.0 : 0.0;
        if (ft <= fc)
            g.coded({kPlotNaN, kPlotNaN, ft, ft, ft, fc}, {t, none});
        else
            g.coded({kPlotNaN, kPlotNaN, fc, ft, fc, fc}, {t, none});
    }
    g.row(CdfGraph::blank());
}

// Value order, missing values last, ties in file order. The buffers are the caller's, kept
// from one row to the next so their pages are touched once.
struct SortBuffers {
    std::vector<double> missing; // the values of a row none were read for
    std::vector<std::uint32_t> order;
    ValueOrderBuffers radix;
    PlotObsList sorted;
};

// The value order of a row's n values (in record order; null: all missing), found once a BY
// group: the stratified family plots the rows the other family sorted.
const std::vector<std::uint32_t>& valueOrderOf(VlcRun& run, const PlotRow& row, std::size_t n,
                                               const PlotValues* values, SortBuffers& buf) {
    std::vector<std::uint32_t>* cached = nullptr;
    if (PlotRecords* r = run.plotRecords.get())
        if (const int k = r->column(workingOffset(run, row.slot)); k >= 0)
            cached = &r->orders[static_cast<std::size_t>(k)];
    if (cached && cached->size() == n) return *cached;
    std::vector<std::uint32_t>& order = cached ? *cached : buf.order;
    const double* x = values ? values->data() : nullptr;
    if (!x) {
        buf.missing.assign(n, kPlotNaN);
        x = buf.missing.data();
    }
    valueOrder(x, n, order, buf.radix);
    return order;
}

// A row's observations gathered in value order straight from the records, with their values.
void sortRow(VlcRun& run, const DistributionColumn& c, SortBuffers& buf) {
    const std::size_t n = c.records->size();
    const std::vector<std::uint32_t>& order = valueOrderOf(run, c.row, n, c.values, buf);
    buf.sorted.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        PlotObs& o = buf.sorted[i];
        o = (*c.records)[order[i]];
        o.value = c.values ? (*c.values)[order[i]] : kPlotNaN;
    }
}

// fn(row, obs, lo, hi) for each CDF row, obs in value order and lo..hi the narrow range of the
// row's values. On two cores the next row is sorted while fn draws this one: each row has its
// own value order and buffers, and fn runs on the calling thread, row by row. 1 when a read
// fails (reported), else 0.
template <class Fn> int forEachSortedRow(VlcRun& run, Fn&& fn) {
    const BalanceStats& b = run.balance;
    std::vector<DistributionColumn> columns;
    if (!distributionColumns(run, run.cdfSel, columns)) return 1;
    SortBuffers buf[2];
    if (!columns.empty()) sortRow(run, columns[0], buf[0]);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        std::future<void> next;
        if (i + 1 < columns.size()) {
            auto sortNext = [&, i] { sortRow(run, columns[i + 1], buf[(i + 1) % 2]); };
            if (twoCores())
                next = std::async(std::launch::async, sortNext);
            else
                next = std::async(std::launch::deferred, sortNext);
        }
        const auto slot = static_cast<std::size_t>(columns[i].row.slot);
        fn(columns[i].row, buf[i % 2].sorted, b.narrowLo[slot], b.narrowHi[slot]);
        if (next.valid()) next.get(); // a failure of the sort (out of memory) surfaces here
    }
    return 0;
}

} // namespace

int vlcpltc(VlcRun& run) {
    openPlotGroup(run, 16, 17);
    const std::array<std::string, 2> levels = groupLevels(run);
    // One figure per variable with every set as a panel, so the sets compare at a glance.
    const int P = static_cast<int>(run.plotPanels.size());
    // The bands are two rows an observation, as many as the curves' rows twice over: only a
    // sink that keeps graph rows as data (graph tables) gets them, and the curves' every row.
    const bool bands = run.procOutput->keepsGraphRows();
    CurvePoints vertices;
    auto addRow = [&](const PlotRow& row, const PlotObsList& obs, double lo, double hi) {
        CdfGraph c(run, "CDFPhnt", "CDFPlot", "Obs", run.cdfTitleWidth, P, row, 141, lo, hi);
        // A panel: each curve its records, two ends and a separator; two band rows a record
        // and a separator.
        if (bands)
            c.g.reserve((3 * obs.size() + 7) * static_cast<std::size_t>(P));
        else
            c.g.rec.dynamics.push_back({host::dyn::kCurveVertices, std::int64_t{1}});
        for (int panel : run.plotPanels)
            addPanel(
                c.g, panelTitle(panel), levels, obs, lo, hi,
                [panel](const PlotObs& o) { return inPanel(o, panel); },
                [panel](const PlotObs& o) { return panelWeight(o, panel); }, bands,
                bands ? nullptr : &vertices);
        c.g.rec.dynamics.push_back({host::dyn::kPanelNum, std::int64_t{1}});
        deliverGraph(run, c.g, plotText(kPlotTextCdfPlots), row.name, true);
    };
    if (forEachSortedRow(run, addRow)) return 1;
    closePlotGroup(run);
    return 0;
}

namespace {

// The observations (in value order) grouped by stratum panel, each group still in value
// order: panel k's are at from[k] .. from[k + 1]. The buffers are kept from one row to the
// next so that their pages are touched once.
struct StrataGroups {
    PlotObsList obs;
    std::vector<std::size_t> from;
    std::vector<int> panel;

    void group(const PlotObsList& sorted, int K) {
        from.assign(static_cast<std::size_t>(K) + 2, 0);
        panel.resize(sorted.size());
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            panel[i] = stratumPanel(sorted[i].stratum, K);
            ++from[static_cast<std::size_t>(panel[i]) + 1];
        }
        for (std::size_t k = 1; k < from.size(); ++k)
            from[k] += from[k - 1];
        obs.resize(sorted.size());
        std::vector<std::size_t> at(from.begin(), from.end() - 1);
        for (std::size_t i = 0; i < sorted.size(); ++i)
            obs[at[static_cast<std::size_t>(panel[i])]++] = sorted[i];
    }
    std::span<const PlotObs> of(int k) const {
        return {obs.data() + from[static_cast<std::size_t>(k)],
                from[static_cast<std::size_t>(k) + 1] - from[static_cast<std::size_t>(k)]};
    }
};

} // namespace

int vlcplsc(VlcRun& run) {
    const int K = openStrataPlotGroup(run, 26, 27);
    const BalanceStats& b = run.balance;
    const std::array<std::string, 2> levels = groupLevels(run);
    StrataGroups strata;
    const bool everyRow = run.procOutput->keepsGraphRows();
    CurvePoints vertices;
    auto addRow = [&](const PlotRow& row, const PlotObsList& obs, double lo, double hi) {
        CdfGraph c(run, "StrataCdfPhnt", "StrataCDFPlot", "Stratum", run.strataCdfWidth, K, row,
                   147, b.strataLo[static_cast<std::size_t>(row.slot)],
                   b.strataHi[static_cast<std::size_t>(row.slot)]);
        // A stratum: each curve its records, two ends and a separator.
        if (everyRow)
            c.g.reserve(obs.size() + 6 * static_cast<std::size_t>(K));
        else
            c.g.rec.dynamics.push_back({host::dyn::kCurveVertices, std::int64_t{1}});
        // Each panel walks its own stratum's observations, not all of them three times.
        strata.group(obs, K);
        for (int k = 1; k <= K; ++k)
            addPanel(
                c.g, plotText(kPlotTextStratumN, std::to_string(k)), levels, strata.of(k), lo, hi,
                [](const PlotObs&) { return true; }, [](const PlotObs&) { return 1.0; }, false,
                everyRow ? nullptr : &vertices);
        c.g.rec.dynamics.push_back({host::dyn::kPanelNum, std::int64_t{1}});
        deliverGraph(run, c.g, plotText(kPlotTextCdfPlotsByStratum), row.name, true);
    };
    if (forEachSortedRow(run, addRow)) return 1;
    closePlotGroup(run);
    return 0;
}

} // namespace velloc
