// Box plots and cloud plots of the assessed rows, and the weight cloud plot.
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
#include "render/dynamics.h"
#include "render/graph_renderers.h"

namespace velloc {

namespace {

using host::ColumnKind;

std::int64_t vertical(const VlcRun& run) {
    return run.plotOrientation == 2 ? 1 : 0;
}

// The value of record i of a plotted row: from its column, missing when none was read.
double valueAt(const PlotValues* values, std::size_t i) {
    return values ? (*values)[i] : kPlotNaN;
}

// fn(o, value, side) for the treated observations (side 1), then the controls (side 0), each
// group in record order (the order the graphs list their points in), with each one's value.
template <class Fn>
void treatedThenControls(const PlotObsList& obs, const PlotValues* values, Fn fn) {
    for (int side : {1, 0})
        for (std::size_t i = 0; i < obs.size(); ++i)
            if (obs[i].treated == (side == 1)) fn(obs[i], valueAt(values, i), side);
}

std::string groupTicks() {
    return tickLabel(plotText(kPlotTextControl)) + tickLabel(plotText(kPlotTextTreated));
}

// The phantom of a box plot over n positions (panels or strata) and the value range lo..hi.
PlotGraph boxGraph(const VlcRun& run, const char* phantom, const char* graph, int titleMsg,
                   int yLabelMsg, const PlotRow& row, int n, double lo, double hi, bool summary) {
    PlotGraph g(phantom, graph);
    g.dyn(host::dyn::kETitle, plotText(titleMsg, row.name));
    g.dyn(host::dyn::kVertical, vertical(run));
    g.dyn(host::dyn::kYMax, n + (vertical(run) ? 0.5 : 0.9));
    g.dyn(host::dyn::kYLabel, plotText(yLabelMsg));
    g.dyn(host::dyn::kYEnd, std::int64_t{n});
    g.dyn(host::dyn::kXLabel, row.label);
    g.dyn(host::dyn::kXMin, lo);
    g.dyn(host::dyn::kXMax, hi);
    g.dyn(host::dyn::kYTicks, run.panelLabels);
    g.dyn(host::dyn::kYMin, 0.5);
    groupDynamics(run, g);
    g.column("YVal");
    if (summary) {
        g.column("XVal");
        g.column("BoxStat");
        g.rec.dynamics.push_back({host::dyn::kBoxSummary, std::int64_t{1}});
        return g;
    }
    g.column("Response", ColumnKind::Character, levelWidth(run));
    g.column("XVal");
    g.column("XFrq");
    g.column("XWgt");
    return g;
}

// The observations of a box graph in the order of its rows, for graphs that hold their boxes'
// summaries: each the record its value comes from, its box position and its weight (frequency
// x weight, as the drawing multiplies a row's). The same for every plotted row of a family.
class BoxObsList {
  public:
    void add(double pos, std::size_t record, double weight) {
        if (positions_.empty() || !(positions_[last_] == pos)) {
            last_ = 0;
            while (last_ < positions_.size() && !(positions_[last_] == pos))
                ++last_;
            if (last_ == positions_.size()) positions_.push_back(pos);
        }
        entries_.push_back(
            {weight, static_cast<std::uint32_t>(record), static_cast<std::uint32_t>(last_)});
    }
    void reserve(std::size_t n) { entries_.reserve(n); }
    // The boxes of one plotted row, as the drawing finds them from the full graph's rows.
    std::vector<host::BoxStats> boxes(const PlotValues* values) const {
        return host::boxSummariesOf(
            [&](auto&& visit) {
                for (const Entry& e : entries_)
                    visit(host::BoxObs{positions_[e.box], valueAt(values, e.record), e.weight});
            },
            host::kMaxMarksPerSeries, entries_.size());
    }

  private:
    struct Entry {
        double weight;
        std::uint32_t record, box;
    };
    std::vector<double> positions_;
    std::size_t last_ = 0;
    std::vector<Entry, host::MappedBlockAllocator<Entry>> entries_;
};

void addBoxSummary(PlotGraph& g, const std::vector<host::BoxStats>& boxes) {
    host::forEachBoxSummaryRow(boxes, [&](double pos, int kind, double value) {
        g.coded({pos, value, static_cast<double>(kind)}, {});
    });
}

// The rows of a cloud graph, each its position, its values and its level codes, in graph row
// order: all of them when a sink keeps graph rows, else only the rows with a mark the drawing
// keeps, the values of the marks it drops missing. The marks of each series are counted in a
// first pass over the rows and kept in a second as the drawing would keep them, so it draws
// the same marks with the same jitter.
class CloudRows {
  public:
    CloudRows(PlotGraph& g, bool keepRows, bool strata) : g_(g), keep_(keepRows), strata_(strata) {}

