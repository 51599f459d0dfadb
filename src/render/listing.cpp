// The listing: every table as aligned plain text.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>

#include "base/messages.h"
#include "render/column_groups.h"
#include "render/number_format.h"
#include "render/output.h"
#include "render/output_messages.h"
#include "render/templates.h"

namespace velloc::host {

namespace {

constexpr std::size_t kGap = 2;         // blanks between columns
constexpr std::size_t kShortHeader = 8; // headers up to this width never wrap

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

// Splits a header into lines of at most `width` columns at blanks; a word longer than that
// gets a line of its own.
std::vector<std::string> wrap(const std::string& text, std::size_t width) {
    if (displayWidth(text) <= width) return {text};
    std::vector<std::string> lines;
    std::string line;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(' ', pos);
        if (end == std::string::npos) end = text.size();
        std::string word = text.substr(pos, end - pos);
        pos = end + 1;
        if (word.empty()) continue;
        if (!line.empty() && displayWidth(line) + 1 + displayWidth(word) > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) lines.push_back(line);
    return lines.empty() ? std::vector<std::string>{std::string()} : lines;
}

// One column group as printed: widths, wrapped headers, alignment and spans of its columns.
struct Block {
    std::vector<std::size_t> w;
    std::vector<std::vector<std::string>> heads;
    std::vector<bool> numeric;
    std::vector<LayoutSpan> spans;
    std::size_t headLines = 1;
};

std::string continued() {
    return "(continued)";
}

class ListingSink : public OutputSink {
  public:
    ListingSink(std::ostream& out, std::string name) : out_(out), name_(std::move(name)) {}

    void stepBegin(const std::string& title) override {
        title_ = title;
        titlePending_ = !title.empty();
        byPending_.clear();
    }
    void byGroup(const OutputContext& ctx) override { byPending_ = joinBy(ctx); }
    bool keepsGraphRows() const override { return false; } // graphs are not listed

    void table(const OutputContext&, const TableInstance& inst) override {
        headings();
        TableLayout lay = layoutTable(inst);
        const std::size_t nc = lay.columns.size();
        std::vector<std::vector<std::string>> cells(inst.rows.size());
        std::vector<std::size_t> w(nc);
        for (std::size_t c = 0; c < nc; ++c)
            w[c] = static_cast<std::size_t>(std::max(0, lay.columns[c].format.width));
        for (std::size_t r = 0; r < inst.rows.size(); ++r)
            for (std::size_t c = 0; c < nc; ++c) {
                const Cell& cell = inst.rows[r][c];
                std::string text = std::holds_alternative<double>(cell)
                                       ? formatNumber(std::get<double>(cell), lay.columns[c].format)
                                       : trimRight(std::get<std::string>(cell));
                w[c] = std::max(w[c], displayWidth(text));
                cells[r].push_back(std::move(text));
            }
        // Headers wider than their values wrap at blanks, so long headers do not widen a
        // column of short numbers; they are bottom-aligned above the values.
        std::vector<std::vector<std::string>> heads(nc);
        for (std::size_t c = 0; c < nc; ++c) {
            heads[c] = wrap(lay.columns[c].header, std::max(w[c], kShortHeader));
            for (const auto& h : heads[c])
                w[c] = std::max(w[c], displayWidth(h));
        }
        // A spanning header wider than its columns widens them.
        auto spanWidth = [&](const LayoutSpan& s) {
            std::size_t sum = 0;
            for (std::size_t c = s.first; c <= s.last; ++c)
                sum += w[c];
            return sum + kGap * (s.last - s.first);
        };
        for (const auto& s : lay.spans) {
            std::size_t need = displayWidth(s.text) + 4;
            std::size_t have = spanWidth(s);
            if (need <= have) continue;
            // Share the extra width out so the block stays even; the remainder goes right.
            std::size_t n = s.last - s.first + 1, extra = need - have;
            for (std::size_t c = s.first; c <= s.last; ++c)
                w[c] += extra / n + (s.last - c < extra % n ? 1 : 0);
        }
        // A table wider than the page prints as column groups, each repeating the row labels.
        const std::size_t labels = rowLabelColumns(lay, w, kListingPageWidth, kGap);
        const auto groups = columnGroups(w, labels, lay.spans, kListingPageWidth, kGap);
        for (std::size_t k = 0; k < groups.size(); ++k) {
            Block b;
            for (std::size_t c : groups[k]) {
                b.w.push_back(w[c]);
                b.heads.push_back(heads[c]);
                b.numeric.push_back(lay.columns[c].numeric);
                b.headLines = std::max(b.headLines, heads[c].size());
            }
            b.spans = groupSpans(lay.spans, groups[k]);
            std::size_t total = 0;
            for (std::size_t i = 0; i < b.w.size(); ++i)
                total += b.w[i] + (i ? kGap : 0);
            out_ << '\n';
            if (k == 0) {
                putLine(out_, centre(lay.title, total));
                for (const auto& s : lay.subtitles)
                    putLine(out_, centre(s, total));
                out_ << '\n';
            } else {
                putLine(out_, centre(lay.title + " " + continued(), total));
                out_ << '\n';
            }
            printBlock(b, groups[k], cells);
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
        errno = 0;
        out_.flush();
        if (out_) return true;
        // A listing cut short (a full disk) must not pass for a whole one.
        addOutputMessages();
        xpmlog(kGroupHostOutput, kMsgOutputWrite,
               {name_.empty() ? std::string("(standard output)") : name_,
                errno ? std::strerror(errno) : std::string("the write failed")});
        return false;
    }

  private:
    // Spanning headers, column headers (bottom-aligned) and the rows of one column group.
    void printBlock(const Block& b, const std::vector<std::size_t>& cols,
                    const std::vector<std::vector<std::string>>& cells) {
        const std::size_t nc = b.w.size();
        auto spanWidth = [&](const LayoutSpan& s) {
            std::size_t sum = 0;
            for (std::size_t c = s.first; c <= s.last; ++c)
                sum += b.w[c];
            return sum + kGap * (s.last - s.first);
        };
        if (!b.spans.empty()) {
            std::string line;
            std::size_t c = 0;
            for (const auto& s : b.spans) {
                for (; c < s.first; ++c)
                    line += std::string(b.w[c] + (c ? kGap : 0), ' ');
                if (c) line += std::string(kGap, ' ');
                line += dashed(s.text, spanWidth(s));
                c = s.last + 1;
            }
            putLine(out_, line);
        }
        for (std::size_t k = 0; k < b.headLines; ++k) {
            std::string header;
            for (std::size_t c = 0; c < nc; ++c) {
                if (c) header += std::string(kGap, ' ');
                std::size_t blank = b.headLines - b.heads[c].size();
                std::string h = k < blank ? std::string() : b.heads[c][k - blank];
                header += b.numeric[c] ? padLeft(h, b.w[c]) : padRight(h, b.w[c]);
            }
            putLine(out_, header);
        }
        for (const auto& row : cells) {
            std::string line;
            for (std::size_t c = 0; c < nc; ++c) {
                if (c) line += std::string(kGap, ' ');
                const std::string& t = row[cols[c]];
                line += b.numeric[c] ? padLeft(t, b.w[c]) : padRight(t, b.w[c]);
            }
            putLine(out_, line);
        }
    }

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
    std::string name_;
    std::string title_;
    bool titlePending_ = false;
    std::string byPending_;
};

} // namespace

std::shared_ptr<OutputSink> makeListingSink(std::ostream& out, std::string name) {
    return std::make_shared<ListingSink>(out, std::move(name));
}

} // namespace velloc::host
