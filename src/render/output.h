// The output system: output groups, column tables, factoid (label/value) tables and graph
// records, delivered in run order to the sinks the session installed (listing, HTML report,
// CSV tables, SVG graphs).
//
// A table definition is made once per procedure step and instantiated once per BY group. A
// column exists or not by definition-time conditions; rows hold one cell per column, in
// column order. Missing numbers are NaN and print as '.' in the listing, empty in CSV.
#pragma once
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "io/mapped_block_allocator.h"

namespace velloc::host {

enum class ColumnKind { Numeric = 5, Character = 6 };

// How a numeric column prints: width and decimals of a fixed format (decimals < 0: best).
struct NumberFormat {
    int width = 0;     // 0: the renderer's default
    int decimals = -1; // -1: best representation in the width
};

struct ColumnDef {
    std::string name;  // column name, also the CSV header
    std::string label; // header text; empty: the renderer's template header
    ColumnKind kind = ColumnKind::Numeric;
    int width = 0; // character columns: width in bytes
    NumberFormat format;
    std::string templateColumn; // template column this one stands for ("TreatedID"), or empty
    std::string dynamicName;    // column-level dynamic (e.g. "_idTreated") and its value
    std::string dynamicValue;
};

using DynValue = std::variant<std::string, std::int64_t, double>;
struct Dynamic {
    std::string name;
    DynValue value;
};

using Cell = std::variant<double, std::string>;

struct TableDefinition {
    std::string name;         // "PSInfo"
    std::string label;        // the table's label (host output message text)
    std::string templatePath; // "Stat.Velloc.PSInfo"
    std::vector<ColumnDef> columns;
    std::vector<Dynamic> dynamics; // definition dynamics, fixed for the step

    int addColumn(ColumnDef c);                     // returns the column index
    int columnIndex(const std::string& name) const; // -1 when absent
};

struct TableInstance {
    const TableDefinition* definition = nullptr;
    std::string templatePath;
    std::vector<Dynamic> dynamics; // instance dynamics
    std::vector<std::vector<Cell>> rows;

    void addRow(std::vector<Cell> row); // one cell per column, NaN for missing
};

struct FactoidTable {
    std::string name; // "DataInfo"
    std::string label;
    std::string templatePath; // "Stat.Velloc.DataInfo"
    struct Entry {
        std::string label;
        Cell value;
        NumberFormat format;
    };
    std::vector<Entry> entries;
};

// Rows of a phantom table kept column by column: a million-row graph costs 8 bytes a number
// and 4 a text (an index into the few distinct texts a phantom holds) instead of a variant
// per cell.
class ColumnStore {
  public:
    using NumberColumn = std::vector<double, MappedBlockAllocator<double>>;
    using CodeColumn = std::vector<std::uint32_t, MappedBlockAllocator<std::uint32_t>>;
    ColumnStore() = default;
    ColumnStore(const ColumnStore&) = default;
    ColumnStore(ColumnStore&&) = default;
    ColumnStore& operator=(const ColumnStore&) = default;
    ColumnStore& operator=(ColumnStore&&) = default;
    ~ColumnStore(); // large column buffers go back to a pool for the next graph
    // Frees the pooled buffers (when a family of graphs is done).
    static void releaseBuffers();

    void reset(const TableDefinition& def); // one empty column per definition column
    // Appends a row: one cell per column, of the column's kind. Returns false (and adds
    // nothing) on a shape or kind mismatch.
    bool addRow(std::initializer_list<Cell> row);
    bool addRow(const std::vector<Cell>& row);
    void reserve(std::size_t rows); // room for this many rows: no copies while a graph grows
    // The fast path of huge graphs: the numbers of a row in numeric-column order and the
    // codes (from intern) of its texts in character-column order.
    std::uint32_t intern(const std::string& text);
    bool addCoded(std::initializer_list<double> numbers,
                  std::initializer_list<std::uint32_t> codes);
    bool addCoded(std::span<const double> numbers, std::span<const std::uint32_t> codes);
    std::size_t rows() const { return rows_; }
    std::size_t columns() const { return kinds_.size(); }
    bool numeric(std::size_t c) const { return kinds_[c] == ColumnKind::Numeric; }
    double number(std::size_t r, std::size_t c) const;           // NaN for a character column
    const std::string& text(std::size_t r, std::size_t c) const; // "" for a numeric column
    Cell cell(std::size_t r, std::size_t c) const;
    // Whole columns, for passes over millions of rows: nullptr for a column of the other kind.
    const double* numberColumn(std::size_t c) const {
        return numeric(c) ? numbers_[c].data() : nullptr;
    }
    const std::uint32_t* codeColumn(std::size_t c) const {
        return numeric(c) ? nullptr : codes_[c].data();
    }
    const std::vector<std::string>& texts() const { return texts_; }

  private:
    template <class It> bool add(It first, It last);
    void recycle();
    std::vector<std::uint32_t> numericAt_, codeAt_; // numeric and character columns in order
    std::vector<ColumnKind> kinds_;
    std::vector<NumberColumn> numbers_; // per numeric column
    std::vector<CodeColumn> codes_;     // per character column
    std::vector<std::string> texts_;
    std::size_t rows_ = 0;
};

// A graph: the data of its phantom table, the graph template that draws it and the
// graph's dynamics. Drawing is the SVG sink's business.
struct GraphRecord {
    std::string name;         // "StdDiffPlot"
    std::string templatePath; // graph template
    TableDefinition phantom;  // columns of the phantom table
    TableInstance data;       // its rows as cells (small graphs); data.definition -> phantom
    ColumnStore columns;      // or its rows column by column, when data.rows is empty
    std::vector<Dynamic> dynamics;

