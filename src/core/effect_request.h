// What the EFFECT statement asks for, filled by the option handling once per step.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace velloc::effect {

// The contrast, the population it is averaged over and how its standard error is found.
enum class Measure { Diff, Ratio, OddsRatio };
enum class Estimand { Att, Ate, Atc };
enum class SeMethod { Robust, Cluster, Bootstrap };

// The adjustment whose observations and weights the effect uses.
enum class Adjustment { None, Weights, Matching, Strata };

struct Request {
    bool given = false;
    std::vector<int> outcomes; // input variable numbers
    std::vector<std::string> outcomeNames;
    std::vector<int> covariates;
    std::vector<std::string> covariateNames;
    Adjustment adjustment = Adjustment::None;
    Estimand estimand = Estimand::Ate;
    Measure measure = Measure::Diff;
    SeMethod se = SeMethod::Robust;
    bool seGiven = false;
    int nRep = 999;
    std::int64_t seed = 0; // 0: the session stream continues
    double alpha = 0.05;
    std::string seReason; // why this SE method, for the log
    // Per observation of the BY group (input order): the outcomes, then the covariates, kept
    // as the input is read so the effect needs no second pass over the data set.
    std::vector<double> values;
    std::int64_t streamLive = 0; // the bootstrap stream, continued from group to group
};

} // namespace velloc::effect
