#include "assess/table_columns.h"

#include <cfloat>
#include <cmath>

#include "base/text.h"
#include "core/run_context.h"
#include "render/dynamics.h"

namespace velloc {

RowBuffer::RowBuffer(const host::TableDefinition& def) : def_(def) {
    for (const host::ColumnDef& c : def.columns) {
        if (c.kind == host::ColumnKind::Numeric)
            cells_.emplace_back(kNaN);
        else
            cells_.emplace_back(std::string());
    }
}

void RowBuffer::num(const std::string& column, double value) {
    int i = def_.columnIndex(column);
    if (i >= 0) cells_[i] = value;
}

void RowBuffer::text(const std::string& column, const std::string& value) {
    int i = def_.columnIndex(column);
    if (i >= 0) cells_[i] = value;
}

void RowBuffer::id(const std::string& templateColumn, const std::string& column, host::Cell value) {
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
        const host::ColumnDef& c = def_.columns[i];
        if (c.templateColumn != templateColumn || c.name != column) continue;
        if ((c.kind == host::ColumnKind::Numeric) == std::holds_alternative<double>(value))
            cells_[i] = std::move(value);
        return;
    }
}

void RowBuffer::addTo(host::TableInstance& instance) {
    for (host::Cell& c : cells_)
        if (auto* d = std::get_if<double>(&c); d && std::isnan(*d)) *d = host::missingValue();
    instance.addRow(cells_);
}

double extreme(double v) {
    return v >= DBL_MAX || v <= -DBL_MAX ? kNaN : v;
}

host::TableInstance openInstance(const VlcRun& run, const host::TableDefinition& def,
                                 std::vector<host::Dynamic> extra) {
    host::TableInstance inst;
    inst.definition = &def;
    inst.templatePath = def.templatePath;
    inst.dynamics.push_back({host::dyn::kTrtLevel, host::trimBlanks(run.treatedLevel)});
    inst.dynamics.push_back({host::dyn::kCntlLevel, host::trimBlanks(run.controlLevel)});
    inst.dynamics.push_back({host::dyn::kTrtVar, run.treatName});
    for (host::Dynamic& d : extra)
        inst.dynamics.push_back(std::move(d));
    return inst;
}

void deliverTable(const VlcRun& run, const host::TableInstance& instance) {
    int rc = run.procOutput ? run.procOutput->deliver(instance) : 0;
    if (rc < 0) host::zodsexit(rc);
}

void deliverTable(const VlcRun& run, const host::FactoidTable& table) {
    int rc = run.procOutput ? run.procOutput->deliver(table) : 0;
    if (rc < 0) host::zodsexit(rc);
}

host::ColumnDef numColumn(const std::string& name, host::NumberFormat format) {
    host::ColumnDef c;
    c.name = name;
    c.kind = host::ColumnKind::Numeric;
    c.format = format;
    return c;
}

host::ColumnDef textColumn(const std::string& name, int width) {
    host::ColumnDef c;
    c.name = name;
    c.kind = host::ColumnKind::Character;
    c.width = width;
    return c;
}

} // namespace velloc
