// vlcinit: parses the step's statements and fills the run context, in a fixed order so that
// every later option can rely on the ones before it.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>

#include <fmt/format.h>

#include "core/run_context.h"
#include "effect/effect.h"
#include "host/host.h"
#include "input/input.h"
#include "model/levelize.h"
#include "numeric/random.h"
#include "options/options.h"
#include "options/options_messages.h"
#include "statements/statements.h"

namespace velloc {

namespace {

// Parser callbacks: the statement check, the PSMODEL effect parser and the input data set,
// which is opened as soon as the procedure statement has been read so that every later
// variable name resolves against it.
class Hooks : public host::ParserHooks {
  public:
    explicit Hooks(VlcRun& run) : run_(run) {}
    int statementStart(host::Parser& p, Statement& st) override { return bcheck(run_, p, st); }
    void statementEnd(host::Parser&, Statement& st) override {
        if (st.keyword != "VELLOC" || run_.inData) return;
        const host::ParsedOption* data = st.find("DATA");
        if (!data) return;
        std::string path = host::Session::current().resolveDataSet(data->value, data->quoted);
        if (path.empty()) host::xexit(host::kExitDataSet);
        const host::ParsedOption* delim = st.find("DATA/DELIMITER");
        const host::ParsedOption* enc = st.find("DATA/ENCODING");
        const host::ParsedOption* miss = st.find("DATA/MISSING");
        try {
            host::CsvDialect dialect =
                host::makeCsvDialect("PROC VELLOC", "DATA", delim ? &delim->value : nullptr,
                                     enc ? &enc->value : nullptr, miss ? &miss->names : nullptr);
            // Only a file read as delimited text has a dialect; others keep the session's way.
            run_.inDataOwned = dialect.isDefault() ? host::Session::current().openDataSet(path)
                                                   : host::Dataset::open(path, dialect);
        } catch (const host::DataSetError&) {
            host::xexit(host::kExitDataSet);
        }
        run_.inData = run_.inDataOwned.get();
    }
    bool parseSpecial(host::Parser& p, Statement& st) override { return parseModel(p, st); }
    const host::Dataset* dataset() const override { return run_.inData; }

