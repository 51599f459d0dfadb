#include "solvers/flow_by_parts.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace velloc::host {
namespace {

// Parts larger than this are not worth the price search (it solves a part several times), and
// their potentials could leave the 64-bit range.
constexpr std::int64_t kMostPartNodes = 50'000;
// A part of at most this many nodes is split off even when it is most of the network.
constexpr std::int64_t kAlwaysSplit = 1'000;

// The network's parts: nodes and arcs of each, grouped part by part.
struct Parts {
    std::vector<std::int32_t> partOf; // per node; -1 for a sink
    std::vector<std::int64_t> nodeStart, arcStart;
    std::vector<std::int32_t> nodes, arcs; // original indices, part by part
    std::vector<std::int32_t> localOf;     // per node: its index within its part
    std::int64_t count() const { return static_cast<std::int64_t>(nodeStart.size()) - 1; }
};

std::int32_t findRoot(std::vector<std::int32_t>& up, std::int32_t v) {
    while (up[v] != v)
        v = up[v] = up[up[v]];
    return v;
}

Parts splitParts(std::int32_t n, std::span<const WorkArc> arcs,
                 std::span<const std::uint8_t> sink) {
    std::vector<std::int32_t> up(n);
    std::iota(up.begin(), up.end(), 0);
    for (const WorkArc& a : arcs)
        if (!sink[a.head]) up[findRoot(up, a.tail)] = findRoot(up, a.head);
    Parts p;
    p.partOf.assign(n, -1);
    std::vector<std::int32_t> idOfRoot(n, -1);
    std::int32_t parts = 0;
    for (std::int32_t v = 0; v < n; ++v) {
        if (sink[v]) continue;
        const std::int32_t r = findRoot(up, v);
        if (idOfRoot[r] < 0) idOfRoot[r] = parts++;
        p.partOf[v] = idOfRoot[r];
    }
    p.nodeStart.assign(static_cast<std::size_t>(parts) + 1, 0);
    p.arcStart.assign(static_cast<std::size_t>(parts) + 1, 0);
    for (std::int32_t v = 0; v < n; ++v)
        if (p.partOf[v] >= 0) ++p.nodeStart[p.partOf[v] + 1];
    for (const WorkArc& a : arcs)
        ++p.arcStart[p.partOf[a.tail] + 1];
    for (std::int32_t k = 0; k < parts; ++k) {
        p.nodeStart[k + 1] += p.nodeStart[k];
        p.arcStart[k + 1] += p.arcStart[k];
    }
    p.nodes.resize(p.nodeStart[parts]);
    p.arcs.resize(arcs.size());
    p.localOf.assign(n, -1);
    std::vector<std::int64_t> nodeAt(p.nodeStart.begin(), p.nodeStart.end() - 1);
    std::vector<std::int64_t> arcAt(p.arcStart.begin(), p.arcStart.end() - 1);
    for (std::int32_t v = 0; v < n; ++v)
        if (const std::int32_t k = p.partOf[v]; k >= 0) {
            p.localOf[v] = static_cast<std::int32_t>(nodeAt[k] - p.nodeStart[k]);
            p.nodes[nodeAt[k]++] = v;
        }
    for (std::size_t a = 0; a < arcs.size(); ++a)
        p.arcs[arcAt[p.partOf[arcs[a].tail]]++] = static_cast<std::int32_t>(a);
    return p;
}

// One part as a network of its own: its nodes 0 .. m-1, then the first sink, the second (with
// two), the artificial node and, with two sinks, a collecting node T that the sinks reach in
// both directions, from the first at cost -price and back at +price. Both directions of room
// force pi(first sink) - pi(T) = price and pi(second sink) = pi(T) on every solution, so that
// the parts' potentials fit together.
class PartNetwork {
  public:
    PartNetwork(const Parts& parts, std::int64_t k, std::span<const WorkArc> arcs,
                std::span<const std::int64_t> supply, const std::int32_t (&sinks)[2],
                std::int64_t artificialCost)
        : two_(sinks[1] >= 0) {
        const std::int64_t n0 = parts.nodeStart[k], n1 = parts.nodeStart[k + 1];
        m_ = static_cast<std::int32_t>(n1 - n0);
        const std::int32_t h0 = m_, h1 = m_ + 1, x = two_ ? m_ + 2 : m_ + 1, t = m_ + 3;
        nodes_ = two_ ? m_ + 4 : m_ + 2;
        supply_.assign(nodes_, 0);
        for (std::int64_t i = n0; i < n1; ++i) {
            const std::int64_t s = supply[parts.nodes[i]];
            supply_[i - n0] = s;
            total_ += s;
        }
        for (std::int64_t a = parts.arcStart[k]; a < parts.arcStart[k + 1]; ++a) {
            const WorkArc& w = arcs[parts.arcs[a]];
            std::int32_t head = parts.localOf[w.head];
            if (head < 0) head = w.head == sinks[0] ? h0 : h1;
            base_.push_back({parts.localOf[w.tail], head, w.cost, w.capacity});
        }
        nReal_ = base_.size();
        for (std::int32_t v = 0; v < m_; ++v)
            if (supply_[v] > 0) base_.push_back({v, x, artificialCost, supply_[v]});
        nArtificial_ = base_.size() - nReal_;
        // Room beyond the supply, so that no arc between the sinks and T is ever full.
        const std::int64_t room = total_ + 1;
        base_.push_back({x, h0, 0, room});
        if (two_) {
            base_.push_back({x, h1, 0, room});
            base_.push_back({h0, t, 0, room}); // cost set by the price
            base_.push_back({t, h0, 0, room});
            base_.push_back({h1, t, 0, room});
            base_.push_back({t, h1, 0, room});
            supply_[t] = -total_;
        } else {
            supply_[h0] = -total_;
        }
    }

