// The matching summary (MatchInfo) and the most-matched listing (MatchMostObs).
#include <cmath>
#include <string>
#include <vector>

#include "core/phases.h"
#include "core/run_context.h"
#include "match/match.h"
#include "render/dynamics.h"

namespace velloc {

namespace {

std::string text(int n) {
    return host::wkread(host::kGroupProc, n);
}

void addText(host::FactoidTable& t, int label, std::string value) {
    t.entries.push_back({text(label), host::Cell{std::move(value)}, {}});
}

void addCount(host::FactoidTable& t, int label, double value) {
    t.entries.push_back({text(label), host::Cell{value}, host::NumberFormat{0, 0}});
}

void addMeasure(host::FactoidTable& t, int label, double value) {
    t.entries.push_back({text(label), host::Cell{value}, host::NumberFormat{0, -1}});
}

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
}

// Offset of ID variable i among the numeric (or the packed text) ID values.
struct IdSlot {
    bool numeric;
    int offset; // value index or byte offset
    int width;
};

std::vector<IdSlot> idSlots(const VlcRun& run) {
    std::vector<IdSlot> out;
    int num = 0, bytes = 0;
    for (const IdVar& v : run.idVars) {
        if (v.var.type == host::VarType::Numeric) {
            out.push_back({true, num++, 0});
        } else {
            out.push_back({false, bytes, v.width});
            bytes += v.width;
        }
    }
    return out;
}

void defineMatchMost(VlcRun& run) {
    auto def = std::make_unique<host::TableDefinition>();
    def->name = "MatchMostObs";
    def->label = host::wkread(host::kGroupHostOutput, 12);
    def->templatePath = "Stat.Velloc.MatchMostObs";
    auto block = [&](const char* obs, const char* tmpl, const char* dyn, const char* count) {
        def->addColumn({obs, "", host::ColumnKind::Numeric, 0, {}, "", "", ""});
        for (const IdVar& v : run.idVars) {
            std::string name = host::xpmstr(host::kGroupProc, 75, {v.var.name});
            if (name.size() > 32) name.resize(32);
            // The best format: whole-number IDs print as integers (381, not 381.00000).
            host::ColumnDef c{name, name, host::ColumnKind::Numeric, 0, {}, tmpl, dyn, v.var.name};
            if (v.var.type == host::VarType::Character) {
                c.kind = host::ColumnKind::Character;
                c.width = v.width;
                c.format = {};
            }
            def->addColumn(c);
        }
        def->addColumn({count, "", host::ColumnKind::Numeric, 0, {}, "", "", ""});
    };
    if (run.method != kMethodReplace)
        block("TreatedObs", "TreatedID", "_idTreated", "MatchedControl");
    if (run.ratioType != kRatioVariable)
        block("ControlObs", "ControlID", "_idControl", "MatchedTreated");
    run.matchMostDef = std::move(def);
}

} // namespace

int vlctmtc(VlcRun& run, int matchOk) {
    host::FactoidTable t;
    t.name = "MatchInfo";
    t.label = host::wkread(host::kGroupHostOutput, 4);
    t.templatePath = "Stat.Velloc.MatchInfo";
    addText(t, 99, text(run.distance));
    if (run.distance == kScoreMahalanobis) addText(t, 103, text(run.mahCov));
    addText(t, 108, text(run.method == kMethodOptimal ? run.ratioType : run.method));
    if (run.method == kMethodOptimal) {
        if (run.ratioType == kRatioFixed) addCount(t, 115, run.k);
        if (run.ratioType == kRatioVariable) addCount(t, 117, run.kMin);
        if (run.ratioType == kRatioVariable || run.ratioType == kRatioFull)
            addCount(t, 116, run.kMax);
        if (run.ratioType == kRatioFull) addCount(t, 118, run.kMaxTreated);
    } else {
        addCount(t, 115, run.k);
        if (run.method == kMethodGreedy) {
            addText(t, 127, text(run.matchOrder));
            if (run.matchOrder == kOrderRandom) addCount(t, 132, static_cast<double>(run.seed));
        }
    }
    if (run.caliperOn) {
        addMeasure(t, run.caliperScale == kScorePs ? 119 : 120, run.caliperWidth);
        // The deviation is the one ASSESS STDDEV= chose for standardized differences, so a
        // display option moves the caliper: say which it is and what it came to.
        if (run.caliperMult) {
            addText(t, 920, text(run.sdTreatedOnly ? 923 : 922));
            addMeasure(t, 921, run.caliperScale == kScorePs ? run.sdPs : run.sdLps);
        }
    }
    if (matchOk) {
        addCount(t, 133, run.nSets);
        addCount(t, 134, run.balance.sets[kMatch].total[kTreated]);
        addCount(t, 135, run.balance.sets[kMatch].total[kControl]);
        addMeasure(t, 136, run.totalDistance);
    }
    int rc = run.procOutput->deliver(t);
    if (rc < 0) host::zodsexit(rc);
    return 0;
}

int vlctexm(VlcRun& run) {
    if (!run.matchMostDef) defineMatchMost(run);
    const host::TableDefinition& def = *run.matchMostDef;
    host::TableInstance inst;
    inst.definition = &def;
    inst.templatePath = def.templatePath;
    inst.dynamics = {{host::dyn::kTrtLevel, run.treatedLevel},
                     {host::dyn::kCntlLevel, run.controlLevel}};
    const std::vector<IdSlot> ids = idSlots(run);
    const bool showT = run.method != kMethodReplace, showC = run.ratioType != kRatioVariable;
    const int n = run.nLargestMatchWgt;
    for (int i = 0; i < n; ++i) {
        std::vector<host::Cell> row;
        bool any = false;
        auto block = [&](int g) {
            const VlcRun::TopList& list = run.mostMatched[g];
            bool filled = i < static_cast<int>(list.value.size()) && !(list.value[i] < 0.0);
            any = any || filled;
            row.emplace_back(filled ? list.obs[i] : kNaN);
            for (const IdSlot& s : ids) {
                if (s.numeric) {
                    double v =
                        filled ? list.idNum[static_cast<std::size_t>(i) * run.idNumCount + s.offset]
                               : kNaN;
                    row.emplace_back(v);
                } else {
                    std::string v;
                    if (filled)
                        v = trimRight(std::string(
                            &list.idText[static_cast<std::size_t>(i) * run.idTextBytes + s.offset],
                            static_cast<std::size_t>(s.width)));
                    row.emplace_back(v);
                }
            }
            row.emplace_back(filled ? list.value[i] : kNaN);
        };
        if (showT) block(kTreated);
        if (showC) block(kControl);
        if (!any) continue;
        inst.addRow(std::move(row));
    }
    int rc = run.procOutput->deliver(inst);
    if (rc < 0) host::zodsexit(rc);
    return 0;
}

} // namespace velloc
