// The listing: every table as aligned plain text.
#include <algorithm>
#include <ostream>

#include "host/output.h"
#include "host/render_format.h"
#include "host/templates.h"

namespace velloc::host {

namespace {

constexpr std::size_t kGap = 2; // blanks between columns

std::string padRight(const std::string& s, std::size_t w) {
    std::size_t n = displayWidth(s);
    return n >= w ? s : s + std::string(w - n, ' ');
}

std::string padLeft(const std::string& s, std::size_t w) {
    std::size_t n = displayWidth(s);
    return n >= w ? s : std::string(w - n, ' ') + s;
}

std::string centre(const std::string& s, std::size_t w) {
    std::size_t n = displayWidth(s);
    return n >= w ? s : std::string((w - n) / 2, ' ') + s;
}

void putLine(std::ostream& os, std::string line) {
    line = trimRight(line);
    os << line << '\n';
}

// "--- text ---" filling exactly w columns (or the text alone when it does not fit).
std::string dashed(const std::string& text, std::size_t w) {
    std::size_t n = displayWidth(text) + 2;
    if (n >= w) return padRight(text, w);
    std::size_t left = (w - n) / 2;
    return std::string(left, '-') + ' ' + text + ' ' + std::string(w - n - left, '-');
}

class ListingSink : public OutputSink {
  public:
    explicit ListingSink(std::ostream& out) : out_(out) {}

    void stepBegin(const std::string& title) override {
        title_ = title;
        titlePending_ = !title.empty();
        byPending_.clear();
    }
    void byGroup(const OutputContext& ctx) override { byPending_ = joinBy(ctx); }

    void table(const OutputContext&, const TableInstance& inst) override {
        headings();
        TableLayout lay = layoutTable(inst);
        const std::size_t nc = lay.columns.size();
        std::vector<std::vector<std::string>> cells(inst.rows.size());
        std::vector<std::size_t> w(nc);
        for (std::size_t c = 0; c < nc; ++c)
            w[c] = std::max<std::size_t>(
                displayWidth(lay.columns[c].header),
                static_cast<std::size_t>(std::max(0, lay.columns[c].format.width)));
        for (std::size_t r = 0; r < inst.rows.size(); ++r)
            for (std::size_t c = 0; c < nc; ++c) {
                const Cell& cell = inst.rows[r][c];
                std::string text = std::holds_alternative<double>(cell)
                                       ? formatNumber(std::get<double>(cell), lay.columns[c].format)
                                       : trimRight(std::get<std::string>(cell));
                w[c] = std::max(w[c], displayWidth(text));
                cells[r].push_back(std::move(text));
            }
        // A spanning header wider than its columns widens the last of them.
        auto spanWidth = [&](const LayoutSpan& s) {
            std::size_t sum = 0;
            for (std::size_t c = s.first; c <= s.last; ++c)
                sum += w[c];
            return sum + kGap * (s.last - s.first);
        };
        for (const auto& s : lay.spans) {
            std::size_t need = displayWidth(s.text) + 4;
            std::size_t have = spanWidth(s);
            if (need > have) w[s.last] += need - have;
        }
        std::size_t total = 0;
        for (std::size_t c = 0; c < nc; ++c)
            total += w[c] + (c ? kGap : 0);

        out_ << '\n';
        putLine(out_, centre(lay.title, total));
        for (const auto& s : lay.subtitles)
            putLine(out_, centre(s, total));
        out_ << '\n';
        if (!lay.spans.empty()) {
            std::string line;
            std::size_t c = 0;
            for (const auto& s : lay.spans) {
                for (; c < s.first; ++c)
                    line += std::string(w[c] + (c ? kGap : 0), ' ');
                if (c) line += std::string(kGap, ' ');
                line += dashed(s.text, spanWidth(s));
                c = s.last + 1;
            }
            putLine(out_, line);
        }
        std::string header;
        for (std::size_t c = 0; c < nc; ++c) {
            if (c) header += std::string(kGap, ' ');
            header += lay.columns[c].numeric ? padLeft(lay.columns[c].header, w[c])
                                             : padRight(lay.columns[c].header, w[c]);
        }
        putLine(out_, header);
        for (const auto& row : cells) {
            std::string line;
            for (std::size_t c = 0; c < nc; ++c) {
                if (c) line += std::string(kGap, ' ');
                line += lay.columns[c].numeric ? padLeft(row[c], w[c]) : padRight(row[c], w[c]);
            }
            putLine(out_, line);
        }
    }

    void factoid(const OutputContext&, const FactoidTable& t) override {
        headings();
        std::vector<std::pair<std::string, std::string>> rows;
        std::size_t lw = 0, vw = 0;
        for (const auto& e : t.entries) {
            std::string value = std::holds_alternative<double>(e.value)
                                    ? formatNumber(std::get<double>(e.value), e.format)
                                    : trimRight(std::get<std::string>(e.value));
            rows.emplace_back(trimRight(e.label), std::move(value));
            lw = std::max(lw, displayWidth(rows.back().first));
            vw = std::max(vw, displayWidth(rows.back().second));
        }
        out_ << '\n';
        putLine(out_, centre(factoidTitle(t), lw + kGap + vw));
        out_ << '\n';
        for (const auto& [label, value] : rows)
            putLine(out_, padRight(label, lw) + std::string(kGap, ' ') + value);
    }

    bool finish() override {
        out_.flush();
        return static_cast<bool>(out_);
    }

  private:
    static std::string joinBy(const OutputContext& ctx) {
        std::string s;
        for (const auto& b : ctx.byLine)
            s += (s.empty() ? "" : " ") + b;
        return s;
    }

    void headings() {
        if (titlePending_) {
            putLine(out_, title_);
            titlePending_ = false;
        }
        if (!byPending_.empty()) {
            out_ << '\n';
            putLine(out_, "----- " + byPending_ + " -----");
            byPending_.clear();
        }
    }

    std::ostream& out_;
    std::string title_;
    bool titlePending_ = false;
    std::string byPending_;
};

} // namespace

std::shared_ptr<OutputSink> makeListingSink(std::ostream& out) {
    return std::make_shared<ListingSink>(out);
}

} // namespace velloc::host
