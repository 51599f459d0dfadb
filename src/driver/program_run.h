// A whole program of procedure steps, run in the session bound to the calling thread: the one
// sequence that the command line, the Python package and any other front end share.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace velloc {

struct ProgramResult {
    int exitStatus = 0;          // the program's exit status (runExitStatus)
    int worstStatus = 0;         // the worst step status, or the count of statement errors
    std::vector<int> stepStatus; // each step's exit code, in program order
    std::size_t steps = 0;       // steps the program holds
};

// Splits the program text into steps and runs them one after another, finishes the session's
// outputs and logs the closing line. fileName names the program in messages; reportPath, when
// not empty, is the HTML report a note names once the outputs are finished.
ProgramResult runProgram(const std::string& text, const std::string& fileName,
                         const std::string& reportPath = {});

} // namespace velloc
