// libFuzzer target: program splitting, the lexer and the statement parser with the
// procedure's grammar, over a fixed in-memory variable list. Build: scripts/build.sh fuzz.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "../tests/support/memory_dataset.h"
#include "core/run_context.h"
#include "host/host.h"
#include "statements/statements.h"

namespace {

using namespace velloc;

// The variables the corpus programs name; every other name is unknown.
testing::MemoryDataset& vars() {
    using host::VarType;
    static testing::MemoryDataset data({{"treat"},
                                        {"age"},
                                        {"bmi"},
                                        {"gender", VarType::Character},
                                        {"race", VarType::Character},
                                        {"x1"},
                                        {"x2"},
                                        {"x3"},
                                        {"w"},
                                        {"f"}},
                                       "fuzz.csv", "fuzz.csv");
    return data;
}

class Hooks : public host::ParserHooks {
  public:
    Hooks(VlcRun& run, const host::Dataset& ds) : run_(run), ds_(ds) {}
    int statementStart(host::Parser& p, Statement& st) override { return bcheck(run_, p, st); }
    bool parseSpecial(host::Parser& p, Statement& st) override { return parseModel(p, st); }
    const host::Dataset* dataset() const override { return &ds_; }

  private:
    VlcRun& run_;
    const host::Dataset& ds_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    testing::MemoryDataset& names = vars();
    static std::ostringstream sink;
    host::Log::setStream(&sink);
    sink.str({});
    std::string text(reinterpret_cast<const char*>(data), size);
    int errors = 0;
    std::vector<StepSource> steps = splitProgram(text, "fuzz.vlc", &errors);
    // The whole text is parsed as one step too, so statements outside steps get exercised.
    steps.push_back(StepSource{"fuzz.vlc", text, 1, 1});
    for (const StepSource& s : steps) {
        VlcRun run;
        Hooks hooks(run, names);
        host::Parser parser(vlcg(), s.text, s.firstLine, s.firstColumn, hooks, s.fileName);
        try {
            std::vector<Statement> st = parser.parse();
            for (const Statement& x : st)
                for (const Effect& e : x.effects)
                    (void)describeEffect(e, names);
        } catch (const host::HostExit&) {
            // CLASS after PSMODEL ends the procedure; that is a defined outcome.
        }
    }
    return 0;
}
