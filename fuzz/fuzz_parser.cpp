// libFuzzer target: program splitting, the lexer and the statement parser with the
// procedure's grammar, over a fixed in-memory variable list. Build: scripts/build.sh fuzz.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "frame/statements.h"
#include "frame/vlcrun.h"
#include "host/host.h"

namespace {

using namespace velloc;

class Vars : public host::Dataset {
  public:
    Vars() {
        const char* names[] = {"treat", "age", "bmi", "gender", "race", "x1", "x2", "x3", "w", "f"};
        for (const char* n : names) {
            host::Variable v;
            v.name = n;
            v.type = std::string(n) == "gender" || std::string(n) == "race"
                         ? host::VarType::Character
                         : host::VarType::Numeric;
            vars_.push_back(v);
        }
    }
    const std::string& path() const override { return path_; }
    const std::string& label() const override { return path_; }
    int nvars() const override { return static_cast<int>(vars_.size()); }
    const host::Variable& var(int n) const override { return vars_[n - 1]; }
    int find(std::string_view name) const override {
        std::string u(name);
        host::wzstrup(u);
        for (std::size_t i = 0; i < vars_.size(); ++i) {
            std::string v = vars_[i].name;
            host::wzstrup(v);
            if (u == v) return static_cast<int>(i) + 1;
        }
        return 0;
    }
    std::int64_t nobs() const override { return 0; }
    void setBy(std::vector<host::ByKey>, bool) override {}
    int nextGroup() override { return 0; }
    bool nextObs() override { return false; }
    void rewindGroup() override {}
    std::int64_t obsNumber() const override { return 0; }
    double num(int) const override { return 0; }
    std::string_view text(int) const override { return {}; }
    std::string formatted(int) const override { return {}; }
    std::vector<std::string> byDescription() const override { return {}; }

  private:
    std::string path_ = "fuzz.csv";
    std::vector<host::Variable> vars_;
};

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
    static Vars vars;
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
        Hooks hooks(run, vars);
        host::Parser parser(vlcg(), s.text, s.firstLine, s.firstColumn, hooks, s.fileName);
        try {
            std::vector<Statement> st = parser.parse();
            for (const Statement& x : st)
                for (const Effect& e : x.effects)
                    (void)describeEffect(e, vars);
        } catch (const host::HostExit&) {
            // CLASS after PSMODEL ends the procedure; that is a defined outcome.
        }
    }
    return 0;
}
