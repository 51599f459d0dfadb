// The HTML report: one self-contained file for the whole run, written at finish().
#include <algorithm>
#include <string>
#include <string_view>

#include "base/messages.h"
#include "render/column_groups.h"
#include "render/number_format.h"
#include "render/output.h"
#include "render/templates.h"

namespace velloc::host {

namespace {

// Characters a cell's padding takes in the width budget (1 em of 8-point print type).
constexpr std::size_t kHtmlGap = 2;

constexpr const char* kStyle = R"(
body { font-family: system-ui, sans-serif; margin: 2em; color: #111; }
h1 { font-size: 1.4em; }
h2.by { font-size: 1.1em; border-bottom: 1px solid #888; margin-top: 2em; }
table { border-collapse: collapse; margin: 1.5em 0; font-size: 0.9em; }
caption { font-weight: bold; padding-bottom: 0.4em; }
caption .sub { font-weight: normal; }
th, td { padding: 0.2em 0.7em; }
thead th { border-bottom: 1px solid #444; }
th.span { border-bottom: 1px solid #999; text-align: center; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; }
td.text, th.text { text-align: left; }
table.factoid th { text-align: left; font-weight: normal; }
figure.graph { margin: 1.5em 0; }
figure.graph svg { max-width: 100%; height: auto; }
figure.graph figcaption { font-weight: bold; font-size: 0.9em; margin-top: 0.3em; }
figure.graph .placeholder { border: 1px dashed #999; padding: 2em; color: #555; }
@media print {
  @page { size: portrait; margin: 15mm 12mm; }
  body { margin: 0; font-size: 9pt; }
  table { font-size: 8pt; margin: 1em 0; page-break-inside: auto; }
  thead { display: table-header-group; }
  tr, caption { page-break-inside: avoid; }
  caption { page-break-after: avoid; }
  th, td { padding: 0.1em 0.45em; }
  figure.graph { page-break-inside: avoid; margin: 1em 0; }
  figure.graph svg { max-width: 100%; max-height: 24cm; height: auto; }
  h1, h2.by { page-break-after: avoid; }
}
)";

class HtmlSink : public OutputSink {
  public:
    HtmlSink(std::string path, GraphRenderer renderer)
        : path_(std::move(path)), renderer_(std::move(renderer)) {}

    void stepBegin(const std::string& title) override {
        title_ = title;
        titlePending_ = !title.empty();
        byPending_.clear();
        if (reportTitle_.empty()) reportTitle_ = title;
    }
    void byGroup(const OutputContext& ctx) override {
        byPending_.clear();
        for (const auto& b : ctx.byLine)
            byPending_ += (byPending_.empty() ? "" : " ") + b;
    }

    void table(const OutputContext& ctx, const TableInstance& inst) override {
        headings();
        TableLayout lay = layoutTable(inst);
        const std::size_t nc = lay.columns.size();
        std::vector<std::vector<std::string>> cells(inst.rows.size());
        std::vector<std::size_t> w(nc, 0);
        for (std::size_t c = 0; c < nc; ++c)
            w[c] = longestWord(lay.columns[c].header);
        for (std::size_t r = 0; r < inst.rows.size(); ++r)
            for (std::size_t c = 0; c < nc; ++c) {
                const Cell& cell = inst.rows[r][c];
                cells[r].push_back(std::holds_alternative<double>(cell)
                                       ? formatNumber(std::get<double>(cell), lay.columns[c].format)
                                       : trimRight(std::get<std::string>(cell)));
                w[c] = std::max(w[c], displayWidth(cells[r].back()));
            }
        // A table wider than the page becomes one table per column group, each repeating the
        // row labels, so nothing is cut off on paper.
        const std::size_t labels = rowLabelColumns(lay, w, kHtmlPageWidth, kHtmlGap);
        const auto groups = columnGroups(w, labels, lay.spans, kHtmlPageWidth, kHtmlGap);
        for (std::size_t k = 0; k < groups.size(); ++k) {
            body_ +=
                "<table class=\"data\"" + groupAttr(ctx) + "><caption>" + escapeMarkup(lay.title);
            if (k > 0) body_ += " <span class=\"sub\">(continued)</span>";
            for (const auto& s : lay.subtitles)
                if (k == 0) body_ += "<br><span class=\"sub\">" + escapeMarkup(s) + "</span>";
            body_ += "</caption>\n<thead>\n";
            tableBody(lay, groups[k], cells);
        }
    }

    void factoid(const OutputContext& ctx, const FactoidTable& t) override {
        headings();
        body_ += "<table class=\"factoid\"" + groupAttr(ctx) + "><caption>" +
                 escapeMarkup(factoidTitle(t)) + "</caption>\n<tbody>\n";
        for (const auto& e : t.entries) {
            bool numeric = std::holds_alternative<double>(e.value);
            std::string value = numeric ? formatNumber(std::get<double>(e.value), e.format)
                                        : trimRight(std::get<std::string>(e.value));
            body_ += "<tr><th scope=\"row\">" + escapeMarkup(trimRight(e.label)) +
                     "</th><td class=\"" + (numeric ? "num" : "text") + "\">" +
                     escapeMarkup(value) + "</td></tr>\n";
        }
        body_ += "</tbody>\n</table>\n";
    }

    bool keepsGraphRows() const override { return false; }
    void graph(const OutputContext& ctx, const GraphRecord& g) override {
        headings();
        body_ += "<figure class=\"graph\"" + groupAttr(ctx) + ">\n";
        // The renderer's SVG is our own markup and goes in as it is; everything else is text.
        std::string svg = renderer_ ? renderer_(g) : std::string();
        if (!svg.empty())
            body_ += svg + "\n";
        else
            body_ += "<div class=\"placeholder\">" + escapeMarkup("graph " + g.name) + "</div>\n";
        body_ += "<figcaption>" + escapeMarkup(graphTitle(g)) + "</figcaption>\n</figure>\n";
    }

    bool finish() override {
        std::string doc = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                          "<title>" +
                          escapeMarkup(reportTitle_.empty() ? "velloc report" : reportTitle_) +
                          "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<main>\n" +
                          errorSection() + body_ + "</main>\n</body>\n</html>\n";
        return writeAtomically(path_, doc);
    }

  private:
    // The log's errors first, so that a report of a failed run is never a blank page that
    // reads as a clean one.
    static std::string errorSection() {
        const std::vector<std::string>& errors = Log::errors();
        if (errors.empty()) return {};
        std::string s = "<section class=\"log-errors\" style=\"border-left: 4px solid #b00; "
                        "padding: 0 1em; color: #600\">\n<h2>Errors in the log</h2>\n<ul>\n";
        for (const std::string& e : errors)
            s += "<li>" + escapeMarkup(e) + "</li>\n";
        const int more = Log::count(Severity::Error) - static_cast<int>(errors.size());
        if (more > 0)
            s += "<li>" + escapeMarkup("and " + std::to_string(more) + " more") + "</li>\n";
        return s + "</ul>\n</section>\n";
    }

    // Header rows and body of one column group.
    void tableBody(const TableLayout& lay, const std::vector<std::size_t>& cols,
                   const std::vector<std::vector<std::string>>& cells) {
        const std::size_t nc = cols.size();
        const std::vector<LayoutSpan> spans = groupSpans(lay.spans, cols);
        if (!spans.empty()) {
            body_ += "<tr>";
            std::size_t c = 0;
            for (const auto& s : spans) {
                if (s.first > c) body_ += colspan(s.first - c, "") + "</th>";
                body_ += colspan(s.last - s.first + 1, "span") + escapeMarkup(s.text) + "</th>";
                c = s.last + 1;
            }
            if (c < nc) body_ += colspan(nc - c, "") + "</th>";
            body_ += "</tr>\n";
        }
        body_ += "<tr>";
        for (std::size_t c : cols)
            body_ += std::string("<th scope=\"col\" class=\"") +
                     (lay.columns[c].numeric ? "num" : "text") + "\">" +
                     escapeMarkup(lay.columns[c].header) + "</th>";
        body_ += "</tr>\n</thead>\n<tbody>\n";
        for (const auto& row : cells) {
            body_ += "<tr>";
            for (std::size_t c : cols)
                body_ += std::string("<td class=\"") + (lay.columns[c].numeric ? "num" : "text") +
                         "\">" + escapeMarkup(row[c]) + "</td>";
            body_ += "</tr>\n";
        }
        body_ += "</tbody>\n</table>\n";
    }

    // Browsers wrap headers at blanks: the longest word is what a header needs.
    static std::size_t longestWord(const std::string& text) {
        std::size_t best = 0, pos = 0;
        while (pos <= text.size()) {
            std::size_t end = std::min(text.find(' ', pos), text.size());
            best = std::max(best, displayWidth(std::string_view(text).substr(pos, end - pos)));
            pos = end + 1;
        }
        return best;
    }

    static std::string colspan(std::size_t n, const char* cls) {
        std::string s = "<th colspan=\"" + std::to_string(n) + "\"";
        if (*cls) s += std::string(" class=\"") + cls + "\"";
        return s + ">";
    }

    static std::string groupAttr(const OutputContext& ctx) {
        if (ctx.groupPath.empty()) return {};
        std::string path;
        for (const auto& g : ctx.groupPath)
            path += (path.empty() ? "" : "/") + g;
        return " data-group=\"" + escapeMarkup(path) + "\"";
    }

    void headings() {
        if (titlePending_) {
            body_ += "<h1>" + escapeMarkup(title_) + "</h1>\n";
            titlePending_ = false;
        }
        if (!byPending_.empty()) {
            body_ += "<h2 class=\"by\">" + escapeMarkup(byPending_) + "</h2>\n";
            byPending_.clear();
        }
    }

    std::string path_;
    GraphRenderer renderer_;
    std::string title_, reportTitle_, byPending_, body_;
    bool titlePending_ = false;
};

} // namespace

std::shared_ptr<OutputSink> makeHtmlSink(std::string path, GraphRenderer renderer) {
    return std::make_shared<HtmlSink>(std::move(path), std::move(renderer));
}

} // namespace velloc::host
