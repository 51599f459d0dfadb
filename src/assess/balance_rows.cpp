#include "assess/balance_rows.h"

#include "core/run_context.h"

namespace velloc {

namespace {

std::string text(int number) {
    return host::wkread(host::kGroupProc, number);
}

bool excluded(const BalanceStats& b, int slot) {
    return slot >= 0 && slot < static_cast<int>(b.excluded.size()) && b.excluded[slot];
}

} // namespace

std::vector<BalanceRow> balanceRows(const VlcRun& run) {
    const BalanceStats& b = run.balance;
    std::vector<BalanceRow> rows;
    if (run.assessPs > 0 && !excluded(b, b.psSlot()))
        rows.push_back({b.psSlot(), false, false, text(82), {}});
    if (run.assessLps && !excluded(b, b.lpsSlot()))
        rows.push_back({b.lpsSlot(), false, false, text(83), {}});
    for (int pos : run.assessCont)
        if (pos >= 0 && pos < b.nCont - 2 && !excluded(b, pos))
            rows.push_back({pos, false, false, run.analysisVars[pos].name, {}});
    for (std::size_t j = 0; j < run.classIndicators.size(); ++j) {
        const ClassIndicator& ind = run.classIndicators[j];
        int slot = b.binSlot(static_cast<int>(j));
        if (static_cast<int>(j) >= b.nBin || excluded(b, slot)) continue;
        const AssessClass& a = run.assessClass[static_cast<std::size_t>(ind.cls)];
        const std::string& name = run.classVars[a.classIndex].var.name;
        rows.push_back({slot, true, false, name, ind.text});
        if (run.balance.settings.allLevels && a.nLevels == 2)
            rows.push_back({slot, true, true, name, ind.complement});
    }
    return rows;
}

std::vector<int> presentSets(const VlcRun& run) {
    std::vector<int> sets{kAllObs, kRegion};
    if (run.matchActive) sets.push_back(kMatch);
    if (run.balance.fourth != kFourthNone) sets.push_back(kFourth);
    return sets;
}

std::string setLabel(const VlcRun& run, int set) {
    switch (set) {
    case kAllObs:
        return text(58);
    case kRegion:
        return text(61);
    case kMatch:
        return text(64);
    default:
        switch (run.balance.fourth) {
        case kRegionWgt:
            return text(69);
        case kMatchWgt:
            return text(72);
        default:
            return text(66);
        }
    }
}

int workingOffset(const VlcRun& run, int slot) {
    const BalanceStats& b = run.balance;
    if (slot == b.psSlot()) return 3;
    if (slot == b.lpsSlot()) return 4;
    if (slot >= b.nCont) {
        int j = slot - b.nCont;
        return j < run.classColumns() ? run.voutClass + j : -1;
    }
    for (std::size_t i = 0; i < run.combinedVars.size(); ++i)
        if (run.combinedVars[i] == slot) return run.voutCont + static_cast<int>(i);
    return -1;
}

bool continuousRowsExist(const VlcRun& run) {
    return run.assessPs > 0 || run.assessLps != 0 || run.nAssessCont > 0;
}

bool strataOwnDeviation(const VlcRun& run) {
    if (!run.sdPerSet) return false;
    return continuousRowsExist(run) || (!run.assessClass.empty() && run.stdBinVar);
}

} // namespace velloc
