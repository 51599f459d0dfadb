// Column groups of tables wider than a page, in the listing and the HTML report.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "output_fixture.h"
#include "render/column_groups.h"
#include "render/output.h"

using namespace velloc::host;
using namespace velloc::host::testing;

namespace {

std::size_t width(const std::vector<std::size_t>& widths, const std::vector<std::size_t>& group,
                  std::size_t gap) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < group.size(); ++i)
        w += widths[group[i]] + (i ? gap : 0);
    return w;
}

// Every column after the labels appears in exactly one group, in order; every group starts
// with the label columns and stays within the budget.
void expectPartition(const std::vector<std::vector<std::size_t>>& groups,
                     const std::vector<std::size_t>& widths, std::size_t labels, std::size_t budget,
                     std::size_t gap) {
    std::vector<std::size_t> seen;
    for (const auto& g : groups) {
        ASSERT_GT(g.size(), labels);
        for (std::size_t c = 0; c < labels; ++c)
            EXPECT_EQ(g[c], c);
        EXPECT_LE(width(widths, g, gap), budget);
        seen.insert(seen.end(), g.begin() + static_cast<std::ptrdiff_t>(labels), g.end());
    }
    ASSERT_EQ(seen.size(), widths.size() - labels);
    for (std::size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], labels + i);
}

} // namespace

TEST(ColumnGroups, SplitWithinBudgetRepeatingLabelsAndKeepingSpannedBlocks) {
    // A table that fits stays one group of every column.
    EXPECT_EQ(columnGroups({10, 20, 30}, 1, {}, 100, 2),
              (std::vector<std::vector<std::size_t>>{{0, 1, 2}}));

    // Labels 12 + 5 wide (19 with the gap); ten value columns of 9: each adds 11. Groups of
    // 19 + 11 x 7 = 96 <= 100 (an eighth would make 107): 7 and 3 columns.
    std::vector<std::size_t> w = {12, 5, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    auto groups = columnGroups(w, 2, {}, 100, 2);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].size(), 2u + 7u);
    EXPECT_EQ(groups[1], (std::vector<std::size_t>{0, 1, 9, 10, 11}));
    expectPartition(groups, w, 2, 100, 2);

    // A spanned block (columns 7..10, 42 wide) that would straddle the cut moves whole to the
    // next group; the columns before it stay.
    std::vector<LayoutSpan> spans = {{7, 10, "Treated"}};
    groups = columnGroups(w, 2, spans, 100, 2);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0], (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(groups[1], (std::vector<std::size_t>{0, 1, 7, 8, 9, 10, 11}));
    expectPartition(groups, w, 2, 100, 2);

    // Forty columns of assorted widths and no labels: still a partition within the budget.
    std::vector<std::size_t> many;
    for (std::size_t i = 0; i < 40; ++i)
        many.push_back(3 + (i * 7) % 13);
    groups = columnGroups(many, 0, {}, 60, 2);
    EXPECT_GT(groups.size(), 4u);
    expectPartition(groups, many, 0, 60, 2);

    // A column wider than the page gets a group of its own (the only way to show it).
    groups = columnGroups({10, 150, 20}, 1, {}, 100, 2);
    EXPECT_EQ(groups, (std::vector<std::vector<std::size_t>>{{0, 1}, {0, 2}}));
}

TEST(ColumnGroups, SpansFollowTheirColumnsIntoEachGroup) {
    std::vector<LayoutSpan> spans = {{2, 5, "Treated"}, {6, 7, "Control"}};
    // A group holding labels 0, 1 and columns 4..7: the treated span keeps its part (4, 5).
    auto part = groupSpans(spans, {0, 1, 4, 5, 6, 7});
    ASSERT_EQ(part.size(), 2u);
    EXPECT_EQ(part[0].first, 2u);
    EXPECT_EQ(part[0].last, 3u);
    EXPECT_EQ(part[0].text, "Treated");
    EXPECT_EQ(part[1].first, 4u);
    EXPECT_EQ(part[1].last, 5u);
    EXPECT_TRUE(groupSpans(spans, {0, 1}).empty());
}

