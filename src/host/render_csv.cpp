// Table CSV files: one TableName.csv per table for the whole run, BY variables as leading
// columns, full precision, missing as an empty cell. Written at finish(), atomically per file.
#include <filesystem>
#include <map>
#include <system_error>

#include "host/messages.h"
#include "host/output.h"
#include "host/output_messages.h"
#include "host/render_format.h"

namespace velloc::host {

namespace {

std::string quoted(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

// Table names become file names: keep them to a safe alphabet.
std::string fileStem(const std::string& name) {
    std::string s;
    for (char c : name) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-';
        s += ok ? c : '_';
    }
    return s.empty() ? std::string("table") : s;
}

// Position of the occurrence-th column called name, appended when absent. Tables may repeat a
// column name (an ID column in the treated and the control block), so names alone do not do.
std::size_t slot(std::vector<std::string>& header, const std::string& name, int occurrence) {
    int seen = 0;
    for (std::size_t i = 0; i < header.size(); ++i)
        if (header[i] == name && seen++ == occurrence) return i;
    header.push_back(name);
    return header.size() - 1;
}

struct Store {
    std::vector<std::string> byHeader, colHeader;
    struct Row {
        std::vector<std::pair<std::size_t, std::string>> by, cols; // (slot, text)
    };
    std::vector<Row> rows;
};

class CsvSink : public OutputSink {
  public:
    explicit CsvSink(std::string dir) : dir_(std::move(dir)) {}

    void table(const OutputContext& ctx, const TableInstance& inst) override {
        addRows(ctx, inst.definition->name, *inst.definition, inst);
    }

    // A graph's phantom rows go to GraphName.csv.
    void graph(const OutputContext& ctx, const GraphRecord& g) override {
        if (!g.data.rows.empty()) return addRows(ctx, g.name, g.phantom, g.data);
        Store& st = stores_[g.name];
        auto by = bySlots(st, ctx);
        std::vector<std::size_t> cols = columnSlots(st, g.phantom);
        for (std::size_t r = 0; r < g.columns.rows(); ++r) {
            Store::Row row;
            row.by = by;
            for (std::size_t c = 0; c < cols.size(); ++c)
                row.cols.emplace_back(cols[c], g.columns.numeric(c)
                                                   ? formatExact(g.columns.number(r, c))
                                                   : trimRight(g.columns.text(r, c)));
            st.rows.push_back(std::move(row));
        }
    }

    std::vector<std::size_t> columnSlots(Store& st, const TableDefinition& def) {
        std::vector<std::size_t> cols;
        std::map<std::string, int> occurrences;
        for (const auto& c : def.columns)
            cols.push_back(slot(st.colHeader, c.name, occurrences[c.name]++));
        return cols;
    }

    void addRows(const OutputContext& ctx, const std::string& key, const TableDefinition& def,
                 const TableInstance& inst) {
        Store& st = stores_[key];
        auto by = bySlots(st, ctx);
        std::vector<std::size_t> cols = columnSlots(st, def);
        for (const auto& row : inst.rows) {
            Store::Row r;
            r.by = by;
            for (std::size_t c = 0; c < row.size(); ++c) {
                const Cell& cell = row[c];
                r.cols.emplace_back(cols[c], std::holds_alternative<double>(cell)
                                                 ? formatExact(std::get<double>(cell))
                                                 : trimRight(std::get<std::string>(cell)));
            }
            st.rows.push_back(std::move(r));
        }
    }

    void factoid(const OutputContext& ctx, const FactoidTable& t) override {
        Store& st = stores_[t.name];
        auto by = bySlots(st, ctx);
        std::size_t label = slot(st.colHeader, "Label", 0);
        std::size_t value = slot(st.colHeader, "Value", 0);
        for (const auto& e : t.entries) {
            Store::Row r;
            r.by = by;
            r.cols.emplace_back(label, trimRight(e.label));
            r.cols.emplace_back(value, std::holds_alternative<double>(e.value)
                                           ? formatExact(std::get<double>(e.value))
                                           : trimRight(std::get<std::string>(e.value)));
            st.rows.push_back(std::move(r));
        }
    }

    bool finish() override {
        namespace fs = std::filesystem;
        if (stores_.empty()) return true;
        std::error_code ec;
        fs::create_directories(dir_, ec);
        if (ec) {
            addOutputMessages();
            xpmlog(kGroupHostOutput, kMsgOutputWrite, {dir_, ec.message()});
            return false;
        }
        bool ok = true;
        for (const auto& [name, st] : stores_)
            ok = writeAtomically((fs::path(dir_) / (fileStem(name) + ".csv")).string(),
                                 render(st)) &&
                 ok;
        stores_.clear();
        return ok;
    }

  private:
    static std::vector<std::pair<std::size_t, std::string>> bySlots(Store& st,
                                                                    const OutputContext& ctx) {
        std::vector<std::pair<std::size_t, std::string>> by;
        std::map<std::string, int> occurrences;
        for (std::size_t i = 0; i < ctx.byNames.size(); ++i) {
            const std::string& n = ctx.byNames[i];
            by.emplace_back(slot(st.byHeader, n, occurrences[n]++),
                            i < ctx.byValues.size() ? trimRight(ctx.byValues[i]) : std::string());
        }
        return by;
    }

    static std::string render(const Store& st) {
        std::string out;
        auto line = [&](const std::vector<std::string>& cells) {
            for (std::size_t i = 0; i < cells.size(); ++i) {
                if (i) out += ',';
                out += quoted(cells[i]);
            }
            out += '\n';
        };
        std::vector<std::string> header = st.byHeader;
        header.insert(header.end(), st.colHeader.begin(), st.colHeader.end());
        line(header);
        const std::size_t nb = st.byHeader.size();
        for (const auto& r : st.rows) {
            std::vector<std::string> cells(header.size());
            for (const auto& [i, text] : r.by)
                cells[i] = text;
            for (const auto& [i, text] : r.cols)
                cells[nb + i] = text;
            line(cells);
        }
        return out;
    }

    std::string dir_;
    std::map<std::string, Store> stores_;
};

} // namespace

std::shared_ptr<OutputSink> makeCsvSink(std::string dir) {
    return std::make_shared<CsvSink>(std::move(dir));
}

} // namespace velloc::host
