// vlcodel: scales the model's continuous variables by the ranges vlcin gathered, has the
// library find the BY group's CLASS levels, picks the treated level, labels the groups, lays out
// the indicator columns of the assessed CLASS variables and writes one model row per VLCDATA
// record to VLCLREG.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/cores.h"
#include "base/handoff.h"
#include "base/text.h"
#include "core/phases.h"
#include "core/run_context.h"
#include "input/input.h"
#include "input/input_messages.h"
#include "io/step_place.h"
#include "model/levelize.h"
#include "model/model_messages.h"
#include "model/propensity_fit.h"

namespace velloc {

namespace {

constexpr double kBig = 1.3407807929943e+154;
constexpr std::size_t kLevelTextMax = 76;
constexpr std::size_t kLabelMax = 256;
constexpr std::size_t kAssessLevelMax = 16;

int abandon(VlcRun& run, int number, host::Args args = {}) {
    host::xpmlog(host::kGroupProc, number, args);
    run.raise(112);
    return 1;
}

// The scale of each model continuous variable is a quarter of its range, or 1 when the range
// is negligible against the values (a constant enters unscaled).
void setScales(VlcRun& run) {
    const int n = run.nModelCont;
    run.contScale.assign(static_cast<std::size_t>(n), 1.0);
    for (int j = 0; j < n; ++j) {
        const double lo = run.contLo[j], hi = run.contHi[j];
        const double s = (hi - lo) * 0.25;
        if (s > 0.00001 * std::max(std::fabs(lo), std::fabs(hi))) run.contScale[j] = s;
    }
}

bool equalFolded(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    std::string x = a, y = b;
    host::wzstrup(x);
    host::wzstrup(y);
    return x == y;
}

// The label of one group; cut to fit, with a warning, when name and level are too long.
std::string groupLabel(VlcRun& run, bool treated, const std::string& level) {
    std::string name = run.treatName;
    std::string text = level;
    bool cut = false;
    const std::size_t nameMax = static_cast<std::size_t>(run.treatNameWidth);
    const std::size_t both = nameMax + static_cast<std::size_t>(run.levelTextWidth);
    if (name.size() + text.size() > both) {
        name = host::cutText(name, nameMax);
        if (text.size() > both - name.size()) {
            text = host::cutText(text, both - name.size());
        }
        cut = true;
    }
    const std::size_t word = host::wkread(host::kGroupProc, treated ? 80 : 81).size();
    if (name.size() + text.size() + 8 + word > kLabelMax) {
        const std::size_t keep = kLabelMax - 8 - word - name.size();
        text = host::cutText(text, keep);
        cut = true;
    }
    std::string label = host::xpmstr(host::kGroupProc, treated ? 77 : 78, {name, text});
    label = host::cutText(label, kLabelMax);
    if (cut) {
        host::xpmlog(host::kGroupProc, treated ? kMsgTreatedLabelCut : kMsgControlLabelCut,
                     {label});
        run.raise(4);
    }
    return label;
}

// The levels of the treatment variable found in the BY group, quoted, for the messages that
// refuse them: a user then sees at once what TREATED= can name.
std::string treatmentLevels(const VlcRun& run) {
    const int n = run.model.levels[run.treatClass].count();
    std::vector<std::string> quoted;
    for (int i = 0; i < n; ++i)
        quoted.push_back("'" + host::cutText(levelText(run.model, run.treatClass, i), 40) + "'");
    return quoted.empty() ? std::string("none") : listCut(quoted, kListShown);
}

int treatedLevel(VlcRun& run) {
    const int t = run.treatClass;
    std::string level[2];
    for (int i = 0; i < 2; ++i) {
        level[i] = levelText(run.model, t, i);
        // Only a long text is cut: a short one keeps its bytes for matching TREATED=.
        if (level[i].size() > kLevelTextMax) level[i] = host::cutText(level[i], kLevelTextMax);
    }
    if (!run.treatedText.empty()) {
        const std::string want =
            run.treatedText.substr(0, static_cast<std::size_t>(run.treatedTextLen));
        // Case is ignored only where it cannot choose the wrong group: an exact match first,
        // then the one level equal to TREATED= but for case (two such are refused as absent,
        // with the levels' exact texts for the user to copy).
        const bool folded[2] = {equalFolded(level[0], want), equalFolded(level[1], want)};
        if (level[0] == want || level[1] == want)
            run.treatedIndex = level[0] == want ? 0 : 1;
        else if (folded[0] != folded[1])
            run.treatedIndex = folded[0] ? 0 : 1;
        else
            return abandon(run, kMsgTreatedLevelAbsent,
                           {want, run.treatName, treatmentLevels(run)});
    } else if (run.treatedLast) {
        run.treatedIndex = 1;
    } else {
        // A 0/1 treatment then treats 0: say so, since that is rarely what was meant.
        run.treatedIndex = 0;
        if (!run.treatedGiven)
            host::xpmlog(host::kGroupProc, kMsgTreatedLevelDefault, {run.treatName, level[0]});
    }
    run.treatedLevel = level[run.treatedIndex];
    run.controlLevel = level[1 - run.treatedIndex];
    run.treatedLabel = groupLabel(run, true, run.treatedLevel);
    run.controlLabel = groupLabel(run, false, run.controlLevel);
    run.labelWidthMax =
        static_cast<int>(std::max(run.treatedLabel.size(), run.controlLabel.size()));
    return 0;
}

// The level texts of one assessed CLASS variable, cut to kAssessLevelMax bytes; when two
// would then read alike, all stay whole so that distinct levels stay distinct.
std::vector<std::string> assessedLevelTexts(const VlcRun& run, int classIndex, int n) {
    std::vector<std::string> whole, cut;
    for (int l = 0; l < n; ++l) {
        whole.push_back(levelText(run.model, classIndex, l));
        cut.push_back(host::cutText(whole.back(), kAssessLevelMax));
    }
    std::vector<std::string> sorted = cut;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end()) return cut;
    for (std::string& t : whole)
        t = host::cutText(t);
    return whole;
}

// The indicator columns of the assessed CLASS variables: one for a two-level variable (its
// first level), one per level otherwise. The balance slots follow them.
void assessedClassLevels(VlcRun& run) {
    run.classIndicators.clear();
    run.nAssessClass2 = 0;
    for (std::size_t i = 0; i < run.assessClass.size(); ++i) {
        AssessClass& a = run.assessClass[i];
        const int n = run.model.levels[a.classIndex].count();
        a.nLevels = n;
        if (n <= 0) continue;
        ++run.nAssessClass2;
        const std::vector<std::string> text = assessedLevelTexts(run, a.classIndex, n);
        const std::string& name = run.classVars[a.classIndex].var.name;
        if (n == 2) {
            run.classIndicators.push_back({static_cast<int>(i), 0, text[0], text[1]});
            continue;
        }
        if (n == 1)
            host::xpmlog(host::kGroupProc, kMsgClassOneLevel, {name, text[0]});
        else
            host::xpmlog(host::kGroupProc, kMsgClassLevels, {name, std::to_string(n)});
        for (int l = 0; l < n; ++l)
            run.classIndicators.push_back({static_cast<int>(i), l, text[l], {}});
    }
    // The binary slots are sized now that the levels are known; the continuous slots keep
    // what reading the group found.
    BalanceStats& b = run.balance;
    std::vector<unsigned char> cont(b.excluded.begin(),
                                    b.excluded.begin() +
                                        std::min<std::ptrdiff_t>(b.nCont, b.excluded.size()));
    b.reset(b.nCont, run.classColumns(), run.nStrataReq);
    std::copy(cont.begin(), cont.end(), b.excluded.begin());
}

void lregLayout(VlcRun& run) {
    run.lregExact = kRowDesign + run.model.layout.D;
    run.lregClass = run.lregExact + static_cast<int>(run.exactVars.size());
    run.lregCont = run.lregClass + run.classColumns();
    run.lregIdNum = run.lregCont + run.nCombined;
    run.lregIdText = run.lregIdNum + run.idNumCount;
    run.lregRecBytes = run.lregIdText * 8 + run.idTextBytes;
}

// Whether a model row can take part in a group. Rows written for their zero weight or
// frequency skip the reading checks, so one may lack its treatment level or a value that the
// score, a distance or a group sum needs: such a row takes part in no group. One that lacks
// only its treatment level can still be scored (indicator -2, the output data set shows its
// score); one that lacks anything else cannot (indicator -1). levelIdx: the row's levels.
int noGroupIndicator(const VlcRun& run, const std::vector<int>& levelIdx, const double* rec) {
    if (run.psSupplied && host::isMissing(rec[kDataScore])) return -1;
    for (std::size_t i = 0; i < run.analysisVars.size(); ++i)
        if (!run.assessOnly[i] && host::isMissing(rec[kDataAnalysis + i])) return -1;
    for (std::size_t c = 0; c < levelIdx.size(); ++c)
        if (static_cast<int>(c) != run.treatClass && levelIdx[c] < 0) return -1;
    return levelIdx[run.treatClass] < 0 ? -2 : 0;
}

// The groups' row and frequency counts of a run of model rows.
struct GroupCounts {
    std::int64_t treated = 0, control = 0, freqTreated = 0, freqControl = 0;
};

// The model row of each record the cursor gives (model reads through it), handed to out(row)
// in record order. 1 when a record cannot be read.
template <class Out>
int modelRows(const VlcRun& run, ModelDesc& model, DataCursor& cursor, double* row,
              GroupCounts& counts, Out&& out) {
    if (cursor.vlcxini() != 0) return 1;
    while (cursor.vlcxnxt() == 1) {
        const double* rec = cursor.record();
        double w = 1.0, f = 1.0;
        if (zlevrgd(model, &w, &f) != 0) return 1;
        zlevrgx(model, model.contVals.data(), model.levelIdx.data(), row + kRowDesign);
        row[kRowObs] = rec[kDataObs];
        row[kRowFreq] = f;
        row[kRowWeight] = w;
        row[kRowScore] = rec[kDataScore];
        const int t = model.levelIdx[run.treatClass];
        const int noGroup = noGroupIndicator(run, model.levelIdx, rec);
        const int treated = noGroup < 0 ? noGroup : (run.treatedIndex == 0 ? 1 - t : t);
        row[kRowTreat] = treated;
        for (std::size_t e = 0; e < run.exactVars.size(); ++e) {
            const int li = model.levelIdx[run.exactVars[e]];
            row[run.lregExact + e] = li < 0 ? host::missingValue() : li;
        }
        for (std::size_t c = 0; c < run.classIndicators.size(); ++c) {
            const ClassIndicator& ind = run.classIndicators[c];
            const int li = model.levelIdx[run.assessClass[ind.cls].classIndex];
            row[run.lregClass + c] = li < 0 ? host::missingValue() : (li == ind.level ? 1.0 : 0.0);
        }
        for (int m = 0; m < run.nCombined; ++m)
            row[run.lregCont + m] = rec[kDataAnalysis + run.combinedVars[m]];
        for (int k = 0; k < run.idNumCount; ++k)
            row[run.lregIdNum + k] = rec[run.dataIdNum + k];
        if (run.idTextBytes > 0)
            std::memcpy(reinterpret_cast<char*>(row) + run.lregIdText * 8,
                        reinterpret_cast<const char*>(rec) + run.dataIdText,
                        static_cast<std::size_t>(run.idTextBytes));
        out(row);
        const auto freq = static_cast<std::int64_t>(f);
        if (treated == 1) {
            ++counts.treated;
            counts.freqTreated += freq;
        } else if (treated == 0) {
            ++counts.control;
            counts.freqControl += freq;
        }
    }
    return 0;
}

// Groups from this many records on, with the copy of the input and the model rows in memory,
// have their model rows written by two threads, each taking half of the records.
constexpr std::size_t kTwoThreadRows = 131072;

// Whether a BY group is large enough for two threads to share its passes over the copy of
// the input, whose records are whole doubles, one for each observation read.
bool largeForTwoThreads(const VlcRun& run) {
    const auto n = static_cast<std::size_t>(run.vlcdata->count());
    return twoCores() && n >= kTwoThreadRows && run.dataRecBytes % 8 == 0 &&
           static_cast<std::int64_t>(n) == run.nObsRead;
}

// The copy of the input's records, when the group is large enough for two threads and the
// copy lies in memory; else nullptr.
const double* recordsForTwoThreads(const VlcRun& run) {
    const char* data = run.vlcdata->memoryData();
    if (data == nullptr || !largeForTwoThreads(run)) return nullptr;
    return reinterpret_cast<const double*>(data);
}

// The model rows of records [0, n) written in place by two threads, each with its own copy of
// the model's row state and its own cursor: the same rows, in the same order, as one thread
// writes. False when the rows cannot go in place (nothing written then).
bool twoThreadModelRows(VlcRun& run, GroupCounts& counts, int& rc) {
    host::UtilFile& lreg = *run.vlclreg;
    const auto n = static_cast<std::size_t>(run.vlcdata->count());
    const double* records = recordsForTwoThreads(run);
    if (records == nullptr || run.lregRecBytes % 8 != 0) return false;
    char* out = lreg.appendInPlace(static_cast<std::int64_t>(n));
    if (out == nullptr) {
        if (int e = lreg.lastError()) host::utilFatal(e);
        return false;
    }
    const std::size_t half = n / 2, stride = static_cast<std::size_t>(run.lregRecBytes) / 8;
    auto part = [&](std::size_t from, std::size_t to, GroupCounts& c) {
        ModelDesc model = run.model;
        DataCursor cursor(run, records, from, to);
        model.cursor = &cursor;
        std::vector<double> row(stride, 0.0);
        auto* at = reinterpret_cast<double*>(out) + from * stride;
        return modelRows(run, model, cursor, row.data(), c, [&](const double* r) {
            std::memcpy(at, r, stride * sizeof(double));
            at += stride;
        });
    };
    GroupCounts second;
    int rcSecond = 0;
    // The second half's thread is bound to the step's session: its log and fault handler.
    runBeside([&] { rc = part(0, half, counts); }, [&] { rcSecond = part(half, n, second); });
    rc |= rcSecond;
    counts.treated += second.treated;
    counts.control += second.control;
    counts.freqTreated += second.freqTreated;
    counts.freqControl += second.freqControl;
    return true;
}

// The model rows of a large group whose copy of the input is on disk: made a block at a time,
// the copy read by number, while a thread of their own writes the blocks made before (the
// copy of each row into the page cache costs more than making it). The same rows, in the same
// order, as one thread writes. False when the copy is in memory.
bool pipelinedModelRows(VlcRun& run, GroupCounts& counts, int& rc) {
    host::UtilFile& lreg = *run.vlclreg;
    if (run.vlcdata->memoryData() != nullptr || !largeForTwoThreads(run)) return false;
    if (int e = run.vlcdata->point(0); e != 0) host::utilFatal(e);
    const auto n = static_cast<std::size_t>(run.vlcdata->count());
    const std::size_t stride = static_cast<std::size_t>(run.lregRecBytes + 7) / 8;
    constexpr std::size_t kBlockRows = 4096, kBlocksAhead = 4;
    struct Block {
        std::vector<double> rows;
        std::size_t count = 0;
    };
    Handoff<Block> made(kBlocksAhead);
    struct Stopped {};

    // Either side's failure ends the other's wait: the maker closes the queue, the writer
    // stops it.
    auto make = [&] {
        struct CloseWhenDone {
            Handoff<Block>& q;
            ~CloseWhenDone() { q.close(); }
        } closing{made};
        try {
            ModelDesc model = run.model;
            DataCursor cursor(run, 0, n);
            model.cursor = &cursor;
            std::vector<double> row(stride, 0.0);
            Block block;
            block.rows.resize(kBlockRows * stride);
            auto handOn = [&] {
                if (!made.put(std::move(block))) throw Stopped{};
                block = Block();
                block.rows.resize(kBlockRows * stride);
            };
            rc = modelRows(run, model, cursor, row.data(), counts, [&](const double* r) {
                std::memcpy(block.rows.data() + block.count * stride, r, stride * sizeof(double));
                if (++block.count == kBlockRows) handOn();
            });
            if (block.count > 0) handOn();
        } catch (const Stopped&) {
        }
    };
    auto write = [&] {
        try {
            while (std::optional<Block> block = made.take())
                for (std::size_t i = 0; i < block->count; ++i)
                    if (int e = lreg.write(block->rows.data() + i * stride); e != 0)
                        host::utilFatal(e);
        } catch (...) {
            made.stop();
            throw;
        }
    };
    runBeside(make, write);
    return true;
}

// The CLASS levels of the group: each half of the copy of the input on a core of its own when
// the copy lies in memory and is large, as the model rows are then made.
int discoverLevels(VlcRun& run) {
    const auto n = static_cast<std::size_t>(run.vlcdata->count());
    if (!largeForTwoThreads(run)) return zlevrgi(run.model);
    // Each cursor on a cache line of its own: both move with every row.
    struct alignas(64) OwnLine {
        DataCursor cursor;
    };
    if (const double* records = recordsForTwoThreads(run)) {
        OwnLine first{DataCursor(run, records, 0, n / 2)},
            second{DataCursor(run, records, n / 2, n)};
        return zlevrgiSplit(run.model, first.cursor, second.cursor);
    }
    // A copy on disk is read by number, each half a block at a time, once its last writes
    // have gone out.
    if (int rc = run.vlcdata->point(0); rc != 0) host::utilFatal(rc);
    OwnLine first{DataCursor(run, 0, n / 2)}, second{DataCursor(run, n / 2, n)};
    return zlevrgiSplit(run.model, first.cursor, second.cursor);
}

int writeModelRows(VlcRun& run) {
    host::UtilFile& lreg = *run.vlclreg;
    lreg.point(-2);
    lreg.setRecordBytes(static_cast<std::size_t>(run.lregRecBytes));
    // One model row for each record of the copy of the input.
    if (int rc = lreg.expectRecords(run.vlcdata->count()); rc != 0) host::utilFatal(rc);
    GroupCounts counts;
    int rc = 0;
    if (!twoThreadModelRows(run, counts, rc) && !pipelinedModelRows(run, counts, rc)) {
        std::vector<double>& row = run.lregRow;
        row.assign(static_cast<std::size_t>(run.lregRecBytes + 7) / 8, 0.0);
        auto* cursor = static_cast<DataCursor*>(run.dataCursor.get());
        rc = modelRows(run, run.model, *cursor, row.data(), counts, [&](const double* r) {
            if (int e = lreg.write(r); e != 0) host::utilFatal(e);
        });
    }
    run.nTreated += counts.treated;
    run.nControl += counts.control;
    run.freqTreated += counts.freqTreated;
    run.freqControl += counts.freqControl;
    lreg.point(0);
    return rc;
}

} // namespace

