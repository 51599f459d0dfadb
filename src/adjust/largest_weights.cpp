// The largest-weight lists: each group's observations with the largest analysis weights, kept
// while the weights pass writes the working file, with their ID values for the listing.
#include <algorithm>
#include <cstring>

#include "adjust/adjust.h"
#include "base/missing.h"
#include "core/run_context.h"

namespace velloc {

namespace {

// Sizes a list that the group reset has not prepared (every entry empty).
void prepare(VlcRun::TopList& l, int n, int nNum, int nText) {
    const auto un = static_cast<std::size_t>(n);
    if (l.obs.size() == un && l.value.size() == un &&
        l.idNum.size() == un * static_cast<std::size_t>(nNum) &&
        l.idText.size() == un * static_cast<std::size_t>(nText))
        return;
    l.obs.assign(un, -1.0);
    l.value.assign(un, -1.0);
    l.idNum.assign(un * static_cast<std::size_t>(nNum), host::missingValue());
    l.idText.assign(un * static_cast<std::size_t>(nText), ' ');
}

} // namespace

void vlcextw(VlcRun& run, double v, int g, const double* rec) {
    const int n = run.listLength;
    if (n <= 0 || g < 0 || g > 1) return;
    const int nNum = run.idNumCount, nText = run.idTextBytes;
    VlcRun::TopList& l = run.largestWgt[g];
    prepare(l, n, nNum, nText);
    int p = 0;
    while (p < n && !(l.value[static_cast<std::size_t>(p)] < v))
        ++p;
    if (p == n) return;
    // Shift p .. n-2 down one place; the last entry drops out.
    for (int i = n - 1; i > p; --i) {
        const auto d = static_cast<std::size_t>(i), s = d - 1;
        l.obs[d] = l.obs[s];
        l.value[d] = l.value[s];
        // data() + offset: the ID arrays are empty without ID variables.
        std::copy_n(l.idNum.data() + s * nNum, nNum, l.idNum.data() + d * nNum);
        std::copy_n(l.idText.data() + s * nText, nText, l.idText.data() + d * nText);
    }
    const auto d = static_cast<std::size_t>(p);
    l.obs[d] = rec[kVoutObs];
    l.value[d] = v;
    std::copy_n(rec + run.voutIdNum, nNum, l.idNum.data() + d * nNum);
    if (nText > 0)
        std::memcpy(&l.idText[d * nText], reinterpret_cast<const char*>(rec + run.voutIdText),
                    static_cast<std::size_t>(nText));
}

} // namespace velloc
