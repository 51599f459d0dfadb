// Shared pieces of the diagnostic plots: panels, tick texts, the graph protocol (phantom table,
// then graph record) and the observations of the working file as the plots read them.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "render/output.h"

namespace velloc {

struct VlcRun;
struct PlotSelection;

// Panels: observation sets as the plots show them.
enum PlotPanel { kPanelAll = 0, kPanelRegion, kPanelMatch, kPanelRegionWgt, kPanelMatchWgt };

// Set label and CDF-panel title of a panel (catalogue texts).
std::string panelSetLabel(int panel);
std::string panelTitle(int panel);

// Catalogue text of group 1049 with %1 replaced by arg.
std::string plotText(int number, const std::string& arg = {});

// A tick label: cut to 20 characters, single quotes made double, trailing blanks dropped,
// written between single quotes. Sets *replaced when a quote was replaced.
std::string tickLabel(const std::string& name, bool* replaced = nullptr);

// Tick labels of strata 1..k: "%d" in a field of 1 (2 when k > 9) characters, quoted.
std::string strataTicks(int k);

// A graph under construction: its phantom definition and rows, then delivered as one record.
struct PlotGraph {
    host::GraphRecord rec;
    PlotGraph(const std::string& phantom, const std::string& graphName);
    int column(const std::string& name, host::ColumnKind kind = host::ColumnKind::Numeric,
               int width = 0);
    void dyn(const std::string& name, host::DynValue v);
    // Rows are kept column by column: a phantom may hold millions.
    void row(std::initializer_list<host::Cell> cells) {
        started();
        rec.columns.addRow(cells);
    }
    void row(const std::vector<host::Cell>& cells) {
        started();
        rec.columns.addRow(cells);
    }
    std::size_t rows() const { return rec.columns.rows(); }
    // The fast path: a text's code, and a row as its numbers and text codes in column order.
    std::uint32_t code(const std::string& text) {
        started();
        return rec.columns.intern(text);
    }
    void coded(std::initializer_list<double> numbers, std::initializer_list<std::uint32_t> codes) {
        started();
        rec.columns.addCoded(numbers, codes);
    }
    void coded(std::span<const double> numbers, std::span<const std::uint32_t> codes) {
        started();
        rec.columns.addCoded(numbers, codes);
    }
    void reserve(std::size_t n) {
        started();
        rec.columns.reserve(n);
    }

  private:
    void started() {
        if (rec.columns.columns() != rec.phantom.columns.size()) rec.columns.reset(rec.phantom);
    }
};

// The group level texts a legend names: _XTreated, _XControl and the treatment variable _TrtVar.
void groupDynamics(const VlcRun& run, PlotGraph& g);

// Delivers a graph with the given label and title: the phantom data first, the graph only when
// `draw` (at least one data row). Output failures go to the output-error handler.
void deliverGraph(VlcRun& run, PlotGraph& g, const std::string& label, const std::string& title,
                  bool draw);

// Opens a plot family's output group (closing one still open), and closes it.
void openPlotGroup(VlcRun& run, int nameMsg, int labelMsg);
void closePlotGroup(VlcRun& run);

// One observation of the working file as a plot row reads it.
struct PlotObs {
    double value = 0.0;  // the plotted row's value (missing in the plot records: see PlotValues)
    double freq = 1.0;   // f
    double status = 0.0; // region and match status s
    double wRegion = 1.0;
    double wMatch = 1.0;
    double stratum = 0.0;
    bool treated = false;
};

// The stratum panel k (1 .. K) a stratum value belongs to, 0 for none: the value lies in
// [k - 0.5, k + 0.5). Every stratified graph places its observations by this one rule.
int stratumPanel(double stratum, int K);

// Observations of a plot, and one plotted row's values beside them: a million rows of them.
using PlotObsList = std::vector<PlotObs, host::MappedBlockAllocator<PlotObs>>;
using PlotValues = std::vector<double, host::MappedBlockAllocator<double>>;

// The working file as the plots of a BY group read it, read once for all their families: the
// fields every plot needs (values missing), and the values at the record offsets of every row
// a distribution family may plot, one column per offset. Held in VlcRun::plotRecords from the
// first read until vlcpset starts the next BY group's plots or the plots are done.
struct PlotRecords {
    PlotObsList obs;
    std::vector<int> offsets;
    std::vector<PlotValues> values;                 // parallel to offsets
    std::vector<std::vector<std::uint32_t>> orders; // each column's value order, once found
    // The column of the values at a record offset, -1 when none was read.
    int column(int offset) const {
        for (std::size_t k = 0; k < offsets.size(); ++k)
            if (offsets[k] == offset) return static_cast<int>(k);
        return -1;
    }
};

// Reads the working file: the fields every plot needs, values missing. Returns false after
// reporting a utility-file failure.
bool readPlotObs(VlcRun& run, PlotObsList& out);

// Whether an observation belongs to a panel's set (region: s > 0.1, matched: s > 1.1), and
// its weight in that panel.
bool inPanel(const PlotObs& o, int panel);
double panelWeight(const PlotObs& o, int panel);
bool weightedPanel(int panel);

// The rows a distribution family plots: balance slot, name and label, in plotting order
// (PS, LPS, then the selected continuous variables).
struct PlotRow {
    int slot = 0;
    std::string name, label;
};
std::vector<PlotRow> distributionRows(const VlcRun& run, const PlotSelection& sel);
// A distribution row with the BY group's plot records and the row's values in record order
// (null when none were read: all missing).
struct DistributionColumn {
    PlotRow row;
    const PlotObsList* records = nullptr;
    const PlotValues* values = nullptr;
};
// The distribution rows of sel with their columns; false when a read fails (reported).
bool distributionColumns(VlcRun& run, const PlotSelection& sel,
                         std::vector<DistributionColumn>& columns);
// fn(row, records, values) for each of the distribution rows, without a copy: records the
// working file's observations as read (values missing), values the row's values in record
// order (null when none were read: all missing). False when a read fails (reported); the rows
// after it are skipped.
bool forEachDistributionColumn(
    VlcRun& run, const PlotSelection& sel,
    const std::function<void(const PlotRow&, const PlotObsList&, const PlotValues*)>& fn);

// The control and treated level texts (index 0 control, 1 treated) without their blanks, and
// the width of a column that holds either (at least 1).
std::array<std::string, 2> groupLevels(const VlcRun& run);
int levelWidth(const VlcRun& run);

// Opens a strata plot family's output group, with warning 255 (once per BY group) when fewer
// strata are shown than formed. Returns the number of strata shown.
int openStrataPlotGroup(VlcRun& run, int nameMsg, int labelMsg);

inline constexpr double kPlotNaN = __builtin_nan("");

} // namespace velloc
