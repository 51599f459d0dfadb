// The renderer of each graph template.
#include "host/render_svg.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "host/render_svg_canvas.h"
#include "support/random.h"

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
    std::string t = dynText(g, "_Title");
    return t.empty() ? g.name : t;
}

bool vertical(const GraphRecord& g) {
    return dynNum(g, "_Vertical", 0) == 1;
}

// Summary statistics of one box: weighted quartiles, mean and extremes.
struct BoxStats {
    double pos = 0, total = 0, sum = 0, min = HUGE_VAL, max = -HUGE_VAL;
    double q[3] = {NAN, NAN, NAN}; // 25%, 50%, 75%
    // Whisker ends: the most extreme observations inside the 1.5 IQR fences; and the
    // observations beyond them, distinct values only, thinned evenly past the mark bound.
    double whiskerLo = HUGE_VAL, whiskerHi = -HUGE_VAL;
    std::vector<double> outliers;
};

// The boxes of a box plot in three passes over the rows, without copying or sorting them:
// totals and extremes; a weight histogram that finds the bin holding each quartile; then
// only that bin's values are sorted. The quartile is the first value whose running weight
// reaches q x total.
std::vector<BoxStats> boxSummaries(const GraphRecord& g) {
    const int yv = col(g, "YVal"), xv = col(g, "XVal"), fq = col(g, "XFrq"), wg = col(g, "XWgt");
    constexpr std::size_t kBins = 4096;
    std::vector<BoxStats> boxes;
    std::vector<std::size_t> boxOf(g.rowCount(), SIZE_MAX);
    for (std::size_t r = 0; r < g.rowCount(); ++r) {
        const double pos = cellNum(g, r, yv), x = cellNum(g, r, xv);
        const double w = cellNum(g, r, fq) * cellNum(g, r, wg);
        if (std::isnan(pos) || std::isnan(x) || !(w > 0)) continue;
        std::size_t b = 0;
        while (b < boxes.size() && std::fabs(boxes[b].pos - pos) >= 1e-9)
            ++b;
        if (b == boxes.size()) {
            boxes.emplace_back();
            boxes.back().pos = pos;
        }
        BoxStats& s = boxes[b];
        s.total += w, s.sum += x * w;
        s.min = std::min(s.min, x), s.max = std::max(s.max, x);
        boxOf[r] = b;
    }
    auto binOf = [&](const BoxStats& s, double x) {
        if (!(s.max > s.min)) return std::size_t{0};
        auto i = static_cast<std::size_t>((x - s.min) / (s.max - s.min) * kBins);
        return std::min(i, kBins - 1);
    };
    std::vector<std::vector<double>> hist(boxes.size(), std::vector<double>(kBins, 0.0));
    for (std::size_t r = 0; r < g.rowCount(); ++r)
        if (boxOf[r] != SIZE_MAX) {
            const BoxStats& s = boxes[boxOf[r]];
            hist[boxOf[r]][binOf(s, cellNum(g, r, xv))] += cellNum(g, r, fq) * cellNum(g, r, wg);
        }
    // Per box and quartile: the target bin and the weight below it.
    std::vector<std::array<std::size_t, 3>> bin(boxes.size());
    std::vector<std::array<double, 3>> below(boxes.size());
    std::vector<std::array<std::vector<std::pair<double, double>>, 3>> inBin(boxes.size());
    static constexpr double kQ[3] = {0.25, 0.5, 0.75};
    for (std::size_t b = 0; b < boxes.size(); ++b)
        for (int k = 0; k < 3; ++k) {
            double acc = 0;
            std::size_t i = 0;
            while (i + 1 < kBins && acc + hist[b][i] < kQ[k] * boxes[b].total)
                acc += hist[b][i++];
            bin[b][k] = i, below[b][k] = acc;
        }
    for (std::size_t r = 0; r < g.rowCount(); ++r) {
        if (boxOf[r] == SIZE_MAX) continue;
        const std::size_t b = boxOf[r];
        const double x = cellNum(g, r, xv);
        const std::size_t i = binOf(boxes[b], x);
        for (int k = 0; k < 3; ++k)
            if (bin[b][k] == i) inBin[b][k].push_back({x, cellNum(g, r, fq) * cellNum(g, r, wg)});
    }
    for (std::size_t b = 0; b < boxes.size(); ++b)
        for (int k = 0; k < 3; ++k) {
            auto& v = inBin[b][k];
            std::sort(v.begin(), v.end());
            double acc = below[b][k];
            for (const auto& [x, w] : v) {
                acc += w;
                boxes[b].q[k] = x;
                if (acc >= kQ[k] * boxes[b].total) break;
            }
        }
    for (std::size_t r = 0; r < g.rowCount(); ++r) {
        if (boxOf[r] == SIZE_MAX) continue;
        BoxStats& s = boxes[boxOf[r]];
        const double x = cellNum(g, r, xv), iqr = s.q[2] - s.q[0];
        if (x < s.q[0] - 1.5 * iqr || x > s.q[2] + 1.5 * iqr) {
            s.outliers.push_back(x);
        } else {
            s.whiskerLo = std::min(s.whiskerLo, x);
            s.whiskerHi = std::max(s.whiskerHi, x);
        }
    }
    for (BoxStats& s : boxes) {
        std::sort(s.outliers.begin(), s.outliers.end());
        s.outliers.erase(std::unique(s.outliers.begin(), s.outliers.end()), s.outliers.end());
        if (s.outliers.size() > kMaxMarksPerSeries) {
            std::vector<double> kept;
            const std::size_t step = s.outliers.size() / kMaxMarksPerSeries + 1;
            for (std::size_t i = 0; i < s.outliers.size(); i += step)
                kept.push_back(s.outliers[i]);
            kept.push_back(s.outliers.back()); // the farthest point stays
            s.outliers = std::move(kept);
        }
    }
    return boxes;
}

} // namespace

