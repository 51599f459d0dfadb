// The graph protocol and the shared texts of the plot families.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "adjust/adjust.h"
#include "assess/balance_rows.h"
#include "base/text.h"
#include "core/run_context.h"
#include "plots/plot_messages.h"
#include "plots/plots.h"
#include "render/dynamics.h"

namespace velloc {

std::string plotText(int number, const std::string& arg) {
    std::string t = host::wkread(host::kGroupProc, number);
    if (auto p = t.find("%1"); p != std::string::npos) t.replace(p, 2, arg);
    return t;
}

std::string panelSetLabel(int panel) {
    static const int texts[] = {58, 61, 64, 69, 72};
    return plotText(texts[panel]);
}

std::string panelTitle(int panel) {
    static const int texts[] = {59, 62, 65, 70, 73};
    return plotText(texts[panel]);
}

std::string tickLabel(const std::string& name, bool* replaced) {
    std::string s = host::cutText(name, 20);
    for (char& c : s)
        if (c == '\'') {
            c = '"';
            if (replaced) *replaced = true;
        }
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return "'" + s + "'";
}

int stratumPanel(double stratum, int K) {
    if (!(stratum >= 0.5 && stratum < K + 0.5)) return 0;
    // From 0.5 up, stratum + 0.5 never rounds up to the next integer: the floor is exact.
    const auto k = static_cast<int>(std::floor(stratum + 0.5));
    return k <= K ? k : 0;
}

std::string strataTicks(int k) {
    std::string out;
    char buf[16];
    for (int i = 1; i <= k; ++i) {
        std::snprintf(buf, sizeof buf, "%*d", k > 9 ? 2 : 1, i);
        out += "'" + std::string(buf) + "'";
    }
    return out;
}

PlotGraph::PlotGraph(const std::string& phantom, const std::string& graphName) {
    rec.name = graphName;
    rec.templatePath = "Stat.Velloc.Graphics." + graphName;
    rec.phantom.name = phantom;
    rec.phantom.templatePath = "Stat.Velloc." + phantom;
    rec.data.templatePath = rec.phantom.templatePath;
}

int PlotGraph::column(const std::string& name, host::ColumnKind kind, int width) {
    host::ColumnDef c;
    c.name = name;
    c.kind = kind;
    c.width = width;
    return rec.phantom.addColumn(std::move(c));
}

void PlotGraph::dyn(const std::string& name, host::DynValue v) {
    rec.phantom.dynamics.push_back({name, std::move(v)});
}

void groupDynamics(const VlcRun& run, PlotGraph& g) {
    g.dyn(host::dyn::kXTreated, host::trimBlanks(run.treatedLevel));
    g.dyn(host::dyn::kXControl, host::trimBlanks(run.controlLevel));
    g.dyn(host::dyn::kTrtVar, run.treatName);
}

void deliverGraph(VlcRun& run, PlotGraph& g, const std::string& label, const std::string& title,
                  bool draw) {
    g.rec.data.definition = &g.rec.phantom;
    g.rec.phantom.label = label;
    if (!draw) return;
    // The graph's own dynamics: its label and title, then what the phantom carries.
    g.rec.dynamics.insert(g.rec.dynamics.begin(),
                          {{host::dyn::kLabel, label}, {host::dyn::kTitle, title}});
    int rc = run.procOutput->deliver(g.rec);
    if (rc < 0) host::zodsexit(rc);
}

void openPlotGroup(VlcRun& run, int nameMsg, int labelMsg) {
    closePlotGroup(run);
    int rc = run.procOutput->openGroup(plotText(nameMsg), plotText(labelMsg));
    if (rc < 0) return host::zodsexit(rc);
    run.plotGroupOpen = 1;
}

void closePlotGroup(VlcRun& run) {
    host::ColumnStore::releaseBuffers();
    if (!run.plotGroupOpen) return;
    run.plotGroupOpen = 0;
    int rc = run.procOutput->closeGroup();
    if (rc < 0) host::zodsexit(rc);
}

namespace {

// Reads the working file once: the fields every plot needs into out (values missing) and the
// value at each of offsets into values, one column per offset.
bool readPlotRecords(VlcRun& run, const std::vector<int>& offsets, PlotObsList& out,
                     std::vector<PlotValues>& values) {
    out.clear();
    values.assign(offsets.size(), {});
    host::UtilFile& vout = *run.vlcvout;
    if (int rc = vout.point(0)) return utilFailure(run, rc), false;
    const auto n = static_cast<std::size_t>(std::max<std::int64_t>(0, vout.count()));
    out.reserve(n);
    for (auto& v : values)
        v.reserve(n);
    std::vector<double> rec(vout.recordBytes() / 8 + 1);
    const bool stab = run.stabilize != 0;
    while (vout.read(rec.data())) {
        PlotObs o;
        o.value = kPlotNaN;
        o.freq = rec[kVoutFreq];
        o.status = rec[kVoutRegion];
        o.treated = rec[kVoutTreat] >= 0.5;
        o.stratum = rec[kVoutStratum];
        switch (run.weightType) {
        case 122:
        case 126:
            o.wRegion = stab ? rec[kVoutAteStab] : rec[kVoutAte];
            break;
        case 124:
        case 125:
            o.wRegion = rec[kVoutAtt];
            break;
        default:
            o.wRegion = 1.0;
        }
        o.wMatch = run.weightType == kWeightMatch ? rec[kVoutMatchAtt] : rec[kVoutMatchAte];
        out.push_back(o);
        for (std::size_t k = 0; k < offsets.size(); ++k)
            values[k].push_back(offsets[k] >= 0 ? rec[static_cast<std::size_t>(offsets[k])]
                                                : kPlotNaN);
    }
    if (int rc = vout.lastError()) return utilFailure(run, rc), false;
    vout.point(0);
    return true;
}

// The BY group's plot records, read on first use with the values of every row any
// distribution family may plot. Null after reporting a utility-file failure.
const PlotRecords* plotRecords(VlcRun& run) {
    if (run.plotRecords) return run.plotRecords.get();
    PlotSelection every;
    every.ps = every.lps = 1;
    every.vars.assign(run.assessCont.size(), 1);
    auto r = std::make_shared<PlotRecords>();
    for (const PlotRow& row : distributionRows(run, every))
        r->offsets.push_back(workingOffset(run, row.slot));
    if (!readPlotRecords(run, r->offsets, r->obs, r->values)) return nullptr;
    r->orders.resize(r->offsets.size());
    run.plotRecords = std::move(r);
    return run.plotRecords.get();
}

} // namespace

bool readPlotObs(VlcRun& run, PlotObsList& out) {
    const PlotRecords* r = plotRecords(run);
    if (!r) return false;
    out.assign(r->obs.begin(), r->obs.end());
    return true;
}

bool inPanel(const PlotObs& o, int panel) {
    switch (panel) {
    case kPanelAll:
        return true;
    case kPanelRegion:
    case kPanelRegionWgt:
        return o.status > 0.1;
    default:
        return o.status > 1.1;
    }
}

bool weightedPanel(int panel) {
    return panel == kPanelRegionWgt || panel == kPanelMatchWgt;
}

double panelWeight(const PlotObs& o, int panel) {
    if (panel == kPanelRegionWgt) return o.wRegion;
    if (panel == kPanelMatchWgt) return o.wMatch;
    return 1.0;
}

namespace {} // namespace

bool distributionColumns(VlcRun& run, const PlotSelection& sel,
                         std::vector<DistributionColumn>& columns) {
    columns.clear();
    const std::vector<PlotRow> rows = distributionRows(run, sel);
    if (rows.empty()) return true;
    const PlotRecords* r = plotRecords(run);
    if (!r) return false;
    for (const PlotRow& row : rows) {
        const int k = r->column(workingOffset(run, row.slot));
        columns.push_back(
            {row, &r->obs, k < 0 ? nullptr : &r->values[static_cast<std::size_t>(k)]});
    }
    return true;
}

bool forEachDistributionColumn(
    VlcRun& run, const PlotSelection& sel,
    const std::function<void(const PlotRow&, const PlotObsList&, const PlotValues*)>& fn) {
    std::vector<DistributionColumn> columns;
    if (!distributionColumns(run, sel, columns)) return false;
    for (const DistributionColumn& c : columns)
        fn(c.row, *c.records, c.values);
    return true;
}

std::array<std::string, 2> groupLevels(const VlcRun& run) {
    return {host::trimBlanks(run.controlLevel), host::trimBlanks(run.treatedLevel)};
}

int levelWidth(const VlcRun& run) {
    return std::max<int>({1, static_cast<int>(host::trimBlanks(run.treatedLevel).size()),
                          static_cast<int>(host::trimBlanks(run.controlLevel).size())});
}

std::vector<PlotRow> distributionRows(const VlcRun& run, const PlotSelection& sel) {
    const BalanceStats& b = run.balance;
    auto excluded = [&](int slot) {
        return slot < static_cast<int>(b.excluded.size()) && b.excluded[slot];
    };
    auto cut = [](const std::string& s) { return host::cutText(s, 40); };
    std::vector<PlotRow> rows;
    if (sel.ps && !excluded(b.psSlot()))
        rows.push_back({b.psSlot(), cut(plotText(kPlotTextPs)), cut(plotText(kScorePs))});
    if (sel.lps && !excluded(b.lpsSlot()))
        rows.push_back({b.lpsSlot(), cut(plotText(kPlotTextLps)), cut(plotText(kScoreLps))});
    for (std::size_t i = 0; i < run.assessCont.size(); ++i) {
        int pos = run.assessCont[i];
        if (i >= sel.vars.size() || !sel.vars[i] || pos < 0 || pos >= b.nCont - 2 || excluded(pos))
            continue;
        const VarRef& v = run.analysisVars[static_cast<std::size_t>(pos)];
        std::string label;
        if (run.inData && v.number > 0) label = run.inData->var(v.number).label;
        rows.push_back({pos, cut(v.name), cut(label.empty() ? v.name : label)});
    }
    return rows;
}

int openStrataPlotGroup(VlcRun& run, int nameMsg, int labelMsg) {
    openPlotGroup(run, nameMsg, labelMsg);
    if (run.nStrataShown < run.nStrata && !run.strataNoticeGiven) {
        run.strataNoticeGiven = 1;
        host::xpmlog(host::kGroupProc, kMsgStrataPlotsCut,
                     {std::to_string(run.nStrataShown), std::to_string(run.nStrata)});
        run.raise(4);
    }
    return run.nStrataShown;
}

// The panel list, tick texts and CDF layout of the BY group.
int vlcpset(VlcRun& run) {
    run.plotRecords.reset();
    run.strataNoticeGiven = 0;
    run.plotGroupOpen = 0;
    run.stdDiffTicks.clear();
    run.panelLabels.clear();
    if (run.plotStdDiff) {
        bool replaced = false;
        for (const BalanceRow& r : balanceRows(run))
            run.stdDiffTicks += tickLabel(r.named(), &replaced);
        if (replaced) {
            host::xpmlog(host::kGroupProc, kMsgQuoteInName);
            run.raise(4);
        }
    }
    std::vector<int>& p = run.plotPanels;
    p.assign(1, kPanelAll);
    const bool weighted = run.weightType != kWeightNone;
    if (run.nStrata) {
        p.push_back(kPanelRegion);
    } else if (run.matchActive) {
        if (!run.finalSetOnly) {
            p.push_back(kPanelRegion);
            p.push_back(kPanelMatch);
            if (weighted) p.push_back(kPanelMatchWgt);
        } else {
            p.push_back(weighted ? kPanelMatchWgt : kPanelMatch);
        }
    } else if (run.matchGiven) {
        p.push_back(kPanelRegion);
    } else if (!run.finalSetOnly) {
        p.push_back(kPanelRegion);
        if (weighted) p.push_back(kPanelRegionWgt);
    } else {
        p.push_back(weighted ? kPanelRegionWgt : kPanelRegion);
    }
    if (run.plotCdf) {
        run.cdfPanelCols = std::min(static_cast<int>(p.size()), 3);
        run.cdfTitleWidth = 1;
        for (int panel : p)
            run.cdfTitleWidth =
                std::max(run.cdfTitleWidth, static_cast<int>(panelTitle(panel).size()));
        if (run.nStrata) {
            run.strataCdfWidth =
                static_cast<int>(plotText(kPlotTextStratumN, std::to_string(run.nStrata)).size());
            run.strataPanelCols = std::min(run.nStrata, 3);
        }
    }
    if (run.plotBar || run.plotBox)
        for (int panel : p)
            run.panelLabels += tickLabel(panelSetLabel(panel));
    return 0;
}

} // namespace velloc
