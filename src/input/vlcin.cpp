// vlcin: reads the BY group's observations once, decides which can be used, and writes them
// to VLCDATA (with a written/left-out flag per observation in VLCSKIP). Every later phase
// reads these files instead of the data set.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "effect/effect.h"
#include "frame/phases.h"
#include "frame/vlcrun.h"
#include "input/input.h"

namespace velloc {

namespace {

constexpr double kMaxFreq = 2147483647.0;

bool blank(std::string_view s) {
    for (char ch : s)
        if (ch != ' ') return false;
    return true;
}

// Copies text into a blank-padded slot of the given width.
void putText(char* slot, int width, std::string_view text) {
    std::memset(slot, ' ', static_cast<std::size_t>(width));
    std::memcpy(slot, text.data(), std::min(text.size(), static_cast<std::size_t>(width)));
}

void writeOrDie(host::UtilFile& f, const void* rec) {
    if (int rc = f.write(rec); rc != 0) host::utilFatal(rc);
}

// Whether the observation can be used: the checks that a zero weight or frequency skips.
bool usable(VlcRun& run, const host::Dataset& ds, std::vector<unsigned char>& assessMissing) {
    if (run.psSupplied && host::isMissing(ds.num(run.psVar.number))) return false;
    for (std::size_t i = 0; i < run.analysisVars.size(); ++i)
        if (!run.assessOnly[i] && host::isMissing(ds.num(run.analysisVars[i].number))) return false;
    for (const ClassVar& c : run.classVars) {
        if (c.var.type == host::VarType::Numeric) {
            if (host::isMissing(ds.num(c.var.number))) return false;
        } else if (blank(ds.text(c.var.number))) {
            return false;
        }
    }
    for (std::size_t i = 0; i < run.analysisVars.size(); ++i)
        if (run.assessOnly[i] && host::isMissing(ds.num(run.analysisVars[i].number)))
            assessMissing[i] = 1;
    return true;
}

void fillRecord(const VlcRun& run, const host::Dataset& ds, double* rec) {
    for (std::size_t i = 0; i < run.analysisVars.size(); ++i)
        rec[kDataAnalysis + i] = ds.num(run.analysisVars[i].number);
    char* bytes = reinterpret_cast<char*>(rec);
    int idNum = 0;
    int idText = run.dataIdText;
    for (const IdVar& v : run.idVars) {
        if (v.var.type == host::VarType::Numeric) {
            rec[run.dataIdNum + idNum++] = ds.num(v.var.number);
        } else {
            putText(bytes + idText, v.width, ds.text(v.var.number));
            idText += v.width;
        }
    }
    for (std::size_t c = 0; c < run.classVars.size(); ++c) {
        const ClassVar& cv = run.classVars[c];
        if (run.classNumSlot[c] >= 0)
            rec[run.dataClassNum + run.classNumSlot[c]] = ds.num(cv.var.number);
        // Formatted values are left-justified in their slot, so that levels compare as text.
        std::string f = ds.formatted(cv.var.number);
        std::size_t b = f.find_first_not_of(' ');
        putText(bytes + run.dataClassText + cv.offset, cv.width,
                b == std::string::npos ? std::string_view() : std::string_view(f).substr(b));
        if (cv.rawOffset >= 0) {
            const int len = run.inData->var(cv.var.number).length;
            putText(bytes + run.dataClassRaw + cv.rawOffset, len, ds.text(cv.var.number));
        }
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

    std::vector<double> rec(static_cast<std::size_t>(run.dataRecBytes) / 8, 0.0);
    std::vector<unsigned char>& assessMissing = run.assessOnlyMissing;
    const bool hasFreq = run.freqVar.number > 0;
    const bool hasWeight = run.weightVar.number > 0;
    std::int64_t obs = 0;
    run.nObsRead = 0;
    run.totalFreq = 0.0;

    const bool keepEffect = run.effect.given;
    if (keepEffect) run.effect.values.clear();
    while (ds.nextObs()) {
        ++obs;
        if (keepEffect) effectKeep(run, ds);
        double freq = hasFreq ? ds.num(run.freqVar.number) : 1.0;
        double weight = hasWeight ? ds.num(run.weightVar.number) : 1.0;
        // A zero weight or frequency keeps the observation in the data (it still appears in
        // the output data set) whatever its other values.
        bool direct = false;
        if (hasWeight && !(weight > 0.0)) {
            weight = 0.0;
            direct = true;
        }
        if (hasFreq && !(freq >= 1.0)) {
            freq = 0.0;
            direct = true;
        }
        std::int32_t flag = 1;
        if (direct || usable(run, ds, assessMissing)) {
            if (hasFreq && freq > kMaxFreq) {
                host::xpmlog(host::kGroupProc, 222,
                             {fmt::format("{:.17g}", freq), std::to_string(obs)});
                run.raise(112);
                return 1;
            }
            freq = std::floor(freq);
            std::fill(rec.begin(), rec.end(), 0.0);
            rec[kDataObs] = static_cast<double>(obs);
            rec[kDataFreq] = freq;
            rec[kDataWeight] = weight;
            rec[kDataScore] = run.psSupplied ? ds.num(run.psVar.number) : host::missingValue();
            fillRecord(run, ds, rec.data());
            writeOrDie(data, rec.data());
            ++run.nObsRead;
            if (hasFreq) run.totalFreq += freq;
            flag = 0;
        }
        writeOrDie(skip, &flag);
    }

    if (run.assessGiven) {
        for (std::size_t i = 0; i < assessMissing.size(); ++i) {
            if (!assessMissing[i]) continue;
            if (i < run.balance.excluded.size()) run.balance.excluded[i] = 1;
            host::xpmlog(host::kGroupProc, 223, {run.analysisVars[i].name});
            run.raise(4);
        }
    }
    return 0;
}

} // namespace velloc
