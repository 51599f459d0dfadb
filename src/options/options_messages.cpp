#include <array>
#include <mutex>

#include "base/messages.h"
#include "options/options_messages.h"

namespace velloc {

namespace {

using host::kGroupPlot;
using host::kGroupProc;
using host::MessageDef;
constexpr auto E = host::Severity::Error;
constexpr auto W = host::Severity::Warning;
constexpr auto N = host::Severity::Note;
constexpr auto T = host::Severity::Text;

const MessageDef kFrameMessages[] = {
    // Output groups.
    {kGroupProc, 32, T, "Assessment"},
    {kGroupProc, 33, T, "Covariate Balance Assessment"},
    {kGroupProc, 34, T, "StrataAssessment"},
    {kGroupProc, 35, T, "Covariate Balance Assessment by Stratum"},
    // Support region codes.
    {kGroupProc, 43, T, "Common Support"},
    {kGroupProc, 44, T, "All Observations within PS Bounds"},
    {kGroupProc, 45, T, "Extended Common Support"},
    {kGroupProc, 46, T, "Treated Group Range"},
    {kGroupProc, 47, T, "Extended Treated Group Range"},
    {kGroupProc, 57, T, "All Observations"},
    {kGroupProc, 60, T, "Region"},
    {kGroupProc, 63, T, "Matched Observations"},
    // Default output variable names.
    {kGroupProc, 95, T, "_PS_"},
    {kGroupProc, 96, T, "_STRATA_"},
    {kGroupProc, 97, T, "_ATTWGT_"},
    {kGroupProc, 98, T, "_MATCHWGT_"},
    // Option codes (also the labels of the output variables PS and LPS).
    {kGroupProc, 100, T, "Propensity Score"},
    {kGroupProc, 101, T, "Logit of Propensity Score"},
    {kGroupProc, 102, T, "Mahalanobis Distance"},
    {kGroupProc, 104, T, "Control Group Covariance"},
    {kGroupProc, 105, T, "Pooled Covariance"},
    {kGroupProc, 106, T, "Identity Matrix"},
    {kGroupProc, 109, T, "Greedy Nearest Neighbor"},
    {kGroupProc, 110, T, "Optimal"},
    {kGroupProc, 111, T, "Nearest Neighbor with Replacement"},
    {kGroupProc, 112, T, "Fixed Ratio"},
    {kGroupProc, 113, T, "Variable Ratio"},
    {kGroupProc, 114, T, "Full"},
    {kGroupProc, 121, T, "None"},
    {kGroupProc, 122, T, "ATE Weights"},
    {kGroupProc, 124, T, "ATT Weights"},
    {kGroupProc, 125, T, "Matching Weights"},
    {kGroupProc, 126, T, "ATE Matching Weights"},
    {kGroupProc, 128, T, "Ascending Propensity Score"},
    {kGroupProc, 129, T, "Descending Propensity Score"},
    {kGroupProc, 130, T, "Data Order"},
    {kGroupProc, 131, T, "Random Order"},
    {kGroupProc, 132, T, "Random Number Seed"},
    // Output data set labels.
    {kGroupProc, 151, T, "Propensity Score Analysis Output"},
    {kGroupProc, 152, T, "ATE Weight"},
    {kGroupProc, 153, T, "Stabilized ATE Weight"},
    {kGroupProc, 154, T, "ATT Weight"},
    {kGroupProc, 155, T, "Match Identifier"},
    {kGroupProc, 156, T, "ATT Matching Weight"},
    {kGroupProc, 157, T, "ATE Matching Weight"},
    {kGroupProc, 158, T, "Stratum Number"},
    // Statements, data set and variables.
    {kGroupProc, kMsgNoInputData, E, "No input data set: give DATA= in the PROC VELLOC statement."},
    {kGroupProc, kMsgDataSetLabel, N, "Data set label: %1."},
    {kGroupProc, kMsgNoModelNorData, E,
     "Neither a PSMODEL nor a PSDATA statement was given; one of them must name the "
     "treatment variable."},
    {kGroupProc, kMsgModelAndData, W,
     "Both PSMODEL and PSDATA were given; the PSDATA statement is ignored and the model is "
     "fitted."},
    {kGroupProc, kMsgOneStatementOnly, E, "Only one %1 statement is allowed."},
    {kGroupProc, kMsgPsdataNeedsTreatvar, E,
     "The PSDATA statement needs TREATVAR= to name the treatment variable."},
    {kGroupProc, kMsgPsdataNeedsScore, E,
     "The PSDATA statement needs PS= or LPS= to name the supplied score."},
    {kGroupProc, kMsgPsdataBothScores, W,
     "The PSDATA statement gives both PS= and LPS=; PS= is used."},
    {kGroupProc, kMsgReservedScoreName, E,
     "The %1 statement names the variable %2; the names PS and LPS are reserved for the "
     "score rows."},
    {kGroupProc, kMsgAllcovNeedsModel, W,
     "ASSESS ALLCOV needs a PSMODEL statement; ALLCOV is ignored."},
    {kGroupProc, kMsgAllcovReservedName, W,
     "The model variable %1 is not assessed under ALLCOV: the names PS and LPS are reserved."},
    {kGroupProc, kMsgAssessVarReserved, W,
     "ASSESS VAR= lists %1, which is reserved for the score rows; request the row with the PS "
     "or LPS option instead. Skipped."},
    {kGroupProc, kMsgRegionPsBounds, E,
     "REGION=ALLOBS: PSMAX= (%2) must be above PSMIN= (%1), both within 0 to 1."},
    {kGroupProc, kMsgClassAfterModel, E,
     "The CLASS statement must come before the PSMODEL statement (CLASS at line %1)."},
    {kGroupProc, kMsgAssessVarCharacter, E,
     "ASSESS VAR= lists the character variable %1, which is not a CLASS variable; list it in "
     "the CLASS statement or drop it."},
    {kGroupProc, kMsgFreqWithMatch, E,
     "A FREQ statement cannot be used with a MATCH statement (FREQ variable %1)."},
    {kGroupProc, kMsgNeedsMatch, W, "%1 needs a MATCH statement and is ignored."},
    {kGroupProc, kMsgOutStrataNeedsStrata, W,
     "OUTPUT STRATA= needs a STRATA statement and is ignored."},
    {kGroupProc, kMsgCharacterVariable, E,
     "%2 lists the character variable %1; only numeric variables are allowed."},
    {kGroupProc, kMsgVariableNotAllowed, E, "%2 lists the variable %1, which %3."},
    {kGroupProc, kMsgAssessVarTreatment, W,
     "ASSESS VAR= lists the treatment variable %1, which is not assessed."},
    {kGroupProc, kMsgMahVarNotFound, E,
     "The variable %1 of DISTANCE=MAH(VAR=) is not in the data set %2."},
    {kGroupProc, kMsgMahNoComponent, E,
     "DISTANCE=MAH has no component: give VAR= variables, or the PS or LPS sub-option."},
    {kGroupProc, kMsgCaliperNotPositive, E,
     "CALIPER= must be above 0 (found %1); use CALIPER=. for no caliper."},
    {kGroupProc, kMsgSeedTooLarge, E,
     "SEED= (%1) must be below 9007199254740992; use a whole number from 1 to 2147483646."},
    {kGroupProc, kMsgUtilityFileOpen, E, "The utility file %1 could not be opened."},
    {kGroupProc, kMsgTreatmentNotClass, E,
     "The treatment variable %1 must be listed in the CLASS statement."},
    {kGroupProc, kMsgMethodNeedsKmax, E,
     "METHOD=%1 needs KMAX= (the largest number of controls per treated)."},
    {kGroupProc, kMsgKmeanOverridesPct, W,
     "KMEAN= and PCTCONTROL= are both given (%1 first): KMEAN= takes precedence and "
     "PCTCONTROL= is ignored."},
    {kGroupProc, kMsgKmeanOverridesNcontrol, W,
     "KMEAN= and NCONTROL= are both given (%1 first): KMEAN= takes precedence and NCONTROL= "
     "is ignored."},
    {kGroupProc, kMsgPctOverridesNcontrol, W,
     "PCTCONTROL= and NCONTROL= are both given (%1 first): PCTCONTROL= takes precedence and "
     "NCONTROL= is ignored."},
    {kGroupProc, kMsgAssessWeightWithMatch, W,
     "ASSESS WEIGHT=%1 is ignored with a MATCH statement; matching weights are used."},
    {kGroupProc, kMsgAssessWeightNeedsMatch, W,
     "ASSESS WEIGHT=%1 needs a MATCH statement and is ignored."},
    {kGroupProc, kMsgMatchAteNeedsFull, W,
     "%1 WEIGHT=MATCHATEWGT needs METHOD=FULL; the ATT matching weights are used."},
    {kGroupProc, kMsgOutMatchAteNeedsFull, W,
     "OUTPUT MATCHATEWGT= needs METHOD=FULL and is ignored."},
    {kGroupProc, kMsgAssessWeightWithStrata, W,
     "ASSESS WEIGHT=%1 is ignored with a STRATA statement."},
    {kGroupProc, kMsgPlotRowNotAssessed, W,
     "%1 is not an assessed row and is not shown in the %2 plot."},
    {kGroupProc, kMsgPlotNeedsClass, W,
     "The continuous variable %1 cannot be shown in the %2 plot; only CLASS variables are."},
    {kGroupProc, kMsgPlotNeedsContinuous, W,
     "The CLASS variable %1 cannot be shown in the %2 plot; only continuous rows are."},
    {kGroupProc, kMsgStrataWithMatch, W, "The STRATA statement is ignored with a MATCH statement."},
    {kGroupProc, kMsgCaliperDistanceMahOnly, W,
     "CALIPER(DISTANCE=) applies to DISTANCE=MAH only; the caliper stays on the %1 scale."},
    {kGroupProc, kMsgOneOutputStatement, W,
     "Only one OUTPUT statement is used; the later ones are ignored."},
    {kGroupProc, kMsgLaterStatementsIgnored, W,
     "Only the first %1 statement is used; the later ones (the next on line %2) are ignored."},
    {kGroupProc, kMsgOptionRepeated, W,
     "The %1 statement on line %2 gives %3 more than once; the first (%4) is used and the later "
     "ones are ignored."},
    {kGroupProc, kMsgOutIsInput, E,
     "OUT= names the input data set %1: the output would replace the data it is made from. Name "
     "another file."},
    {kGroupProc, kMsgIgnoredMatchOrStrata, W, "%1 is ignored with a MATCH or STRATA statement."},
    {kGroupProc, kMsgIgnoredNoWeights, W,
     "%1 is ignored because no weights are computed (WEIGHT=NONE)."},
    {kGroupProc, kMsgNmatchmostNeedsMatch, W,
     "NMATCHMOST= needs a MATCH statement and is ignored."},
    {kGroupProc, kMsgNmatchmostNeedsMethod, W,
     "NMATCHMOST= needs matching with replacement, variable ratio or full matching; it is "
     "ignored."},
    {kGroupProc, kMsgNmatchmostReplaceK, W,
     "NMATCHMOST= is ignored with METHOD=REPLACE and K above 1."},
    {kGroupProc, kMsgIdVariablesMax, W,
     "At most 5 ID variables are used; %1 and later are ignored."},
    {kGroupProc, kMsgIdListingNotRequested, W,
     "The ID variables are used only by the %1 listing, which is not requested; they are "
     "ignored."},
    {kGroupProc, kMsgPsweightWeightOverridden, W,
     "PSWEIGHT WEIGHT= is ignored because ASSESS WEIGHT= already chose."},
    {kGroupProc, kMsgNlargestOverridden, W, "ASSESS NLARGESTWGT= overrides PSWEIGHT NLARGESTWGT=."},
    {kGroupProc, kMsgNmatchmostOverridden, W, "ASSESS NMATCHMOST= overrides MATCH NMATCHMOST=."},
    {kGroupProc, kMsgStratumWeightOverridden, W,
     "ASSESS STRATUMWEIGHT= overrides STRATA STRATUMWEIGHT=."},
    {kGroupProc, kMsgOutWeightNoWeights, W,
     "OUTPUT WEIGHT= is ignored because no weights are computed."},
    {kGroupProc, kMsgOutWeightWithStrata, W,
     "OUTPUT WEIGHT= is ignored with a STRATA statement; use ATEWGT= or ATTWGT=."},
    {kGroupProc, 900, E, "%1 must be %2 (found %3)."},
    // Plot notes.
    {kGroupPlot, kMsgPlotsNoneOverrides, N,
     "PLOTS=NONE turns every plot off; the other plot requests are ignored."},
    {kGroupPlot, kMsgGraphicsOff, W, "Graphics are switched off; the PLOTS= requests are ignored."},
};

} // namespace

void addFrameMessages() {
    static std::once_flag once;
    std::call_once(once, [] { host::addMessages(kFrameMessages); });
}

} // namespace velloc
