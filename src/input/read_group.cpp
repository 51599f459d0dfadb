// vlcin: reads the BY group's observations once, decides which can be used, and writes them
// to VLCDATA (with a written/left-out flag per observation in VLCSKIP). Every later phase
// reads these files instead of the data set.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "core/phases.h"
#include "core/run_context.h"
#include "input/input.h"
#include "input/input_messages.h"

namespace velloc {

namespace {

// Keeps the outcome and covariate values of the input's current observation for the EFFECT
// statement, so the effect needs no second pass over the data set.
void keepEffectValues(VlcRun& run, const host::Dataset& ds) {
    effect::Request& r = run.effect;
    for (int v : r.outcomes)
        r.values.push_back(ds.num(v));
    for (int v : r.covariates)
        r.values.push_back(ds.num(v));
}

constexpr double kMaxFreq = 2147483647.0;

bool blank(std::string_view s) {
    for (char ch : s)
        if (ch != ' ') return false;
    return true;
}

// Copies text into a blank-padded slot of the given width.
void putText(char* slot, int width, std::string_view text) {
    std::memset(slot, ' ', static_cast<std::size_t>(width));
    // An empty view may have no data pointer at all, which memcpy must not be given.
    if (!text.empty())
        std::memcpy(slot, text.data(), std::min(text.size(), static_cast<std::size_t>(width)));
}

void writeOrDie(host::UtilFile& f, const void* rec) {
    if (int rc = f.write(rec); rc != 0) host::utilFatal(rc);
}

// The current observation's values as the step reads them: numbers where the data set holds
// them when every variable the step reads as a number is numeric there (a character one reads
// as missing through num() alone), else through num(); the texts of character CLASS variables,
// which two checks read, fetched once.
class RowValues {
  public:
    RowValues(const VlcRun& run, const host::Dataset& ds)
        : ds_(ds), classVars_(run.classVars), text_(run.classVars.size()),
          rawLength_(run.classVars.size(), 0) {
        auto numeric = [&](const VarRef& v) {
            return v.number <= 0 || ds.var(v.number).type == host::VarType::Numeric;
        };
        direct_ = numeric(run.psVar) && numeric(run.freqVar) && numeric(run.weightVar);
        for (const VarRef& v : run.analysisVars)
            direct_ = direct_ && numeric(v);
        for (const IdVar& v : run.idVars)
            direct_ = direct_ && (v.var.type != host::VarType::Numeric || numeric(v.var));
        for (std::size_t c = 0; c < classVars_.size(); ++c) {
            const ClassVar& cv = classVars_[c];
            direct_ = direct_ && (cv.var.type != host::VarType::Numeric || numeric(cv.var));
            if (cv.var.type != host::VarType::Numeric) rawLength_[c] = ds.var(cv.var.number).length;
        }
    }
    // Call once a row, before reading its values.
    void next() {
        row_ = direct_ ? ds_.numbers() : nullptr;
        for (std::size_t c = 0; c < classVars_.size(); ++c)
            if (classVars_[c].var.type != host::VarType::Numeric)
                text_[c] = ds_.text(classVars_[c].var.number);
    }
    double operator()(int var) const { return row_ ? row_[var - 1] : ds_.num(var); }
    // The raw text of character CLASS variable c (by its place in the CLASS list), its length.
    std::string_view classText(std::size_t c) const { return text_[c]; }
    int rawLength(std::size_t c) const { return rawLength_[c]; }

