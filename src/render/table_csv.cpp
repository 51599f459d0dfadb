// Table CSV files: one TableName.csv per table for the whole run, BY variables as leading
// columns (after a Step column when the rows come from several PROC steps), full precision,
// missing as an empty cell. Written at finish(), atomically per file.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <system_error>

#include "base/messages.h"
#include "io/temp_files.h"
#include "render/number_format.h"
#include "render/output.h"
#include "render/output_messages.h"

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
    std::string s = safeFileName(name);
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

// The header of a table column. Columns standing for a template column (the ID columns of the
// treated and the control block) get the block as a prefix, "Treated_id" and "Control_id", so
// a block keeps its own columns from one step to the next and readers see no repeated names.
std::string csvColumnName(const ColumnDef& c) {
    if (c.templateColumn.empty()) return c.name;
    std::string block = c.templateColumn;
    if (block.size() > 2 && block.compare(block.size() - 2, 2, "ID") == 0)
        block.resize(block.size() - 2);
    return block + "_" + c.name;
}

// Graph rows can number millions: they wait in an unlinked temporary file as length-prefixed
// cells, and memory keeps only where each delivery's rows start and where its columns go.
class Spool {
  public:
    std::uint64_t size() const { return written_ + buf_.size(); }
    bool failed() const { return failed_; }
    void append(std::string_view cell) {
        const auto n = static_cast<std::uint32_t>(cell.size());
        buf_.append(reinterpret_cast<const char*>(&n), sizeof n);
        buf_.append(cell);
        if (buf_.size() >= (1u << 20)) flush();
    }
    void flush() {
        if (buf_.empty() || failed_) return;
        if (!file_.open() && file_.create("CSV") != 0) failed_ = true;
        if (!failed_ && file_.writeAt(buf_.data(), buf_.size(), written_, "CSV") != 0)
            failed_ = true;
        written_ += buf_.size();
        buf_.clear();
    }
    // Sequential reads from a byte offset, a megabyte at a time.
    class Reader {
      public:
        Reader(Spool& s, std::uint64_t off) : s_(s), off_(off) {}
        bool next(std::string& cell) {
            std::uint32_t n = 0;
            if (!take(&n, sizeof n)) return false;
            cell.resize(n);
            return take(cell.data(), n);
        }

      private:
        bool take(void* to, std::size_t n) {
            char* out = static_cast<char*>(to);
            while (n > 0) {
                if (pos_ == buf_.size() && !refill()) return false;
                const std::size_t k = std::min(n, buf_.size() - pos_);
                std::memcpy(out, buf_.data() + pos_, k);
                pos_ += k, out += k, n -= k;
            }
            return true;
        }
        bool refill() {
            if (off_ >= s_.written_ || s_.failed_) return false;
            const auto k =
                static_cast<std::size_t>(std::min<std::uint64_t>(1u << 20, s_.written_ - off_));
            buf_.resize(k);
            if (s_.file_.readAt(buf_.data(), k, off_, "CSV") != 0) return false;
            off_ += k, pos_ = 0;
            return true;
        }
        Spool& s_;
        std::uint64_t off_;
        std::string buf_;
        std::size_t pos_ = 0;
    };

  private:
    detail::TempFile file_;
    std::uint64_t written_ = 0;
    std::string buf_;
    bool failed_ = false;
};

struct Store {
    std::vector<std::string> byHeader, colHeader;
    std::set<int> steps; // PROC steps (1, 2, ...) that delivered rows
    struct Row {
        int step = 0;
        std::vector<std::pair<std::size_t, std::string>> by, cols; // (slot, text)
    };
    std::vector<Row> rows;
    // Graph deliveries, whose cells are in the spool.
    struct Segment {
        int step = 0;
        std::vector<std::pair<std::size_t, std::string>> by;
        std::vector<std::size_t> cols;
        std::size_t rows = 0;
        std::uint64_t offset = 0;
    };
    std::vector<Segment> segments;
};

class CsvSink : public OutputSink {
  public:
    explicit CsvSink(std::string dir) : dir_(std::move(dir)) {}

    void stepBegin(const std::string&) override { ++step_; }

    void table(const OutputContext& ctx, const TableInstance& inst) override {
        addRows(ctx, inst.definition->name, *inst.definition, inst);
    }

