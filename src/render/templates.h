// Our table templates: the title, column headers, number formats and spanning headers of every
// table the procedure delivers, by template path. A renderer asks for the layout of an instance;
// the layout already holds everything that depends on the instance's dynamics.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "render/output.h"

namespace velloc::host {

// Which block a column belongs to. Treated and control blocks get a spanning header built from
// the treatment variable and level; a text span is printed as it is.
enum class SpanKind { None, Treated, Control, Text };

struct ColumnTemplate {
    std::string name; // column name, or template column ("TreatedID")
    std::string header;
    NumberFormat format;
    SpanKind span = SpanKind::None;
    std::string spanText;      // for SpanKind::Text
    std::string headerDynamic; // a dynamic whose value, when set, replaces the header
};

struct TableTemplate {
    std::string path;
    std::string title;
    std::vector<std::string> subtitleDynamics; // dynamics printed as lines below the title
    std::vector<ColumnTemplate> columns;
};

// The template of a path, or nullptr when we have none.
const TableTemplate* findTemplate(std::string_view path);

struct LayoutColumn {
    std::string header;
    NumberFormat format;
    bool numeric = true;
};

struct LayoutSpan {
    std::size_t first = 0; // column range, inclusive
    std::size_t last = 0;
    std::string text;
};

struct TableLayout {
    std::string title;
    std::vector<std::string> subtitles;
    std::vector<LayoutColumn> columns; // one per column of the definition
    std::vector<LayoutSpan> spans;     // in column order, not overlapping
};

// Layout of an instance: template title (else the table label, else its name); per column the
// column's own label, else the template header, else the column name. A column's own format
// wins over the template's when it sets decimals or a width.
TableLayout layoutTable(const TableInstance& instance);

// Title of a factoid table: template title, else its label, else its name.
std::string factoidTitle(const FactoidTable& table);

// Title of a graph as a reader sees it ("Cumulative Distribution of age"): its full title, else
// its short title, else its label, else its name.
std::string graphTitle(const GraphRecord& graph);

// A dynamic of the instance, else of its definition; nullptr when neither sets it.
const Dynamic* findDynamic(const TableInstance& instance, std::string_view name);

} // namespace velloc::host