  private:
    VlcRun& run_;
};

// A variable whose values the step computes with (a frequency, weight or score): numeric, every
// value finite; the faults name the cell or the variable.
void requireNumeric(const VlcRun& run, int var, const char* user) {
    host::refuseUnusableCells(*run.inData, var, user);
    if (run.inData->var(var).type == host::VarType::Character)
        fatal(kMsgCharacterVariable, host::kExitDataSet, {run.inData->var(var).name, user});
}

// What a program repeats is read once, the first time: each repeat a user may have meant to
// count gets a warning instead of passing silently.
void repeatsIgnored(VlcRun& run) {
    for (const char* kw :
         {"PSDATA", "PSWEIGHT", "MATCH", "STRATA", "ASSESS", "FREQ", "BY", "ID", "CLASS"}) {
        bool seen = false;
        for (const Statement& st : run.statements) {
            if (st.keyword != kw) continue;
            if (seen) {
                warn(run, kMsgLaterStatementsIgnored, {kw, std::to_string(st.line)});
                break;
            }
            seen = true;
        }
    }
    for (const Statement& st : run.statements) {
        std::set<std::string_view> seen, warned;
        for (const host::ParsedOption& o : st.options) {
            if (seen.insert(o.path).second || !warned.insert(o.path).second) continue;
            const host::ParsedOption& first = *st.find(o.path); // the one in force
            const std::string value = first.hasNumber()      ? fmt::format("{}", first.number)
                                      : !first.value.empty() ? first.value
                                      : first.names.empty()  ? first.written
                                                             : first.names.front();
            warn(run, kMsgOptionRepeated,
                 {st.keyword, std::to_string(st.line), first.written + "=", value});
        }
    }
}

void byFreqId(VlcRun& run) {
    const host::Dataset& ds = *run.inData;
    std::vector<host::ByKey> keys;
    if (const Statement* by = firstStatement(run, "BY")) {
        for (std::size_t i = 0; i < by->vars.size(); ++i) {
            run.byVars.push_back(varRef(run, by->vars[i]));
            run.byDescending.push_back(by->descending[i]);
            keys.push_back({by->vars[i], static_cast<bool>(by->descending[i])});
        }
        run.byNotSorted = by->has("NOTSORTED");
    }
    run.inData->setBy(std::move(keys), run.byNotSorted);
    if (const Statement* f = firstStatement(run, "FREQ")) {
        run.freqVar = varRef(run, f->vars.front());
        if (run.matchGiven) fatal(kMsgFreqWithMatch, host::kExitOption, {run.freqVar.name});
        requireNumeric(run, f->vars.front(), "FREQ");
    }
    if (const Statement* id = firstStatement(run, "ID")) {
        for (std::size_t i = 0; i < id->vars.size(); ++i) {
            if (run.idVars.size() == 5) {
                warn(run, kMsgIdVariablesMax, {id->names[i]});
                break;
            }
            IdVar v;
            v.var = varRef(run, id->vars[i]);
            const host::Variable& d = ds.var(id->vars[i]);
            v.width = d.formatWidth > 0 ? d.formatWidth : d.length;
            run.idVars.push_back(v);
        }
        run.nId = static_cast<int>(run.idVars.size());
    }
}

void classVariables(VlcRun& run) {
    const host::Dataset& ds = *run.inData;
    const Statement* cls = firstStatement(run, "CLASS");
    if (!cls) return;
    for (std::size_t i = 0; i < cls->vars.size(); ++i) {
        int n = cls->vars[i];
        if (classIndex(run, n) >= 0) continue; // listed twice
        const host::Variable& d = ds.var(n);
        if (isPsLpsName(d.name)) fatal(kMsgReservedScoreName, host::kExitOption, {"CLASS", d.name});
        ClassVar c;
        c.var = varRef(run, n);
        if (d.formatWidth > 0) {
            c.width = d.formatWidth;
        } else if (d.type == host::VarType::Character) {
            c.width = d.length;
        } else {
            c.width = 12;
            c.numericUnformatted = true;
        }
        c.offset = run.classBufBytes;
        run.classBufBytes += c.width;
        if (d.type == host::VarType::Character) {
            c.rawOffset = run.classRawBytes;
            run.classRawBytes += d.length;
        }
        run.classVars.push_back(c);
    }
}

void setTreatment(VlcRun& run, int var, const host::ParsedOption* treated) {
    run.treatClass = classIndex(run, var);
    std::string name = run.inData->var(var).name;
    if (run.treatClass < 0) fatal(kMsgTreatmentNotClass, host::kExitOption, {name});
    run.treatName = name.substr(0, 32);
    if (!treated) return;
    if (!treated->quoted) {
        run.treatedLast = treated->value == "LAST";
        return;
    }
    std::string text = treated->value;
    std::size_t b = text.find_first_not_of(' ');
    text = b == std::string::npos ? std::string() : text.substr(b);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    if (text.size() > 76) text.resize(76);
    run.treatedTextLen = static_cast<int>(text.size());
    run.treatedText = text + std::string(76 - text.size(), ' ');
}

void treatmentAndScore(VlcRun& run) {
    const Statement* psdata = firstStatement(run, "PSDATA");
    if (psdata) {
        run.psSupplied = 1;
        const host::ParsedOption* tv = psdata->find("TREATVAR");
        if (!tv) fatal(kMsgPsdataNeedsTreatvar, host::kExitOption);
        const host::ParsedOption* ps = psdata->find("PS");
        const host::ParsedOption* lps = psdata->find("LPS");
        if (!ps && !lps) fatal(kMsgPsdataNeedsScore, host::kExitOption);
        if (ps && lps) warn(run, kMsgPsdataBothScores);
        run.psSource = ps ? 100 : 101;
        run.psVar = varRef(run, (ps ? ps : lps)->vars.front());
        requireNumeric(run, run.psVar.number, ps ? "PSDATA PS=" : "PSDATA LPS=");
        if (run.psmodel) {
            warn(run, kMsgModelAndData);
            run.psSupplied = 0;
        } else {
            setTreatment(run, tv->vars.front(), psdata->find("TREATVAR/TREATED"));
        }
    } else if (!run.psmodel) {
        fatal(kMsgNoModelNorData, host::kExitOption);
    }
    if (run.psmodel) {
        setTreatment(run, run.psmodel->vars.front(), run.psmodel->find("TREATED"));
        if (const host::ParsedOption* w = run.psmodel->find("WEIGHT")) {
            run.weightVar = varRef(run, w->vars.front());
            requireNumeric(run, run.weightVar.number, "PSMODEL WEIGHT=");
        }
    }
}

void analysisVariables(VlcRun& run) {
    if (run.psSupplied || !run.psmodel) return;
    // An indicator squared is itself: a CLASS variable repeated in a crossing counts once
    // (c*c is c, x*c*c is x*c), and an effect that then repeats an earlier one adds nothing.
    // A repeated continuous variable stays, as its power.
    run.effects.clear();
    for (Effect e : run.psmodel->effects) {
        for (std::vector<int>* list : {&e.vars, &e.nested}) {
            std::vector<int> kept;
            for (int v : *list)
                if (classIndex(run, v) < 0 || std::find(kept.begin(), kept.end(), v) == kept.end())
                    kept.push_back(v);
            *list = std::move(kept);
        }
        if (std::find(run.effects.begin(), run.effects.end(), e) == run.effects.end())
            run.effects.push_back(std::move(e));
    }
    for (const Effect& e : run.effects) {
        std::vector<int> all = e.vars;
        all.insert(all.end(), e.nested.begin(), e.nested.end());
        for (int v : all) {
            if (classIndex(run, v) >= 0 || analysisIndex(run, v) >= 0) continue;
            host::refuseUnusableCells(*run.inData, v, "PSMODEL");
            if (run.inData->var(v).type == host::VarType::Character) {
                fatal(kMsgCharacterVariable, host::kExitDataSet,
                      {run.inData->var(v).name, "PSMODEL"});
            }
            run.analysisVars.push_back(varRef(run, v));
        }
    }
    run.nModelCont = static_cast<int>(run.analysisVars.size());
}

// Hands the CLASS variables and the PSMODEL effects to the levelization library; a model it
// refuses is an option error of the step.
void registerModel(VlcRun& run) {
    if (zlevmod(run.model, modelDefinition(run)) != 0) host::xexit(host::kExitOption);
}

void openUtilityFiles(VlcRun& run) {
    auto open = [](std::unique_ptr<host::UtilFile>& f, const char* name) {
        try {
            f = std::make_unique<host::UtilFile>(name);
        } catch (const std::exception&) {
            fatal(kMsgUtilityFileOpen, host::kExitUtilityFile, {name});
        }
    };
    struct Slot {
        std::unique_ptr<host::UtilFile> VlcRun::*file;
        const char* name;
        bool cdfOnly; // only the CDF plots use it
    };
    static const Slot kFiles[] = {
        {&VlcRun::vlcskip, "VLCSKIP", false},   {&VlcRun::vlcdata, "VLCDATA", false},
        {&VlcRun::vlclreg, "VLCLREG", false},   {&VlcRun::vlcvout, "VLCVOUT", false},
        {&VlcRun::vlctreat, "VLCTREAT", false}, {&VlcRun::vlccntl, "VLCCNTL", false},
        {&VlcRun::vlctemp, "VLCTEMP", false},   {&VlcRun::vlccdft, "VLCCDFT", true},
        {&VlcRun::vlccdfc, "VLCCDFC", true},    {&VlcRun::vlccdfb, "VLCCDFB", true},
        {&VlcRun::vlctmtrt, "VLCTMTRT", true},  {&VlcRun::vlctmcnt, "VLCTMCNT", true},
        {&VlcRun::vlctmstr, "VLCTMSTR", true}};
    for (const Slot& f : kFiles)
        if (!f.cdfOnly || run.plotCdf) open(run.*f.file, f.name);
}

void columnWidths(VlcRun& run) {
    auto len = [](int number) {
        return static_cast<int>(host::wkread(host::kGroupProc, number).size());
    };
    for (int code : {run.distance, run.method, run.regionType, run.weightType, run.outObs,
                     run.matchOrder, run.ratioType > 0 ? run.ratioType : 112})
        run.valueWidth = std::max(run.valueWidth, len(code));
    run.valueWidth = std::min(run.valueWidth, 32);
    auto name = [&](const std::string& n) {
        run.nameWidth = std::max(run.nameWidth, static_cast<int>(n.size()));
    };
    name(run.treatName);
    for (const VarRef& v : run.analysisVars)
        name(v.name);
    for (const ClassVar& c : run.classVars)
        name(c.var.name);
    run.nameWidth = std::min(run.nameWidth, 20);
    run.labelWidth = std::max({len(100), len(101), len(57), len(60), len(63)});
}

} // namespace

void vlcinit(VlcRun& run, const StepSource& step) {
    addFrameMessages();
    // The statements, parsed against the grammar.
    host::SessionOptions& opts = host::Session::current().options;
    Hooks hooks(run);
    host::Parser parser(vlcg(), step.text, step.firstLine, step.firstColumn, hooks, step.fileName);
    parser.traceSyntax = opts.traceSyntax;
    parser.traceSemantic = opts.traceSemantic;
    run.statements = parser.parse();
    if (parser.errors() > 0) host::xexit(parser.errors());

    // Defaults the options below may change.
    run.status = 0;
    run.treatNameWidth = 12;
    run.levelTextWidth = 18;

    // Statements that may appear once.
    if (countStatements(run, "PSMODEL") > 1)
        fatal(kMsgOneStatementOnly, host::kExitOption, {"PSMODEL"});
    run.psmodel = firstStatement(run, "PSMODEL");
    if (countStatements(run, "OUTPUT") > 1) warn(run, kMsgOneOutputStatement);
    run.output = firstStatement(run, "OUTPUT");
    repeatsIgnored(run);

    // Matching (with its order, seed and caliper), region and strata options.
    matchOptions(run);
    regionOptions(run);
    seedOption(run);
    strataOptions(run);

    // The input data set, and the output data set with the observations it keeps.
    if (!run.inData) fatal(kMsgNoInputData, host::kExitDataSet);
    {
        std::string label = run.inData->label();
        if (label.find_first_not_of(' ') != std::string::npos) {
            host::xpmlog(host::kGroupProc, kMsgDataSetLabel, {label});
        }
    }
    if (run.output) {
        if (const host::ParsedOption* out = run.output->find("OUT")) {
            run.outDataName = out->value;
            run.outDataPath = host::Session::current().resolveDataSet(out->value, out->quoted);
            if (run.outDataPath.empty()) host::xexit(host::kExitOutputSetup);
            // The output is renamed over its target at the end: over the input it would
            // destroy the data (through any link or other spelling of the path).
            std::error_code same;
            if (std::filesystem::equivalent(run.outDataPath, run.inData->path(), same))
                fatal(kMsgOutIsInput, host::kExitOutputSetup, {run.inData->path()});
            const host::ParsedOption* obs = run.output->find("OUT/OBS");
            if (obs && obs->value == "REGION") {
                run.outObs = kOutRegion;
            } else if (obs && obs->value == "MATCH") {
                if (run.matchGiven) {
                    run.outObs = kOutMatched;
                } else {
                    warn(run, kMsgNeedsMatch, {"OBS=MATCHOBS"});
                }
            }
        }
    }

    // BY, FREQ, ID, CLASS, treatment, score and model variables.
    byFreqId(run);
    classVariables(run);
    treatmentAndScore(run);
    analysisVariables(run);

    // Matching variables, assessment, weights, effect and plots.
    exactAndMahOptions(run);
    assessOptions(run);
    weightOptions(run);
    effectOptions(run);
    run.graphicsOn = run.assessGiven && opts.graphics ? 1 : 0;
    plotOptions(run);
    if (run.plotCloud) {
        // The jitter stream of the cloud plot starts from 1, published as SYSRANDOM.
        run.cloudSeed = 1;
        support::zranms(run.cloudSeed, 1);
        run.cloudSeedLive = run.cloudSeed;
    }
    columnWidths(run);

    // The model.
    registerModel(run);

    // Output data set variables.
    if (!run.outDataPath.empty() && vlcvout(run) != 0) host::xexit(host::kExitOutputSetup);

    // Utility files.
    openUtilityFiles(run);
}

} // namespace velloc
