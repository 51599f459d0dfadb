// Matching: record layouts of the treated and control files, the shared constraints, the
// distances and the greedy search. The phase routines themselves are declared in
// frame/phases.h.
#pragma once
#include <cstdint>

namespace velloc {

struct VlcRun;

// Match status codes.
enum MatchStatusCode {
    kMatchOk = 0,
    kMatchNoMemory = 101,
    kMatchNone = 102,
    kMatchSomeUnmatched = 103,
    kMatchNoSolution = 104,
    kMatchNotAvailable = 105, // the method is not built into this version
};

// Treated file record (doubles).
enum TreatedField {
    kTrtObs = 0,
    kTrtKey = 1, // random sort key (ORDER=RANDOM)
    kTrtPs = 2,
    kTrtLps = 3,
    kTrtStatus = 5,
    kTrtFreq = 6,
    kTrtAte = 7,
    kTrtAteStab = 8,
    kTrtAtt = 9,
    kTrtMatchWgt = 10,
    kTrtMatchAteWgt = 11,
    kTrtNControls = 12,
    kTrtOrdinal = 13,
    kTrtSet = 14,
    kTrtExact = 15, // E exact level indices, then Q class indicators, then M + 2 values
};

// Control file record (doubles).
enum ControlField {
    kCtlStatus = 1,
    kCtlPs = 2,
    kCtlLps = 3,
    kCtlSet = 5,
    kCtlFreq = 6,
    kCtlAte = 7,
    kCtlAteStab = 8,
    kCtlAtt = 9,
    kCtlMatchWgt = 10,
    kCtlMatchAteWgt = 11,
    kCtlNTreated = 12,
    kCtlClass = 13, // Q class indicators, then M + 2 values
};

// Working file record (doubles); the variable part starts at the run's voutExact.
enum WorkField {
    kWrkObs = 0,
    kWrkFreq = 1,
    kWrkTreat = 2,
    kWrkPs = 3,
    kWrkLps = 4,
    kWrkStatus = 5,
    kWrkAte = 6,
    kWrkAteStab = 7,
    kWrkAtt = 8,
    kWrkSet = 9,
    kWrkMatchWgt = 10,
    kWrkMatchAteWgt = 11,
    kWrkStratum = 12,
};

inline constexpr double kEps = 1.110223024625157e-10;
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

// Finds the listed Mahalanobis covariates among the combined continuous values.
void setupMahPos(VlcRun& run);

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

// The optimal methods (not built into this version: they report kMatchNotAvailable).
int vlcmlap(VlcRun& run);
int vlcmmcf(VlcRun& run);

// Top-N insertion into the most-matched list of group g (0 control, 1 treated), for the
// working record rec.
void vlcextm(double value, VlcRun& run, int g, const double* rec);

} // namespace velloc