    // rows(add) calls add(numbers, codes) for each row in order, numbers the position and then
    // the values (at most three); rows is called once, or twice when only marks are kept.
    template <class Rows> void fill(std::size_t rowCount, Rows rows) {
        if (keep_) {
            g_.reserve(rowCount);
            rows([&](std::span<const double> n, std::span<const std::uint32_t> c) {
                g_.coded(n, c);
            });
            return;
        }
        std::vector<std::size_t> count(6, 0), seen(6, 0);
        rows([&](std::span<const double> n, std::span<const std::uint32_t>) {
            for (std::size_t k = 0; k + 1 < n.size(); ++k)
                if (const int s = host::cloudSeries(strata_, n[0], k, n[k + 1]); s >= 0)
                    ++count[static_cast<std::size_t>(s)];
        });
        bool first = true;
        rows([&](std::span<const double> n, std::span<const std::uint32_t> c) {
            std::array<double, 4> row{};
            std::copy(n.begin(), n.end(), row.begin());
            bool kept = false;
            for (std::size_t k = 0; k + 1 < n.size(); ++k) {
                const int s = host::cloudSeries(strata_, n[0], k, n[k + 1]);
                if (s < 0) continue;
                const auto si = static_cast<std::size_t>(s);
                if (host::cloudMarkKept(seen[si]++, count[si]))
                    kept = true;
                else
                    row[k + 1] = kPlotNaN;
            }
            // The first row always goes in: a cloud without a mark is still drawn. It keeps
            // any mark it has (the first of its series), so it drops none.
            if (kept || first) g_.coded(std::span<const double>(row.data(), n.size()), c);
            first = false;
        });
        g_.rec.dynamics.push_back({host::dyn::kCloudMarks, std::int64_t{1}});
    }

  private:
    PlotGraph& g_;
    bool keep_, strata_;
};

// The codes of the control and treated level texts in a graph, coded in that order.
std::array<std::uint32_t, 2> levelCodes(const VlcRun& run, PlotGraph& g) {
    const std::array<std::string, 2> levels = groupLevels(run);
    const std::uint32_t ctl = g.code(levels[0]);
    return {ctl, g.code(levels[1])};
}

// The box graphs of a family, one a plotted row: makeGraph(row, summary) gives a graph's
// phantom, forEachRow(obs, fn) lists its rows as fn(record, position, side, weight), about
// perRecord of them a record. A sink that keeps graph rows gets every row; else each graph
// holds its boxes' summaries, found for all the plotted rows first, on two cores (each row's
// boxes alone, so the same on any number of cores).
template <class MakeGraph, class ForEachRow>
void boxGraphs(VlcRun& run, MakeGraph makeGraph, ForEachRow forEachRow, std::size_t perRecord,
               const std::string& label) {
    std::vector<DistributionColumn> columns;
    if (!distributionColumns(run, run.boxSel, columns) || columns.empty()) return;
    const bool keepRows = run.procOutput->keepsGraphRows();
    const PlotObsList& obs = *columns[0].records; // the same records for every row
    std::vector<std::vector<host::BoxStats>> boxes(columns.size());
    if (!keepRows) {
        BoxObsList list;
        list.reserve(obs.size() * perRecord);
        forEachRow(obs, [&](std::size_t i, double pos, int, double w) {
            list.add(pos, i, obs[i].freq * w);
        });
        auto work = [&](std::size_t from, std::size_t step) {
            for (std::size_t i = from; i < columns.size(); i += step)
                boxes[i] = list.boxes(columns[i].values);
        };
        if (twoCores() && columns.size() > 1) {
            std::future<void> other = std::async(std::launch::async, work, 1, 2);
            work(0, 2);
            other.get();
        } else {
            work(0, 1);
        }
    }
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const PlotValues* values = columns[c].values;
        PlotGraph g = makeGraph(columns[c].row, !keepRows);
        if (keepRows) {
            g.reserve(obs.size() * perRecord);
            const std::array<std::uint32_t, 2> level = levelCodes(run, g);
            forEachRow(obs, [&](std::size_t i, double pos, int side, double w) {
                g.coded({pos, valueAt(values, i), obs[i].freq, w}, {level[side]});
            });
        } else {
            addBoxSummary(g, boxes[c]);
        }
        deliverGraph(run, g, label, columns[c].row.name, true);
    }
}

} // namespace