void startContRanges(VlcRun& run) {
    const std::size_t n = static_cast<std::size_t>(run.nModelCont);
    run.contLo.assign(n, kBig);
    run.contHi.assign(n, -kBig);
}

void addToContRanges(VlcRun& run, const double* rec) {
    // Through pointers the record cannot alias, so the bounds stay in registers.
    double* __restrict lo = run.contLo.data();
    double* __restrict hi = run.contHi.data();
    const double* __restrict x = rec + kDataAnalysis;
    for (int j = 0; j < run.nModelCont; ++j) {
        if (host::isMissing(x[j])) continue;
        lo[j] = std::min(lo[j], x[j]);
        hi[j] = std::max(hi[j], x[j]);
    }
}

int vlcodel(VlcRun& run) {
    setScales(run);

    zlevcur(run.model, run.dataCursor.get());
    if (discoverLevels(run) == 1) return abandon(run, kMsgFitImpossible);
    const int nLevels = run.model.levels[run.treatClass].count();
    if (nLevels != 2) {
        // No level at all mostly means no usable observation: say so, not only "none".
        std::string levels = treatmentLevels(run);
        if (nLevels == 0 && run.nObsRead == 0)
            levels += ": no observation of the BY group could be used";
        return abandon(run, kMsgTreatmentLevels,
                       {run.treatName,
                        std::to_string(nLevels) + (nLevels == 1 ? " level" : " levels"), levels});
    }
    if (treatedLevel(run) != 0) return 1;
    assessedClassLevels(run);

    lregLayout(run);
    run.nTreated = run.nControl = 0;
    run.freqTreated = run.freqControl = 0;
    if (writeModelRows(run) != 0) return abandon(run, kMsgFitImpossible);
    run.lregFileRows = std::make_unique<UtilFileRows>(*run.vlclreg);
    run.lregRows = run.lregFileRows.get();

    if (run.nTreated < 2) return abandon(run, kMsgFewTreated, {run.treatedLabel});
    if (run.nControl < 2) return abandon(run, kMsgFewControl, {run.controlLabel});
    return 0;
}

} // namespace velloc