std::string drawStdDiff(const GraphRecord& g) {
    Figure f;
    const bool vert = vertical(g);
    std::vector<std::string> ticks = splitTicks(dynText(g, "_YTicks"));
    const double n = static_cast<double>(ticks.size());
    // A row per plotted variable: across the page the rows set the height; up the page they
    // set the width, and turned labels need room below the axis.
    double below = 0;
    if (vert) {
        f.width = std::max(640.0, 110 + 36.0 * n);
        below = std::min(160.0, 0.71 * tickTextWidth(ticks));
        f.height = 380 + below;
    } else {
        f.height = std::max(300.0, 140.0 + 22.0 * n);
    }
    Panel p = standardPanel(f, vert, dynNum(g, "_XMin", -0.5), dynNum(g, "_XMax", 0.5),
                            dynNum(g, "_YMin", 0), dynNum(g, "_YMax", 1));
    p.h -= below;
    if (dynNum(g, "_Band", 0) == 1) {
        double a = p.px(dynNum(g, "_DMin"), p.plo), b = p.px(dynNum(g, "_DMax"), p.phi);
        double c = p.py(dynNum(g, "_DMin"), p.plo), d = p.py(dynNum(g, "_DMax"), p.phi);
        f.rect(std::min(a, b), std::min(c, d), std::fabs(b - a), std::fabs(d - c), "#d9d9d9",
               "none", 0.6);
    }
    f.line(p.px(0, p.plo), p.py(0, p.plo), p.px(0, p.phi), p.py(0, p.phi), "#888", 1, "4 3");
    // The balance threshold, on both sides of zero, where the axis reaches it.
    const double ref = dynNum(g, "_RefLine", 0);
    if (ref > 0 && ref <= dynNum(g, "_XMax", 0.5))
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
        {"XRegionMean", "Region", "#009e73", 2, false, "_Region"},
        {"XMatchMean", "Matched", "#cc79a7", 3, false, "_Match"},
        {"XRegionWgtMean", "Weighted", "#1f3f8f", 0, true, "_RegionWgt"},
        {"XMatchWgtMean", "Weighted Matched", "#1f3f8f", 0, true, "_MatchWgt"},
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
                f.body += "<circle cx=\"" + num(p.px(z, pos)) + "\" cy=\"" + num(p.py(z, pos)) +
                          "\" r=\"6\" fill=\"white\" stroke=\"" + s.colour +
                          "\" class=\"mark\"/>\n";
                f.text(p.px(z, pos), p.py(z, pos) + 3, num(k), "middle", 8, 0, "bold");
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
    std::vector<std::string> ticks = splitTicks(dynText(g, "_YTicks"));
    Panel p = standardPanel(f, vert, dynNum(g, "_XMin"), dynNum(g, "_XMax"),
                            dynNum(g, "_YMin", 0.5), dynNum(g, "_YMax", 1.5));
    f.axes(p, dynText(g, "_XLabel"), dynText(g, "_YLabel"), ticks, positions(ticks.size()));
    // Box plots come from summary statistics, so a million rows draw a handful of marks.
    for (const BoxStats& s : boxSummaries(g)) {
        const double pos = s.pos, q1 = s.q[0], med = s.q[1], q3 = s.q[2];
        const double mean = s.sum / s.total;
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
    f.legend(p.x0, f.height - 8,
             {{dynText(g, "_XTreated").empty() ? "Treated" : dynText(g, "_XTreated"), 1},
              {"Control", 0}});
    return f.finish(title(g), g.name);
}

std::string drawCdf(const GraphRecord& g) {
    // One pass over the rows: panels in order of first appearance, each with its curves (a
    // curve ends at an all-missing row; the band rows have no YVal and are not drawn).
    const int pc = col(g, "Obs") >= 0 ? col(g, "Obs") : col(g, "Stratum");
    const int xv = col(g, "XVal"), yv = col(g, "YVal");
    struct CdfPanel {
        std::string title;
        std::vector<std::vector<std::pair<double, double>>> curves;
        bool open = false;
    };
    std::vector<CdfPanel> panels;
    std::size_t cur = 0;
    for (std::size_t r = 0; r < g.rowCount(); ++r) {
        const std::string& t = cellText(g, r, pc);
        if (t.empty()) {
            if (cur < panels.size()) panels[cur].open = false;
            continue;
        }
        if (cur >= panels.size() || panels[cur].title != t) {
            cur = 0;
            while (cur < panels.size() && panels[cur].title != t)
                ++cur;
            if (cur == panels.size()) panels.push_back({t, {}, false});
        }
        const double x = cellNum(g, r, xv), y = cellNum(g, r, yv);
        if (std::isnan(y) || std::isnan(x)) continue;
        CdfPanel& p = panels[cur];
        if (!p.open) p.curves.emplace_back(), p.open = true;
        p.curves.back().push_back({x, y});
    }
    Figure f;
    const bool vert = vertical(g);
    const std::size_t n = std::max<std::size_t>(1, panels.size());
    f.width = vert ? std::max(640.0, 300.0 * static_cast<double>(n)) : 640;
    f.height = vert ? 420 : 110 + 250.0 * static_cast<double>(n);
    const double vlo = dynNum(g, "_XMin"), vhi = dynNum(g, "_XMax");
    for (std::size_t k = 0; k < panels.size(); ++k) {
        Panel p;
        if (vert) {
            double w = (f.width - 60) / static_cast<double>(n);
            p = {60 + w * static_cast<double>(k) + 10,
                 70,
                 w - 30,
                 f.height - 140,
                 vlo,
                 vhi,
                 0,
                 100,
                 false};
        } else {
            p = {70,   60 + 250.0 * static_cast<double>(k), f.width - 100, 180, vlo, vhi, 0, 100,
                 false};
        }
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
        f.text(p.x0 + p.w / 2, p.y0 + p.h + 32, dynText(g, "_XLabel"), "middle", 12);
        if (k == 0 || !vert)
            f.text(p.x0 - 40, p.y0 + p.h / 2, "Cumulative Percent", "middle", 12, -90);
        // The first curve of a panel is the treated one.
        for (std::size_t c = 0; c < panels[k].curves.size(); ++c) {
            const auto& pts = panels[k].curves[c];
            const bool treated = c == 0;
            // Decimate huge curves: the step shape survives at a thousand vertices.
            const std::size_t stride = pts.size() / kMaxCurveVertices + 1;
            std::string d;
            auto vertex = [&](const std::pair<double, double>& pt) {
                double x = p.px(std::clamp(pt.first, p.vlo, p.vhi), 0), y = p.py(0, pt.second);
                d += d.empty() ? "M" + num(x) + " " + num(y) : "H" + num(x) + "V" + num(y);
            };
            for (std::size_t i = 0; i < pts.size(); i += stride)
                vertex(pts[i]);
            vertex(pts.back()); // the last vertex (100%) always stays
            f.body += std::string("<path class=\"curve\" d=\"") + d + "\" fill=\"none\" stroke=\"" +
                      (treated ? kTreatedColour : kControlColour) + "\" stroke-width=\"1.8\"" +
                      (treated ? "" : " stroke-dasharray=\"6 3\"") + "/>\n";
        }
    }
    f.body += "<g class=\"legend\">";
    f.line(70, f.height - 12, 100, f.height - 12, kTreatedColour, 1.8);
    f.text(105, f.height - 8, "Treated", "start", 11);
    f.line(180, f.height - 12, 210, f.height - 12, kControlColour, 1.8, "6 3");
    f.text(215, f.height - 8, "Control", "start", 11);
    f.body += "</g>\n";
    return f.finish(title(g), g.name);
}

std::string drawBar(const GraphRecord& g) {
    Figure f;
    const bool vert = vertical(g);
    std::vector<std::string> ticks = splitTicks(dynText(g, "_YTicks"));
    // The outer bars reach 0.28 beyond their positions: the axis keeps them inside the frame.
    const double yEnd = dynNum(g, "_YEnd", static_cast<double>(ticks.size()));
    Panel p = standardPanel(f, vert, dynNum(g, "_XMin", 0), dynNum(g, "_XMax", 1.09),
                            std::min(dynNum(g, "_YMin", 0.8) - 0.2, 0.6),
                            std::max(dynNum(g, "_YMax", 1.8), yEnd + 0.4));
    f.axes(p, dynText(g, "_XLabel"), dynText(g, "_YLabel"), ticks, positions(ticks.size()));
    // Stacked bars: the first level from 0, the second level on top of it.
    int x0 = col(g, "XVal0"), y0 = col(g, "YVal0"), x1 = col(g, "XVal1"), y1 = col(g, "YVal1");
    int ri = col(g, "RIndex");
    double start = 0;
    for (std::size_t r = 0; r < g.rowCount(); ++r) {
        bool treated = !std::isnan(cellNum(g, r, x1));
        double pos = treated ? cellNum(g, r, x1) : cellNum(g, r, x0);
        double val = treated ? cellNum(g, r, y1) : cellNum(g, r, y0);
        if (std::isnan(pos) || std::isnan(val)) continue;
        bool first = cellNum(g, r, ri) == 2;
        if (first) start = 0;
        const char* colour = treated ? kTreatedColour : kControlColour;
        double a = p.px(start, pos - 0.13), b = p.px(start + val, pos + 0.13);
        double c = p.py(start, pos - 0.13), d = p.py(start + val, pos + 0.13);
        f.body += "<rect class=\"bar\" x=\"" + num(std::min(a, b)) + "\" y=\"" +
                  num(std::min(c, d)) + "\" width=\"" + num(std::fabs(b - a)) + "\" height=\"" +
                  num(std::fabs(d - c)) + "\" fill=\"" + colour + "\" fill-opacity=\"" +
                  (first ? "0.85" : "0.2") + "\" stroke=\"" + colour + "\"/>\n";
        start += val;
    }
    // Legend: a swatch per group (dark: first level, light: second level).
    std::string levels[2];
    const int rc = col(g, "Response");
    for (std::size_t r = 0; r < g.rowCount(); ++r) {
        const double idx = cellNum(g, r, ri);
        if (idx == 2 && levels[0].empty()) levels[0] = cellText(g, r, rc);
        if (idx == 1 && levels[1].empty()) levels[1] = cellText(g, r, rc);
    }
    double lx = p.x0;
    const double ly = f.height - 8;
    auto swatch = [&](const char* colour, const char* opacity, const std::string& label) {
        f.body += std::string("<rect x=\"") + num(lx) + "\" y=\"" + num(ly - 9) +
                  "\" width=\"12\" height=\"10\" fill=\"" + colour + "\" fill-opacity=\"" +
                  opacity + "\" stroke=\"" + colour + "\"/>\n";
        f.text(lx + 16, ly, label, "start", 11);
        lx += 30 + 6.2 * static_cast<double>(label.size());
    };
    const std::string trt = dynText(g, "_XTreated"), ctl = dynText(g, "_XControl");
    swatch(kTreatedColour, "0.85", trt.empty() ? "Treated" : "Treated (" + trt + ")");
    swatch(kControlColour, "0.85", ctl.empty() ? "Control" : "Control (" + ctl + ")");
    swatch("#555555", "0.85", levels[0].empty() ? "first level" : levels[0]);
    swatch("#555555", "0.2", levels[1].empty() ? "second level" : levels[1]);
    return f.finish(title(g), g.name);
}

std::string drawCloud(const GraphRecord& g) {
    Figure f;
    const bool vert = vertical(g);
    const bool strata = col(g, "YVal3") < 0 && col(g, "Response") < 0;
    std::vector<std::string> ticks = splitTicks(dynText(g, "_YTicks"));
    std::vector<double> at = strata ? positions(ticks.size()) : std::vector<double>{2.0, 4.0};
    double plo = strata ? dynNum(g, "_YMin", 0) : 1.0, phi = strata ? dynNum(g, "_YMax", 2) : 5.0;
    // The axis of the weight cloud ends at its largest reference line: a margin keeps the line
    // off the frame.
    double vhi = dynNum(g, "_XMax");
    if (g.name == "WgtCloudPlot") vhi += 0.05 * (vhi - dynNum(g, "_XMin"));
    Panel p = standardPanel(f, vert, dynNum(g, "_XMin"), vhi, plo, phi);
    f.axes(p, strata ? dynText(g, "_YLabel") : dynText(g, "_YLabel"), dynText(g, "_XLabel"), ticks,
           at);
    // Reference lines of the weight cloud.
    for (const char* r : {"_TrtWgtRef", "_CntlWgtRef", "_WgtRef"}) {
        double v = dynNum(g, r);
        if (std::isnan(v)) continue;
        double pa = std::string(r) == "_TrtWgtRef"    ? 3.0
                    : std::string(r) == "_CntlWgtRef" ? 1.0
                                                      : plo;
        double pb = std::string(r) == "_TrtWgtRef"    ? 5.0
                    : std::string(r) == "_CntlWgtRef" ? 3.0
                                                      : phi;
        f.line(p.px(v, pa), p.py(v, pa), p.px(v, pb), p.py(v, pb), "#c00000", 1.2, "5 3");
    }
    // Jitter from the graph's own stream: the same run draws the same figure.
    std::int64_t seed = static_cast<std::int64_t>(dynNum(g, "_Seed", 1));
    if (seed < 1 || seed > support::kMaxSeed) seed = 1;
    int xv = col(g, "XVal");
    std::vector<int> ys;
    for (const char* c : {"YVal1", "YVal2", "YVal3"})
        if (int i = col(g, c); i >= 0) ys.push_back(i);
    // A series per group and value column. Huge series are thinned evenly to a bounded number
    // of marks, and each series is one path, so a million-row cloud stays a small file.
    auto seriesOf = [&](std::size_t r, std::size_t k, double& pos) -> int {
        pos = cellNum(g, r, xv);
        if (std::isnan(pos) || std::isnan(cellNum(g, r, ys[k]))) return -1;
        bool treated = strata ? k == 0 : pos > 3.0;
        return static_cast<int>(2 * k + (treated ? 1 : 0));
    };
    const std::size_t nSeries = 2 * ys.size();
    std::vector<std::size_t> count(nSeries, 0), seen(nSeries, 0);
    double pos = 0;
    for (std::size_t r = 0; r < g.rowCount(); ++r)
        for (std::size_t k = 0; k < ys.size(); ++k)
            if (int s = seriesOf(r, k, pos); s >= 0) ++count[static_cast<std::size_t>(s)];
    std::vector<std::string> paths(nSeries);
    std::vector<std::size_t> shown(nSeries, 0);
    for (std::size_t r = 0; r < g.rowCount(); ++r)
        for (std::size_t k = 0; k < ys.size(); ++k) {
            int si = seriesOf(r, k, pos);
            if (si < 0) continue;
            const auto s = static_cast<std::size_t>(si);
            if (seen[s]++ % (count[s] / kMaxMarksPerSeries + 1)) continue;
            ++shown[s];
            const bool treated = s % 2 == 1;
            const double v = cellNum(g, r, ys[k]);
            const double base = strata ? pos + (treated ? 0.2 : -0.2) : pos;
            const double jit = (support::zranuni(seed) - 0.5) * (strata ? 0.3 : 0.8);
            const double x = p.px(v, base + jit), y = p.py(v, base + jit);
            // Treated: a dot (a round-capped stub); control: an open triangle.
            paths[s] += treated ? "M" + num(x) + " " + num(y) + "h.01"
                                : "M" + num(x) + " " + num(y - 3) + "l3 5.4h-6z";
        }
    for (std::size_t s = 0; s < nSeries; ++s) {
        if (paths[s].empty()) continue;
        const bool treated = s % 2 == 1;
        // Dense clouds get lighter marks; outside the region faded, matched full.
        double op = std::clamp(1500.0 / static_cast<double>(shown[s] + 1), 0.35, 1.0);
        if (ys.size() > 1 && s / 2 == 0 && !strata) op *= 0.4;
        f.body += std::string("<path class=\"marks\" d=\"") + paths[s] + "\" fill=\"none\" " +
                  (treated ? std::string("stroke=\"") + kTreatedColour +
                                 "\" stroke-width=\"5\" stroke-linecap=\"round\""
                           : std::string("stroke=\"") + kControlColour +
                                 "\" stroke-width=\"1.2\" stroke-linejoin=\"round\"") +
                  " opacity=\"" + num(op) + "\"/>\n";
    }
    f.legend(p.x0, f.height - 8, {{"Treated", 1}, {"Control", 0}});
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
