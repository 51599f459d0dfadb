// Statements of a procedure step: splitting a program into steps, the grammar, the statement
// check, the model-effect parser and vlcinit, which fills the run context from the records.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "statements/parser.h"

namespace velloc {

struct VlcRun;

using Statement = host::ParsedStatement;
using Effect = host::Effect;

struct StepSource {       // one PROC VELLOC ... RUN; step of a program
    std::string fileName; // for messages ("program.vlc" or "<stdin>")
    std::string text;     // the step's full text, starting at PROC
    int firstLine = 1;    // line of `text`'s first character in the file
    int firstColumn = 1;
};

// Splits a program into steps. Text outside PROC VELLOC steps (other than comments and empty
// statements) is an error: logged with file/line/column, and *errors is incremented.
std::vector<StepSource> splitProgram(std::string_view program, const std::string& fileName,
                                     int* errors);

// Fills the run context from the step's statements. Fatal errors end the procedure through
// host::xexit(code) (throws host::HostExit); never returns otherwise on error.
void vlcinit(VlcRun& run, const StepSource& step);

// The grammar of the procedure's statements.
const host::Grammar& vlcg();

// Statement check, called by the parser at the start of every statement: 2 when the parser
// has already reported errors, else 0. A CLASS statement after PSMODEL ends the procedure
// (message 173, exit 2000).
int bcheck(VlcRun& run, host::Parser& parser, Statement& stmt);

// The PSMODEL semantic routine: response<(TREATED=...)> = effects. False after an error.
bool parseModel(host::Parser& parser, Statement& stmt);

// Expands a bar chain t1|t2|...|tn into every crossing of the terms, in the order
// t1, t2, t1*t2, t3, t1*t3, t2*t3, t1*t2*t3, ..., keeping crossings of at most maxOrder
// variables (0: no limit).
std::vector<Effect> expandBar(const std::vector<Effect>& terms, int maxOrder);

// An effect as text: "a*b", "dose(clinic)".
std::string describeEffect(const Effect& e, const host::Dataset& ds);

} // namespace velloc
