#include "model/structure.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "host/sweep.h"

namespace velloc {

namespace {

// Effects crossing more CLASS variables than this are not screened (2^n subsets).
constexpr int kMaxClassFactors = 20;

std::size_t packedSize(std::int64_t n) {
    return static_cast<std::size_t>(n) * static_cast<std::size_t>(n + 1) / 2;
}

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

// Exact screen of one effect's columns. U, the span of the earlier columns restricted to
// functions of this effect's CLASS variables S, is the sum of the spaces V_Q of functions of
// c_Q over the down-closed family `in` of subsets Q of S (the conditional expectations of
// the uniform product measure commute, so the earlier spans meet V_S in exactly that sum).
// Column e_j is redundant iff P e_j lies in the span of P e_0..P e_{j-1}, P the orthogonal
// projector onto U's complement; P is its own Gram matrix, so sweeping it in column order
// marks the redundant columns.
void sweepScreen(const std::vector<int>& nLev, const std::vector<unsigned char>& in, std::int64_t w,
                 unsigned char* flags) {
    const int s = static_cast<int>(nLev.size());
    const unsigned full = (1u << s) - 1u;
    // P = sum over Q not in the family of the ANOVA component A_Q
    //   = sum over Q' of c(Q') E_Q', c(Q') = sum_{Q >= Q', Q not in family} (-1)^|Q - Q'|.
    std::vector<double> coef(static_cast<std::size_t>(full) + 1, 0.0), inv(coef.size(), 1.0);
    for (unsigned q1 = 0; q1 <= full; ++q1) {
        for (unsigned q = q1;; q = (q + 1) | q1) {
            if (!in[q]) coef[q1] += (__builtin_popcount(q ^ q1) & 1) ? -1.0 : 1.0;
            if (q == full) break;
        }
        for (int v = 0; v < s; ++v)
            if (!(q1 >> v & 1u)) inv[q1] /= nLev[static_cast<std::size_t>(v)];
    }
    // Level tuple of each column: the last CLASS variable varies fastest.
    std::vector<int> tuple(static_cast<std::size_t>(w * s));
    for (std::int64_t j = 0; j < w; ++j) {
        std::int64_t r = j;
        for (int v = s - 1; v >= 0; --v) {
            tuple[static_cast<std::size_t>(j * s + v)] = static_cast<int>(r % nLev[v]);
            r /= nLev[v];
        }
    }
    std::vector<double> p(packedSize(w));
    for (std::int64_t i = 0; i < w; ++i)
        for (std::int64_t j = 0; j <= i; ++j) {
            unsigned same = 0;
            for (int v = 0; v < s; ++v)
                if (tuple[static_cast<std::size_t>(i * s + v)] ==
                    tuple[static_cast<std::size_t>(j * s + v)])
                    same |= 1u << v;
            double x = 0.0;
            for (unsigned q1 = same;; q1 = (q1 - 1) & same) { // every subset of `same`
                x += coef[q1] * inv[q1];
                if (q1 == 0) break;
            }
            p[packedSize(i) + static_cast<std::size_t>(j)] = x;
        }
    std::vector<double> diag(static_cast<std::size_t>(w));
    for (std::int64_t i = 0; i < w; ++i)
        diag[static_cast<std::size_t>(i)] = p[packedSize(i) + static_cast<std::size_t>(i)];
    std::string status(static_cast<std::size_t>(w), '0');
    const int n = static_cast<int>(w);
    for (int k = 0; k < n; ++k) {
        // A column P annihilates is in U outright; the relative test cannot see that.
        if (diag[static_cast<std::size_t>(k)] <= 1e-12) continue;
        host::zsweep(p.data(), n, k, 1e-8, diag.data(), status.data());
    }
    for (std::int64_t j = 0; j < w; ++j)
        flags[j] = status[static_cast<std::size_t>(j)] == '0';
}

// Corner-point rule for wide effects: a column is redundant when the CLASS variables not at
// their last level form a set of the family (the randomized tests check it against the
// sweep).
void cornerScreen(const std::vector<int>& nLev, const std::vector<unsigned char>& in,
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

std::vector<unsigned char> structuralAliases(const ModelDesc& model, std::int64_t sweepWidth) {
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
        // The sweep costs O(w^3); wide effects take the closed form.
        if (w <= sweepWidth)
            sweepScreen(nLev, in, w, flags);
        else
            cornerScreen(nLev, in, w, flags);
    }
    return aliased;
}

} // namespace velloc
