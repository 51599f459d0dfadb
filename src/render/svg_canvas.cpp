// Drawing primitives shared by the SVG renderers.
#include <algorithm>
#include <cstdio>

#include "render/dynamics.h"
#include "render/graph_renderers.h"
#include "render/number_format.h"
#include "render/svg_canvas.h"

namespace velloc::host::svg {

std::string num(double v) {
    if (!std::isfinite(v)) return "0";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    std::string s = buf;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

namespace {
const Dynamic* findDyn(const GraphRecord& g, const std::string& name) {
    for (const auto& d : g.dynamics)
        if (d.name == name) return &d;
    for (const auto& d : g.phantom.dynamics)
        if (d.name == name) return &d;
    return nullptr;
}
} // namespace

double dynNum(const GraphRecord& g, const std::string& name, double dflt) {
    const Dynamic* d = findDyn(g, name);
    if (!d) return dflt;
    if (auto p = std::get_if<double>(&d->value)) return *p;
    if (auto p = std::get_if<std::int64_t>(&d->value)) return static_cast<double>(*p);
    return dflt;
}

std::string dynText(const GraphRecord& g, const std::string& name) {
    const Dynamic* d = findDyn(g, name);
    if (!d) return {};
    if (auto p = std::get_if<std::string>(&d->value)) return *p;
    return num(dynNum(g, name));
}

std::string groupText(const GraphRecord& g, bool treated) {
    const std::string word = treated ? "Treated" : "Control";
    const Dynamic* level = findDyn(g, treated ? dyn::kXTreated : dyn::kXControl);
    const std::string levelText = level ? dynamicText(level->value) : std::string();
    if (levelText.empty()) return word;
    const Dynamic* var = findDyn(g, dyn::kTrtVar);
    const std::string varText = var ? dynamicText(var->value) : std::string();
    return word + " (" + (varText.empty() ? "" : varText + " = ") + levelText + ")";
}

std::vector<std::string> splitTicks(const std::string& ticks) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while ((i = ticks.find('\'', i)) != std::string::npos) {
        std::size_t j = ticks.find('\'', i + 1);
        if (j == std::string::npos) break;
        std::string t = ticks.substr(i + 1, j - i - 1);
        auto b = t.find_first_not_of(' ');
        out.push_back(b == std::string::npos ? std::string() : t.substr(b));
        i = j + 1;
    }
    return out;
}

int col(const GraphRecord& g, const std::string& name) {
    return g.phantom.columnIndex(name);
}

double cellNum(const GraphRecord& g, std::size_t r, int c) {
    return c < 0 ? NAN : g.number(r, static_cast<std::size_t>(c));
}

const std::string& cellText(const GraphRecord& g, std::size_t r, int c) {
    static const std::string none;
    return c < 0 ? none : g.text(r, static_cast<std::size_t>(c));
}

NumberColumn::NumberColumn(const GraphRecord& g, int c) {
    if (c < 0) return;
    const auto at = static_cast<std::size_t>(c);
    if (g.data.rows.empty()) {
        if (at < g.columns.columns()) p_ = g.columns.numberColumn(at);
        return;
    }
    own_.reserve(g.rowCount());
    for (std::size_t r = 0; r < g.rowCount(); ++r)
        own_.push_back(g.number(r, at));
    p_ = own_.data();
}

TextColumn::TextColumn(const GraphRecord& g, int c) {
    texts_ = &ownTexts_;
    if (c < 0) return;
    const auto at = static_cast<std::size_t>(c);
    if (g.data.rows.empty()) {
        if (at >= g.columns.columns() || g.columns.numeric(at)) return;
        codes_ = g.columns.codeColumn(at);
        texts_ = &g.columns.texts();
        return;
    }
    // Cells: code them here, "" first.
    ownCodes_.reserve(g.rowCount());
    for (std::size_t r = 0; r < g.rowCount(); ++r) {
        const std::string& t = g.text(r, at);
        std::uint32_t k = 0;
        while (k < ownTexts_.size() && ownTexts_[k] != t)
            ++k;
        if (k == ownTexts_.size()) ownTexts_.push_back(t);
        ownCodes_.push_back(k);
    }
    codes_ = ownCodes_.data();
}

std::vector<double> niceTicks(double lo, double hi, int target) {
    std::vector<double> out;
    if (!std::isfinite(lo) || !std::isfinite(hi) || hi <= lo) return out;
    double raw = (hi - lo) / target;
    double mag = std::pow(10.0, std::floor(std::log10(raw)));
    double step = mag;
    for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (m * mag >= raw) {
            step = m * mag;
            break;
        }
    for (double t = std::ceil(lo / step) * step; t <= hi + step * 1e-9; t += step)
        out.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
    return out;
}

double Panel::px(double v, double p) const {
    if (vertical) return x0 + (p - plo) / (phi - plo) * w;
    return x0 + (v - vlo) / (vhi - vlo) * w;
}

double Panel::py(double v, double p) const {
    if (vertical) return y0 + h - (v - vlo) / (vhi - vlo) * h;
    return y0 + h - (p - plo) / (phi - plo) * h;
}

void Figure::text(double x, double y, const std::string& s, const char* anchor, int size,
                  double rotate, const char* weight) {
    body += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" text-anchor=\"" + anchor +
            "\" font-size=\"" + std::to_string(size) + "\" font-weight=\"" + weight + "\"";
    if (rotate != 0)
        body += " transform=\"rotate(" + num(rotate) + " " + num(x) + " " + num(y) + ")\"";
    body += ">" + escapeMarkup(s) + "</text>\n";
}

void Figure::line(double x1, double y1, double x2, double y2, const char* stroke, double w,
                  const char* dash) {
    body += "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" +
            num(y2) + "\" stroke=\"" + stroke + "\" stroke-width=\"" + num(w) + "\"";
    if (dash) body += " stroke-dasharray=\"" + std::string(dash) + "\"";
    body += "/>\n";
}

void Figure::rect(double x, double y, double w, double h, const char* fill, const char* stroke,
                  double opacity) {
    if (w < 0) x += w, w = -w;
    if (h < 0) y += h, h = -h;
    body += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(w) + "\" height=\"" +
            num(h) + "\" fill=\"" + fill + "\" stroke=\"" + stroke + "\"";
    if (opacity < 1.0) body += " fill-opacity=\"" + num(opacity) + "\"";
    body += "/>\n";
}

void Figure::mark(double x, double y, bool treated, double r, double opacity) {
    std::string op = opacity < 1.0 ? " opacity=\"" + num(opacity) + "\"" : std::string();
    if (treated) {
        body += "<circle class=\"mark\" cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" r=\"" + num(r) +
                "\" fill=\"" + kTreatedColour + "\"" + op + "/>\n";
    } else {
        double s = r * 1.25;
        body += "<path class=\"mark\" d=\"M" + num(x) + " " + num(y - s) + "L" + num(x + s) + " " +
                num(y + s * 0.8) + "L" + num(x - s) + " " + num(y + s * 0.8) +
                "Z\" fill=\"none\" stroke=\"" + kControlColour + "\" stroke-width=\"1.3\"" + op +
                "/>\n";
    }
}

void Figure::axes(const Panel& p, const std::string& valueLabel, const std::string& posLabel,
                  const std::vector<std::string>& posTicks, const std::vector<double>& posAt) {
    rect(p.x0, p.y0, p.w, p.h, "none", "#444");
    for (double t : niceTicks(p.vlo, p.vhi)) {
        double x = p.px(t, p.plo), y = p.py(t, p.plo);
        if (p.vertical) {
            line(p.x0 - 4, y, p.x0, y);
            text(p.x0 - 6, y + 4, num(t), "end", 11);
        } else {
            line(x, p.y0 + p.h, x, p.y0 + p.h + 4);
            text(x, p.y0 + p.h + 16, num(t), "middle", 11);
        }
    }
    // Category labels across the bottom turn when they would run into each other.
    const double longest = tickTextWidth(posTicks);
    double spacing = HUGE_VAL;
    for (std::size_t i = 1; i < posAt.size(); ++i)
        spacing = std::min(spacing, std::fabs(p.px(p.vlo, posAt[i]) - p.px(p.vlo, posAt[i - 1])));
    const bool turned = p.vertical && longest > spacing - 6;
    for (std::size_t i = 0; i < posTicks.size() && i < posAt.size(); ++i) {
        double x = p.px(p.vlo, posAt[i]), y = p.py(p.vlo, posAt[i]);
        if (p.vertical) {
            line(x, p.y0 + p.h, x, p.y0 + p.h + 4);
            if (turned)
                text(x + 3, p.y0 + p.h + 12, posTicks[i], "end", 11, -45);
            else
                text(x, p.y0 + p.h + 16, posTicks[i], "middle", 11);
        } else {
            line(p.x0 - 4, y, p.x0, y);
            text(p.x0 - 6, y + 4, posTicks[i], "end", 11);
        }
    }
    const std::string& bottom = p.vertical ? posLabel : valueLabel;
    const std::string& left = p.vertical ? valueLabel : posLabel;
    text(p.x0 + p.w / 2, p.y0 + p.h + 34 + (turned ? longest * 0.71 : 0), bottom, "middle", 12);
    // The side label sits just clear of the widest tick label.
    const double side = p.vertical ? 44 : std::clamp(longest + 22, 44.0, 130.0);
    text(p.x0 - side, p.y0 + p.h / 2, left, "middle", 12, -90);
}

void Figure::legend(double x, double y, const std::vector<std::pair<std::string, int>>& entries) {
    for (const auto& [label, style] : entries) {
        mark(x, y - 4, style == 1);
        text(x + 10, y, label, "start", 11);
        x += 22 + 7.0 * static_cast<double>(label.size());
    }
}

std::string Figure::finish(const std::string& title, const std::string& name) const {
    std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) +
                    "\" height=\"" + num(height) + "\" viewBox=\"0 0 " + num(width) + " " +
                    num(height) + "\" font-family=\"Helvetica, Arial, sans-serif\" role=\"img\">\n";
    s += "<title>" + escapeMarkup(name + ": " + title) + "</title>\n";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    s += "<text x=\"" + num(width / 2) +
         "\" y=\"24\" text-anchor=\"middle\" font-size=\"15\" "
         "font-weight=\"bold\">" +
         escapeMarkup(title) + "</text>\n";
    return s + body + "</svg>\n";
}

double tickTextWidth(const std::vector<std::string>& ticks) {
    std::size_t n = 0;
    for (const auto& t : ticks)
        n = std::max(n, t.size());
    return 6.2 * static_cast<double>(n); // 11-pixel sans-serif
}

Panel standardPanel(const Figure& f, bool vertical, double vlo, double vhi, double plo,
                    double phi) {
    Panel p;
    p.x0 = vertical ? 70 : 150;
    p.y0 = 60;
    p.w = f.width - p.x0 - 30;
    p.h = f.height - p.y0 - 60;
    p.vlo = vlo, p.vhi = vhi, p.plo = plo, p.phi = phi;
    if (!(p.vhi > p.vlo)) p.vlo -= 1, p.vhi += 1;
    if (!(p.phi > p.plo)) p.plo -= 1, p.phi += 1;
    p.vertical = vertical;
    return p;
}

} // namespace velloc::host::svg
