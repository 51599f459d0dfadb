#include "memory_sink.h"

#include <cmath>
#include <cstdio>

#include "render/number_format.h"

namespace velloc::python {

using host::Cell;

void GatheredColumn::addNumber(double v) {
    num.push_back(v);
    code.push_back(-1);
    anyNumber = true;
}

void GatheredColumn::addText(const std::string& s) {
    auto [it, fresh] = index.emplace(s, static_cast<std::int32_t>(texts.size()));
    if (fresh) texts.push_back(s);
    num.push_back(NAN);
    code.push_back(it->second);
    anyText = true;
}

void GatheredColumn::addMissing() {
    num.push_back(NAN);
    code.push_back(-1);
}

bool GatheredTable::severalSteps() const {
    for (int s : step)
        if (s != step.front()) return true;
    return false;
}

namespace {

// The CSV file's name of a table column: columns standing for a template column (the ID
// columns of the treated and the control block) carry the block as a prefix.
std::string csvColumnName(const host::ColumnDef& c) {
    if (c.templateColumn.empty()) return c.name;
    std::string block = c.templateColumn;
    if (block.size() > 2 && block.compare(block.size() - 2, 2, "ID") == 0)
        block.resize(block.size() - 2);
    return block + "_" + c.name;
}

// Index of the occurrence-th column called name, added (missing in every earlier row) when
// absent: a table may repeat a name, so names alone do not place a cell.
std::size_t slot(std::vector<GatheredColumn>& cols, std::size_t rows, const std::string& name,
                 int occurrence, bool by) {
    int seen = 0;
    for (std::size_t i = 0; i < cols.size(); ++i)
        if (cols[i].name == name && seen++ == occurrence) return i;
    GatheredColumn c;
    c.name = name;
    c.by = by;
    for (std::size_t r = 0; r < rows; ++r)
        c.addMissing();
    cols.push_back(std::move(c));
    return cols.size() - 1;
}

std::vector<std::size_t> slots(std::vector<GatheredColumn>& cols, std::size_t rows,
                               const std::vector<std::string>& names, bool by) {
    std::map<std::string, int> occurrences;
    std::vector<std::size_t> out;
    for (const std::string& n : names)
        out.push_back(slot(cols, rows, n, occurrences[n]++, by));
    return out;
}

void addCell(GatheredColumn& c, const Cell& cell) {
    if (std::holds_alternative<double>(cell))
        c.addNumber(std::get<double>(cell));
    else
        c.addText(host::trimRight(std::get<std::string>(cell)));
}

// Appends one row; `cell(k)` gives the cell of the row's k-th table column.
template <class CellOf>
void appendRow(GatheredTable& t, const std::vector<std::size_t>& bySlots,
               const std::vector<std::string>& byValues, const std::vector<std::size_t>& colSlots,
               int step, CellOf cell) {
    std::vector<char> done(t.byCols.size(), 0);
    for (std::size_t k = 0; k < bySlots.size(); ++k) {
        t.byCols[bySlots[k]].addText(k < byValues.size() ? host::trimRight(byValues[k]) : "");
        done[bySlots[k]] = 1;
    }
    for (std::size_t i = 0; i < t.byCols.size(); ++i)
        if (!done[i]) t.byCols[i].addMissing();
    done.assign(t.cols.size(), 0);
    for (std::size_t k = 0; k < colSlots.size(); ++k) {
        addCell(t.cols[colSlots[k]], cell(k));
        done[colSlots[k]] = 1;
    }
    for (std::size_t i = 0; i < t.cols.size(); ++i)
        if (!done[i]) t.cols[i].addMissing();
    t.step.push_back(step);
    ++t.rows;
}

std::string safe(const std::string& s) {
    std::string out;
    for (char c : s) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-';
        out += ok ? c : '_';
    }
    return out;
}

std::vector<std::string> columnNames(const host::TableDefinition& def) {
    std::vector<std::string> names;
    for (const auto& c : def.columns)
        names.push_back(csvColumnName(c));
    return names;
}

} // namespace

void MemorySink::table(const host::OutputContext& ctx, const host::TableInstance& inst) {
    GatheredTable& t = tables[inst.definition->name];
    auto by = slots(t.byCols, t.rows, ctx.byNames, true);
    auto cols = slots(t.cols, t.rows, columnNames(*inst.definition), false);
    for (const auto& row : inst.rows)
        appendRow(t, by, ctx.byValues, cols, step_,
                  [&](std::size_t k) -> Cell { return k < row.size() ? row[k] : Cell(NAN); });
}

void MemorySink::factoid(const host::OutputContext& ctx, const host::FactoidTable& f) {
    GatheredTable& t = tables[f.name];
    auto by = slots(t.byCols, t.rows, ctx.byNames, true);
    auto cols = slots(t.cols, t.rows, {"Label", "Value"}, false);
    for (const auto& e : f.entries)
        appendRow(t, by, ctx.byValues, cols, step_,
                  [&](std::size_t k) -> Cell { return k == 0 ? Cell(e.label) : e.value; });
}

void MemorySink::graph(const host::OutputContext& ctx, const host::GraphRecord& g) {
    GatheredTable& t = tables[g.name];
    auto by = slots(t.byCols, t.rows, ctx.byNames, true);
    auto cols = slots(t.cols, t.rows, columnNames(g.phantom), false);
    const std::size_t n = g.rowCount();
    for (std::size_t r = 0; r < n; ++r)
        appendRow(t, by, ctx.byValues, cols, step_, [&](std::size_t k) { return g.cell(r, k); });

    std::string svg = renderer_ ? renderer_(g) : std::string();
    if (svg.empty()) return;
    char seq[16];
    std::snprintf(seq, sizeof seq, "%04d", ++sequence_);
    std::string name = std::string(seq) + "_" + safe(g.name);
    for (std::size_t i = 0; i < ctx.byValues.size() && i < ctx.byNames.size(); ++i)
        name += "_" + safe(ctx.byNames[i]) + "-" + safe(host::trimRight(ctx.byValues[i]));
    graphs.push_back({std::move(name), std::move(svg)});
}

} // namespace velloc::python
