// Shared pieces of the weights, region, score-order and strata phases: the record layouts of
// the working, treated and control files and the top-N list insertion.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/codes.h"

namespace velloc {

struct VlcRun;
namespace host {
class UtilFile;
}

// Working record (VLCVOUT) fields, in doubles from the record start.
inline constexpr int kVoutObs = 0;
inline constexpr int kVoutFreq = 1;
inline constexpr int kVoutTreat = 2;
inline constexpr int kVoutPs = 3;
inline constexpr int kVoutLps = 4;
inline constexpr int kVoutRegion = 5;
inline constexpr int kVoutAte = 6;
inline constexpr int kVoutAteStab = 7;
inline constexpr int kVoutAtt = 8;
inline constexpr int kVoutMatchSet = 9;
inline constexpr int kVoutMatchAtt = 10;
inline constexpr int kVoutMatchAte = 11;
inline constexpr int kVoutStratum = 12;
inline constexpr int kVoutFixed = 13; // EXACT level indices follow

// Treated file (VLCTREAT) fields.
inline constexpr int kTrtObs = 0;
inline constexpr int kTrtRandom = 1;
inline constexpr int kTrtPs = 2;
inline constexpr int kTrtLps = 3;
inline constexpr int kTrtRegion = 5;
inline constexpr int kTrtFreq = 6;
inline constexpr int kTrtAte = 7;
inline constexpr int kTrtAteStab = 8;
inline constexpr int kTrtAtt = 9;
inline constexpr int kTrtMatchAtt = 10;
inline constexpr int kTrtMatchAte = 11;
inline constexpr int kTrtNMatched = 12;
inline constexpr int kTrtOrdinal = 13;
inline constexpr int kTrtMatchSet = 14;
// EXACT levels, then, for Mahalanobis distances only, the CLASS indicators, continuous values,
// PS and LPS (nothing else reads a treated unit's covariates from this file).
inline constexpr int kTrtExact = 15;

// Control file (VLCCNTL) fields.
inline constexpr int kCtlRegion = 1;
inline constexpr int kCtlPs = 2;
inline constexpr int kCtlLps = 3;
inline constexpr int kCtlMatchSet = 5;
inline constexpr int kCtlFreq = 6;
inline constexpr int kCtlAte = 7;
inline constexpr int kCtlAteStab = 8;
inline constexpr int kCtlAtt = 9;
inline constexpr int kCtlMatchAtt = 10;
inline constexpr int kCtlMatchAte = 11;
inline constexpr int kCtlNTreated = 12;
// Fields a control record holds: matching takes the controls' scores, EXACT levels and
// Mahalanobis coordinates from the working file, which holds them in the same order.
inline constexpr int kCtlFields = 13;

// Finds the listed Mahalanobis covariates among the combined continuous values.
void setupMahPos(VlcRun& run);
// Appends what matching reads of a control (its score, EXACT levels and Mahalanobis
// coordinates) from its working record to run.ctlPs, ctlExact and ctlMah.
void addControlValues(VlcRun& run, const double* rec);
// Empties them, giving their memory back.
void clearControlValues(VlcRun& run);
// Empties them and makes room for n controls (the Mahalanobis positions found first). Throws
// std::bad_alloc when the room cannot be had.
void prepareControlValues(VlcRun& run, std::size_t n);

// The analysis weights of an observation of score p, with pT and pC the treated and control
// shares of the frequency total: ATE 1/d, stabilized ATE (its group's share)/d, ATT 1 for the
// treated and p/d for controls, d being p for the treated and 1 - p for controls. A score of
// exactly 0 or 1 gives an infinite weight, which the callers treat as missing.
struct ScoreWeights {
    double ate = 0.0, ateStab = 0.0, att = 0.0;
};
ScoreWeights scoreWeights(bool treated, double p, double pT, double pC);

// The support region's rule as the options set it.
struct RegionRule {
    int type = 57;       // 43, 45 common support; 46, 47 the treated range; else all observations
    int score = 101;     // the scale of the extremes and extensions: 100 PS, 101 LPS
    bool extend = false; // widen by the extensions
    bool extendMult = true;                      // extensions are multiples of the score's SD
    double extendLower = 0.0, extendUpper = 0.0; // as given (missing: none)
    double psMin = 0.0, psMax = 1.0;             // PSMIN=, PSMAX=
};
RegionRule regionRule(const VlcRun& run);
// An extension on the region's scale: the amount, times sd when the rule multiplies.
double regionExtension(const RegionRule& rule, double amount, double sd);
// The region's bounds on the PS scale from the extremes of each group's score on the rule's
// scale (index 0 control, 1 treated) and the extensions on that scale. Returns 0, or the
// message that ends the BY group: kMsgNoOverlap the groups' scores do not overlap,
// kMsgScoresConstant the scores are practically constant.
int regionBounds(const RegionRule& rule, const double min[2], const double max[2], double lowerAmt,
                 double upperAmt, double& lower, double& upper);

// The cuts of K propensity score strata: fed the records in ascending score order, it cuts
// between consecutive distinct scores of the key units once a stratum holds its share of them
// (ceil(k (N + 1) / K) - 1 key units up to cut k), and spreads the remainder again when tied
// scores carry a stratum past its share.
class StrataCuts {
  public:
    // keyTotal: the key units' frequency total inside the region; keyTreated: the key units
    // are the treated (the warnings name which).
    StrataCuts(int K, std::int64_t keyTotal, bool keyTreated);
    // The next record; key: a key unit, inside: in the support region. False once the strata
    // cannot be formed.
    bool add(double ps, double freq, bool key, bool inside);
    // After the last record: 0 when every cut is placed, else the warning (240-245).
    int finish();
    int status() const { return status_; }
    // Bounds 0..K: -DBL_MAX, the K - 1 cuts, DBL_MAX.
    const std::vector<double>& bounds() const { return bound_; }

