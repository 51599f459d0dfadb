// SVG drawings of the procedure's graphs. Each graph template has a renderer that reads only the
// graph's phantom table and dynamics.
#pragma once
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "numeric/box_stats.h"
#include "render/output.h"

namespace velloc::host {

// The whole <svg> element of a graph; empty for an unknown template.
std::string renderGraphSvg(const GraphRecord& graph);

// Marks drawn per series at most (huge clouds are thinned evenly) and vertices per curve (huge
// step curves are decimated): a million-row graph stays a file a browser opens at once.
inline constexpr std::size_t kMaxMarksPerSeries = 2000;
inline constexpr std::size_t kMaxCurveVertices = 1000;

// Cloud graphs: the series of the mark of value column k in a row at position pos (2k + 1
// treated, 2k control; -1 for no mark), and whether the drawing keeps the seen-th mark (from
// 0) of a series of count marks: evenly, at most kMaxMarksPerSeries. Stratified clouds tell
// the groups by column, the others by position (treated above 3).
inline int cloudSeries(bool strata, double pos, std::size_t k, double value) {
    if (std::isnan(pos) || std::isnan(value)) return -1;
    const bool treated = strata ? k == 0 : pos > 3.0;
    return static_cast<int>(2 * k + (treated ? 1 : 0));
}
inline bool cloudMarkKept(std::size_t seen, std::size_t count) {
    return seen % (count / kMaxMarksPerSeries + 1) == 0;
}

// The points of an n-point curve that its drawing keeps, in order: every stride-th from the
// first, then the last (the curve's end always stays, even when the stride reached it).
template <class Fn> void forEachCurveVertex(std::size_t n, Fn&& fn) {
    if (n == 0) return;
    const std::size_t stride = n / kMaxCurveVertices + 1;
    for (std::size_t i = 0; i < n; i += stride)
        fn(i);
    fn(n - 1);
}

// Box graphs that no sink keeps as rows hold what their drawing reads of each box instead of
// the observations (dyn kBoxSummary = 1): a row per statistic, with its box's position (YVal),
// its kind (BoxStat) and its value (XVal); boxes in order, each from its total, outliers
// ascending. The drawing then reads the boxes from these rows.
enum BoxStatKind {
    kBoxTotal = 0,
    kBoxSum,
    kBoxQ1,
    kBoxMedian,
    kBoxQ3,
    kBoxWhiskerLo,
    kBoxWhiskerHi,
    kBoxOutlier
};
template <class Fn> void forEachBoxSummaryRow(const std::vector<BoxStats>& boxes, Fn&& fn) {
    for (const BoxStats& s : boxes) {
        const double value[] = {s.total, s.sum, s.q[0], s.q[1], s.q[2], s.whiskerLo, s.whiskerHi};
        for (int k = kBoxTotal; k < kBoxOutlier; ++k)
            fn(s.pos, k, value[k]);
        for (double x : s.outliers)
            fn(s.pos, int{kBoxOutlier}, x);
    }
}
// The boxes as forEachBoxSummaryRow wrote them, from a graph's YVal, BoxStat and XVal columns.
std::vector<BoxStats> boxSummaryFromRows(const GraphRecord& g);

// The graphs folder: one SVG file per graph, named by the graph name, the BY group and the
// sequence number of the run ("003_BoxPlot_by1.svg").
std::shared_ptr<OutputSink> makeGraphSink(std::string dir, GraphRenderer renderer);

} // namespace velloc::host
