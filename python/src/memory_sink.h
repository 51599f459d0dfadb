// The output of a run kept in memory for the Python package: every table as the columns of
// the CSV file --tables-dir would write for it (a Step column when several steps delivered
// rows, the BY variables, then the table's columns, named as there), and every graph as
// SVG text under the name --graphs-dir would give its file.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "render/output.h"

namespace velloc::python {

// One column of a gathered table. A cell is a number (num[r], NaN when missing) or a text
// (code[r] >= 0 into texts); a cell absent from a row is missing.
struct GatheredColumn {
    std::string name;
    std::vector<double> num;
    std::vector<std::int32_t> code;
    std::vector<std::string> texts;
    std::unordered_map<std::string, std::int32_t> index;
    bool anyNumber = false, anyText = false;
    bool by = false; // a BY column: texts, as the CSV has the formatted BY values

    void addNumber(double v);
    void addText(const std::string& s);
    void addMissing();
};

struct GatheredTable {
    std::vector<GatheredColumn> byCols, cols; // in CSV order
    std::vector<int> step;                    // step of each row, counted from 1
    std::size_t rows = 0;
    bool severalSteps() const;
};

struct GatheredGraph {
    std::string name; // the --graphs-dir file name without ".svg"
    std::string svg;
};

class MemorySink : public host::OutputSink {
  public:
    explicit MemorySink(host::GraphRenderer renderer) : renderer_(std::move(renderer)) {}
    void stepBegin(const std::string&) override { ++step_; }
    void table(const host::OutputContext& ctx, const host::TableInstance& inst) override;
    void factoid(const host::OutputContext& ctx, const host::FactoidTable& t) override;
    void graph(const host::OutputContext& ctx, const host::GraphRecord& g) override;
    bool keepsGraphRows() const override { return true; } // graph rows become tables

    std::map<std::string, GatheredTable> tables;
    std::vector<GatheredGraph> graphs;

  private:
    // Starts a row: the BY cells filled, the table's cells to come through cell().
    std::vector<GatheredColumn*> beginRows(GatheredTable& t, const host::OutputContext& ctx,
                                           const std::vector<std::string>& names);
    static void endRow(GatheredTable& t, int step);

    host::GraphRenderer renderer_;
    int step_ = 0;
    int sequence_ = 0;
};

} // namespace velloc::python