    std::int64_t total() const { return total_; }

    // Solves with every cost times `scale` and the price on the first sink; false when the
    // simplex finds no optimal flow or the potentials do not fit together.
    bool solve(std::int64_t scale, std::int64_t price) {
        std::vector<WorkArc> a = base_;
        for (std::size_t i = 0; i < nReal_ + nArtificial_; ++i)
            a[i].cost *= scale;
        if (two_) {
            const std::size_t e = a.size();
            a[e - 4].cost = -price;
            a[e - 3].cost = price;
        }
        out_ = simplex(nodes_, a, supply_, PivotRule::kAlteringList);
        if (!out_.optimal) return false;
        if (two_) {
            const std::int64_t pt = out_.potential[m_ + 3];
            if (out_.potential[m_] - pt != price || out_.potential[m_ + 1] != pt) return false;
        }
        scale_ = scale;
        return true;
    }

    // Units the last solution sends into the first sink (through T).
    std::int64_t toFirst() const {
        if (!two_) return total_;
        const std::size_t e = base_.size();
        return out_.flow[e - 4] - out_.flow[e - 3];
    }

    // Moves up to `most` units from the second sink's share to the first (most > 0) or back
    // (most < 0) along paths of zero reduced cost of the last solution, which stays optimal for
    // its price; returns the units moved.
    std::int64_t shift(std::int64_t most) {
        const std::int32_t from = most > 0 ? m_ + 1 : m_, to = most > 0 ? m_ : m_ + 1;
        std::int64_t left = most > 0 ? most : -most, moved = 0;
        const std::size_t nArcs = base_.size() - (two_ ? 4 : 0); // not the arcs to T
        // Adjacency of the residual network: arc i forwards as 2i, backwards as 2i + 1.
        std::vector<std::int32_t> first(nodes_ + 1, 0), entries(2 * nArcs);
        for (std::size_t i = 0; i < nArcs; ++i) {
            ++first[base_[i].tail + 1];
            ++first[base_[i].head + 1];
        }
        for (std::int32_t v = 0; v < nodes_; ++v)
            first[v + 1] += first[v];
        {
            std::vector<std::int32_t> at(first.begin(), first.end() - 1);
            for (std::size_t i = 0; i < nArcs; ++i) {
                entries[at[base_[i].tail]++] = static_cast<std::int32_t>(2 * i);
                entries[at[base_[i].head]++] = static_cast<std::int32_t>(2 * i + 1);
            }
        }
        // Levels by breadth over arcs of zero reduced cost with room, then blocking paths
        // along the levels (as in Dinic's maximum flow): a part with many tied units moves
        // them in a few phases, not one search each.
        auto room = [&](std::int32_t e) {
            const std::int32_t i = e / 2;
            return e % 2 == 0 ? base_[i].capacity - out_.flow[i] : out_.flow[i];
        };
        auto headOf = [&](std::int32_t e) {
            return e % 2 == 0 ? base_[e / 2].head : base_[e / 2].tail;
        };
        auto tailOf = [&](std::int32_t e) {
            return e % 2 == 0 ? base_[e / 2].tail : base_[e / 2].head;
        };
        std::vector<std::uint8_t> zero(nArcs);
        for (std::size_t i = 0; i < nArcs; ++i)
            zero[i] = zeroReduced(i);
        std::vector<std::int32_t> level(nodes_), cur(nodes_), queue, path;
        while (left > 0) {
            std::fill(level.begin(), level.end(), -1);
            level[from] = 0;
            queue.assign(1, from);
            for (std::size_t q = 0; q < queue.size(); ++q) {
                const std::int32_t v = queue[q];
                for (std::int32_t k = first[v]; k < first[v + 1]; ++k) {
                    const std::int32_t e = entries[k], u = headOf(e);
                    if (level[u] >= 0 || !zero[e / 2] || room(e) <= 0) continue;
                    level[u] = level[v] + 1;
                    queue.push_back(u);
                }
            }
            if (level[to] < 0) break;
            std::copy(first.begin(), first.end() - 1, cur.begin());
            path.clear();
            for (std::int32_t v = from; left > 0;) {
                if (v == to) {
                    std::int64_t r = left;
                    for (std::int32_t e : path)
                        r = std::min(r, room(e));
                    for (std::int32_t e : path)
                        out_.flow[e / 2] += e % 2 == 0 ? r : -r;
                    left -= r;
                    moved += r;
                    path.clear();
                    v = from;
                    continue;
                }
                bool advanced = false;
                for (; cur[v] < first[v + 1]; ++cur[v]) {
                    const std::int32_t e = entries[cur[v]], u = headOf(e);
                    if (level[u] == level[v] + 1 && zero[e / 2] && room(e) > 0) {
                        path.push_back(e);
                        v = u;
                        advanced = true;
                        break;
                    }
                }
                if (advanced) continue;
                level[v] = -1; // a dead end for the rest of this phase
                if (path.empty()) break;
                v = tailOf(path.back());
                path.pop_back();
                ++cur[v];
            }
        }
        // The sinks' arcs to T carry what each sink now takes.
        if (two_ && moved > 0) {
            const std::size_t e = base_.size();
            const std::int64_t d = most > 0 ? moved : -moved;
            auto move = [&](std::size_t out, std::size_t back, std::int64_t by) {
                const std::int64_t net = out_.flow[out] - out_.flow[back] + by;
                out_.flow[out] = std::max<std::int64_t>(net, 0);
                out_.flow[back] = std::max<std::int64_t>(-net, 0);
            };
            move(e - 4, e - 3, d);
            move(e - 2, e - 1, -d);
        }
        return most > 0 ? moved : -moved;
    }

