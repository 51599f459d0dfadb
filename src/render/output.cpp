#include "render/output.h"

#include <exception>
#include <fmt/format.h>

#include "base/exit_codes.h"
#include "base/messages.h"
#include "render/output_messages.h"

namespace velloc::host {

int TableDefinition::addColumn(ColumnDef c) {
    columns.push_back(std::move(c));
    return static_cast<int>(columns.size()) - 1;
}

int TableDefinition::columnIndex(const std::string& columnName) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name == columnName) return static_cast<int>(i);
    return -1;
}

Output::Output() {
    addOutputMessages();
}

void TableInstance::addRow(std::vector<Cell> row) {
    rows.push_back(std::move(row));
}

void Output::addSink(std::shared_ptr<OutputSink> sink) {
    if (sink) sinks_.push_back(std::move(sink));
}

void Output::clearSinks() {
    sinks_.clear();
}

void Output::beginStep(const std::string& title) {
    ctx_ = OutputContext{};
    ctx_.stepTitle = title;
    for (auto& s : sinks_)
        s->stepBegin(title);
}

void Output::endStep() {
    // A group abandoned with its output group open must not leave the sinks unbalanced.
    while (!ctx_.groupPath.empty())
        closeGroup();
    for (auto& s : sinks_)
        s->stepEnd();
    ctx_.byLine.clear();
    ctx_.byNames.clear();
    ctx_.byValues.clear();
}

void Output::setByGroup(std::vector<std::string> names, std::vector<std::string> values) {
    ctx_.byLine.clear();
    for (std::size_t i = 0; i < names.size() && i < values.size(); ++i)
        ctx_.byLine.push_back(names[i] + "=" + values[i]);
    ctx_.byNames = std::move(names);
    ctx_.byValues = std::move(values);
    ctx_.byValues.resize(ctx_.byNames.size());
    for (auto& s : sinks_)
        s->byGroup(ctx_);
}

int Output::openGroup(const std::string& name, const std::string& label) {
    if (name.find_first_not_of(' ') == std::string::npos) return kOutputBadGroupName;
    ctx_.groupPath.push_back(name);
    ctx_.groupLabels.push_back(label);
    for (auto& s : sinks_)
        s->groupOpened(ctx_);
    return 0;
}

int Output::closeGroup() {
    if (ctx_.groupPath.empty()) return kOutputNoOpenGroup;
    // Sinks see the context of the group being closed, then it is dropped.
    for (auto& s : sinks_)
        s->groupClosed(ctx_);
    ctx_.groupPath.pop_back();
    ctx_.groupLabels.pop_back();
    return 0;
}

namespace {

const char* kindText(ColumnKind k) {
    return k == ColumnKind::Numeric ? "numeric" : "character";
}

// Checks every row against the columns, so sinks can index cells without checks.
int checkRows(const TableDefinition& def, const std::vector<std::vector<Cell>>& rows) {
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto& row = rows[r];
        if (row.size() != def.columns.size()) {
            xpmlog(kGroupHostOutput, kMsgOutputRowShape,
                   {std::to_string(r + 1), def.name, std::to_string(row.size()),
                    std::to_string(def.columns.size())});
            return kOutputRowShape;
        }
        for (std::size_t c = 0; c < row.size(); ++c) {
            bool numericCell = std::holds_alternative<double>(row[c]);
            bool numericColumn = def.columns[c].kind == ColumnKind::Numeric;
            if (numericCell != numericColumn) {
                xpmlog(kGroupHostOutput, kMsgOutputCellKind,
                       {std::to_string(r + 1), def.name, def.columns[c].name,
                        kindText(def.columns[c].kind), numericCell ? "a number" : "a text"});
                return kOutputCellKind;
            }
        }
    }
    return 0;
}

template <class F>
int toSinks(std::vector<std::shared_ptr<OutputSink>>& sinks, const std::string& what, F&& f) {
    try {
        for (auto& s : sinks)
            f(*s);
    } catch (const std::exception& e) {
        xpmlog(kGroupHostOutput, kMsgOutputSink, {what, e.what()});
        return kOutputSinkFailure;
    }
    return 0;
}

} // namespace

int Output::deliver(const TableInstance& instance) {
    addOutputMessages();
    if (!instance.definition) return kOutputNoDefinition;
    if (int rc = checkRows(*instance.definition, instance.rows); rc != 0) return rc;
    return toSinks(sinks_, instance.definition->name,
                   [&](OutputSink& s) { s.table(ctx_, instance); });
}

int Output::deliver(const FactoidTable& table) {
    addOutputMessages();
    return toSinks(sinks_, table.name, [&](OutputSink& s) { s.factoid(ctx_, table); });
}

int Output::deliver(const GraphRecord& graph) {
    addOutputMessages();
    if (!graphics_) return kBenignOutputCode;
    if (int rc = checkRows(graph.phantom, graph.data.rows); rc != 0) return rc;
    if (graph.columns.rows() && graph.columns.columns() != graph.phantom.columns.size())
        return kOutputRowShape;
    return toSinks(sinks_, graph.name, [&](OutputSink& s) { s.graph(ctx_, graph); });
}

bool Output::keepsGraphRows() const {
    for (const auto& s : sinks_)
        if (s->keepsGraphRows()) return true;
    return false;
}

bool Output::finish() {
    bool ok = true;
    for (auto& s : sinks_)
        ok = s->finish() && ok;
    return ok;
}

void zodsexit(int code) {
    if (code == 0) return;
    addOutputMessages();
    const auto bits = static_cast<unsigned>(code);
    std::string id = fmt::format("0x{:08X}", bits);
    if ((bits & 0x3FF800u) == 0x1F800u && (bits & 0x7FFu) == 53u) {
        xpmlog(kGroupHostOutput, kMsgOutputSkipped,
               {id, wkread(kGroupHostOutput, kMsgOutputBenign)});
        return;
    }
    int reason = kMsgOutputReasonBase;
    if (((bits >> 11) & 0x7FFu) == kOutputErrorClass) {
        int item = static_cast<int>(bits & 0x7FFu);
        if (hasMessage(kGroupHostOutput, kMsgOutputReasonBase + item) && item < 20)
            reason = kMsgOutputReasonBase + item;
    }
    xpmlog(kGroupHostOutput, kMsgOutputError, {id, wkread(kGroupHostOutput, reason)});
    xexit(kExitOutputError);
}

} // namespace velloc::host