    // A graph's phantom rows go to GraphName.csv, through the spool.
    void graph(const OutputContext& ctx, const GraphRecord& g) override {
        Store& st = stores_[g.name];
        Store::Segment seg;
        seg.step = step_;
        st.steps.insert(step_);
        seg.by = bySlots(st, ctx);
        seg.cols = columnSlots(st, g.phantom);
        seg.rows = g.rowCount();
        seg.offset = spool_.size();
        const bool cells = !g.data.rows.empty();
        for (std::size_t r = 0; r < seg.rows; ++r)
            for (std::size_t c = 0; c < seg.cols.size(); ++c) {
                if (cells) {
                    const Cell& cell = g.data.rows[r][c];
                    spool_.append(std::holds_alternative<double>(cell)
                                      ? formatExact(std::get<double>(cell))
                                      : trimRight(std::get<std::string>(cell)));
                } else {
                    spool_.append(g.columns.numeric(c) ? formatExact(g.columns.number(r, c))
                                                       : trimRight(g.columns.text(r, c)));
                }
            }
        st.segments.push_back(std::move(seg));
    }

    std::vector<std::size_t> columnSlots(Store& st, const TableDefinition& def) {
        std::vector<std::size_t> cols;
        std::map<std::string, int> occurrences;
        for (const auto& c : def.columns) {
            const std::string name = csvColumnName(c);
            cols.push_back(slot(st.colHeader, name, occurrences[name]++));
        }
        return cols;
    }

    void addRows(const OutputContext& ctx, const std::string& key, const TableDefinition& def,
                 const TableInstance& inst) {
        Store& st = stores_[key];
        auto by = bySlots(st, ctx);
        st.steps.insert(step_);
        std::vector<std::size_t> cols = columnSlots(st, def);
        for (const auto& row : inst.rows) {
            Store::Row r;
            r.step = step_;
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
        st.steps.insert(step_);
        std::size_t label = slot(st.colHeader, "Label", 0);
        std::size_t value = slot(st.colHeader, "Value", 0);
        for (const auto& e : t.entries) {
            Store::Row r;
            r.step = step_;
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
        spool_.flush();
        bool ok = true;
        for (const auto& entry : stores_) {
            const Store& st = entry.second; // clang 14 cannot capture a structured binding
            ok = writeAtomically((fs::path(dir_) / (fileStem(entry.first) + ".csv")).string(),
                                 [&](std::ostream& f) { return render(st, f); }) &&
                 ok;
        }
        stores_.clear();
        spool_ = Spool{};
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

    bool render(const Store& st, std::ostream& f) {
        std::string out;
        auto line = [&](const std::vector<std::string>& cells) {
            for (std::size_t i = 0; i < cells.size(); ++i) {
                if (i) out += ',';
                out += quoted(cells[i]);
            }
            out += '\n';
            if (out.size() >= (1u << 20)) {
                f << out;
                out.clear();
            }
        };
        // One step's file stays as it always was; rows of several steps say which is theirs.
        const std::size_t ns = st.steps.size() > 1 ? 1 : 0;
        std::vector<std::string> header;
        if (ns) header.push_back("Step");
        header.insert(header.end(), st.byHeader.begin(), st.byHeader.end());
        header.insert(header.end(), st.colHeader.begin(), st.colHeader.end());
        line(header);
        const std::size_t nb = ns + st.byHeader.size();
        std::vector<std::string> cells;
        for (const auto& r : st.rows) {
            cells.assign(header.size(), {});
            if (ns) cells[0] = std::to_string(r.step);
            for (const auto& [i, text] : r.by)
                cells[ns + i] = text;
            for (const auto& [i, text] : r.cols)
                cells[nb + i] = text;
            line(cells);
        }
        for (const Store::Segment& seg : st.segments) {
            Spool::Reader in(spool_, seg.offset);
            for (std::size_t r = 0; r < seg.rows; ++r) {
                cells.assign(header.size(), {});
                if (ns) cells[0] = std::to_string(seg.step);
                for (const auto& [i, text] : seg.by)
                    cells[ns + i] = text;
                for (std::size_t c : seg.cols)
                    if (!in.next(cells[nb + c])) return false;
                line(cells);
            }
        }
        f << out;
        return true;
    }

    std::string dir_;
    int step_ = 0; // the current PROC step, counted from 1
    std::map<std::string, Store> stores_;
    Spool spool_;
};

} // namespace

std::shared_ptr<OutputSink> makeCsvSink(std::string dir) {
    return std::make_shared<CsvSink>(std::move(dir));
}

} // namespace velloc::host
