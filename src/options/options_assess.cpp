// ASSESS variables and tables, the weight kind, the extreme-weight listings and the plots.
#include <algorithm>

#include "options/options.h"

namespace velloc {

namespace {

int assessedCont(const VlcRun& run, int varNumber) {
    for (std::size_t i = 0; i < run.assessCont.size(); ++i)
        if (run.analysisVars[run.assessCont[i]].number == varNumber) return static_cast<int>(i);
    return -1;
}

int assessedClass(const VlcRun& run, int varNumber) {
    for (std::size_t i = 0; i < run.assessClass.size(); ++i)
        if (run.classVars[run.assessClass[i].classIndex].var.number == varNumber)
            return static_cast<int>(i);
    return -1;
}

void assessVariable(VlcRun& run, int v, bool fromVarList, const std::string& name) {
    int c = classIndex(run, v);
    if (c >= 0) {
        if (c == run.treatClass) {
            if (fromVarList) warn(run, kMsgAssessVarTreatment, {name});
            return;
        }
        if (assessedClass(run, v) < 0) run.assessClass.push_back({c, 0});
        return;
    }
    host::refuseUnusableCells(*run.inData, v, "ASSESS VAR=");
    if (run.inData->var(v).type == host::VarType::Character)
        fatal(kMsgAssessVarCharacter, host::kExitOption, {name});
    if (assessedCont(run, v) >= 0) return;
    if (analysisIndex(run, v) < 0) run.analysisVars.push_back(varRef(run, v));
    run.assessCont.push_back(analysisIndex(run, v));
}

// LEVELS= and THRESHOLD=: how CLASS variables are shown and where balance is judged wanting.
void assessDisplayOptions(VlcRun& run, const Statement& a) {
    BalanceSettings& set = run.balance.settings;
    if (const host::ParsedOption* l = a.find("LEVELS")) set.allLevels = l->value == "ALL";
    if (const host::ParsedOption* t = a.find("THRESHOLD/STDDIFF")) {
        if (!(t->number > 0))
            fatal(kMsgOptionValue, host::kExitOption, {"STDDIFF=", "greater than 0", t->value});
        set.stdDiffThreshold = t->number;
    }
    if (const host::ParsedOption* t = a.find("THRESHOLD/VARRATIO")) {
        if (!(t->number > 1))
            fatal(kMsgOptionValue, host::kExitOption, {"VARRATIO=", "greater than 1", t->value});
        set.varRatioThreshold = t->number;
    }
}

// An option that both the ASSESS statement and another statement take: the ASSESS one wins,
// with warning msg when both give it.
const host::ParsedOption* assessFirst(VlcRun& run, const Statement* assess, const Statement* other,
                                      const char* name, int msg) {
    const host::ParsedOption* inOther = other ? other->find(name) : nullptr;
    const host::ParsedOption* inAssess = assess ? assess->find(name) : nullptr;
    if (inOther && inAssess) warn(run, msg);
    return inAssess ? inAssess : inOther;
}

} // namespace

void assessOptions(VlcRun& run) {
    const Statement* a = firstStatement(run, "ASSESS");
    // The PS row is always computed; it is shown only when assessed.
    run.assessPs = -1;
    run.nAssessRows = 1;
    run.balance.settings = BalanceSettings{};
    if (!a) return;
    run.assessGiven = 1;
    run.stdDiffTable = 1;
    run.assessPs = 0;
    run.varInfoTable = a->has("VARINFO") ? 1 : 0;
    if (const host::ParsedOption* sd = a->find("STDDEV")) {
        run.sdTreatedOnly = sd->value == "TREATED" ? 1 : 0;
        const host::ParsedOption* all = a->find("STDDEV/" + sd->value + "/ALLOBS");
        run.sdPerSet = all && all->value == "NO" ? 1 : 0;
    }
    if (const host::ParsedOption* b = a->find("STDBINVAR"))
        run.stdBinVar = b->value == "NO" ? 0 : 1;
    assessDisplayOptions(run, *a);
    if (a->has("LPS")) run.assessLps = 1;
    if (a->has("PS")) run.assessPs = 1;
    if (a->has("ALLCOV")) {
        if (!run.psmodel) {
            warn(run, kMsgAllcovNeedsModel);
        } else {
            run.allCov = 1;
            std::vector<int> seen;
            for (const Effect& e : run.psmodel->effects) {
                std::vector<int> all = e.vars;
                all.insert(all.end(), e.nested.begin(), e.nested.end());
                for (int v : all) {
                    if (std::find(seen.begin(), seen.end(), v) != seen.end()) continue;
                    seen.push_back(v);
                    const std::string& name = run.inData->var(v).name;
                    if (isPsLpsName(name)) {
                        warn(run, kMsgAllcovReservedName, {name});
                        continue;
                    }
                    assessVariable(run, v, false, name);
                }
            }
        }
    }
    if (const host::ParsedOption* vars = a->find("VAR")) {
        for (std::size_t i = 0; i < vars->vars.size(); ++i) {
            const std::string& name = vars->names[i];
            if (vars->vars[i] <= 0 || isPsLpsName(name)) {
                warn(run, kMsgAssessVarReserved, {name});
                continue;
            }
            assessVariable(run, vars->vars[i], true, name);
        }
    }
    run.nAssessCont = static_cast<int>(run.assessCont.size());
    if (run.assessCont.empty() && run.assessClass.empty() && !run.assessLps && !run.assessPs)
        run.assessPs = 1;
    if (run.assessPs == 0) run.assessPs = -1;
    run.nAssessRows =
        1 + run.assessLps + run.nAssessCont + static_cast<int>(run.assessClass.size());
}

void weightOptions(VlcRun& run) {
    const Statement* a = firstStatement(run, "ASSESS");
    const Statement* psw = firstStatement(run, "PSWEIGHT");
    const Statement* m = firstStatement(run, "MATCH");
    bool strata = run.nStrataReq > 0;
    const host::ParsedOption* aw = a ? a->find("WEIGHT") : nullptr;
    bool stab = a && a->find("WEIGHT/ATEWGT/STABILIZE") &&
                a->find("WEIGHT/ATEWGT/STABILIZE")->value == "YES";

    // First the assessment request.
    if (run.matchGiven) {
        run.weightType = kWeightMatch;
        if (aw) {
            const std::string& w = aw->value;
            if (w == "NONE")
                run.weightType = kWeightNone;
            else if (w == "MATCHATEWGT") {
                if (run.ratioType == kRatioFull)
                    run.weightType = kWeightMatchAte;
                else
                    warn(run, kMsgMatchAteNeedsFull, {"ASSESS"});
            } else if (w == "ATEWGT" || w == "ATTWGT") {
                warn(run, kMsgAssessWeightWithMatch, {w});
            }
        }
    } else if (strata) {
        run.weightType = kWeightNone;
        if (aw && aw->value != "NONE") warn(run, kMsgAssessWeightWithStrata, {aw->value});
    } else {
        run.weightType = kWeightAtt;
        if (aw) {
            const std::string& w = aw->value;
            if (w == "ATEWGT") {
                run.weightType = kWeightAte;
                run.stabilize = stab ? 1 : 0;
            } else if (w == "NONE") {
                run.weightType = kWeightNone;
            } else if (w == "MATCHWGT" || w == "MATCHATEWGT") {
                warn(run, kMsgAssessWeightNeedsMatch, {w});
            }
        }
    }

    // Then the statement-level requests.
    const host::ParsedOption* pw = psw ? psw->find("WEIGHT") : nullptr;
    if (pw) {
        if (run.matchGiven || strata) {
            warn(run, kMsgIgnoredMatchOrStrata, {"PSWEIGHT WEIGHT="});
        } else if (aw) {
            warn(run, kMsgPsweightWeightOverridden);
        } else if (pw->value == "ATEWGT") {
            run.weightType = kWeightAte;
            const host::ParsedOption* s = psw->find("WEIGHT/ATEWGT/STABILIZE");
            run.stabilize = s && s->value == "YES" ? 1 : 0;
        } else {
            run.weightType = kWeightAtt;
        }
    }
    if (const host::ParsedOption* mw = m ? m->find("WEIGHT") : nullptr) {
        if (mw->value == "NONE") {
            run.weightType = kWeightNone;
        } else if (mw->value == "MATCHATEWGT") {
            if (run.ratioType == kRatioFull) {
                run.weightType = kWeightMatchAte;
            } else {
                warn(run, kMsgMatchAteNeedsFull, {"MATCH"});
                run.weightType = kWeightMatch;
            }
        }
    }

    // Extreme-weight listings.
    if (const host::ParsedOption* nl =
            assessFirst(run, a, psw, "NLARGESTWGT", kMsgNlargestOverridden)) {
        run.nLargestWgt = static_cast<int>(wholeOption(*nl, "NLARGESTWGT=", 0, 1000000));
        if (run.nLargestWgt && (run.matchGiven || strata)) {
            warn(run, kMsgIgnoredMatchOrStrata, {"NLARGESTWGT="});
            run.nLargestWgt = 0;
        } else if (run.nLargestWgt && run.weightType == kWeightNone) {
            warn(run, kMsgIgnoredNoWeights, {"NLARGESTWGT="});
            run.nLargestWgt = 0;
        }
    }
    if (const host::ParsedOption* nm =
            assessFirst(run, a, m, "NMATCHMOST", kMsgNmatchmostOverridden)) {
        run.nLargestMatchWgt = static_cast<int>(wholeOption(*nm, "NMATCHMOST=", 0, 1000000));
        if (run.nLargestMatchWgt) {
            int msg = 0;
            if (!run.matchGiven)
                msg = kMsgNmatchmostNeedsMatch;
            else if (run.method == kMethodGreedy ||
                     (run.method == kMethodOptimal && run.ratioType == kRatioFixed))
                msg = kMsgNmatchmostNeedsMethod;
            else if (run.method == kMethodReplace && run.k > 1)
                msg = kMsgNmatchmostReplaceK;
            if (msg) {
                warn(run, msg);
                run.nLargestMatchWgt = 0;
            }
        }
    }
    run.listLength = std::max(run.nLargestWgt, run.nLargestMatchWgt);
    if (run.nId > 0 && run.listLength == 0) {
        warn(run, kMsgIdListingNotRequested, {run.matchGiven ? "NMATCHMOST=" : "NLARGESTWGT="});
        run.nId = 0;
        run.idVars.clear();
    }
    int text = 0;
    for (const IdVar& v : run.idVars) {
        if (v.var.type == host::VarType::Character)
            text += v.width;
        else
            ++run.idNumCount;
    }
    run.idTextBytes = (text + 7) / 8 * 8;
}

namespace {

// Selection of the rows a box, CDF or cloud plot shows.
void selectRows(VlcRun& run, const Statement& a, const std::string& plot, int& on,
                PlotSelection& sel) {
    if (!on) return;
    std::string base = "PLOTS/" + plot + "/";
    sel.vars.assign(run.assessCont.size(), 0);
    bool requested = false;
    auto psRow = [&](bool lps) {
        requested = true;
        if (lps ? run.assessLps > 0 : run.assessPs > 0)
            (lps ? sel.lps : sel.ps) = 1;
        else
            warn(run, kMsgPlotRowNotAssessed, {lps ? "LPS" : "PS", plot});
    };
    if (a.has(base + "LPS")) psRow(true);
    if (a.has(base + "PS")) psRow(false);
    for (const char* list : {"DISPLAY", "VAR"}) {
        const host::ParsedOption* o = a.find(base + list);
        if (!o) continue;
        for (std::size_t i = 0; i < o->vars.size(); ++i) {
            if (o->vars[i] <= 0) {
                psRow(o->names[i] == "LPS");
                continue;
            }
            requested = true;
            int c = assessedCont(run, o->vars[i]);
            if (c >= 0)
                sel.vars[c] = 1;
            else if (assessedClass(run, o->vars[i]) >= 0)
                warn(run, kMsgPlotNeedsContinuous, {o->names[i], plot});
            else
                warn(run, kMsgPlotRowNotAssessed, {o->names[i], plot});
        }
    }
    if (!requested) {
        sel.ps = run.assessPs > 0;
        sel.lps = run.assessLps > 0;
        std::fill(sel.vars.begin(), sel.vars.end(), 1);
    }
    bool any =
        sel.ps || sel.lps || std::find(sel.vars.begin(), sel.vars.end(), 1) != sel.vars.end();
    if (!any) on = 0;
}

void selectBars(VlcRun& run, const Statement& a) {
    if (!run.plotBar) return;
    run.barSel.vars.assign(run.assessClass.size(), 0);
    bool requested = false;
    for (const char* list : {"DISPLAY", "VAR"}) {
        const host::ParsedOption* o = a.find(std::string("PLOTS/BARCHART/") + list);
        if (!o) continue;
        for (std::size_t i = 0; i < o->vars.size(); ++i) {
            requested = true;
            int c = assessedClass(run, o->vars[i]);
            if (c >= 0)
                run.barSel.vars[c] = 1;
            else if (assessedCont(run, o->vars[i]) >= 0)
                warn(run, kMsgPlotNeedsClass, {o->names[i], "BARCHART"});
            else
                warn(run, kMsgPlotRowNotAssessed, {o->names[i], "BARCHART"});
        }
    }
    if (!requested) std::fill(run.barSel.vars.begin(), run.barSel.vars.end(), 1);
    if (std::find(run.barSel.vars.begin(), run.barSel.vars.end(), 1) == run.barSel.vars.end())
        run.plotBar = 0;
    if (const host::ParsedOption* t = a.find("PLOTS/BARCHART/TYPE"))
        run.barFreq = t->value == "FREQ";
}

} // namespace

void plotOptions(VlcRun& run) {
    const Statement* a = firstStatement(run, "ASSESS");
    if (!a) return;
    const host::ParsedOption* plots = a->find("PLOTS");
    const std::vector<std::string> none;
    const std::vector<std::string>& req = plots ? plots->names : none;
    auto asked = [&](const char* name) {
        return std::find(req.begin(), req.end(), name) != req.end();
    };
    if (!run.graphicsOn) {
        // PLOTS=NONE asks for nothing, so switched-off graphics lose nothing.
        if (plots && !asked("NONE")) {
            host::xpmlog(host::kGroupPlot, kMsgGraphicsOff);
            run.raise(4);
        }
        return;
    }
    if (const host::ParsedOption* o = a->find("PLOTS/ORIENT"))
        run.plotOrientation = o->value == "VERTICAL" ? 2 : 1;
    if (a->has("PLOTS/NODETAILS")) run.finalSetOnly = 1;
    if (const host::ParsedOption* r = a->find("PLOTS/STDDIFF/REF")) run.stdDiffRef = r->number;
    if (const host::ParsedOption* r = a->find("PLOTS/WGTCLOUD/REF")) run.wgtCloudRef = r->number;
    if (asked("NONE")) {
        // A note, not a warning: the user's intent is clear.
        if (req.size() > 1) host::xpmlog(host::kGroupPlot, kMsgPlotsNoneOverrides);
        return;
    }
    run.plotStdDiff = a->has("PLOTS/ONLY") ? 0 : 1;
    bool all = asked("ALL");
    if (all || asked("STDDIFF")) run.plotStdDiff = 1;
    if (all || asked("BOXPLOT")) run.plotBox = 1;
    if (all || asked("CDFPLOT")) run.plotCdf = 1;
    if (all || asked("BARCHART")) run.plotBar = 1;
    if (all || asked("CLOUDPLOT")) run.plotCloud = 1;
    bool wgtAllowed = !run.matchGiven && run.nStrataReq == 0 && run.weightType != kWeightNone;
    if (asked("WGTCLOUD")) {
        if (run.matchGiven || run.nStrataReq > 0)
            warn(run, kMsgIgnoredMatchOrStrata, {"PLOTS=WGTCLOUD"});
        else if (run.weightType == kWeightNone)
            warn(run, kMsgIgnoredNoWeights, {"PLOTS=WGTCLOUD"});
        else
            run.plotWgtCloud = 1;
    } else if (all && wgtAllowed) {
        run.plotWgtCloud = 1;
    }
    selectRows(run, *a, "BOXPLOT", run.plotBox, run.boxSel);
    selectRows(run, *a, "CDFPLOT", run.plotCdf, run.cdfSel);
    selectRows(run, *a, "CLOUDPLOT", run.plotCloud, run.cloudSel);
    selectBars(run, *a);
}

} // namespace velloc