int vlcpltx(VlcRun& run) {
    openPlotGroup(run, 14, 15);
    const BalanceStats& b = run.balance;
    const int P = static_cast<int>(run.plotPanels.size());
    // Each graph row: its panel k's box of its group, the treated first, in record order.
    auto forEachRow = [&](const PlotObsList& obs, auto&& fn) {
        for (int k = 1; k <= P; ++k) {
            const int panel = run.plotPanels[static_cast<std::size_t>(k - 1)];
            for (int side : {1, 0})
                for (std::size_t i = 0; i < obs.size(); ++i) {
                    const PlotObs& o = obs[i];
                    if (o.treated == (side == 1) && inPanel(o, panel))
                        fn(i, k + (side ? 0.15 : -0.15), side, panelWeight(o, panel));
                }
        }
    };
    boxGraphs(
        run,
        [&](const PlotRow& row, bool summary) {
            const auto slot = static_cast<std::size_t>(row.slot);
            return boxGraph(run, "BoxPhnt", "BoxPlot", 140, 138, row, P, b.wideLo[slot],
                            b.wideHi[slot], summary);
        },
        forEachRow, static_cast<std::size_t>(P), plotText(kPlotTextBoxPlots));
    closePlotGroup(run);
    return 0;
}

int vlcpltj(VlcRun& run) {
    openPlotGroup(run, 20, 21);
    const BalanceStats& b = run.balance;
    const bool keepRows = run.procOutput->keepsGraphRows();
    forEachDistributionColumn(
        run, run.cloudSel,
        [&](const PlotRow& row, const PlotObsList& obs, const PlotValues* values) {
            PlotGraph g("CloudPhnt", "CloudPlot");
            g.dyn(host::dyn::kETitle, plotText(kPlotTextIndividualValues, row.name));
            g.dyn(host::dyn::kVertical, vertical(run));
            g.dyn(host::dyn::kXMin, b.wideLo[static_cast<std::size_t>(row.slot)]);
            g.dyn(host::dyn::kXMax, b.wideHi[static_cast<std::size_t>(row.slot)]);
            g.dyn(host::dyn::kYTicks, groupTicks());
            g.dyn(host::dyn::kXLabel, plotText(kPlotTextObservations));
            g.dyn(host::dyn::kYLabel, row.label);
            g.dyn(host::dyn::kMatch, std::int64_t{run.matchActive ? 1 : 0});
            // The jitter of the drawing comes from the cloud stream recorded for the BY group.
            g.dyn(host::dyn::kSeed, run.cloudSeed);
            groupDynamics(run, g);
            g.column("XVal");
            for (const char* c : {"YVal1", "YVal2", "YVal3"})
                g.column(c);
            g.column("Response", ColumnKind::Character, levelWidth(run));
            const std::array<std::uint32_t, 2> level = levelCodes(run, g);
            CloudRows(g, keepRows, false).fill(obs.size(), [&](auto add) {
                treatedThenControls(obs, values, [&](const PlotObs& o, double value, int side) {
                    // The value goes to YVal1 outside the region, YVal2 in it, YVal3 when matched.
                    const int at = o.status <= 0.1 ? 0 : o.status <= 1.1 ? 1 : 2;
                    const double n[4] = {side ? 4.0 : 2.0, at == 0 ? value : kPlotNaN,
                                         at == 1 ? value : kPlotNaN, at == 2 ? value : kPlotNaN};
                    add(n, std::span<const std::uint32_t>(&level[side], 1));
                });
            });
            deliverGraph(run, g, plotText(kPlotTextCloudPlots), row.name, g.rows() > 0);
        });
    closePlotGroup(run);
    return 0;
}

int vlcpltw(VlcRun& run) {
    closePlotGroup(run);
    if (run.weightType != kWeightAte && run.weightType != kWeightAtt) return 0;
    PlotObsList obs;
    if (!readPlotObs(run, obs)) return 0;
    const double ref = std::isnan(run.wgtCloudRef) ? 10.0 : run.wgtCloudRef;
    PlotGraph g("WgtCloudPhnt", "WgtCloudPlot");
    g.dyn(host::dyn::kETitle, plotText(kPlotTextWeightDistribution));
    g.dyn(host::dyn::kVertical, vertical(run));
    const bool att = run.weightType == kWeightAtt, stab = !att && run.stabilize;
    g.dyn(host::dyn::kAttWgt, std::int64_t{att});
    g.dyn(host::dyn::kAteWgt, std::int64_t{!att && !stab});
    g.dyn(host::dyn::kStabWgt, std::int64_t{stab});
    double refMax = 0.0;
    auto line = [&](const char* name, double v) {
        g.dyn(name, v);
        if (v > refMax) refMax = v;
    };
    if (att) {
        line(host::dyn::kCntlWgtRef, ref * run.pT / run.pC);
    } else if (!stab) {
        line(host::dyn::kTrtWgtRef, ref / run.pT);
        line(host::dyn::kCntlWgtRef, ref / run.pC);
    } else {
        line(host::dyn::kWgtRef, ref);
    }
    g.dyn(host::dyn::kXMin, 0.0);
    g.dyn(host::dyn::kXMax, std::max(run.maxWeight, refMax));
    g.dyn(host::dyn::kYTicks, groupTicks());
    g.dyn(host::dyn::kXLabel, plotText(kPlotTextObservations));
    g.dyn(host::dyn::kYLabel, plotText(att    ? kPlotTextAttWeight
                                       : stab ? kPlotTextStabilizedAteWeight
                                              : kPlotTextAteWeight));
    groupDynamics(run, g);
    g.column("XVal");
    g.column("YVal1");
    g.column("YVal2");
    g.column("Response", ColumnKind::Character, levelWidth(run));
    const std::array<std::uint32_t, 2> level = levelCodes(run, g);
    CloudRows(g, run.procOutput->keepsGraphRows(), false).fill(obs.size(), [&](auto add) {
        treatedThenControls(obs, nullptr, [&](const PlotObs& o, double, int side) {
            // The weight goes to YVal1 outside the region, YVal2 in it.
            const bool in = o.status > 0.1;
            const double n[3] = {side ? 4.0 : 2.0, in ? kPlotNaN : o.wRegion,
                                 in ? o.wRegion : kPlotNaN};
            add(n, std::span<const std::uint32_t>(&level[side], 1));
        });
    });
    deliverGraph(run, g, plotText(kPlotTextWeightCloud), plotText(kPlotTextWeightCloud),
                 g.rows() > 0);
    return 0;
}

