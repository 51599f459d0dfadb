// The balance rows and observation sets as the tables, the statistics and the plots walk them.
#pragma once
#include <string>
#include <vector>

namespace velloc {

struct VlcRun;

struct BalanceRow {
    int slot = 0;            // balance slot
    bool binary = false;     // a CLASS level indicator
    bool complement = false; // the row of the second level: 1 - the slot's indicator
    std::string label;       // variable name, or the PS / LPS row label
    std::string level;       // the level whose proportion a CLASS row shows; empty otherwise

    // The value of the row from a statistic of its slot: a proportion of the second level is
    // one minus that of the first, and a difference of proportions changes sign.
    double proportion(double p) const { return complement ? 1.0 - p : p; }
    double difference(double d) const { return complement && d != 0.0 ? -d : d; }
    // "married = 0" for a CLASS row, the label alone otherwise.
    std::string named() const { return level.empty() ? label : label + " = " + level; }
};

// The printed rows in order: PS (when shown), LPS (when assessed), the assessed continuous
// variables, the assessed CLASS variables (two-level ones: the first level's row, then with
// LEVELS=ALL the second level's; others: a row per level); excluded slots left out.
std::vector<BalanceRow> balanceRows(const VlcRun& run);

// The observation sets of the BY group in table order (AllObs, Region, Match, fourth set).
std::vector<int> presentSets(const VlcRun& run);

// The row label of a set (catalogue texts 58, 61, 64 and the fourth set's 66, 69 or 72).
std::string setLabel(const VlcRun& run, int set);

// Offset, in doubles, of a slot's value in a working record; -1 when the record lacks it.
int workingOffset(const VlcRun& run, int slot);

// Whether stratum differences are standardized by each stratum's own deviation: own
// deviations requested and something to standardize (a continuous row, or a CLASS variable
// standardized like a continuous one).
bool strataOwnDeviation(const VlcRun& run);

// Whether continuous rows exist in the balance tables.
bool continuousRowsExist(const VlcRun& run);

} // namespace velloc
