#include "model/levelize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "base/cores.h"
#include "base/missing.h"

namespace velloc {

namespace {

// Below this many levels a linear scan over the level texts beats hashing.
constexpr int kScanLevels = 24;

bool allBlank(const char* p, int w) {
    for (int i = 0; i < w; ++i)
        if (p[i] != ' ' && p[i] != '\0') return false;
    return true;
}

// Index of the text among the known levels, or -1.
int findLevel(const ClassLevels& lv, const char* p, int w) {
    const int n = lv.count();
    if (n <= kScanLevels) {
        for (int i = 0; i < n; ++i)
            if (std::memcmp(lv.text[i].data(), p, static_cast<std::size_t>(w)) == 0) return i;
        return -1;
    }
    auto it = lv.index.find(std::string(p, static_cast<std::size_t>(w)));
    return it == lv.index.end() ? -1 : it->second;
}

// True when the row's value of CLASS variable v is missing.
bool missingClass(const ModelDesc& m, int v) {
    const ClassVarSpec& cv = m.modelDef.classVars[v];
    if ((cv.numeric || cv.numericUnformatted) && host::isMissing(m.numBuf[v])) return true;
    return allBlank(m.textBuf.data() + m.textOffset[v], cv.width);
}

int fetch(ModelDesc& m, RowCursor& cursor, CursorRow& row) {
    row.z = m.contVals.data();
    row.classText = m.textBuf.data();
    row.classNum = m.numBuf.data();
    row.freq = 1.0;
    row.weight = 1.0;
    std::fill(m.textBuf.begin(), m.textBuf.end(), ' ');
    return cursor.vlcxval(row);
}

void refIndex(ClassLevels& lv) {
    lv.index.clear();
    if (lv.count() > kScanLevels)
        for (int i = 0; i < lv.count(); ++i)
            lv.index.emplace(lv.text[i], i);
}

} // namespace

int zlevmod(ModelDesc& m, const ModelSpec& modelDef) {
    const int nClass = static_cast<int>(modelDef.classVars.size());
    for (const auto& e : modelDef.effects) {
        if (e.crossed.empty()) return 1;
        for (const auto* list : {&e.crossed, &e.nested})
            for (const FactorRef& f : *list) {
                const int limit = f.isClass ? nClass : modelDef.nCont;
                if (f.index < 0 || f.index >= limit) return 1;
            }
    }
    m.modelDef = modelDef;
    // An indicator squared is itself: a CLASS variable repeated within an effect counts once.
    for (auto& e : m.modelDef.effects) {
        std::vector<int> seen;
        for (auto* list : {&e.crossed, &e.nested})
            list->erase(std::remove_if(list->begin(), list->end(),
                                       [&](const FactorRef& f) {
                                           if (!f.isClass) return false;
                                           if (std::find(seen.begin(), seen.end(), f.index) !=
                                               seen.end())
                                               return true;
                                           seen.push_back(f.index);
                                           return false;
                                       }),
                        list->end());
    }
    m.levels.assign(static_cast<std::size_t>(nClass), ClassLevels{});
    m.levelIdx.assign(static_cast<std::size_t>(nClass), -1);
    m.contVals.assign(static_cast<std::size_t>(modelDef.nCont), 0.0);
    m.numBuf.assign(static_cast<std::size_t>(nClass), 0.0);
    m.textOffset.assign(static_cast<std::size_t>(nClass), 0);
    std::size_t off = 0;
    for (int v = 0; v < nClass; ++v) {
        m.textOffset[v] = off;
        off += static_cast<std::size_t>(std::max(modelDef.classVars[v].width, 0));
    }
    m.textBuf.assign(off + 1, ' ');
    m.layout = DesignLayout{};
    m.cursor = nullptr;
    return 0;
}

void zlevcur(ModelDesc& m, RowCursor* cursor) {
    m.cursor = cursor;
    for (auto& lv : m.levels)
        lv.stale = true;
}

namespace {

// Adds a row's level (text p of width w, value) to the known levels: a new text is appended,
// a known one keeps the smaller value.
void addLevel(ClassLevels& lv, const char* p, int w, double value) {
    const int i = findLevel(lv, p, w);
    if (i < 0) {
        lv.text.emplace_back(p, static_cast<std::size_t>(w));
        lv.value.push_back(value);
        if (lv.count() == kScanLevels + 1)
            refIndex(lv);
        else if (lv.count() > kScanLevels + 1)
            lv.index.emplace(lv.text.back(), lv.count() - 1);
    } else if (value < lv.value[i]) {
        lv.value[i] = value;
    }
}

// The levels of the cursor's rows into levels (one list a CLASS variable, in the order found),
// through m's row buffers. Returns 1 when the cursor fails.
int discoverLevels(ModelDesc& m, RowCursor& cursor, std::vector<ClassLevels>& levels) {
    const int nClass = static_cast<int>(m.modelDef.classVars.size());
    levels.assign(static_cast<std::size_t>(nClass), ClassLevels{});
    if (cursor.vlcxini() != 0) return 1;
    CursorRow row;
    while (cursor.vlcxnxt() == 1) {
        if (fetch(m, cursor, row) != 1) return 1;
        for (int v = 0; v < nClass; ++v) {
            if (missingClass(m, v)) continue;
            double value = m.modelDef.classVars[v].numericUnformatted ? m.numBuf[v] : 0.0;
            if (value == 0.0) value = 0.0; // one level for -0 and +0
            addLevel(levels[v], m.textBuf.data() + m.textOffset[v], m.modelDef.classVars[v].width,
                     value);
        }
    }
    return 0;
}

// Puts the levels found in their order and lays out the design columns.
void finishLevels(ModelDesc& m) {
    // Level order: byte order of the padded texts, or numeric order for unformatted numbers.
    // Both are total (texts are distinct), so the order in which levels were found is lost.
    const int nClass = static_cast<int>(m.modelDef.classVars.size());
    for (int v = 0; v < nClass; ++v) {
        ClassLevels& lv = m.levels[v];
        std::vector<int> order(static_cast<std::size_t>(lv.count()));
        std::iota(order.begin(), order.end(), 0);
        if (m.modelDef.classVars[v].numericUnformatted) {
            std::sort(order.begin(), order.end(), [&](int a, int b) {
                if (lv.value[a] != lv.value[b]) return lv.value[a] < lv.value[b];
                return lv.text[a] < lv.text[b];
            });
        } else {
            std::sort(order.begin(), order.end(),
                      [&](int a, int b) { return lv.text[a] < lv.text[b]; });
        }
        ClassLevels sorted;
        for (int i : order) {
            sorted.text.push_back(std::move(lv.text[i]));
            sorted.value.push_back(lv.value[i]);
        }
        sorted.stale = false;
        lv = std::move(sorted);
        refIndex(lv);
    }

    DesignLayout& lay = m.layout;
    lay.effectStart.clear();
    lay.effectWidth.clear();
    int d = 1;
    for (const auto& e : m.modelDef.effects) {
        int width = 1;
        for (const auto* list : {&e.crossed, &e.nested})
            for (const FactorRef& f : *list)
                if (f.isClass) width *= m.levels[f.index].count();
        lay.effectStart.push_back(d);
        lay.effectWidth.push_back(width);
        d += width;
    }
    lay.D = d;
}

} // namespace

int zlevrgi(ModelDesc& m) {
    if (!m.cursor) return 1;
    if (discoverLevels(m, *m.cursor, m.levels) != 0) return 1;
    finishLevels(m);
    return 0;
}

int zlevrgiSplit(ModelDesc& m, RowCursor& first, RowCursor& second) {
    std::vector<ClassLevels> found[2];
    int rc[2] = {0, 0};
    // Each half reads rows through buffers of its own, made on its own thread: row buffers
    // that share a cache line with what the other half touches make both halves slower than
    // one pass on one core.
    auto half = [&](int k, RowCursor& cursor) {
        ModelDesc own = m;
        rc[k] = discoverLevels(own, cursor, found[k]);
    };
    runBeside([&] { half(0, first); }, [&] { half(1, second); });
    if (rc[0] != 0 || rc[1] != 0) return 1;
    m.levels = std::move(found[0]);
    for (std::size_t v = 0; v < found[1].size(); ++v)
        for (int i = 0; i < found[1][v].count(); ++i)
            addLevel(m.levels[v], found[1][v].text[i].data(), m.modelDef.classVars[v].width,
                     found[1][v].value[i]);
    finishLevels(m);
    return 0;
}

int zlevrgd(ModelDesc& m, double* weight, double* freq) {
    CursorRow row;
    if (!m.cursor || fetch(m, *m.cursor, row) != 1) return 1;
    const int nClass = static_cast<int>(m.modelDef.classVars.size());
    for (int v = 0; v < nClass; ++v) {
        m.levelIdx[v] = missingClass(m, v)
                            ? -1
                            : findLevel(m.levels[v], m.textBuf.data() + m.textOffset[v],
                                        m.modelDef.classVars[v].width);
    }
    if (weight) *weight = row.weight;
    if (freq) *freq = row.freq;
    return 0;
}

void zlevrgx(const ModelDesc& m, const double* cont, const int* levelIdx, double* row) {
    row[0] = 1.0;
    const auto& effects = m.modelDef.effects;
    for (std::size_t e = 0; e < effects.size(); ++e) {
        const int start = m.layout.effectStart[e];
        const int width = m.layout.effectWidth[e];
        double* out = row + start;
        double value = 1.0;
        long pos = 0;
        bool missing = false;
        for (const auto* list : {&effects[e].crossed, &effects[e].nested})
            for (const FactorRef& f : *list) {
                if (f.isClass) {
                    const int li = levelIdx[f.index];
                    const int n = m.levels[f.index].count();
                    if (li < 0 || li >= n) missing = true;
                    pos = pos * n + li;
                } else {
                    const double x = cont[f.index];
                    if (host::isMissing(x)) missing = true;
                    value *= x;
                }
            }
        if (missing) {
            std::fill(out, out + width, host::missingValue());
            continue;
        }
        std::fill(out, out + width, 0.0);
        out[pos] = value;
    }
}

std::string levelText(const ModelDesc& m, int classVar, int level) {
    const std::string& t = m.levels[classVar].text[level];
    std::size_t b = t.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    std::size_t e = t.find_last_not_of(' ');
    return t.substr(b, e - b + 1);
}

} // namespace velloc