int vlcplsx(VlcRun& run) {
    const int K = openStrataPlotGroup(run, 24, 25);
    const BalanceStats& b = run.balance;
    run.panelLabels = strataTicks(K);
    // Each graph row: its stratum's box of its group, in record order.
    auto forEachRow = [&](const PlotObsList& obs, auto&& fn) {
        for (std::size_t i = 0; i < obs.size(); ++i) {
            const PlotObs& o = obs[i];
            const int k = stratumPanel(o.stratum, K);
            if (!k) continue;
            const double w = run.weightType == kWeightNone ? 1.0
                             : run.matchActive             ? o.wMatch
                                                           : o.wRegion;
            fn(i, k + (o.treated ? 0.15 : -0.15), o.treated ? 1 : 0, w);
        }
    };
    boxGraphs(
        run,
        [&](const PlotRow& row, bool summary) {
            const auto slot = static_cast<std::size_t>(row.slot);
            return boxGraph(run, "StrataBoxPhnt", "StrataBoxPlot", 146, 139, row, K,
                            b.strataLo[slot], b.strataHi[slot], summary);
        },
        forEachRow, 1, plotText(kPlotTextBoxPlotsByStratum));
    closePlotGroup(run);
    return 0;
}

int vlcplsj(VlcRun& run) {
    const int K = openStrataPlotGroup(run, 30, 31);
    const BalanceStats& b = run.balance;
    const bool keepRows = run.procOutput->keepsGraphRows();
    forEachDistributionColumn(
        run, run.cloudSel,
        [&](const PlotRow& row, const PlotObsList& obs, const PlotValues* values) {
            PlotGraph g("StrataCloudPhnt", "StrataCloudPlot");
            g.dyn(host::dyn::kETitle, plotText(kPlotTextIndividualValuesByStratum, row.name));
            g.dyn(host::dyn::kVertical, vertical(run));
            g.dyn(host::dyn::kCont, std::int64_t{1});
            g.dyn(host::dyn::kYMin, 0.0);
            g.dyn(host::dyn::kYMax, static_cast<double>(K + 1));
            g.dyn(host::dyn::kYEnd, std::int64_t{K});
            g.dyn(host::dyn::kXMin, b.strataLo[static_cast<std::size_t>(row.slot)]);
            g.dyn(host::dyn::kXMax, b.strataHi[static_cast<std::size_t>(row.slot)]);
            g.dyn(host::dyn::kXLabel, plotText(kPlotTextStratum));
            g.dyn(host::dyn::kYLabel, row.label);
            g.dyn(host::dyn::kYTicks, strataTicks(K));
            g.dyn(host::dyn::kSeed, run.cloudSeed);
            groupDynamics(run, g);
            for (const char* c : {"XVal", "YVal1", "YVal2"})
                g.column(c);
            CloudRows(g, keepRows, true).fill(obs.size(), [&](auto add) {
                for (std::size_t i = 0; i < obs.size(); ++i) {
                    const PlotObs& o = obs[i];
                    int k = stratumPanel(o.stratum, K);
                    if (!k) continue;
                    const double value = valueAt(values, i);
                    const double n[3] = {static_cast<double>(k), o.treated ? value : kPlotNaN,
                                         o.treated ? kPlotNaN : value};
                    add(n, std::span<const std::uint32_t>());
                }
            });
            deliverGraph(run, g, plotText(kPlotTextCloudPlotsByStratum), row.name, g.rows() > 0);
        });
    closePlotGroup(run);
    return 0;
}

} // namespace velloc