    // The solution into the whole network's arrays, potentials shifted so that T (with two
    // sinks) or the sink (with one) is at 0.
    void emit(const Parts& parts, std::int64_t k, PartsFlow& res) const {
        const std::int64_t base = out_.potential[two_ ? m_ + 3 : m_];
        for (std::int32_t v = 0; v < m_; ++v)
            res.potential[parts.nodes[parts.nodeStart[k] + v]] = out_.potential[v] - base;
        for (std::size_t i = 0; i < nReal_; ++i)
            res.flow[parts.arcs[parts.arcStart[k] + static_cast<std::int64_t>(i)]] = out_.flow[i];
        for (std::size_t i = nReal_; i < nReal_ + nArtificial_; ++i) {
            res.artificialOut[parts.nodes[parts.nodeStart[k] + base_[i].tail]] = out_.flow[i];
            res.artificialTotal += out_.flow[i];
        }
        const std::size_t x = nReal_ + nArtificial_;
        res.artificialIn[0] += out_.flow[x];
        if (two_) res.artificialIn[1] += out_.flow[x + 1];
    }

  private:
    bool zeroReduced(std::size_t i) const {
        const WorkArc& w = base_[i];
        return w.cost * scale_ + out_.potential[w.tail] - out_.potential[w.head] == 0;
    }

