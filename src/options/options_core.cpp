// Shared option helpers, the support region and the seed.
#include <cmath>

#include "numeric/random.h"
#include "options/options.h"

namespace velloc {

void warn(VlcRun& run, int number, host::Args args) {
    host::xpmlog(host::kGroupProc, number, args);
    run.raise(4);
}

void fatal(int number, int exitCode, host::Args args) {
    host::xpmlog(host::kGroupProc, number, args);
    host::xexit(exitCode);
}

const Statement* firstStatement(const VlcRun& run, std::string_view keyword) {
    for (const Statement& s : run.statements)
        if (s.keyword == keyword) return &s;
    return nullptr;
}

int countStatements(const VlcRun& run, std::string_view keyword) {
    int n = 0;
    for (const Statement& s : run.statements)
        if (s.keyword == keyword) ++n;
    return n;
}

long long wholeOption(const host::ParsedOption& o, std::string_view name, double min, double max) {
    double v = std::trunc(o.number);
    if (!(v >= min && v <= max)) {
        std::string range = "a whole number ";
        range.append(max >= 1e15 ? "of at least " + std::to_string(static_cast<long long>(min))
                                 : "from " + std::to_string(static_cast<long long>(min)) + " to " +
                                       std::to_string(static_cast<long long>(max)));
        fatal(kMsgOptionValue, host::kExitOption, {name, range, o.value});
    }
    return static_cast<long long>(v);
}

int classIndex(const VlcRun& run, int varNumber) {
    for (std::size_t i = 0; i < run.classVars.size(); ++i)
        if (run.classVars[i].var.number == varNumber) return static_cast<int>(i);
    return -1;
}

int analysisIndex(const VlcRun& run, int varNumber) {
    for (std::size_t i = 0; i < run.analysisVars.size(); ++i)
        if (run.analysisVars[i].number == varNumber) return static_cast<int>(i);
    return -1;
}

bool isPsLpsName(std::string_view name) {
    std::string u(name);
    host::wzstrup(u);
    return u == "PS" || u == "LPS";
}

VarRef varRef(const VlcRun& run, int number) {
    VarRef r;
    r.number = number;
    if (run.inData && number > 0) {
        r.name = run.inData->var(number).name;
        r.type = run.inData->var(number).type;
    }
    return r;
}

void regionOptions(VlcRun& run) {
    run.regionMin = 0.0;
    run.regionMax = 1.0;
    run.regionType = 47;
    run.extendLower = run.extendUpper = 0.25;
    run.regionExtend = 1;
    run.regionScore = kScoreLps;
    run.extendMult = 1;
    const Statement* proc = firstStatement(run, "VELLOC");
    const host::ParsedOption* region = proc ? proc->find("REGION") : nullptr;
    if (!region) {
        if (!run.matchGiven) {
            run.regionType = 57;
            run.regionExtend = 0;
        }
        return;
    }
    const std::string& kind = region->value;
    if (kind == "ALLOBS") {
        run.regionType = 57;
        run.regionExtend = 0;
        const host::ParsedOption* lo = proc->find("REGION/ALLOBS/PSMIN");
        const host::ParsedOption* hi = proc->find("REGION/ALLOBS/PSMAX");
        if (lo) run.regionMin = lo->number;
        if (hi) run.regionMax = hi->number;
        if (!(run.regionMax > run.regionMin) || run.regionMin < 0 || run.regionMax > 1)
            fatal(kMsgRegionPsBounds, host::kExitOption,
                  {lo ? lo->value : std::string("0"), hi ? hi->value : std::string("1")});
        if (run.regionMin > 0 || run.regionMax < 1) run.regionType = 44;
        return;
    }
    std::string ext = "REGION/" + kind + "/EXTEND";
    if (const host::ParsedOption* e = proc->find(ext)) {
        if (e->hasNumber()) run.extendLower = run.extendUpper = e->number;
        if (const host::ParsedOption* lo = proc->find(ext + "/LOWER")) run.extendLower = lo->number;
        if (const host::ParsedOption* up = proc->find(ext + "/UPPER")) run.extendUpper = up->number;
        if (const host::ParsedOption* d = proc->find(ext + "/DISTANCE"))
            run.regionScore = d->value == "PS" ? 100 : 101;
        if (const host::ParsedOption* m = proc->find(ext + "/MULT"))
            run.extendMult = m->value == "ONE" ? 0 : 1;
    }
    if (!(run.extendLower > 0) && !(run.extendUpper > 0)) run.regionExtend = 0;
    if (kind == "CS")
        run.regionType = run.regionExtend ? 45 : 43;
    else
        run.regionType = run.regionExtend ? 47 : 46;
}

void seedOption(VlcRun& run) {
    const Statement* match = firstStatement(run, "MATCH");
    const host::ParsedOption* seed = nullptr;
    if (match)
        for (const char* m : {"GREEDY", "REPLACE"})
            if (!seed) seed = match->find(std::string("METHOD/") + m + "/ORDER/RANDOM/SEED");
    std::int64_t& carried = support::sessionStream();
    if (seed) {
        if (!(seed->number < support::kSeedLimit))
            fatal(kMsgSeedTooLarge, host::kExitOption, {seed->value});
        run.seed = static_cast<std::int64_t>(std::trunc(seed->number));
    } else {
        // Without SEED= a later step continues the stream an earlier step left.
        run.seed = carried;
    }
    support::zranms(run.seed, 1);
    run.seedLive = run.seed;
    carried = run.seed;
}

} // namespace velloc
