// vlcg: the procedure's grammar as data for the host parser.
#include <initializer_list>

#include "statements/statements.h"

namespace velloc {

namespace {

using host::OptionSpec;
using host::Positional;
using host::StatementSpec;
using host::ValueKind;

OptionSpec opt(const char* name, ValueKind kind = ValueKind::Flag,
               std::initializer_list<const char*> aliases = {}) {
    OptionSpec s;
    s.name = name;
    s.kind = kind;
    for (const char* a : aliases)
        s.aliases.emplace_back(a);
    return s;
}

OptionSpec withPre(OptionSpec s, std::vector<OptionSpec> pre) {
    s.pre = std::move(pre);
    return s;
}

OptionSpec choice(const char* name, ValueKind kind, std::vector<OptionSpec> choices,
                  std::initializer_list<const char*> aliases = {}) {
    OptionSpec s = opt(name, kind, aliases);
    s.choices = std::move(choices);
    return s;
}

OptionSpec withPost(OptionSpec s, std::vector<OptionSpec> post) {
    s.post = std::move(post);
    return s;
}

// The data set options of a delimited text file: DATA='x.txt'(DELIMITER=';' ...).
std::vector<OptionSpec> csvDialect() {
    return {opt("DELIMITER", ValueKind::Text), opt("ENCODING", ValueKind::Text),
            opt("MISSING", ValueKind::TextList)};
}

OptionSpec yesNo(const char* name) {
    return choice(name, ValueKind::Choice, {opt("YES"), opt("NO")});
}

OptionSpec psLpsList(const char* name, std::initializer_list<const char*> aliases = {}) {
    OptionSpec s = opt(name, ValueKind::VarList, aliases);
    s.psLpsItems = true;
    return s;
}

// Names not in the data set are reported by the MATCH statement as data errors.
OptionSpec mahVarList() {
    OptionSpec s = opt("VAR", ValueKind::VarList);
    s.keepUnknown = true;
    return s;
}

// THRESHOLD=(STDDIFF=d VARRATIO=r) of the balance summary.
OptionSpec threshold() {
    OptionSpec s = opt("THRESHOLD", ValueKind::Group);
    s.group = {opt("STDDIFF", ValueKind::Number), opt("VARRATIO", ValueKind::Number)};
    return s;
}

OptionSpec scoreChoice() {
    return choice("DISTANCE", ValueKind::Choice, {opt("PS"), opt("LPS")}, {"STAT"});
}

OptionSpec multChoice() {
    return choice("MULT", ValueKind::Choice, {opt("ONE"), opt("STDDEV")});
}

OptionSpec extendOption() {
    OptionSpec s = withPre(opt("EXTEND", ValueKind::NumberOrGroup), {scoreChoice(), multChoice()});
    s.group = {opt("LOWER", ValueKind::Number), opt("UPPER", ValueKind::Number)};
    return s;
}

std::vector<OptionSpec> controlLimits() {
    return {opt("KMEAN", ValueKind::Number), opt("PCTCONTROL", ValueKind::Number, {"PCTCTRL"}),
            opt("NCONTROL", ValueKind::Number, {"NCTRL"})};
}

std::vector<OptionSpec> plus(std::vector<OptionSpec> a, const std::vector<OptionSpec>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

OptionSpec orderOption() {
    return choice("ORDER", ValueKind::Choice,
                  {opt("ASCENDING"), opt("DESCENDING"), opt("DATA"),
                   withPre(opt("RANDOM"), {opt("SEED", ValueKind::Number)})});
}

OptionSpec treatedOption() {
    return choice("TREATED", ValueKind::TextOrChoice, {opt("FIRST"), opt("LAST")});
}

std::vector<OptionSpec> plotVars() {
    return {psLpsList("DISPLAY"), opt("LPS"), opt("PS"), psLpsList("VAR")};
}

OptionSpec weightRequest(bool assess) {
    OptionSpec ate = withPre(opt("ATEWGT"), {yesNo("STABILIZE")});
    if (!assess) return choice("WEIGHT", ValueKind::Choice, {ate, opt("ATTWGT")});
    return choice("WEIGHT", ValueKind::Choice,
                  {ate, opt("ATTWGT"), opt("MATCHWGT", ValueKind::Flag, {"MATCHATTWGT"}),
                   opt("MATCHATEWGT"), opt("NONE")});
}

OptionSpec stratumWeight() {
    return choice("STRATUMWEIGHT", ValueKind::Choice, {opt("TOTAL"), opt("TREATED")},
                  {"STRATUMWGT"});
}

// The procedure statement: the parser enters it through PROC VELLOC.
StatementSpec procStatement() {
    StatementSpec proc;
    proc.name = "VELLOC";
    proc.options = {
        withPost(opt("DATA", ValueKind::DataSet), csvDialect()),
        choice("REGION", ValueKind::Choice,
               {withPre(opt("ALLOBS"),
                        {opt("PSMIN", ValueKind::Number), opt("PSMAX", ValueKind::Number)}),
                withPre(opt("CS"), {extendOption()}), withPre(opt("TREATED"), {extendOption()})})};
    return proc;
}

// The statements that name variables: BY, CLASS, FREQ, ID, PSMODEL and PSDATA.
std::vector<StatementSpec> variableStatements() {
    StatementSpec by;
    by.name = "BY";
    by.positional = Positional::ByList;
    by.after = {opt("NOTSORTED")};

    StatementSpec cls;
    cls.name = "CLASS";
    cls.aliases = {"CLASSES"};
    cls.positional = Positional::VarList;

    StatementSpec freq;
    freq.name = "FREQ";
    freq.positional = Positional::Var;

    StatementSpec id;
    id.name = "ID";
    id.positional = Positional::VarList;

    StatementSpec model;
    model.name = "PSMODEL";
    model.positional = Positional::Special;
    model.after = {opt("WEIGHT", ValueKind::Var)};

    StatementSpec psdata;
    psdata.name = "PSDATA";
    OptionSpec treatvar = opt("TREATVAR", ValueKind::Var);
    treatvar.post = {treatedOption()};
    psdata.options = {treatvar, opt("PS", ValueKind::Var), opt("LPS", ValueKind::Var)};
    return {by, cls, freq, id, model, psdata};
}

StatementSpec matchStatement() {
    StatementSpec match;
    match.name = "MATCH";
    OptionSpec k = opt("K", ValueKind::Number);
    match.options = {
        choice("METHOD", ValueKind::Choice,
               {withPre(opt("GREEDY"), {k, orderOption()}),
                withPre(opt("REPLACE"), {k, orderOption()}),
                withPre(opt("OPTIMAL"), plus({k}, controlLimits())),
                withPre(opt("VARRATIO"),
                        plus({opt("KMIN", ValueKind::Number), opt("KMAX", ValueKind::Number)},
                             controlLimits())),
                withPre(opt("FULL"), plus({opt("KMAX", ValueKind::Number),
                                           opt("KMAXTREATED", ValueKind::Number, {"KMAXTRT"})},
                                          controlLimits()))}),
        choice("DISTANCE", ValueKind::Choice,
               {opt("PS"), opt("LPS"),
                withPre(opt("MAH"), {mahVarList(), opt("LPS"), opt("PS"),
                                     choice("COV", ValueKind::Choice,
                                            {opt("CONTROL"), opt("POOLED"), opt("IDENTITY")}),
                                     yesNo("SQRT")})},
               {"STAT"}),
        withPre(opt("CALIPER", ValueKind::NumberOrMissing), {scoreChoice(), multChoice()}),
        opt("EXACT", ValueKind::VarList),
        choice(
            "WEIGHT", ValueKind::Choice,
            {opt("NONE"), opt("MATCHWGT", ValueKind::Flag, {"MATCHATTWGT"}), opt("MATCHATEWGT")}),
        opt("NMATCHMOST", ValueKind::Number)};
    return match;
}

StatementSpec strataStatement() {
    StatementSpec strata;
    strata.name = "STRATA";
    strata.options = {opt("NSTRATA", ValueKind::Number),
                      choice("KEY", ValueKind::Choice, {opt("TREATED"), opt("TOTAL")}),
                      stratumWeight()};
    return strata;
}

StatementSpec psweightStatement() {
    StatementSpec psweight;
    psweight.name = "PSWEIGHT";
    psweight.options = {weightRequest(false), opt("NLARGESTWGT", ValueKind::Number)};
    return psweight;
}

StatementSpec assessStatement() {
    StatementSpec assess;
    assess.name = "ASSESS";
    assess.options = {opt("ALLCOV"), opt("LPS"), opt("PS"), psLpsList("VAR")};
    OptionSpec allobs = yesNo("ALLOBS");
    OptionSpec plots = choice(
        "PLOTS", ValueKind::ChoiceList,
        {opt("ALL"), opt("NONE"),
         withPre(opt("STDDIFF", ValueKind::Flag, {"STDDIFFPLOT"}), {opt("REF", ValueKind::Number)}),
         withPre(opt("BOXPLOT", ValueKind::Flag, {"BOX"}), plotVars()),
         withPre(opt("CDFPLOT", ValueKind::Flag, {"CDF"}), plotVars()),
         withPre(opt("CLOUDPLOT", ValueKind::Flag, {"CLOUD"}), plotVars()),
         withPre(opt("BARCHART", ValueKind::Flag, {"BAR"}),
                 {opt("DISPLAY", ValueKind::VarList), opt("VAR", ValueKind::VarList),
                  choice("TYPE", ValueKind::Choice, {opt("PROP"), opt("FREQ")})}),
         withPre(opt("WGTCLOUD", ValueKind::Flag, {"WGTCLOUDPLOT"}),
                 {opt("REF", ValueKind::Number)})},
        {"PLOT"});
    plots.pre = {opt("ONLY"),
                 choice("ORIENT", ValueKind::Choice, {opt("HORIZONTAL"), opt("VERTICAL")}),
                 opt("NODETAILS", ValueKind::Flag, {"NODETAIL"})};
    plots.valueOptional = true;
    assess.after = {opt("VARINFO"),
                    choice("STDDEV", ValueKind::Choice,
                           {withPre(opt("POOLED"), {allobs}), withPre(opt("TREATED"), {allobs})},
                           {"STDDIFFDIV"}),
                    yesNo("STDBINVAR"),
                    weightRequest(true),
                    opt("NLARGESTWGT", ValueKind::Number),
                    opt("NMATCHMOST", ValueKind::Number),
                    stratumWeight(),
                    choice("LEVELS", ValueKind::Choice, {opt("ALL"), opt("FIRST")}),
                    threshold(),
                    plots};
    return assess;
}

StatementSpec outputStatement() {
    StatementSpec output;
    output.name = "OUTPUT";
    output.options = {
        withPre(opt("OUT", ValueKind::DataSet),
                {choice("OBS", ValueKind::Choice,
                        {opt("ALL", ValueKind::Flag, {"ALLOBS"}), opt("REGION"), opt("MATCH")})}),
        opt("PS", ValueKind::Name),
        opt("LPS", ValueKind::Name),
        opt("WEIGHT", ValueKind::Name),
        withPre(opt("ATEWGT", ValueKind::Name), {yesNo("STABILIZE")}),
        opt("ATTWGT", ValueKind::Name),
        opt("MATCHWGT", ValueKind::Name, {"MATCHATTWGT"}),
        opt("MATCHATEWGT", ValueKind::Name),
        opt("MATCHID", ValueKind::NameList),
        opt("STRATA", ValueKind::Name)};
    return output;
}

StatementSpec effectStatement() {
    StatementSpec effect;
    effect.name = "EFFECT";
    effect.options = {opt("OUTCOME", ValueKind::VarList)};
    effect.after = {
        choice("ESTIMAND", ValueKind::Choice, {opt("ATT"), opt("ATE"), opt("ATC")}),
        choice("MEASURE", ValueKind::Choice, {opt("DIFF"), opt("RATIO"), opt("ODDSRATIO")}),
        opt("COVARIATES", ValueKind::VarList),
        choice("SE", ValueKind::Choice,
               {opt("ROBUST"), opt("CLUSTER"),
                withPre(opt("BOOTSTRAP"),
                        {opt("NREP", ValueKind::Number), opt("SEED", ValueKind::Number)})}),
        opt("ALPHA", ValueKind::Number)};
    return effect;
}

// The whole vocabulary, for suggestions and checks, and the secondary forms.
void vocabulary(host::Grammar& g) {
    g.keywords = {"ALL",         "ALLCOV",       "ALLOBS",      "ASCENDING",   "ASSESS",
                  "ATEWGT",      "ATTWGT",       "BAR",         "BARCHART",    "BOX",
                  "BOXPLOT",     "BY",           "CALIPER",     "CDF",         "CDFPLOT",
                  "CHAR",        "CHARACTER",    "CLASS",       "CLOUD",       "CLOUDPLOT",
                  "CONTROL",     "COV",          "CS",          "DATA",        "DESCENDING",
                  "DISPLAY",     "DISTANCE",     "EQUAL",       "EXACT",       "EXTEND",
                  "FIRST",       "FREQ",         "FULL",        "GREEDY",      "HORIZONTAL",
                  "ID",          "IDENTITY",     "K",           "KEY",         "KMAX",
                  "KMAXTREATED", "KMEAN",        "KMIN",        "LAST",        "LOWER",
                  "LPS",         "MAH",          "MATCH",       "MATCHATEWGT", "MATCHATTWGT",
                  "MATCHID",     "MATCHWGT",     "METHOD",      "MULT",        "NCONTROL",
                  "NLARGESTWGT", "NMATCHMOST",   "NO",          "NODETAILS",   "NONE",
                  "NOTSORTED",   "NSTRATA",      "NUMERIC",     "OBS",         "ONE",
                  "ONLY",        "OPTIMAL",      "ORDER",       "ORIENT",      "OUT",
                  "OUTPUT",      "PCTCONTROL",   "PLOTS",       "POOLED",      "PROP",
                  "PS",          "PSDATA",       "PSMAX",       "PSMIN",       "PSMODEL",
                  "PSWEIGHT",    "RANDOM",       "REF",         "REGION",      "REPLACE",
                  "SEED",        "SQRT",         "STABILIZE",   "STABILIZED",  "STDBINVAR",
                  "STDDEV",      "STDDIFF",      "STDDIFFPLOT", "STRATA",      "STRATUMWEIGHT",
                  "TOTAL",       "TREATED",      "TREATVAR",    "TYPE",        "UPPER",
                  "VAR",         "VARINFO",      "VARRATIO",    "VERTICAL",    "WEIGHT",
                  "WGTCLOUD",    "WGTCLOUDPLOT", "YES",         "_ALL_",       "_CHARACTER_",
                  "_CHAR_",      "_NUMERIC_",    "KMAXTRT",     "EFFECT",      "OUTCOME",
                  "ESTIMAND",    "ATT",          "ATE",         "ATC",         "MEASURE",
                  "DIFF",        "RATIO",        "ODDSRATIO",   "COVARIATES",  "SE",
                  "ROBUST",      "CLUSTER",      "BOOTSTRAP",   "NREP",        "ALPHA",
                  "LEVELS",      "THRESHOLD",    "DELIMITER",   "ENCODING",    "MISSING"};
    g.secondary = {"CLASSES", "NCTRL", "NODETAIL",   "PCTCTRL",
                   "PLOT",    "STAT",  "STDDIFFDIV", "STRATUMWGT"};
}

host::Grammar build() {
    host::Grammar g;
    // The procedure statement comes first.
    g.statements.push_back(procStatement());
    for (StatementSpec& s : variableStatements())
        g.statements.push_back(std::move(s));
    g.statements.push_back(matchStatement());
    g.statements.push_back(strataStatement());
    g.statements.push_back(psweightStatement());
    g.statements.push_back(assessStatement());
    g.statements.push_back(outputStatement());
    g.statements.push_back(effectStatement());
    vocabulary(g);
    return g;
}

} // namespace

const host::Grammar& vlcg() {
    static const host::Grammar grammar = build();
    return grammar;
}

} // namespace velloc
