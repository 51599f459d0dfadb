// Helpers of the table routines: row buffers addressed by column name, instance dynamics and
// delivery through the output-error handler.
#pragma once
#include <string>
#include <vector>

#include "host/host.h"

namespace velloc {

struct VlcRun;

// One row of a column table: numeric cells start missing, character cells blank. Setting a
// column the definition lacks does nothing, so conditional columns need no tests at the call.
class RowBuffer {
  public:
    explicit RowBuffer(const host::TableDefinition& def);
    void num(const std::string& column, double value);
    void text(const std::string& column, const std::string& value);
    // An ID column of the treated or control block (template column TreatedID, ControlID).
    void id(const std::string& templateColumn, const std::string& column, host::Cell value);
    // Adds the row to the instance with every NaN made the host's missing value.
    void addTo(host::TableInstance& instance);

  private:
    const host::TableDefinition& def_;
    std::vector<host::Cell> cells_;
};

// An extreme value still at its starting point (nothing seen) is missing.
double extreme(double v);

// Opens an instance of a definition with the treatment dynamics (_TrtLevel, _CntlLevel,
// _TrtVar) and any extra ones.
host::TableInstance openInstance(const VlcRun& run, const host::TableDefinition& def,
                                 std::vector<host::Dynamic> extra = {});

// Delivers a closed instance or factoid table; a negative result goes to zodsexit.
void deliverTable(const VlcRun& run, const host::TableInstance& instance);
void deliverTable(const VlcRun& run, const host::FactoidTable& table);

// Column helpers for the definitions.
host::ColumnDef numColumn(const std::string& name, host::NumberFormat format = {});
host::ColumnDef textColumn(const std::string& name, int width);

} // namespace velloc

namespace velloc {
// The empty table routine kept in the table order.
int vlctmpe(VlcRun& run);
} // namespace velloc
