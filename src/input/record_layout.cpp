// The record layout of VLCDATA, the roles of the analysis variables and the model's
// registration with the levelization library: fixed once per step, before the first BY group.
#include <algorithm>

#include "core/run_context.h"
#include "input/input.h"
#include "model/levelize.h"
#include "options/options.h"

namespace velloc {

namespace {

bool contains(const std::vector<int>& v, int x) {
    return std::find(v.begin(), v.end(), x) != v.end();
}

// Effects name input variables; the library wants CLASS and continuous list positions. A
// variable in neither list gets -1, which zlevmod refuses.
FactorRef factorRef(const VlcRun& run, int var) {
    FactorRef f;
    f.index = classIndex(run, var);
    f.isClass = f.index >= 0;
    if (!f.isClass) f.index = analysisIndex(run, var);
    return f;
}

} // namespace

int inputSetup(VlcRun& run) {
    const int nAnalysis = static_cast<int>(run.analysisVars.size());
    const int nClass = static_cast<int>(run.classVars.size());

    // Roles: a variable of the model or of the Mahalanobis distance must be present; one
    // that is only assessed may be missing (it then drops out of the assessment).
    run.assessOnly.assign(static_cast<std::size_t>(nAnalysis), 0);
    for (int i : run.assessCont)
        if (i >= run.nModelCont && !contains(run.mahVars, i)) run.assessOnly[i] = 1;
    run.assessOnlyMissing.assign(static_cast<std::size_t>(nAnalysis), 0);

    // VLCDATA: header, analysis values, ID numbers, ID text, CLASS numbers, formatted CLASS
    // values, raw character CLASS values; padded to a multiple of 8 bytes.
    int nClassNum = 0;
    run.classNumSlot.assign(static_cast<std::size_t>(nClass), -1);
    for (int c = 0; c < nClass; ++c)
        if (run.classVars[c].var.type == host::VarType::Numeric) run.classNumSlot[c] = nClassNum++;
    run.dataIdNum = kDataAnalysis + nAnalysis;
    run.dataIdText = (run.dataIdNum + run.idNumCount) * 8;
    run.dataClassNum = (run.dataIdText + run.idTextBytes + 7) / 8;
    run.dataClassText = (run.dataClassNum + nClassNum) * 8;
    run.dataClassRaw = run.dataClassText + run.classBufBytes;
    run.dataRecBytes = (run.dataClassRaw + run.classRawBytes + 7) / 8 * 8;

    // The combined continuous list of the model rows: Mahalanobis components, then the
    // assessed continuous variables not among them.
    run.combinedVars = run.mahVars;
    for (int i : run.assessCont)
        if (!contains(run.combinedVars, i)) run.combinedVars.push_back(i);
    run.nCombined = static_cast<int>(run.combinedVars.size());

    // TREATED=FIRST states the default; only a missing TREATED= earns the note of vlcodel.
    if (run.psmodel) {
        run.treatedGiven = run.psmodel->has("TREATED") ? 1 : 0;
    } else {
        for (const Statement& st : run.statements)
            if (st.keyword == "PSDATA") {
                run.treatedGiven = st.has("TREATVAR/TREATED") ? 1 : 0;
                break;
            }
    }

    if (zlevmod(run.model, modelDefinition(run)) != 0) return 1;
    run.contScale.assign(static_cast<std::size_t>(run.nModelCont), 1.0);
    run.dataCursor = std::make_unique<DataCursor>(run);
    run.inputReady = 1;
    return 0;
}

ModelSpec modelDefinition(const VlcRun& run) {
    ModelSpec definition;
    for (const ClassVar& c : run.classVars) {
        ClassVarSpec s;
        s.name = c.var.name;
        s.width = c.width;
        s.numeric = c.var.type == host::VarType::Numeric;
        s.numericUnformatted = c.numericUnformatted;
        definition.classVars.push_back(s);
    }
    // With supplied scores no model is fitted: nModelCont stays 0 and the effects are left out.
    definition.nCont = run.nModelCont;
    if (!run.psSupplied) {
        for (const Effect& e : run.effects) {
            EffectSpec es;
            for (int v : e.vars)
                es.crossed.push_back(factorRef(run, v));
            for (int v : e.nested)
                es.nested.push_back(factorRef(run, v));
            definition.effects.push_back(std::move(es));
        }
    }
    return definition;
}

DataCursor::DataCursor(VlcRun& run) : run_(run) {}

DataCursor::DataCursor(VlcRun& run, const double* records, std::size_t from, std::size_t to)
    : run_(run), records_(records), from_(from), to_(to) {}

DataCursor::DataCursor(VlcRun& run, std::size_t from, std::size_t to)
    : run_(run), from_(from), to_(to), ranged_(true) {}

int DataCursor::vlcxini() {
    rec_ = nullptr;
    row_ = records_ || ranged_ ? static_cast<long long>(from_) : 0;
    blockFirst_ = blockEnd_ = from_;
    return records_ || ranged_ || run_.vlcdata->point(0) == 0 ? 0 : 1;
}

int DataCursor::vlcxnxt() {
    const std::size_t stride = static_cast<std::size_t>(run_.dataRecBytes / 8);
    if (records_) {
        if (row_ >= static_cast<long long>(to_)) return 0;
        rec_ = records_ + static_cast<std::size_t>(row_++) * stride;
        return 1;
    }
    if (ranged_) {
        const auto at = static_cast<std::size_t>(row_);
        if (at >= to_) return 0;
        if (at >= blockEnd_) {
            // A read that fails goes to the thread's fault handler, which ends the step.
            constexpr std::size_t kBlockRecords = 4096;
            const std::size_t n = std::min(kBlockRecords, to_ - at);
            block_.resize(n * stride);
            if (run_.vlcdata->readRecordsAt(static_cast<std::int64_t>(at),
                                            static_cast<std::int64_t>(n), block_.data()) != 0)
                return 0;
            blockFirst_ = at;
            blockEnd_ = at + n;
        }
        rec_ = block_.data() + (at - blockFirst_) * stride;
        ++row_;
        return 1;
    }
    if (row_ >= run_.nObsRead) return 0;
    rec_ = static_cast<const double*>(run_.vlcdata->next());
    if (!rec_) return 0;
    ++row_;
    return 1;
}

int DataCursor::vlcxval(CursorRow& row) {
    const double* r = rec_;
    for (int j = 0; j < run_.nModelCont; ++j)
        row.z[j] = r[kDataAnalysis + j] / run_.contScale[j];
    const char* text = reinterpret_cast<const char*>(r) + run_.dataClassText;
    std::copy(text, text + run_.classBufBytes, row.classText);
    for (std::size_t c = 0; c < run_.classVars.size(); ++c)
        if (run_.classNumSlot[c] >= 0)
            row.classNum[c] = r[run_.dataClassNum + run_.classNumSlot[c]];
    row.freq = r[kDataFreq];
    row.weight = r[kDataWeight];
    return 1;
}

} // namespace velloc
