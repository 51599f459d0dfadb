// SVG drawings of the procedure's graphs. Each graph template has a renderer that reads only the
// graph's phantom table and dynamics.
#pragma once
#include <cmath>
#include <memory>
#include <string>

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

// The graphs folder: one SVG file per graph, named by the graph name, the BY group and the
// sequence number of the run ("003_BoxPlot_by1.svg").
std::shared_ptr<OutputSink> makeGraphSink(std::string dir, GraphRenderer renderer);

} // namespace velloc::host
