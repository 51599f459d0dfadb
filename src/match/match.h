// Matching: record layouts of the treated and control files, the shared constraints, the
// distances and the greedy search. The phase routines themselves are declared in
// core/phases.h.
#pragma once
#include <cstdint>

#include "adjust/adjust.h"

namespace velloc {

struct VlcRun;

// Match status codes.
enum MatchStatusCode {
    kMatchOk = 0,
    kMatchNoMemory = 101,
    kMatchNone = 102,
    kMatchSomeUnmatched = 103,
    kMatchNoSolution = 104,
};

// The record layouts of the working, treated and control files are those of adjust/adjust.h.

inline constexpr double kLogitClampLimit = 22.921290011601805;

// Index of the first combined continuous value in a treated record.
int treatedContStart(const VlcRun& run);

// The clamped logit of a score.
double logitClamp(double p);
// The inverse logit, computed on the side that cannot overflow.
double expit(double z);

// Whether the treated unit's exact values (E of them) and control j's agree within 0.1.
bool exactMatch(const VlcRun& run, const double* trtExact, int j);
// The caliper-scale difference of two scores.
double caliperDiff(const VlcRun& run, double pt, double pc);
// Whether a caliper-scale difference passes the caliper (always true without a caliper).
bool caliperPass(const VlcRun& run, double diff);

// Mahalanobis distance between the current treated record and control j (missing when a
// coordinate is missing).
double mahDistance(VlcRun& run, int j);

// The pair test of the optimal methods: 0 with the distance when control j may be matched to
// the current treated unit, 1 when not.
int vlcmobs(VlcRun& run, int j, double& distance);

// Greedy search.
int vlcmidx(double v, const VlcRun& run, const double* ps, int n);
int vlcidlu(double p, const VlcRun& run, const double* ps, int n, int& first, int& last);
int vlccase(VlcRun& run, double& distance);
int vlcseql(VlcRun& run);
int vlcseqx(VlcRun& run);
// Removes control j from the free lists once it is matched without replacement.
void markControlUsed(VlcRun& run, int j);

// Puts treated unit i and control j into one match set and counts the unit that joins: a new
// set when neither has one, the other's set when one has, and when both have different sets
// the two merge under the lower number (higher numbers close the gap).
void joinSet(VlcRun& run, std::int64_t i, std::int64_t j);

// The optimal methods: fixed ratio by linear assignment; variable ratio and full matching by
// minimum-cost flow. Each returns a match status.
int vlcmlap(VlcRun& run);
int vlcmmcf(VlcRun& run);
// The total number of controls that variable-ratio and full matching are to match, before the
// limit of the controls in the support region.
std::int64_t controlsToMatch(const VlcRun& run);
// Whether the match sets satisfy the constraints of the optimal method: 0 yes, 1 no.
int vlcfeas(VlcRun& run);

// Top-N insertion into the most-matched list of group g (0 control, 1 treated), for the
// working record rec.
void vlcextm(double value, VlcRun& run, int g, const double* rec);

} // namespace velloc
