#include "model/structure.h"

#include <cstdint>

#include "host/sweep.h"

namespace velloc {

namespace {

constexpr std::int64_t kMaxCombinations = 20000;
constexpr int kRowsPerCombination = 3; // enough variation for every continuous crossing

std::size_t packedSize(int n) {
    return static_cast<std::size_t>(n) * (n + 1) / 2;
}

// A fixed generator keeps the screening deterministic from run to run.
double nextGeneric(std::uint64_t& state) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * (1.0 / 9007199254740992.0) * 2.0 - 1.0;
}

} // namespace

std::vector<unsigned char> structuralAliases(const ModelDesc& model) {
    const int D = model.layout.D;
    // Only a layout built from the registered effects can be screened.
    int width = 1;
    for (int w : model.layout.effectWidth)
        width += w;
    if (D < 1 || model.layout.effectWidth.size() != model.modelDef.effects.size() || width != D)
        return {};
    // Only the CLASS variables of the effects vary; the others stay at their first level.
    const std::size_t nClass = model.levels.size();
    std::vector<unsigned char> used(nClass, 0);
    for (const EffectSpec& e : model.modelDef.effects) {
        for (const FactorRef& f : e.crossed)
            if (f.isClass) used[static_cast<std::size_t>(f.index)] = 1;
        for (const FactorRef& f : e.nested)
            if (f.isClass) used[static_cast<std::size_t>(f.index)] = 1;
    }
    std::int64_t combos = 1;
    for (std::size_t c = 0; c < nClass; ++c) {
        if (!used[c]) continue;
        const int n = model.levels[c].count();
        if (n < 1) return {};
        combos *= n;
        if (combos > kMaxCombinations) return {};
    }

    std::vector<int> level(nClass, 0);
    std::vector<double> cont(static_cast<std::size_t>(model.modelDef.nCont));
    std::vector<double> row(static_cast<std::size_t>(D));
    std::vector<double> cross(packedSize(D), 0.0);
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (std::int64_t c = 0; c < combos; ++c) {
        for (int r = 0; r < kRowsPerCombination; ++r) {
            for (double& v : cont)
                v = nextGeneric(state);
            zlevrgx(model, cont.data(), level.data(), row.data());
            for (int i = 0; i < D; ++i)
                for (int j = 0; j <= i; ++j)
                    cross[packedSize(i) + j] += row[i] * row[j];
        }
        // Next combination, the last used CLASS variable fastest.
        for (std::size_t k = nClass; k-- > 0;) {
            if (!used[k]) continue;
            if (++level[k] < model.levels[k].count()) break;
            level[k] = 0;
        }
    }
    std::vector<double> diag(static_cast<std::size_t>(D));
    for (int i = 0; i < D; ++i)
        diag[i] = cross[packedSize(i) + i];
    std::string status(static_cast<std::size_t>(D), '0');
    for (int k = 0; k < D; ++k)
        host::zsweep(cross.data(), D, k, 1e-8, diag.data(), status.data());
    std::vector<unsigned char> aliased(static_cast<std::size_t>(D), 0);
    for (int k = 1; k < D; ++k)
        aliased[k] = status[k] == '0';
    return aliased;
}

} // namespace velloc