    bool two_;
    std::int32_t m_ = 0, nodes_ = 0;
    std::int64_t total_ = 0, scale_ = 1;
    std::vector<WorkArc> base_;
    std::size_t nReal_ = 0, nArtificial_ = 0;
    std::vector<std::int64_t> supply_;
    SimplexOut out_;
};

// The shape flowByParts needs: sinks only receive, supplies have the signs it wants.
bool fits(std::int32_t n, std::span<const WorkArc> arcs, std::span<const std::int64_t> supply,
          std::span<const std::uint8_t> isSink, std::int32_t (&sinks)[2]) {
    std::int32_t found = 0;
    for (std::int32_t v = 0; v < n; ++v) {
        if (isSink[v]) {
            if (supply[v] > 0 || found == 2) return false;
            sinks[found++] = v;
        } else if (supply[v] < 0) {
            return false;
        }
    }
    if (found == 0) return false;
    std::int64_t total = 0;
    for (std::int32_t v = 0; v < n; ++v)
        total += supply[v];
    if (total != 0) return false;
    for (const WorkArc& a : arcs)
        if (isSink[a.tail] || a.cost < 0 || a.capacity < 0) return false;
    return true;
}

} // namespace

PartsFlow flowByParts(std::int32_t n, std::span<const WorkArc> arcs,
                      std::span<const std::int64_t> supply, std::span<const std::uint8_t> isSink,
                      PriceBracket* bracket) {
    PartsFlow res;
    std::int32_t sinks[2] = {-1, -1};
    if (!fits(n, arcs, supply, isSink, sinks)) return res;
    const Parts parts = splitParts(n, arcs, isSink);
    const std::int64_t nParts = parts.count();
    std::int64_t largest = 0, maxCost = 1;
    for (std::int64_t k = 0; k < nParts; ++k)
        largest = std::max(largest, parts.nodeStart[k + 1] - parts.nodeStart[k]);
    for (const WorkArc& a : arcs)
        maxCost = std::max(maxCost, a.cost);
    res.parts = nParts;
    if (largest > kMostPartNodes || (largest > kAlwaysSplit && 4 * largest > n)) return res;
    // Dearer than any path within a part; a price beyond lamMax sends everything one way.
    const std::int64_t span = largest + 4;
    const double bound =
        8.0 * static_cast<double>(maxCost) * static_cast<double>(span) * static_cast<double>(span);
    // Potentials stay within bound / 2; LEMON's own artificial cost (2^62) and reduced
    // costs on top of them must stay within 64 bits.
    if (bound > 2e18) return res;
    const std::int64_t artificialCost = maxCost * span + 1;
    const std::int64_t lamMax = artificialCost + span * maxCost + 1;
    res.used = true;
    res.sinks[0] = sinks[0];
    res.sinks[1] = sinks[1];

    std::vector<PartNetwork> net;
    net.reserve(nParts);
    for (std::int64_t k = 0; k < nParts; ++k)
        net.emplace_back(parts, k, arcs, supply, sinks, artificialCost);

    if (sinks[1] >= 0) {
        // Units into the first sink at a price of mu / 2 a unit, mu odd, so that every part's
        // count is the same for all of its optimal flows. lo and hi bracket the price where the
        // parts together reach the demand: below it, fewer; at hi, at least.
        const std::int64_t want = -supply[sinks[0]];
        std::vector<std::int64_t> atLo(nParts, 0), atHi(nParts);
        for (std::int64_t k = 0; k < nParts; ++k)
            atHi[k] = net[k].total();
        std::int64_t lo = -(2 * lamMax + 1), hi = 2 * lamMax + 1;
        std::int64_t sumLo = 0, sumHi = 0;
        for (std::int64_t k = 0; k < nParts; ++k)
            sumHi += atHi[k];
        std::vector<std::int64_t> at(nParts);
        auto evaluate = [&](std::int64_t mu) {
            std::int64_t sum = 0;
            for (std::int64_t k = 0; k < nParts; ++k) {
                if (atLo[k] == atHi[k]) {
                    at[k] = atLo[k]; // no step of this part lies between lo and hi
                } else {
                    if (!net[k].solve(2, mu)) return false;
                    at[k] = net[k].toFirst();
                }
                sum += at[k];
            }
            if (sum >= want) {
                hi = mu;
                sumHi = sum;
                atHi.swap(at);
            } else {
                lo = mu;
                sumLo = sum;
                atLo.swap(at);
            }
            return true;
        };
        // The last search's ends first; then prices of half a unit either way: most networks'
        // price lies on one side of 0, many orders of magnitude below the bound.
        const std::int64_t bound = hi;
        if (bracket && bracket->lo < bracket->hi) {
            for (const std::int64_t mu : {bracket->lo, bracket->hi})
                if (mu > lo && mu < hi && sumHi != want && !evaluate(mu)) return res;
            // The price moved out of them: away from the end passed, by steps growing fourfold.
            for (std::int64_t step = std::max<std::int64_t>(bracket->hi - bracket->lo, 2);
                 (hi == bound) != (lo == -bound) && sumHi != want; step *= 4) {
                const std::int64_t mu = (hi == bound ? lo + step : hi - step) | 1;
                if (mu <= lo || mu >= hi || step > bound) break;
                if (!evaluate(mu)) return res;
            }
        }
        for (const std::int64_t mu : {std::int64_t{1}, std::int64_t{-1}})
            if (mu > lo && mu < hi && sumHi != want && !evaluate(mu)) return res;
        // Then, while the ends differ by more than a factor of 4, their geometric mean; after
        // that by turns the price where the counts at the ends interpolate to the demand (the
        // parts' many small steps add up to a nearly smooth count) and the middle, which bounds
        // the steps by twice those of halving alone. Only the parts whose count still changes
        // between lo and hi are solved.
        // Counts at hi that meet the demand exactly are counts of optimal flows at the price
        // below hi too, so the search may stop there.
        for (bool interpolate = true; hi - lo > 2 && sumHi != want; interpolate = !interpolate) {
            std::int64_t mu = lo + (hi - lo) / 4 * 2;
            const double a = std::fabs(static_cast<double>(lo)),
                         b = std::fabs(static_cast<double>(hi));
            if ((lo > 0 || hi < 0) && std::max(a, b) > 4 * std::min(a, b)) {
                const double g = std::sqrt(a * b) * (lo > 0 ? 1.0 : -1.0);
                mu = static_cast<std::int64_t>(g);
            } else if (interpolate && sumHi > sumLo) {
                const double share =
                    static_cast<double>(want - sumLo) / static_cast<double>(sumHi - sumLo);
                mu = static_cast<std::int64_t>(static_cast<double>(lo) +
                                               share * static_cast<double>(hi - lo));
            }
            mu = std::clamp(mu, lo + 1, hi - 1) | 1; // odd, and lo < mu <= hi
            if (mu >= hi) mu -= 2;
            if (!evaluate(mu)) return res;
        }
        if (bracket) *bracket = {lo, hi};
        const std::int64_t price = (hi - 1) / 2;
        std::int64_t have = 0;
        for (std::int64_t k = 0; k < nParts; ++k) {
            if (!net[k].solve(1, price)) return res;
            have += net[k].toFirst();
        }
        // Parts free to take more (or fewer) at this price make up the difference, the
        // smallest first: a large part with many ties then moves few units.
        std::vector<std::int64_t> order(nParts);
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](std::int64_t x, std::int64_t y) {
            return parts.nodeStart[x + 1] - parts.nodeStart[x] <
                   parts.nodeStart[y + 1] - parts.nodeStart[y];
        });
        for (std::int64_t j = 0; j < nParts && have != want; ++j) {
            const std::int64_t k = order[j];
            const std::int64_t now = net[k].toFirst();
            const std::int64_t most = have < want ? std::min(want - have, atHi[k] - now)
                                                  : std::max(want - have, atLo[k] - now);
            if (most == 0) continue;
            const std::int64_t moved = net[k].shift(most);
            have += moved;
            res.shifted += moved < 0 ? -moved : moved;
        }
        if (have != want) return res;
        res.potential.assign(n, 0);
        res.potential[sinks[0]] = price;
    } else {
        for (std::int64_t k = 0; k < nParts; ++k) {
            if (!net[k].solve(1, 0)) return res;
        }
        res.potential.assign(n, 0);
    }
    res.flow.assign(arcs.size(), 0);
    res.artificialOut.assign(n, 0);
    for (std::int64_t k = 0; k < nParts; ++k)
        net[k].emit(parts, k, res);
    res.optimal = true;
    return res;
}

} // namespace velloc::host
