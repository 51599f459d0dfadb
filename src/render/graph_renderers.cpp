// The renderer of each graph template.
#include "render/graph_renderers.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <sstream>

#include "numeric/box_stats.h"
#include "numeric/random.h"
#include "render/dynamics.h"
#include "render/number_format.h"
#include "render/svg_canvas.h"
#include "render/templates.h"

namespace velloc::host {

namespace svg {

namespace {

std::vector<double> positions(std::size_t n) {
    std::vector<double> at;
    for (std::size_t i = 1; i <= n; ++i)
        at.push_back(static_cast<double>(i));
    return at;
}

std::string title(const GraphRecord& g) {
    return graphTitle(g);
}

bool vertical(const GraphRecord& g) {
    return dynNum(g, dyn::kVertical, 0) == 1;
}

// The boxes of a box plot from its phantom rows: frequency x weight is each row's weight.
std::vector<BoxStats> boxes(const GraphRecord& g) {
    if (dynNum(g, dyn::kBoxSummary, 0) == 1) return boxSummaryFromRows(g);
    const NumberColumn yv(g, col(g, "YVal")), xv(g, col(g, "XVal")), fq(g, col(g, "XFrq")),
        wg(g, col(g, "XWgt"));
    return boxSummaries(
        g.rowCount(),
        [&](std::size_t r) {
            return BoxObs{yv[r], xv[r], fq[r] * wg[r]};
        },
        kMaxMarksPerSeries);
}

} // namespace

} // namespace svg

std::vector<BoxStats> boxSummaryFromRows(const GraphRecord& g) {
    const svg::NumberColumn pos(g, svg::col(g, "YVal")), kind(g, svg::col(g, "BoxStat")),
        value(g, svg::col(g, "XVal"));
    std::vector<BoxStats> out;
    for (std::size_t r = 0; r < g.rowCount(); ++r) {
        const double v = value[r];
        const int k = static_cast<int>(kind[r]);
        if (k == kBoxTotal) {
            out.emplace_back().pos = pos[r];
            out.back().total = v;
            continue;
        }
        if (out.empty()) continue;
        BoxStats& s = out.back();
        switch (k) {
        case kBoxSum:
            s.sum = v;
            break;
        case kBoxQ1:
            s.q[0] = v;
            break;
        case kBoxMedian:
            s.q[1] = v;
            break;
        case kBoxQ3:
            s.q[2] = v;
            break;
        case kBoxWhiskerLo:
            s.whiskerLo = v;
            break;
        case kBoxWhiskerHi:
            s.whiskerHi = v;
            break;
        default:
            s.outliers.push_back(v);
        }
    }
    return out;
}

namespace svg {

std::string drawStdDiff(const GraphRecord& g) {
    Figure f;
    const bool vert = vertical(g);
    std::vector<std::string> ticks = splitTicks(dynText(g, dyn::kYTicks));
    const double n = static_cast<double>(ticks.size());
    // A row per plotted variable: across the page the rows set the height; up the page they
    // set the width, and turned labels need room below the axis.
    // Per-stratum marks of a row sit in lanes, one a stratum, so a dozen strata do not cover
    // each other: the row grows with the number of strata.
    double strataCount = 0;
    const int sc = col(g, "XStrata");
    for (std::size_t r = 0; sc >= 0 && r < g.rowCount(); ++r)
        if (double k = cellNum(g, r, sc); k > strataCount) strataCount = k;
    // The positions run from 0 to n + 1: a lane of 11 pixels a stratum needs n + 1 pitches.
    const double lanes = 11.0 * strataCount * (n + 1);
    double below = 0;
    if (vert) {
        f.width = std::max({640.0, 110 + 36.0 * n, 100 + lanes});
        below = std::min(160.0, 0.71 * tickTextWidth(ticks));
        f.height = 380 + below;
    } else {
        f.height = std::max({300.0, 140.0 + 22.0 * n, 120 + lanes});
    }
    auto lane = [&](double k) {
        return strataCount > 1 ? ((k - 1) / (strataCount - 1) - 0.5) * 0.8 : 0.0;
    };
    const double ring = strataCount > 1 ? 4.5 : 6;
    Panel p = standardPanel(f, vert, dynNum(g, dyn::kXMin, -0.5), dynNum(g, dyn::kXMax, 0.5),
                            dynNum(g, dyn::kYMin, 0), dynNum(g, dyn::kYMax, 1));
    p.h -= below;
    if (dynNum(g, dyn::kBand, 0) == 1) {
        double a = p.px(dynNum(g, dyn::kDMin), p.plo), b = p.px(dynNum(g, dyn::kDMax), p.phi);
        double c = p.py(dynNum(g, dyn::kDMin), p.plo), d = p.py(dynNum(g, dyn::kDMax), p.phi);
        f.rect(std::min(a, b), std::min(c, d), std::fabs(b - a), std::fabs(d - c), "#d9d9d9",
               "none", 0.6);
    }
    f.line(p.px(0, p.plo), p.py(0, p.plo), p.px(0, p.phi), p.py(0, p.phi), "#888", 1, "4 3");
    // The balance threshold, on both sides of zero, where the axis reaches it.
    const double ref = dynNum(g, dyn::kRefLine, 0);
    if (ref > 0 && ref <= dynNum(g, dyn::kXMax, 0.5))
        for (double r : {-ref, ref})
            f.line(p.px(r, p.plo), p.py(r, p.plo), p.px(r, p.phi), p.py(r, p.phi), "#b2182b", 0.8,
                   "2 2");
    f.axes(p, "Standardized Difference", "", ticks, positions(ticks.size()));
    // Series: the sets (or the strata), each with its own shape and colour.
    struct Series {
        const char* column;
        const char* label;
        const char* colour;
        int shape; // 0 circle, 1 triangle, 2 square, 3 diamond
        bool filled;
        const char* panel; // the panel flag that must not be 0 (NODETAILS clears them)
    };
    static const Series series[] = {
        {"XAllObsMean", "All", "#e08000", 1, false, nullptr},
        {"XRegionMean", "Region", "#009e73", 2, false, dyn::kRegion},
        {"XMatchMean", "Matched", "#cc79a7", 3, false, dyn::kMatch},
        {"XRegionWgtMean", "Weighted", "#1f3f8f", 0, true, dyn::kRegionWgt},
        {"XMatchWgtMean", "Weighted Matched", "#1f3f8f", 0, true, dyn::kMatchWgt},
        {"XStrMean", "Strata", "#1f3f8f", 0, true, nullptr},
        {"XMean", "Stratum", "#1f3f8f", 0, false, nullptr},
    };
    int xv = col(g, "XVar");
    double lx = p.x0;
    for (const Series& s : series) {
        int c = col(g, s.column);
        if (c < 0 || (s.panel && dynNum(g, s.panel, 1) == 0)) continue;
        bool any = false;
        auto shape = [&](double x, double y) {
            std::string fill = s.filled ? s.colour : "none";
            std::string attrs = "fill=\"" + fill + "\" stroke=\"" + s.colour +
                                "\" stroke-width=\"1.3\" class=\"mark\"";
            switch (s.shape) {
            case 0:
                f.body +=
                    "<circle cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" r=\"4\" " + attrs + "/>\n";
                break;
            case 1:
                f.body += "<path d=\"M" + num(x) + " " + num(y - 5) + "L" + num(x + 5) + " " +
                          num(y + 4) + "L" + num(x - 5) + " " + num(y + 4) + "Z\" " + attrs +
                          "/>\n";
                break;
            case 2:
                f.body += "<rect x=\"" + num(x - 4) + "\" y=\"" + num(y - 4) +
                          "\" width=\"8\" height=\"8\" " + attrs + "/>\n";
                break;
            default:
                f.body += "<path d=\"M" + num(x) + " " + num(y - 5) + "L" + num(x + 5) + " " +
                          num(y) + "L" + num(x) + " " + num(y + 5) + "L" + num(x - 5) + " " +
                          num(y) + "Z\" " + attrs + "/>\n";
            }
        };
        // Per-stratum differences are marked by their stratum number, so the strata can be
        // told apart in grey print.
        const int strata = std::string(s.column) == "XMean" ? col(g, "XStrata") : -1;
        for (std::size_t r = 0; r < g.rowCount(); ++r) {
            double pos = cellNum(g, r, xv), z = cellNum(g, r, c), k = cellNum(g, r, strata);
            if (std::isnan(pos) || std::isnan(z)) continue;
            if (!std::isnan(k)) {
                const double at = pos + lane(k);
                f.body += "<circle cx=\"" + num(p.px(z, at)) + "\" cy=\"" + num(p.py(z, at)) +
                          "\" r=\"" + num(ring) + "\" fill=\"white\" stroke=\"" + s.colour +
                          "\" class=\"mark\"/>\n";
                f.text(p.px(z, at), p.py(z, at) + 2.5, num(k), "middle", ring > 5 ? 8 : 6, 0,
                       "bold");
            } else {
                shape(p.px(z, pos), p.py(z, pos));
            }
            any = true;
        }
        if (any && strata >= 0) {
            f.text(lx, f.height - 10, "Marks show the stratum number", "start", 11);
        } else if (any) {
            shape(lx, f.height - 14);
            f.text(lx + 9, f.height - 10, s.label, "start", 11);
            lx += 30 + 7.0 * static_cast<double>(std::string(s.label).size());
        }
    }
    return f.finish(title(g), g.name);
}

std::string drawBox(const GraphRecord& g) {
    Figure f;
    const bool vert = vertical(g);
    std::vector<std::string> ticks = splitTicks(dynText(g, dyn::kYTicks));
    // Box plots come from summary statistics, so a million rows draw a handful of marks. The
    // value axis reaches every whisker and outlier drawn.
    const std::vector<BoxStats> stats = boxes(g);
    double vlo = dynNum(g, dyn::kXMin), vhi = dynNum(g, dyn::kXMax);
    for (const BoxStats& s : stats) {
        const double lo = s.outliers.empty() ? s.whiskerLo : s.outliers.front();
        const double hi = s.outliers.empty() ? s.whiskerHi : s.outliers.back();
        if (std::isfinite(lo) && !(lo >= vlo)) vlo = lo;
        if (std::isfinite(hi) && !(hi <= vhi)) vhi = hi;
    }
    Panel p =
        standardPanel(f, vert, vlo, vhi, dynNum(g, dyn::kYMin, 0.5), dynNum(g, dyn::kYMax, 1.5));
    f.axes(p, dynText(g, dyn::kXLabel), dynText(g, dyn::kYLabel), ticks, positions(ticks.size()));
    for (const BoxStats& s : stats) {
        const double pos = s.pos, q1 = s.q[0], med = s.q[1], q3 = s.q[2];
        const double mean = s.mean();
        const double lo = std::min(s.whiskerLo, q1), hi = std::max(s.whiskerHi, q3);
        const bool treated = std::fmod(pos + 10.0, 1.0) < 0.5;
        const char* colour = treated ? kTreatedColour : kControlColour;
        const double half = 0.11;
        auto P = [&](double val, double off) {
            return std::pair{p.px(val, pos + off), p.py(val, pos + off)};
        };
        auto [ax, ay] = P(q1, -half);
        auto [bx, by] = P(q3, half);
        f.body += "<rect class=\"box\" x=\"" + num(std::min(ax, bx)) + "\" y=\"" +
                  num(std::min(ay, by)) + "\" width=\"" + num(std::fabs(bx - ax)) + "\" height=\"" +
                  num(std::fabs(by - ay)) + "\" fill=\"" + colour + "\" fill-opacity=\"" +
                  (treated ? "0.35" : "0.1") + "\" stroke=\"" + colour + "\"/>\n";
        auto seg = [&](double v1, double o1, double v2, double o2) {
            auto [x1, y1] = P(v1, o1);
            auto [x2, y2] = P(v2, o2);
            f.line(x1, y1, x2, y2, colour, 1.4);
        };
        seg(med, -half, med, half);
        seg(lo, 0, q1, 0);
        seg(q3, 0, hi, 0);
        seg(lo, -half / 2, lo, half / 2);
        seg(hi, -half / 2, hi, half / 2);
        for (double x : s.outliers) {
            auto [ox, oy] = P(x, 0);
            f.body += "<circle class=\"outlier\" cx=\"" + num(ox) + "\" cy=\"" + num(oy) +
                      "\" r=\"2.5\" fill=\"none\" stroke=\"" + colour + "\"/>\n";
        }
        auto [mx, my] = P(mean, 0);
        f.mark(mx, my, treated, 3);
    }
    f.legend(p.x0, f.height - 8, {{groupText(g, true), 1}, {groupText(g, false), 0}});
    return f.finish(title(g), g.name);
}

std::string drawCdf(const GraphRecord& g) {
    // One pass over the rows: panels in order of first appearance, each with its curves (a
    // curve ends at an all-missing row; the band rows have no YVal and are not drawn).
    const TextColumn titles(g, col(g, "Obs") >= 0 ? col(g, "Obs") : col(g, "Stratum"));
    const NumberColumn xv(g, col(g, "XVal")), yv(g, col(g, "YVal"));
    struct CdfPanel {
        std::string title;
        std::vector<std::vector<std::size_t>> curves; // the rows of each curve's points
        bool open = false;
    };
    std::vector<CdfPanel> panels;
    // The panel of each distinct title text, found once: rows compare codes, not texts.
    std::vector<std::size_t> panelOf(titles.distinct(), SIZE_MAX);
    std::size_t cur = 0;
    for (std::size_t r = 0; r < g.rowCount(); ++r) {
        const std::uint32_t code = titles.code(r);
        const std::string& t = titles.text(code);
        if (t.empty()) {
            if (cur < panels.size()) panels[cur].open = false;
            continue;
        }
        if (panelOf[code] == SIZE_MAX) {
            std::size_t k = 0;
            while (k < panels.size() && panels[k].title != t)
                ++k;
            if (k == panels.size()) panels.push_back({t, {}, false});
            panelOf[code] = k;
        }
        cur = panelOf[code];
        if (std::isnan(yv[r]) || std::isnan(xv[r])) continue;
        CdfPanel& p = panels[cur];
        if (!p.open) p.curves.emplace_back(), p.open = true;
        p.curves.back().push_back(r);
    }
    // Every set (or stratum) is a panel of one figure, in a grid of up to three columns.
    Figure f;
    const std::size_t n = std::max<std::size_t>(1, panels.size());
    const double given = dynNum(g, dyn::kNCol, 0);
    const std::size_t cols = given >= 1 && given <= 3 ? static_cast<std::size_t>(given)
                             : n <= 1                 ? 1
                             : n <= 4                 ? 2
                                                      : 3;
    const std::size_t gridRows = (n + cols - 1) / cols;
    const double cellW = cols == 1 ? 640 : 330;
    f.width = cellW * static_cast<double>(cols);
    f.height = 110 + 250.0 * static_cast<double>(gridRows);
    const double vlo = dynNum(g, dyn::kXMin), vhi = dynNum(g, dyn::kXMax);
    const bool verticesGiven = dynNum(g, dyn::kCurveVertices, 0) == 1;
    for (std::size_t k = 0; k < panels.size(); ++k) {
        const double cx = static_cast<double>(k % cols), cy = static_cast<double>(k / cols);
        Panel p{70 + cellW * cx, 60 + 250.0 * cy, cellW - 100, 180, vlo, vhi, 0, 100, false};
        if (!(p.vhi > p.vlo)) p.vlo -= 1, p.vhi += 1;
        f.text(p.x0 + p.w / 2, p.y0 - 6, panels[k].title, "middle", 12, 0, "bold");
        f.rect(p.x0, p.y0, p.w, p.h, "none", "#444");
        for (double t : niceTicks(p.vlo, p.vhi, 5)) {
            f.line(p.px(t, 0), p.y0 + p.h, p.px(t, 0), p.y0 + p.h + 4);
            f.text(p.px(t, 0), p.y0 + p.h + 16, num(t), "middle", 11);
        }
        for (double t : {0.0, 25.0, 50.0, 75.0, 100.0}) {
            f.line(p.x0 - 4, p.py(0, t), p.x0, p.py(0, t));
            f.text(p.x0 - 6, p.py(0, t) + 4, num(t), "end", 11);
        }
        f.text(p.x0 + p.w / 2, p.y0 + p.h + 32, dynText(g, dyn::kXLabel), "middle", 12);
        if (k % cols == 0)
            f.text(p.x0 - 40, p.y0 + p.h / 2, "Cumulative Percent", "middle", 12, -90);
        // The first curve of a panel is the treated one.
        for (std::size_t c = 0; c < panels[k].curves.size(); ++c) {
            const auto& pts = panels[k].curves[c];
            const bool treated = c == 0;
            // Decimate huge curves: the step shape survives at a thousand vertices.
            std::string d;
            auto vertex = [&](std::size_t row) {
                double x = p.px(std::clamp(xv[row], p.vlo, p.vhi), 0), y = p.py(0, yv[row]);
                d += d.empty() ? "M" + num(x) + " " + num(y) : "H" + num(x) + "V" + num(y);
            };
            if (verticesGiven)
                for (std::size_t row : pts)
                    vertex(row);
            else
                forEachCurveVertex(pts.size(), [&](std::size_t i) { vertex(pts[i]); });
            f.body += std::string("<path class=\"curve\" d=\"") + d + "\" fill=\"none\" stroke=\"" +
                      (treated ? kTreatedColour : kControlColour) + "\" stroke-width=\"1.8\"" +
                      (treated ? "" : " stroke-dasharray=\"6 3\"") + "/>\n";
        }
    }
    const std::string trt = groupText(g, true), ctl = groupText(g, false);
    f.body += "<g class=\"legend\">";
    f.line(70, f.height - 12, 100, f.height - 12, kTreatedColour, 1.8);
    f.text(105, f.height - 8, trt, "start", 11);
    const double cx = 135 + 6.2 * static_cast<double>(displayWidth(trt));
    f.line(cx, f.height - 12, cx + 30, f.height - 12, kControlColour, 1.8, "6 3");
    f.text(cx + 35, f.height - 8, ctl, "start", 11);
    f.body += "</g>\n";
    return f.finish(title(g), g.name);
}

std::string drawBar(const GraphRecord& g) {
    Figure f;
    const bool vert = vertical(g);
    std::vector<std::string> ticks = splitTicks(dynText(g, dyn::kYTicks));
    // The outer bars reach 0.28 beyond their positions: the axis keeps them inside the frame.
    const double yEnd = dynNum(g, dyn::kYEnd, static_cast<double>(ticks.size()));
    Panel p = standardPanel(f, vert, dynNum(g, dyn::kXMin, 0), dynNum(g, dyn::kXMax, 1.09),
                            std::min(dynNum(g, dyn::kYMin, 0.8) - 0.2, 0.6),
                            std::max(dynNum(g, dyn::kYMax, 1.8), yEnd + 0.4));
    f.axes(p, dynText(g, dyn::kXLabel), dynText(g, dyn::kYLabel), ticks, positions(ticks.size()));
    // Stacked bars: the first level (the highest RIndex) from 0, each next level on top of it;
    // the first is dark and the last light.
    int x0 = col(g, "XVal0"), y0 = col(g, "YVal0"), x1 = col(g, "XVal1"), y1 = col(g, "YVal1");
    int ri = col(g, "RIndex");
    double top = 1;
    for (std::size_t r = 0; r < g.rowCount(); ++r)
        top = std::max(top, cellNum(g, r, ri));
    auto opacity = [&](double idx) {
        if (idx >= top) return std::string("0.85");
        if (idx <= 1) return std::string("0.2");
        return num(0.2 + 0.65 * (idx - 1) / (top - 1));
    };
    double start = 0;
    std::vector<std::pair<double, double>> ends; // (position, end of its stacked bar)
    for (std::size_t r = 0; r < g.rowCount(); ++r) {
        bool treated = !std::isnan(cellNum(g, r, x1));
        double pos = treated ? cellNum(g, r, x1) : cellNum(g, r, x0);
        double val = treated ? cellNum(g, r, y1) : cellNum(g, r, y0);
        if (std::isnan(pos) || std::isnan(val)) continue;
        const double idx = cellNum(g, r, ri);
        if (idx >= top) start = 0;
        const char* colour = treated ? kTreatedColour : kControlColour;
        double a = p.px(start, pos - 0.13), b = p.px(start + val, pos + 0.13);
        double c = p.py(start, pos - 0.13), d = p.py(start + val, pos + 0.13);
        f.body += "<rect class=\"bar\" x=\"" + num(std::min(a, b)) + "\" y=\"" +
                  num(std::min(c, d)) + "\" width=\"" + num(std::fabs(b - a)) + "\" height=\"" +
                  num(std::fabs(d - c)) + "\" fill=\"" + colour + "\" fill-opacity=\"" +
                  opacity(idx) + "\" stroke=\"" + colour + "\"/>\n";
        start += val;
        ends.push_back({pos, start});
    }
    // Panels whose counts are sums of weights say so beside their bars.
    std::istringstream weighted(dynText(g, dyn::kWgtTotals));
    for (double k; weighted >> k;) {
        double end = 0;
        for (const auto& [pos, e] : ends)
            if (std::fabs(pos - k) < 0.5) end = std::max(end, e);
        const double x = p.px(end, k), y = p.py(end, k);
        if (vert)
            f.text(x, y - 5, "weighted total", "middle", 10);
        else
            f.text(x + 5, y + 4, "weighted total", "start", 10);
    }
    // Legend: a swatch per group, then one per level (dark: first level, light: last).
    const auto nLevels = static_cast<std::size_t>(top);
    std::vector<std::string> levels(nLevels);
    const int rc = col(g, "Response");
    for (std::size_t r = 0; r < g.rowCount(); ++r) {
        const double idx = cellNum(g, r, ri);
        if (!(idx >= 1) || idx > top) continue;
        std::string& l = levels[nLevels - static_cast<std::size_t>(idx)];
        if (l.empty()) l = cellText(g, r, rc);
    }
    // The levels of the plotted variable, named as in the balance tables ("married = 1").
    const std::string var = dynText(g, dyn::kXVarName);
    auto levelText = [&](const std::string& level, std::size_t i) {
        if (level.empty())
            return nLevels == 2 ? std::string(i == 0 ? "first level" : "second level")
                                : "level " + std::to_string(i + 1);
        return var.empty() ? level : var + " = " + level;
    };
    struct Swatch {
        const char* colour;
        std::string opacity, label;
    };
    std::vector<Swatch> swatches{{kTreatedColour, "0.85", groupText(g, true)},
                                 {kControlColour, "0.85", groupText(g, false)}};
    for (std::size_t i = 0; i < nLevels; ++i)
        swatches.push_back(
            {"#555555", opacity(static_cast<double>(nLevels - i)), levelText(levels[i], i)});
    // A legend wider than the figure goes on to further lines, which the figure grows to hold.
    std::vector<std::pair<double, int>> at; // (x, line) of each swatch
    double lx = p.x0;
    int lines = 1;
    for (const Swatch& s : swatches) {
        const double w = 30 + 6.2 * static_cast<double>(s.label.size());
        if (lx > p.x0 && lx + w - 14 > f.width - 10) {
            lx = p.x0;
            ++lines;
        }
        at.push_back({lx, lines - 1});
        lx += w;
    }
    f.height += 16.0 * (lines - 1);
    for (std::size_t i = 0; i < swatches.size(); ++i) {
        const double x = at[i].first;
        const double ly = f.height - 8 - 16.0 * (lines - 1 - at[i].second);
        f.body += std::string("<rect x=\"") + num(x) + "\" y=\"" + num(ly - 9) +
                  "\" width=\"12\" height=\"10\" fill=\"" + swatches[i].colour +
                  "\" fill-opacity=\"" + swatches[i].opacity + "\" stroke=\"" + swatches[i].colour +
                  "\"/>\n";
        f.text(x + 16, ly, swatches[i].label, "start", 11);
    }
    return f.finish(title(g), g.name);
}

namespace {

// A cloud mark as a subpath. Treated: a dot (a round-capped stub under a wide stroke) or an open
// ring; control: a filled or an open triangle.
std::string cloudMark(bool treated, bool filled, double x, double y) {
    if (treated && filled) return "M" + num(x) + " " + num(y) + "h.01";
    if (treated)
        return "M" + num(x - 2.4) + " " + num(y) + "a2.4 2.4 0 1 0 4.8 0a2.4 2.4 0 1 0 -4.8 0";
    return "M" + num(x) + " " + num(y - 3) + "l3 5.4h-6z";
}

std::string cloudStyle(bool treated, bool filled) {
    const std::string colour = treated ? kTreatedColour : kControlColour;
    if (treated && filled)
        return "fill=\"none\" stroke=\"" + colour +
               "\" stroke-width=\"5\" stroke-linecap=\"round\"";
    return "fill=\"" + (filled ? colour : std::string("none")) + "\" stroke=\"" + colour +
           "\" stroke-width=\"1.2\" stroke-linejoin=\"round\"";
}

// What the value columns of a cloud mean: outside the region, in it (unmatched when matching
// ran), matched. Strata clouds hold the groups instead.
struct CloudKinds {
    bool strata = false, matching = false;
    // Without matching the groups keep their usual marks (treated filled, control open);
    // with it, matched units are filled and unmatched ones open.
    bool filled(bool treated, std::size_t k) const {
        return strata || !matching ? treated : k == 2;
    }
    bool faded(std::size_t k, std::size_t columns) const {
        return !strata && columns > 1 && k == 0;
    }
};

// The legend: the groups on the first line; then, when the cloud tells sets apart, what the
// marks of each set look like.
void cloudLegend(Figure& f, const GraphRecord& g, double x, const CloudKinds& kind,
                 const std::vector<std::size_t>& count, std::size_t columns) {
    double lx = x, y = f.height - (kind.strata || columns < 2 ? 8 : 26);
    for (bool treated : {true, false}) {
        const std::string label = groupText(g, treated);
        f.body += "<path class=\"mark\" d=\"" + cloudMark(treated, treated, lx, y - 4) + "\" " +
                  cloudStyle(treated, treated) + "/>\n";
        f.text(lx + 10, y, label, "start", 11);
        lx += 30 + 6.2 * static_cast<double>(displayWidth(label));
    }
    if (kind.strata || columns < 2) return;
    lx = x, y = f.height - 8;
    static const char* const kText[2][3] = {
        {"outside the support region (faded)", "in the support region", ""},
        {"outside the support region (faded)", "unmatched, in the region", "matched"}};
    for (std::size_t k : {std::size_t{2}, std::size_t{1}, std::size_t{0}}) {
        if (k >= columns || count[2 * k] + count[2 * k + 1] == 0) continue;
        const std::string op = kind.faded(k, columns) ? " opacity=\"0.4\"" : "";
        for (bool treated : {true, false}) {
            const bool filled = kind.filled(treated, k);
            f.body += "<path d=\"" + cloudMark(treated, filled, lx, y - 4) + "\" " +
                      cloudStyle(treated, filled) + op + "/>\n";
            lx += 10;
        }
        const std::string label = kText[kind.matching ? 1 : 0][k];
        f.text(lx, y, label, "start", 11);
        lx += 22 + 6.2 * static_cast<double>(label.size());
    }
}

} // namespace

std::string drawCloud(const GraphRecord& g) {
    Figure f;
    const bool vert = vertical(g);
    CloudKinds kind;
    kind.strata = col(g, "YVal3") < 0 && col(g, "Response") < 0;
    kind.matching = dynNum(g, dyn::kMatch, 0) == 1;
    const bool strata = kind.strata;
    std::vector<std::string> ticks = splitTicks(dynText(g, dyn::kYTicks));
    std::vector<double> at = strata ? positions(ticks.size()) : std::vector<double>{2.0, 4.0};
    double plo = strata ? dynNum(g, dyn::kYMin, 0) : 1.0,
           phi = strata ? dynNum(g, dyn::kYMax, 2) : 5.0;
    const NumberColumn xv(g, col(g, "XVal"));
    std::vector<std::unique_ptr<NumberColumn>> ys;
    for (const char* c : {"YVal1", "YVal2", "YVal3"})
        if (int i = col(g, c); i >= 0) ys.push_back(std::make_unique<NumberColumn>(g, i));
    // A series per group and value column. Huge series are thinned evenly to a bounded number
    // of marks, and each series is one path, so a million-row cloud stays a small file.
    auto seriesOf = [&](std::size_t r, std::size_t k, double& pos) -> int {
        pos = xv[r];
        return cloudSeries(strata, pos, k, (*ys[k])[r]);
    };
    const bool marksGiven = dynNum(g, dyn::kCloudMarks, 0) == 1;
    const std::size_t nSeries = 2 * ys.size();
    std::vector<std::size_t> count(nSeries, 0), seen(nSeries, 0);
    double pos = 0;
    for (std::size_t r = 0; r < g.rowCount(); ++r)
        for (std::size_t k = 0; k < ys.size(); ++k)
            if (int s = seriesOf(r, k, pos); s >= 0) ++count[static_cast<std::size_t>(s)];
    // The axis of the weight cloud ends at its largest reference line: a margin keeps the line
    // off the frame.
    double vhi = dynNum(g, dyn::kXMax);
    if (g.name == "WgtCloudPlot") vhi += 0.05 * (vhi - dynNum(g, dyn::kXMin));
    Panel p = standardPanel(f, vert, dynNum(g, dyn::kXMin), vhi, plo, phi);
    if (!strata && ys.size() > 1) p.h -= 18; // a second legend line
    f.axes(p, dynText(g, dyn::kYLabel), dynText(g, dyn::kXLabel), ticks, at);
    // Reference lines of the weight cloud.
    for (const char* r : {dyn::kTrtWgtRef, dyn::kCntlWgtRef, dyn::kWgtRef}) {
        double v = dynNum(g, r);
        if (std::isnan(v)) continue;
        double pa = std::string(r) == dyn::kTrtWgtRef    ? 3.0
                    : std::string(r) == dyn::kCntlWgtRef ? 1.0
                                                         : plo;
        double pb = std::string(r) == dyn::kTrtWgtRef    ? 5.0
                    : std::string(r) == dyn::kCntlWgtRef ? 3.0
                                                         : phi;
        f.line(p.px(v, pa), p.py(v, pa), p.px(v, pb), p.py(v, pb), "#c00000", 1.2, "5 3");
    }
    // Jitter from the graph's own stream: the same run draws the same figure.
    std::int64_t seed = static_cast<std::int64_t>(dynNum(g, dyn::kSeed, 1));
    if (seed < 1 || seed > support::kMaxSeed) seed = 1;
    std::vector<std::string> paths(nSeries);
    std::vector<std::size_t> shown(nSeries, 0);
    for (std::size_t r = 0; r < g.rowCount(); ++r)
        for (std::size_t k = 0; k < ys.size(); ++k) {
            int si = seriesOf(r, k, pos);
            if (si < 0) continue;
            const auto s = static_cast<std::size_t>(si);
            if (!marksGiven && !cloudMarkKept(seen[s]++, count[s])) continue;
            ++shown[s];
            const bool treated = s % 2 == 1;
            const double v = (*ys[k])[r];
            const double base = strata ? pos + (treated ? 0.2 : -0.2) : pos;
            const double jit = (support::zranuni(seed) - 0.5) * (strata ? 0.3 : 0.8);
            paths[s] += cloudMark(treated, kind.filled(treated, k), p.px(v, base + jit),
                                  p.py(v, base + jit));
        }
    for (std::size_t s = 0; s < nSeries; ++s) {
        if (paths[s].empty()) continue;
        const bool treated = s % 2 == 1;
        // Dense clouds get lighter marks; outside the region faded.
        double op = std::clamp(1500.0 / static_cast<double>(shown[s] + 1), 0.35, 1.0);
        if (kind.faded(s / 2, ys.size())) op *= 0.4;
        f.body += "<path class=\"marks\" d=\"" + paths[s] + "\" " +
                  cloudStyle(treated, kind.filled(treated, s / 2)) + " opacity=\"" + num(op) +
                  "\"/>\n";
    }
    cloudLegend(f, g, p.x0, kind, count, ys.size());
    return f.finish(title(g), g.name);
}

} // namespace svg

std::string renderGraphSvg(const GraphRecord& g) {
    const std::string& n = g.name;
    if (n == "StdDiffPlot" || n == "StrataStdDiffPlot") return svg::drawStdDiff(g);
    if (n == "BoxPlot" || n == "StrataBoxPlot") return svg::drawBox(g);
    if (n == "CDFPlot" || n == "StrataCDFPlot") return svg::drawCdf(g);
    if (n == "BarChart" || n == "StrataBarChart") return svg::drawBar(g);
    if (n == "CloudPlot" || n == "WgtCloudPlot" || n == "StrataCloudPlot") return svg::drawCloud(g);
    return {};
}

} // namespace velloc::host