  private:
    int K_;
    bool keyTreated_;
    std::vector<std::int64_t> c_;
    std::vector<double> bound_;
    int s_ = 1, status_ = 0;
    std::int64_t n_ = 0;
    double prevKey_;
    bool reached_ = false;
};
// The stratum (1..K) of a score inside the region under the bounds of StrataCuts.
int stratumOf(const std::vector<double>& bounds, double ps);

// Fills the working, treated and control record layouts of the run from the sizes of the
// EXACT, assessed CLASS, combined continuous and ID lists.
void setAdjustLayouts(VlcRun& run);

// The balance slot of each combined continuous value of the working record, or -1 when the
// value has no slot this BY group (not an analysis variable, or excluded).
std::vector<int> combinedSlots(const VlcRun& run);
// Per assessed CLASS indicator: 1 when it is a two-level variable assessed this BY group.
std::vector<char> activeBinary(const VlcRun& run);

// Where the values of a working record go among the balance slots of this BY group, for the
// passes that accumulate the all-observations and region statistics.
struct RecordSlots {
    std::vector<int> combined; // combinedSlots
    std::vector<char> binOn;   // activeBinary
    int ps = 0, lps = 0;       // the PS and LPS slots
    int voutCont = 0, voutClass = 0;

    // The continuous slots that take values: those of the combined values, then PS and LPS.
    std::vector<int> continuous() const {
        std::vector<int> cont;
        for (int s : combined)
            if (s >= 0) cont.push_back(s);
        cont.push_back(ps);
        cont.push_back(lps);
        return cont;
    }
    // fn(slot, value) for each combined continuous value of rec that has a slot, then for its
    // PS and LPS, in that order.
    template <class Fn> void eachContinuous(const double* rec, Fn&& fn) const {
        for (std::size_t i = 0; i < combined.size(); ++i)
            if (combined[i] >= 0) fn(combined[i], rec[static_cast<std::size_t>(voutCont) + i]);
        fn(ps, rec[kVoutPs]);
        fn(lps, rec[kVoutLps]);
    }
    // fn(j, value) for each CLASS indicator column j of rec that takes part, value not missing.
    template <class Fn> void eachBinary(const double* rec, Fn&& fn) const {
        for (std::size_t j = 0; j < binOn.size(); ++j) {
            const double v = rec[static_cast<std::size_t>(voutClass) + j];
            if (binOn[j] && !std::isnan(v)) fn(static_cast<int>(j), v);
        }
    }
};
RecordSlots recordSlots(const VlcRun& run);

// Offers value v of the current working record rec to the largest-weight list of group g
// (0 control, 1 treated); the list keeps the listLength largest values, equal values in
// arrival order.
void vlcextw(VlcRun& run, double v, int g, const double* rec);

// A utility-file failure ends the step (host::utilFatal): its text and phase in the log.
[[noreturn]] void utilFailure(VlcRun& run, int code);

} // namespace velloc
