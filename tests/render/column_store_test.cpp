// Column-by-column phantom rows: shape and kind checks, shared texts, reading back.
#include <gtest/gtest.h>

#include <cmath>

#include "render/output.h"

namespace velloc::host {
namespace {

TableDefinition twoColumns() {
    TableDefinition d;
    ColumnDef x;
    x.name = "X";
    d.addColumn(x);
    ColumnDef t;
    t.name = "Level";
    t.kind = ColumnKind::Character;
    d.addColumn(t);
    return d;
}

TEST(ColumnStore, RowsOfTheWrongShapeOrKindAreRefused) {
    ColumnStore s;
    s.reset(twoColumns());
    EXPECT_TRUE(s.addRow({1.5, std::string("treated")}));
    EXPECT_FALSE(s.addRow({1.5}));                                // too short
    EXPECT_FALSE(s.addRow({std::string("x"), std::string("y")})); // text in a number column
    EXPECT_FALSE(s.addRow({1.0, 2.0}));                           // number in a text column
    EXPECT_TRUE(s.addRow(std::vector<Cell>{NAN, std::string("control")}));
    EXPECT_TRUE(s.addRow({3.0, std::string("treated")}));
    ASSERT_EQ(s.rows(), 3u);
    EXPECT_EQ(s.number(0, 0), 1.5);
    EXPECT_TRUE(std::isnan(s.number(1, 0)));
    EXPECT_EQ(s.text(1, 1), "control");
    EXPECT_EQ(s.text(2, 1), "treated");
    EXPECT_EQ(std::get<std::string>(s.cell(0, 1)), "treated");
    EXPECT_TRUE(std::isnan(s.number(0, 1))); // a text column reads as missing
    EXPECT_EQ(s.text(0, 0), "");
}

TEST(ColumnStore, GraphRecordsReadEitherForm) {
    GraphRecord g;
    g.phantom = twoColumns();
    g.data.rows.push_back({2.0, std::string("a")});
    EXPECT_EQ(g.rowCount(), 1u);
    EXPECT_EQ(g.number(0, 0), 2.0);
    EXPECT_EQ(g.text(0, 1), "a");
    EXPECT_TRUE(std::isnan(g.number(5, 0))); // out of range: missing, not a crash
    g.data.rows.clear();
    g.columns.reset(g.phantom);
    g.columns.addRow({4.0, std::string("b")});
    EXPECT_EQ(g.rowCount(), 1u);
    EXPECT_EQ(g.number(0, 0), 4.0);
    EXPECT_EQ(g.text(0, 1), "b");
    EXPECT_EQ(g.text(0, 7), "");

    // A store whose columns do not match the phantom is refused on delivery.
    Output out;
    ColumnDef extra;
    extra.name = "Extra";
    g.phantom.addColumn(extra);
    EXPECT_EQ(out.deliver(g), kOutputRowShape);
}

} // namespace
} // namespace velloc::host
