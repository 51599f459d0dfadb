// Option handling shared by the parts of vlcinit.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "core/run_context.h"
#include "options/options_messages.h"

namespace velloc {

// An option value outside its range (a number of our own, clear of the fixed ones).
inline constexpr int kMsgOptionValue = 900;

// Logs a message of the procedure group and raises status (warnings) or ends the procedure
// with exitCode (errors).
void warn(VlcRun& run, int number, host::Args args = {});
[[noreturn]] void fatal(int number, int exitCode, host::Args args = {});

// The first statement with the keyword, or nullptr; and how many there are.
const Statement* firstStatement(const VlcRun& run, std::string_view keyword);
int countStatements(const VlcRun& run, std::string_view keyword);

// A whole-number option: checks min <= value <= max (message kMsgOptionValue, exit 3000) and
// truncates.
long long wholeOption(const host::ParsedOption& o, std::string_view name, double min, double max);

// Position of the input variable in the CLASS list, or -1.
int classIndex(const VlcRun& run, int varNumber);
// Position of the input variable in the analysis list, or -1.
int analysisIndex(const VlcRun& run, int varNumber);
bool isPsLpsName(std::string_view name);
VarRef varRef(const VlcRun& run, int number);

// The option groups, in the order vlcinit calls them.
void matchOptions(VlcRun& run);       // MATCH: method, distance, limits, caliper, order
void regionOptions(VlcRun& run);      // REGION= of the procedure statement
void seedOption(VlcRun& run);         // SEED= and the matching stream
void strataOptions(VlcRun& run);      // STRATA
void exactAndMahOptions(VlcRun& run); // EXACT= and DISTANCE=MAH(...)
void assessOptions(VlcRun& run);      // ASSESS variables and tables
void weightOptions(VlcRun& run);      // weight kind and extreme-weight listings
void plotOptions(VlcRun& run);        // plot requests and per-plot selections

// Defines the output data set variables; 0 done, 1 refused.
int vlcvout(VlcRun& run);

} // namespace velloc
