// A run context with a few assessed rows and an output object that keeps what it is given,
// for the balance and table routines.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/phases.h"
#include "core/run_context.h"
#include "driver/message_catalogue.h"
#include "host/host.h"

namespace velloc::testing {

struct Captured : host::OutputSink {
    std::vector<host::TableInstance> tables;
    std::vector<host::FactoidTable> factoids;
    void table(const host::OutputContext&, const host::TableInstance& t) override {
        tables.push_back(t);
    }
    void factoid(const host::OutputContext&, const host::FactoidTable& t) override {
        factoids.push_back(t);
    }
    const host::TableInstance* find(const std::string& name) const {
        for (const auto& t : tables)
            if (t.definition && t.definition->name == name) return &t;
        return nullptr;
    }
};

// Analysis variables x (continuous, assessed) and y (model only); one assessed two-level CLASS
// variable g. Slots: x 0, y 1, PS 2, LPS 3, g 4.
struct AssessRun {
    VlcRun run;
    host::Output output;
    std::shared_ptr<Captured> sink = std::make_shared<Captured>();

    AssessRun() {
        registerCatalogue();
        run.analysisVars = {{1, "x", host::VarType::Numeric}, {2, "y", host::VarType::Numeric}};
        run.assessCont = {0};
        run.nAssessCont = 1;
        ClassVar g;
        g.var = {3, "g", host::VarType::Numeric};
        run.classVars = {g};
        run.assessClass = {{0, 2}};
        run.classIndicators = {{0, 0, {}, {}}};
        run.nAssessClass2 = 1;
        run.assessGiven = run.stdDiffTable = run.varInfoTable = 1;
        run.assessPs = 1;
        run.treatName = "treat";
        run.treatedLevel = "1";
        run.controlLevel = "0";
        run.balance.reset(4, 1, 0);
        for (int s = 0; s < kNumSets; ++s)
            run.balance.sets[s].present = s <= kRegion;
        output.addSink(sink);
        output.openGroup("Test", "Test");
        run.procOutput = &output;
    }

    SlotStats& slot(int set, int s) { return run.balance.sets[set].slots[s]; }
    // Means and variances of a slot in a set, treated first.
    void setGroups(int set, int s, double mt, double vt, double mc, double vc) {
        SlotStats& st = slot(set, s);
        st.g[kTreated].mean = mt;
        st.g[kTreated].var = vt;
        st.g[kControl].mean = mc;
        st.g[kControl].var = vc;
        st.s = deviationRule(vt, vc, run.sdTreatedOnly != 0);
    }
};

// Cell of a row by column name.
inline double num(const host::TableInstance& t, std::size_t row, const std::string& column) {
    int i = t.definition->columnIndex(column);
    EXPECT_GE(i, 0) << column;
    if (i < 0) return NAN;
    return std::get<double>(t.rows.at(row).at(static_cast<std::size_t>(i)));
}

inline std::string text(const host::TableInstance& t, std::size_t row, const std::string& column) {
    int i = t.definition->columnIndex(column);
    EXPECT_GE(i, 0) << column;
    if (i < 0) return {};
    return std::get<std::string>(t.rows.at(row).at(static_cast<std::size_t>(i)));
}

inline std::vector<std::string> columnNames(const host::TableDefinition& d) {
    std::vector<std::string> out;
    for (const auto& c : d.columns)
        out.push_back(c.name);
    return out;
}

} // namespace velloc::testing
