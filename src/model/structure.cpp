#include "model/structure.h"

#include <algorithm>
#include <cstdint>

namespace velloc {

namespace {

// Effects crossing more CLASS variables than this are not screened (2^n subsets).
constexpr int kMaxClassFactors = 20;

// An effect as the screen sees it: its CLASS variables in column order (the last varying
// fastest) and its continuous monomial, a sorted multiset of continuous variables.
struct EffectShape {
    std::vector<int> cls;
    std::vector<int> mono;
    std::int64_t width = 1;
};

EffectShape shapeOf(const ModelDesc& m, const EffectSpec& e) {
    EffectShape s;
    for (const auto* list : {&e.crossed, &e.nested})
        for (const FactorRef& f : *list) {
            if (!f.isClass) {
                s.mono.push_back(f.index);
            } else if (std::find(s.cls.begin(), s.cls.end(), f.index) == s.cls.end()) {
                s.cls.push_back(f.index);
                s.width *= m.levels[static_cast<std::size_t>(f.index)].count();
            }
        }
    std::sort(s.mono.begin(), s.mono.end());
    return s;
}

// Marks the redundant columns of one effect with CLASS variables S (level counts nLev, the
// last varying fastest), given the family `in` of subsets Q of S whose functions of c_Q the
// earlier columns span. (The earlier effects T span every function of c_T; the conditional
// expectations of the uniform product measure commute, so their sum meets the functions of
// c_S in exactly the sum over the down-closed family of the S n T.) Column l is redundant
// iff the variables not at their last level in l form a set of the family: expanding each
// last-level indicator as 1 minus the others writes e_l as a function of c_Q in the span plus
// columns that come before l in the column order; and the columns kept number
// sum over Q outside the family of prod (n_v - 1), the dimension left, so none of them is
// redundant.
void markRedundant(const std::vector<int>& nLev, const std::vector<unsigned char>& in,
                   std::int64_t w, unsigned char* flags) {
    const int s = static_cast<int>(nLev.size());
    for (std::int64_t j = 0; j < w; ++j) {
        std::int64_t r = j;
        unsigned notLast = 0;
        for (int v = s - 1; v >= 0; --v) {
            if (r % nLev[v] != nLev[v] - 1) notLast |= 1u << v;
            r /= nLev[v];
        }
        flags[j] = in[notLast];
    }
}

} // namespace

std::vector<unsigned char> structuralAliases(const ModelDesc& model) {
    const int D = model.layout.D;
    // Only a layout built from the registered effects can be screened.
    const auto& effects = model.modelDef.effects;
    std::int64_t width = 1;
    for (int w : model.layout.effectWidth)
        width += w;
    if (D < 1 || model.layout.effectWidth.size() != effects.size() || width != D) return {};

    // Columns with different continuous monomials are independent as functions of the
    // continuous values, so each effect is screened against the earlier effects of its own
    // monomial (the intercept has the empty one), over its own CLASS variables only.
    std::vector<unsigned char> aliased(static_cast<std::size_t>(D), 0);
    std::vector<EffectShape> shapes;
    for (const EffectSpec& e : effects)
        shapes.push_back(shapeOf(model, e));
    for (std::size_t e = 0; e < effects.size(); ++e) {
        const EffectShape& sh = shapes[e];
        const std::int64_t w = model.layout.effectWidth[e];
        if (w == 0 || sh.width != w) continue;
        const int s = static_cast<int>(sh.cls.size());
        if (s > kMaxClassFactors) continue;
        // The family: every subset of S that lies within S n T for an earlier effect T of
        // the same monomial.
        const unsigned full = (1u << s) - 1u;
        std::vector<unsigned> tops;
        if (sh.mono.empty()) tops.push_back(0); // the intercept
        for (std::size_t t = 0; t < e; ++t) {
            if (shapes[t].mono != sh.mono || model.layout.effectWidth[t] == 0) continue;
            unsigned meet = 0;
            for (int v = 0; v < s; ++v)
                if (std::find(shapes[t].cls.begin(), shapes[t].cls.end(), sh.cls[v]) !=
                    shapes[t].cls.end())
                    meet |= 1u << v;
            tops.push_back(meet);
        }
        if (tops.empty()) continue; // nothing earlier to depend on
        std::vector<unsigned char> in(static_cast<std::size_t>(full) + 1, 0);
        for (unsigned q = 0; q <= full; ++q)
            for (unsigned t : tops)
                if ((q & ~t) == 0) {
                    in[q] = 1;
                    break;
                }
        unsigned char* flags = aliased.data() + model.layout.effectStart[e];
        if (in[full]) {
            std::fill(flags, flags + w, 1);
            continue;
        }
        std::vector<int> nLev;
        for (int c : sh.cls)
            nLev.push_back(model.levels[static_cast<std::size_t>(c)].count());
        markRedundant(nLev, in, w, flags);
    }
    return aliased;
}

} // namespace velloc