  private:
    const host::Dataset& ds_;
    const std::vector<ClassVar>& classVars_;
    bool direct_ = false;
    const double* row_ = nullptr;
    std::vector<std::string_view> text_;
    std::vector<int> rawLength_;
};

// Whether the observation can be used: the checks that a zero weight or frequency skips. Every
// variable whose missing value leaves it out is marked in why (PS variable, analysis variables,
// CLASS variables, in that order), so that the log can name them all.
bool usable(VlcRun& run, const RowValues& num, std::vector<unsigned char>& assessMissing,
            std::vector<unsigned char>& why) {
    std::fill(why.begin(), why.end(), 0);
    bool ok = true;
    auto leaveOut = [&](std::size_t slot) {
        why[slot] = 1;
        ok = false;
    };
    if (run.psSupplied && host::isMissing(num(run.psVar.number))) leaveOut(0);
    const std::size_t A = run.analysisVars.size();
    for (std::size_t i = 0; i < A; ++i)
        if (!run.assessOnly[i] && host::isMissing(num(run.analysisVars[i].number))) leaveOut(1 + i);
    for (std::size_t c = 0; c < run.classVars.size(); ++c) {
        const ClassVar& cv = run.classVars[c];
        if (cv.var.type == host::VarType::Numeric ? host::isMissing(num(cv.var.number))
                                                  : blank(num.classText(c)))
            leaveOut(1 + A + c);
    }
    if (!ok) return false;
    for (std::size_t i = 0; i < A; ++i)
        if (run.assessOnly[i] && host::isMissing(num(run.analysisVars[i].number)))
            assessMissing[i] = 1;
    return true;
}

// The NOTE on the observations left out for missing values: how many, and which variables;
// with several variables each gets the number of left-out observations that miss it.
void noteLeftOut(VlcRun& run, std::int64_t rows, const std::vector<std::int64_t>& perVar) {
    run.nObsDropped = rows;
    run.droppedVars.clear();
    if (rows == 0) return;
    const std::size_t A = run.analysisVars.size();
    std::vector<std::pair<std::string, std::int64_t>> named;
    for (std::size_t s = 0; s < perVar.size(); ++s) {
        if (perVar[s] == 0) continue;
        const std::string& name = s == 0   ? run.psVar.name
                                  : s <= A ? run.analysisVars[s - 1].name
                                           : run.classVars[s - 1 - A].var.name;
        named.emplace_back(name, perVar[s]);
    }
    std::vector<std::string> items;
    for (const auto& [name, n] : named)
        items.push_back(named.size() == 1 || rows == 1 ? name : fmt::format("{} ({})", name, n));
    const std::string list = listCut(items, kListShown);
    run.droppedVars = list;
    if (rows == 1)
        host::xpmlog(host::kGroupProc, kMsgLeftOutMissingOne, {list});
    else
        host::xpmlog(host::kGroupProc, kMsgLeftOutMissing, {std::to_string(rows), list});
}

// The formatted values, blanks on the left taken off, of a CLASS variable's last two values:
// a formatted number is a function of its value (its bits), a formatted text of the text, and
// CLASS values repeat, so most rows need no formatting.
struct RecentFormats {
    std::uint64_t bits[2] = {0, 0};
    std::string raw[2]; // of a character variable
    std::string text[2];
    int known = 0, next = 0;
};

std::string_view leftTrimmed(std::string_view f) {
    const std::size_t b = f.find_first_not_of(' ');
    return b == std::string_view::npos ? std::string_view() : f.substr(b);
}

bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    // CLASS texts are short: a call to compare them costs more than the comparison.
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// The formatted value of the current row's CLASS variable c.
std::string_view formattedClass(const host::Dataset& ds, const RowValues& num, std::size_t c,
                                const ClassVar& cv, RecentFormats& r) {
    const bool character = cv.var.type != host::VarType::Numeric;
    std::uint64_t bits = 0;
    if (character) {
        const std::string_view raw = num.classText(c);
        for (int k = 0; k < r.known; ++k)
            if (sameText(r.raw[k], raw)) return r.text[k];
    } else {
        bits = std::bit_cast<std::uint64_t>(num(cv.var.number));
        for (int k = 0; k < r.known; ++k)
            if (r.bits[k] == bits) return r.text[k];
    }
    const int k = r.next;
    r.bits[k] = bits;
    if (character) r.raw[k] = num.classText(c);
    r.text[k] = std::string(leftTrimmed(ds.formatted(cv.var.number)));
    r.known = std::max(r.known, k + 1);
    r.next = 1 - k;
    return r.text[k];
}

void fillRecord(const VlcRun& run, const host::Dataset& ds, const RowValues& num, double* rec,
                std::vector<RecentFormats>& formats) {
    for (std::size_t i = 0; i < run.analysisVars.size(); ++i)
        rec[kDataAnalysis + i] = num(run.analysisVars[i].number);
    char* bytes = reinterpret_cast<char*>(rec);
    int idNum = 0;
    int idText = run.dataIdText;
    for (const IdVar& v : run.idVars) {
        if (v.var.type == host::VarType::Numeric) {
            rec[run.dataIdNum + idNum++] = num(v.var.number);
        } else {
            putText(bytes + idText, v.width, ds.text(v.var.number));
            idText += v.width;
        }
    }
    for (std::size_t c = 0; c < run.classVars.size(); ++c) {
        const ClassVar& cv = run.classVars[c];
        if (run.classNumSlot[c] >= 0)
            rec[run.dataClassNum + run.classNumSlot[c]] = num(cv.var.number);
        // Formatted values are left-justified in their slot, so that levels compare as text.
        putText(bytes + run.dataClassText + cv.offset, cv.width,
                formattedClass(ds, num, c, cv, formats[c]));
        if (cv.rawOffset >= 0)
            putText(bytes + run.dataClassRaw + cv.rawOffset, num.rawLength(c), num.classText(c));
    }
}

} // namespace

int vlcin(VlcRun& run) {
    host::Dataset& ds = *run.inData;
    host::UtilFile& skip = *run.vlcskip;
    host::UtilFile& data = *run.vlcdata;
    skip.point(-2);
    data.point(-2);
    skip.setRecordBytes(4);
    data.setRecordBytes(static_cast<std::size_t>(run.dataRecBytes));
    // Without BY groups the group is the data set, whose size the scan knows.
    if (run.byVars.empty())
        if (int rc = data.expectRecords(ds.nobs()); rc != 0) host::utilFatal(rc);

    // Zeroed once: every row writes the same fields whole (fillRecord's slots and texts are
    // the same for every row), so the bytes between them stay zero.
    std::vector<double> rec(static_cast<std::size_t>(run.dataRecBytes) / 8, 0.0);
    std::vector<unsigned char>& assessMissing = run.assessOnlyMissing;
    const bool hasFreq = run.freqVar.number > 0;
    const bool hasWeight = run.weightVar.number > 0;
    std::int64_t obs = 0;
    run.nObsRead = 0;
    const std::size_t nWhy = 1 + run.analysisVars.size() + run.classVars.size();
    std::vector<unsigned char> why(nWhy, 0);
    std::vector<std::int64_t> perVar(nWhy, 0);
    std::int64_t leftOut = 0;
    std::int64_t zeroWeight = 0; // kept for the output data set only: not read for the analysis
    std::int64_t oddWeight[2] = {0, 0}, firstOdd[2] = {0, 0}; // negative or missing: WEIGHT=, FREQ
    run.totalFreq = 0.0;

    const bool keepEffect = run.effect.given;
    if (keepEffect) run.effect.values.clear();
    startContRanges(run);
    std::vector<RecentFormats> formats(run.classVars.size());
    RowValues num(run, ds);
    while (ds.nextObs()) {
        ++obs;
        num.next();
        if (keepEffect) keepEffectValues(run, ds);
        double freq = hasFreq ? num(run.freqVar.number) : 1.0;
        double weight = hasWeight ? num(run.weightVar.number) : 1.0;
        // A zero weight or frequency keeps the observation in the data (it still appears in
        // the output data set) whatever its other values.
        bool direct = false;
        // A zero is a user's way to keep a row out; a negative or missing value may be a slip.
        if (hasWeight && !(weight > 0.0)) {
            if (!(weight == 0.0) && oddWeight[0]++ == 0) firstOdd[0] = obs;
            weight = 0.0;
            direct = true;
        }
        if (hasFreq && !(freq >= 1.0)) {
            if (!(freq >= 0.0) && oddWeight[1]++ == 0) firstOdd[1] = obs;
            freq = 0.0;
            direct = true;
        }
        if (direct) ++zeroWeight;
        std::int32_t flag = 1;
        if (direct || usable(run, num, assessMissing, why)) {
            if (hasFreq && freq > kMaxFreq) {
                host::xpmlog(host::kGroupProc, kMsgFrequencyTooLarge,
                             {fmt::format("{:.17g}", freq), std::to_string(obs)});
                run.raise(112);
                return 1;
            }
            freq = std::floor(freq);
            rec[kDataObs] = static_cast<double>(obs);
            rec[kDataFreq] = freq;
            rec[kDataWeight] = weight;
            rec[kDataScore] = run.psSupplied ? num(run.psVar.number) : host::missingValue();
            fillRecord(run, ds, num, rec.data(), formats);
            addToContRanges(run, rec.data());
            writeOrDie(data, rec.data());
            ++run.nObsRead;
            if (hasFreq) run.totalFreq += freq;
            flag = 0;
        } else {
            ++leftOut;
            for (std::size_t k = 0; k < nWhy; ++k)
                perVar[k] += why[k];
        }
        writeOrDie(skip, &flag);
    }
    run.nObsInput = obs - zeroWeight;
    for (int k = 0; k < 2; ++k)
        if (oddWeight[k] > 0)
            host::xpmlog(host::kGroupProc, kMsgNonPositiveWeight,
                         {std::to_string(oddWeight[k]),
                          k == 0 ? "WEIGHT= variable " + run.weightVar.name
                                 : "FREQ variable " + run.freqVar.name,
                          std::to_string(firstOdd[k])});
    noteLeftOut(run, leftOut, perVar);

    if (run.assessGiven) {
        for (std::size_t i = 0; i < assessMissing.size(); ++i) {
            if (!assessMissing[i]) continue;
            if (i < run.balance.excluded.size()) run.balance.excluded[i] = 1;
            host::xpmlog(host::kGroupProc, kMsgAnalysisVarMissing, {run.analysisVars[i].name});
            run.raise(4);
        }
    }
    return 0;
}

} // namespace velloc
