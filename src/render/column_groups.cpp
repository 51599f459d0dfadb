#include "render/column_groups.h"

#include <algorithm>

namespace velloc::host {

namespace {

std::size_t blockWidth(const std::vector<std::size_t>& widths, std::size_t first, std::size_t last,
                       std::size_t gap) {
    std::size_t sum = 0;
    for (std::size_t c = first; c <= last; ++c)
        sum += widths[c] + (c > first ? gap : 0);
    return sum;
}

} // namespace

std::size_t rowLabelColumns(const TableLayout& lay, const std::vector<std::size_t>& widths,
                            std::size_t budget, std::size_t gap) {
    std::size_t n = 0;
    while (n < lay.columns.size() && !lay.columns[n].numeric)
        ++n;
    // The columns before the first spanned block name the row too (StrataVarInfo's Stratum).
    if (!lay.spans.empty()) n = std::max(n, lay.spans.front().first);
    n = std::min(n, widths.size());
    if (n >= lay.columns.size()) return 0;
    // Labels that crowd out the values repeat only as far as the first column.
    while (n > 0 && blockWidth(widths, 0, n - 1, gap) > budget / 2)
        --n;
    return n;
}

std::vector<std::vector<std::size_t>> columnGroups(const std::vector<std::size_t>& widths,
                                                   std::size_t labels,
                                                   const std::vector<LayoutSpan>& spans,
                                                   std::size_t budget, std::size_t gap) {
    const std::size_t nc = widths.size();
    labels = std::min(labels, nc);
    std::vector<std::size_t> lead;
    for (std::size_t c = 0; c < labels; ++c)
        lead.push_back(c);
    const std::size_t leadWidth = labels ? blockWidth(widths, 0, labels - 1, gap) : 0;
    if (nc == 0 || blockWidth(widths, 0, nc - 1, gap) <= budget) {
        std::vector<std::size_t> all(nc);
        for (std::size_t c = 0; c < nc; ++c)
            all[c] = c;
        return {all};
    }
    std::vector<std::vector<std::size_t>> groups;
    std::vector<std::size_t> cur = lead;
    std::size_t curWidth = leadWidth;
    auto add = [&](std::size_t first, std::size_t last) {
        const std::size_t w = blockWidth(widths, first, last, gap);
        const bool empty = cur.size() == lead.size();
        if (!empty && curWidth + gap + w > budget) {
            groups.push_back(cur);
            cur = lead;
            curWidth = leadWidth;
        }
        curWidth += (cur.empty() ? 0 : gap) + w;
        for (std::size_t c = first; c <= last; ++c)
            cur.push_back(c);
    };
    for (std::size_t c = labels; c < nc;) {
        std::size_t last = c;
        for (const LayoutSpan& s : spans)
            if (s.first == c && s.first >= labels && s.last < nc &&
                leadWidth + gap + blockWidth(widths, s.first, s.last, gap) <= budget)
                last = s.last;
        add(c, last);
        c = last + 1;
    }
    if (cur.size() > lead.size()) groups.push_back(cur);
    return groups;
}

std::vector<LayoutSpan> groupSpans(const std::vector<LayoutSpan>& spans,
                                   const std::vector<std::size_t>& group) {
    std::vector<LayoutSpan> out;
    for (const LayoutSpan& s : spans) {
        LayoutSpan part;
        bool open = false;
        for (std::size_t i = 0; i < group.size(); ++i) {
            const bool in = group[i] >= s.first && group[i] <= s.last;
            if (in && !open) part = {i, i, s.text}, open = true;
            if (in) part.last = i;
            if (open && (!in || i + 1 == group.size())) {
                out.push_back(part);
                open = false;
            }
        }
    }
    std::sort(out.begin(), out.end(),
              [](const LayoutSpan& a, const LayoutSpan& b) { return a.first < b.first; });
    return out;
}

} // namespace velloc::host
