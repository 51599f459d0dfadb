// Programs and procedure steps.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace velloc {

struct VlcRun;

struct StepSource {       // one PROC VELLOC ... RUN; step of a program
    std::string fileName; // for messages ("program.vlc" or "<stdin>")
    std::string text;     // the step's full text, starting at PROC
    int firstLine = 1;    // line of text's first character in the file
    int firstColumn = 1;
};

// Splits a program into steps. Text outside PROC VELLOC steps (other than comments and empty
// statements) is an error: logged with file/line/column, and *errors is incremented.
std::vector<StepSource> splitProgram(std::string_view program, const std::string& fileName,
                                     int* errors);

// Fills the run context from the step's statements. Fatal errors end the procedure through
// host::xexit(code).
void vlcinit(VlcRun& run, const StepSource& step);

} // namespace velloc
