// Small tables shared by the output and renderer tests.
#pragma once
#include <limits>
#include <sstream>
#include <string>

#include "host/messages.h"
#include "host/output.h"

namespace velloc::host::testing {

inline double nan() {
    return std::numeric_limits<double>::quiet_NaN();
}

inline ColumnDef numCol(std::string name, int decimals = -1, std::string label = {}) {
    ColumnDef c;
    c.name = std::move(name);
    c.label = std::move(label);
    c.format.decimals = decimals;
    return c;
}

inline ColumnDef textCol(std::string name, int width = 16, std::string label = {}) {
    ColumnDef c;
    c.name = std::move(name);
    c.label = std::move(label);
    c.kind = ColumnKind::Character;
    c.width = width;
    return c;
}

// A PSInfo-like definition with one column per block and the instance dynamics of the levels.
inline TableDefinition psInfoDefinition() {
    TableDefinition d;
    d.name = "PSInfo";
    d.label = "Propensity Score Information";
    d.templatePath = "Stat.Velloc.PSInfo";
    d.addColumn(textCol("Obs", 20));
    d.addColumn(numCol("TreatedFreq"));
    d.addColumn(numCol("TreatedMean"));
    d.addColumn(numCol("ControlFreq"));
    d.addColumn(numCol("ControlMean"));
    d.addColumn(numCol("MeanDiff"));
    return d;
}

// Captures the log for the lifetime of the object.
struct LogCapture {
    std::ostringstream text;
    LogCapture() { Log::setStream(&text); }
    ~LogCapture() { Log::setStream(nullptr); }
};

} // namespace velloc::host::testing
