// The statement check the parser calls at the start of every statement.
#include "options/options.h"
#include "statements/statements.h"

namespace velloc {

int bcheck(VlcRun& run, host::Parser& parser, Statement& stmt) {
    if (parser.errors() > 0) return 2;
    if (stmt.keyword == "CLASS" && run.modelStarted)
        fatal(kMsgClassAfterModel, host::kExitClassAfterModel, {std::to_string(stmt.line)});
    if (stmt.keyword == "PSMODEL") run.modelStarted = true;
    return 0;
}

} // namespace velloc
