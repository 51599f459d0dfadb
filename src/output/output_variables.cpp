// vlcvout: which variables the output data set gets, in order, with their labels.
#include "io/stat_dataset.h"
#include "options/options.h"

namespace velloc {

namespace {

std::string text(int number) {
    return host::wkread(host::kGroupProc, number);
}

const host::ParsedOption* opt(const Statement& s, const char* path) {
    return s.find(path);
}

} // namespace

int vlcvout(VlcRun& run) {
    const Statement& out = *run.output;
    run.outLabel = text(151);

    // Scores.
    if (opt(out, "PS"))
        run.outPs = 1;
    else if (run.psSource != kScorePs)
        run.outPs = 2;
    if (opt(out, "LPS")) run.outLps = 1;

    // The analysis weight.
    const host::ParsedOption* wgt = opt(out, "WEIGHT");
    if (wgt) {
        if (run.matchGiven) {
            if (run.weightType == kWeightNone)
                warn(run, kMsgOutWeightNoWeights);
            else if (run.weightType == kWeightMatch)
                run.outWgtMatch = 1;
            else
                run.outWgtMatchAte = 1;
        } else {
            if (run.nStrataReq > 0) warn(run, kMsgOutWeightWithStrata);
            if (run.weightType == kWeightNone)
                warn(run, kMsgOutWeightNoWeights);
            else if (run.weightType == kWeightAtt)
                run.outWgtAtt = 1;
            else {
                run.outWgtAte = 1;
                if (run.stabilize) run.outWgtAteStab = 1;
            }
        }
        run.outWgt = run.outWgtMatch || run.outWgtMatchAte || run.outWgtAtt || run.outWgtAte;
    }
    const host::ParsedOption* ate = opt(out, "ATEWGT");
    if (ate) {
        run.outAte = 1;
        const host::ParsedOption* s = opt(out, "ATEWGT/STABILIZE");
        if (s && s->value == "YES") run.outAteStab = 1;
    }
    const host::ParsedOption* att = opt(out, "ATTWGT");
    if (att) run.outAtt = 1;

    const host::ParsedOption* mw = opt(out, "MATCHWGT");
    const host::ParsedOption* maw = opt(out, "MATCHATEWGT");
    const host::ParsedOption* mid = opt(out, "MATCHID");
    if (!run.matchGiven) {
        if (mw) warn(run, kMsgNeedsMatch, {"MATCHWGT="});
        if (maw) warn(run, kMsgNeedsMatch, {"MATCHATEWGT="});
        if (mid) warn(run, kMsgNeedsMatch, {"MATCHID="});
        if (run.nStrataReq == 0 && !wgt && !ate && !att) {
            run.outWgtAtt = 2;
            run.outWgt = 2;
        }
    } else {
        if (mw) run.outMatchWgt = 1;
        if (maw) {
            if (run.ratioType == kRatioFull)
                run.outMatchAteWgt = 1;
            else
                warn(run, kMsgOutMatchAteNeedsFull);
        }
        if (!mw && !maw && !wgt) {
            run.outWgtMatch = 2;
            run.outWgt = 2;
        }
        if (mid) {
            run.matchIdNames = mid->names;
            run.nMatchIdVars = static_cast<int>(mid->names.size());
        }
    }
    const host::ParsedOption* st = opt(out, "STRATA");
    if (st && run.nStrataReq == 0)
        warn(run, kMsgOutStrataNeedsStrata);
    else if (st)
        run.outStrata = 1;
    else if (run.nStrataReq > 0)
        run.outStrata = 2;

    // The new variables, in output order. SPSS names cannot begin with an underscore, so in a
    // .sav file the default names drop it (PS_, ATTWGT_...); names the user gave stay as given.
    const bool spss = host::statKindFor(run.outDataPath) == host::StatKind::Sav;
    auto defaultName = [&](int id) {
        std::string name = text(id);
        return spss && name.front() == '_' ? name.substr(1) : name;
    };
    auto add = [&](std::string name, int label, int slot) {
        run.outVars.push_back({std::move(name), text(label), slot});
    };
    if (run.outPs) add(run.outPs == 1 ? opt(out, "PS")->value : defaultName(95), 100, kSlotPs);
    if (run.outLps) add(opt(out, "LPS")->value, 101, kSlotLps);
    if (run.outWgt) {
        std::string name = run.outWgt == 1 ? wgt->value : defaultName(run.outWgtAtt ? 97 : 98);
        int label = run.outWgtAte        ? (run.outWgtAteStab ? 153 : 152)
                    : run.outWgtAtt      ? 154
                    : run.outWgtMatchAte ? 157
                                         : 156;
        add(name, label, kSlotWeight);
    }
    if (run.outAte)
        add(ate->value, run.outAteStab ? 153 : 152, run.outAteStab ? kSlotAteStab : kSlotAte);
    if (run.outAtt) add(att->value, 154, kSlotAtt);
    if (run.outMatchWgt == 1) add(mw->value, 156, kSlotMatchWgt);
    if (run.outMatchAteWgt) add(maw->value, 157, kSlotMatchAteWgt);
    for (int i = 0; i < run.nMatchIdVars; ++i)
        add(run.matchIdNames[i], 155, i == 0 ? kSlotMatchId : kSlotWeight + i);
    if (run.outStrata) add(run.outStrata == 1 ? st->value : defaultName(96), 158, kSlotStrata);
    run.outSlots.assign(kSlotWeight + 1 + static_cast<std::size_t>(run.nMatchIdVars),
                        host::missingValue());

    // Hand the variable list to the host: the input variables, then the new ones.
    try {
        run.outData = std::make_unique<host::OutputDataset>(run.outDataPath,
                                                            host::Session::current().provider);
        for (int i = 1; i <= run.inData->nvars(); ++i)
            if (run.outData->addVariable(run.inData->var(i)) <= 0) return 1;
        for (const OutVar& v : run.outVars) {
            host::Variable d;
            d.name = v.name;
            d.label = v.label;
            if (run.outData->addVariable(d) <= 0) return 1;
        }
    } catch (const std::exception&) {
        return 1;
    }
    return 0;
}

} // namespace velloc
