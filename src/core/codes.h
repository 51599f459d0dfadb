// The option codes of the run context and the one comparison tolerance.
//
// The codes are the numbers the statement options store (and the catalogue texts some of them
// name); the fields of VlcRun keep them as int, so each code is an enumerator with its value.
#pragma once
#include <cstdint>

namespace velloc {

// Comparison tolerance: positive totals and deviations, the region bounds, the caliper test
// width, matched distances and scores that count as 0 or 1.
inline constexpr double kTolerance = 1.110223024625157e-10;

// Admissible pairs up to which the optimal methods on a score distance list them all (16
// bytes a pair); past it they price the pairs implicitly, in memory proportional to the units.
inline constexpr std::int64_t kPairListLimit = 4'000'000;

// The score a step works on: DISTANCE=, the caliper's and the region's scale, PS= or LPS=.
enum ScoreCode : int { kScorePs = 100, kScoreLps = 101, kScoreMahalanobis = 102 };

// The covariance of the Mahalanobis distance.
enum MahCovCode : int { kCovControl = 104, kCovPooled = 105, kCovIdentity = 106 };

// METHOD=: the matching algorithm, and how many controls each treated unit gets.
enum MethodCode : int { kMethodGreedy = 109, kMethodOptimal = 110, kMethodReplace = 111 };
enum RatioCode : int { kRatioNone = 0, kRatioFixed = 112, kRatioVariable = 113, kRatioFull = 114 };

// The weights of the working file.
enum WeightCode : int {
    kWeightNone = 121,
    kWeightAte = 122,
    kWeightAtt = 124,
    kWeightMatch = 125,
    kWeightMatchAte = 126
};

// ORDER=: the order the greedy methods take the treated units in.
enum OrderCode : int {
    kOrderAscending = 128,
    kOrderDescending = 129,
    kOrderData = 130,
    kOrderRandom = 131
};

// OUT=(OBS=): the observations the output data set gets.
enum OutObsCode : int { kOutAll = 57, kOutRegion = 60, kOutMatched = 63 };

} // namespace velloc