// Row labels: the leading text columns, and every column before the first spanned block (a
// numeric Stratum column names the row as much as Variable does).
TEST(ColumnGroups, RowLabelsAreTheColumnsBeforeTheValues) {
    TableLayout lay;
    for (bool numeric : {false, true, true, true, true})
        lay.columns.push_back({"h", {}, numeric});
    const std::vector<std::size_t> w = {16, 7, 8, 8, 8};
    EXPECT_EQ(rowLabelColumns(lay, w, 100, 2), 1u); // Variable only
    lay.spans = {{2, 4, "Treated"}};
    EXPECT_EQ(rowLabelColumns(lay, w, 100, 2), 2u); // Variable and Stratum
    // Labels may take at most half the page: 16 + 2 + 7 = 25 is too much for a page of 40.
    EXPECT_EQ(rowLabelColumns(lay, w, 40, 2), 1u);
    EXPECT_EQ(rowLabelColumns(lay, w, 30, 2), 0u);
    // An all-text table has nothing to repeat the labels for.
    TableLayout text;
    text.columns = {{"a", {}, false}, {"b", {}, false}};
    EXPECT_EQ(rowLabelColumns(text, {5, 5}, 100, 2), 0u);
}

namespace {

// A VarInfo-like table: Variable, then 14 statistics of 8-character values under two spans.
struct WideTable {
    TableDefinition def;
    TableInstance inst;
    WideTable() {
        def.name = "Wide";
        def.label = "Wide Table";
        def.addColumn(textCol("Variable", 12));
        for (int i = 0; i < 14; ++i)
            def.addColumn(numCol("Stat" + std::to_string(i), 4));
        inst.definition = &def;
        for (const char* v : {"age", "education"}) {
            std::vector<Cell> row(15, 0.0);
            row[0] = std::string(v);
            for (int i = 0; i < 14; ++i)
                row[static_cast<std::size_t>(i) + 1] = 100.0 + i + 0.123456;
            inst.addRow(row);
        }
    }
};

} // namespace

// The listing cuts the 15 columns (9 + 14 x 10 = 149 wide) into groups within 100 columns; each
// repeats the variable names, every statistic prints once.
TEST(ColumnGroups, ListingPrintsWideTablesInGroupsWithinThePage) {
    WideTable t;
    std::ostringstream text;
    Output out;
    out.addSink(makeListingSink(text));
    out.beginStep("");
    ASSERT_EQ(out.deliver(t.inst), 0);
    out.endStep();
    const std::string s = text.str();
    std::istringstream lines(s);
    std::size_t groups = 0, ageRows = 0;
    std::map<std::string, int> headers;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), kListingPageWidth) << line;
        if (line.rfind("Variable", 0) == 0) {
            ++groups;
            std::istringstream words(line);
            for (std::string w; words >> w;)
                ++headers[w];
        }
        if (line.rfind("age ", 0) == 0) ++ageRows;
    }
    EXPECT_EQ(groups, 2u) << s;
    EXPECT_EQ(ageRows, 2u);
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(headers["Stat" + std::to_string(i)], 1) << i;
    EXPECT_EQ(headers["Variable"], 2);
    EXPECT_NE(s.find("Wide Table (continued)"), std::string::npos);
    EXPECT_NE(s.find("113.1235"), std::string::npos);
}

TEST(ColumnGroups, HtmlSplitsWideTablesAndPrintsToThePage) {
    WideTable t;
    TempDir dir;
    const std::string file = (dir.path / "r.html").string();
    Output out;
    out.addSink(makeHtmlSink(file));
    out.beginStep("");
    ASSERT_EQ(out.deliver(t.inst), 0);
    out.endStep();
    ASSERT_TRUE(out.finish());
    const std::string html = readFile(file);
    auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (auto p = html.find(what); p != std::string::npos; p = html.find(what, p + 1))
            ++n;
        return n;
    };
    // Widths 9 and 14 x 8 with a gap of 2: 9 + 10 x 9 = 99 fits, a tenth statistic does not.
    EXPECT_EQ(count("<table class=\"data\""), 2u);
    EXPECT_EQ(count(">Variable</th>"), 2u);
    EXPECT_EQ(count("<td class=\"text\">age</td>"), 2u);
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(count(">Stat" + std::to_string(i) + "</th>"), 1u) << i;
    EXPECT_EQ(count("(continued)"), 1u);
    EXPECT_NE(html.find("@media print"), std::string::npos);
    EXPECT_NE(html.find("@page"), std::string::npos);
}