    // The phantom rows, wherever they are kept.
    std::size_t rowCount() const { return data.rows.empty() ? columns.rows() : data.rows.size(); }
    Cell cell(std::size_t r, std::size_t c) const;
    double number(std::size_t r, std::size_t c) const;           // NaN for a text or absent cell
    const std::string& text(std::size_t r, std::size_t c) const; // "" for a number or absent
};

// Context a sink needs to place a delivered object.
struct OutputContext {
    std::string stepTitle;              // e.g. "The VELLOC Procedure"
    std::vector<std::string> byLine;    // "name=value" of the current BY group; empty: none
    std::vector<std::string> byNames;   // BY variable names, for CSV leading columns
    std::vector<std::string> byValues;  // BY values (formatted, trimmed), same order
    std::vector<std::string> groupPath; // names of the open output groups, outermost first
    std::vector<std::string> groupLabels;
};

class OutputSink {
  public:
    virtual ~OutputSink() = default;
    virtual void stepBegin(const std::string& /*title*/) {}
    // A new BY group starts (the context holds its BY line); sinks print it lazily, with the
    // group's first object, so an abandoned group leaves no empty heading.
    virtual void byGroup(const OutputContext&) {}
    virtual void groupOpened(const OutputContext&) {}
    virtual void groupClosed(const OutputContext&) {}
    virtual void table(const OutputContext&, const TableInstance&) {}
    virtual void factoid(const OutputContext&, const FactoidTable&) {}
    virtual void graph(const OutputContext&, const GraphRecord&) {}
    // Whether the sink keeps a graph's rows (as data), not only its drawing: a graph's rows
    // that no renderer reads are then left out when no sink keeps them.
    virtual bool keepsGraphRows() const { return true; }
    virtual void stepEnd() {}
    // Finishes the run: flush, close files. Returns false (after logging) on a write failure.
    virtual bool finish() { return true; }
};

// The procedure's output object. Results: 0 or a negative code for the output-error handler.
class Output {
  public:
    Output(); // registers the output messages, so table labels can be read at once
    void addSink(std::shared_ptr<OutputSink> sink);
    void clearSinks();

    void beginStep(const std::string& title);
    void endStep();
    void setByGroup(std::vector<std::string> names, std::vector<std::string> values);

    int openGroup(const std::string& name, const std::string& label);
    int closeGroup();
    int deliver(const TableInstance& instance);
    int deliver(const FactoidTable& table);
    int deliver(const GraphRecord& graph);
    bool graphicsEnabled() const { return graphics_; }
    // Whether some sink keeps graph rows as data (see OutputSink::keepsGraphRows).
    bool keepsGraphRows() const;
    void setGraphicsEnabled(bool on) { graphics_ = on; }
    bool finish();

    const OutputContext& context() const { return ctx_; }

  private:
    std::vector<std::shared_ptr<OutputSink>> sinks_;
    OutputContext ctx_;
    bool graphics_ = true;
};

// Output result codes. A result is 0 or negative: the high bit marks an error, bits 11-21 hold
// the class and the low 11 bits the item.
inline constexpr int outputCode(unsigned cls, unsigned item) {
    return static_cast<int>(0x80000000u | ((cls & 0x7FFu) << 11) | (item & 0x7FFu));
}
// The one benign code: an object the output system chose not to show (a graph while graphics
// are off). The handler logs it and returns.
inline constexpr int kBenignOutputCode = outputCode(0x3F, 53);
inline constexpr unsigned kOutputErrorClass = 0x40;
inline constexpr int kOutputNoOpenGroup = outputCode(kOutputErrorClass, 1);
inline constexpr int kOutputBadGroupName = outputCode(kOutputErrorClass, 2);
inline constexpr int kOutputNoDefinition = outputCode(kOutputErrorClass, 3);
inline constexpr int kOutputRowShape = outputCode(kOutputErrorClass, 4);
inline constexpr int kOutputCellKind = outputCode(kOutputErrorClass, 5);
inline constexpr int kOutputSinkFailure = outputCode(kOutputErrorClass, 6);

// The output-error handler: logs the code, returns when it is the benign code (bits 11-21,
// mask 0x3FF800, equal 0x1F800 and low 11 bits equal 53), otherwise ends the procedure with
// exit code 120. A code of 0 is no error and is ignored.
void zodsexit(int code);

// Sinks.
// name: the listing's file for the message on a failed write (empty: standard output).
std::shared_ptr<OutputSink> makeListingSink(std::ostream& out, std::string name = {});
// Draws a graph record as inline SVG text (the whole <svg> element).
using GraphRenderer = std::function<std::string(const GraphRecord&)>;
// The HTML report; written at finish(). Without a renderer a graph shows as "graph NAME".
std::shared_ptr<OutputSink> makeHtmlSink(std::string path, GraphRenderer renderer = {});
std::shared_ptr<OutputSink> makeCsvSink(std::string dir);

} // namespace velloc::host
