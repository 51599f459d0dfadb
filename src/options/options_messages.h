// Catalogue texts of the statement and option handling (group 1049, a few plot notes in 210).
#pragma once

namespace velloc {

// Message numbers of the statement and option checks (group 1049; the last two in 210).
inline constexpr int kMsgNoInputData = 160;
inline constexpr int kMsgDataSetLabel = 161;
inline constexpr int kMsgNoModelNorData = 162;
inline constexpr int kMsgModelAndData = 163;
inline constexpr int kMsgOneStatementOnly = 164;
inline constexpr int kMsgPsdataNeedsTreatvar = 165;
inline constexpr int kMsgPsdataNeedsScore = 166;
inline constexpr int kMsgPsdataBothScores = 167;
inline constexpr int kMsgReservedScoreName = 168;
inline constexpr int kMsgAllcovNeedsModel = 169;
inline constexpr int kMsgAllcovReservedName = 170;
inline constexpr int kMsgAssessVarReserved = 171;
inline constexpr int kMsgRegionPsBounds = 172;
inline constexpr int kMsgClassAfterModel = 173;
inline constexpr int kMsgAssessVarCharacter = 174;
inline constexpr int kMsgFreqWithMatch = 175;
inline constexpr int kMsgNeedsMatch = 176;
inline constexpr int kMsgOutStrataNeedsStrata = 177;
inline constexpr int kMsgCharacterVariable = 178;
inline constexpr int kMsgVariableNotAllowed = 179;
inline constexpr int kMsgAssessVarTreatment = 181;
inline constexpr int kMsgMahVarNotFound = 182;
inline constexpr int kMsgMahNoComponent = 183;
inline constexpr int kMsgCaliperNotPositive = 184;
inline constexpr int kMsgSeedTooLarge = 186;
inline constexpr int kMsgUtilityFileOpen = 187;
inline constexpr int kMsgTreatmentNotClass = 188;
inline constexpr int kMsgMethodNeedsKmax = 189;
inline constexpr int kMsgKmeanOverridesPct = 190;
inline constexpr int kMsgKmeanOverridesNcontrol = 191;
inline constexpr int kMsgPctOverridesNcontrol = 192;
inline constexpr int kMsgAssessWeightWithMatch = 193;
inline constexpr int kMsgAssessWeightNeedsMatch = 194;
inline constexpr int kMsgMatchAteNeedsFull = 195;
inline constexpr int kMsgOutMatchAteNeedsFull = 196;
inline constexpr int kMsgAssessWeightWithStrata = 197;
inline constexpr int kMsgPlotRowNotAssessed = 200;
inline constexpr int kMsgPlotNeedsClass = 201;
inline constexpr int kMsgPlotNeedsContinuous = 202;
inline constexpr int kMsgStrataWithMatch = 203;
inline constexpr int kMsgCaliperDistanceMahOnly = 205;
inline constexpr int kMsgOneOutputStatement = 206;
inline constexpr int kMsgOutIsInput = 263;
inline constexpr int kMsgLaterStatementsIgnored = 264;
inline constexpr int kMsgOptionRepeated = 265;
inline constexpr int kMsgIgnoredMatchOrStrata = 207;
inline constexpr int kMsgIgnoredNoWeights = 208;
inline constexpr int kMsgNmatchmostNeedsMatch = 209;
inline constexpr int kMsgNmatchmostNeedsMethod = 210;
inline constexpr int kMsgNmatchmostReplaceK = 211;
inline constexpr int kMsgIdVariablesMax = 212;
inline constexpr int kMsgIdListingNotRequested = 213;
inline constexpr int kMsgPsweightWeightOverridden = 215;
inline constexpr int kMsgNlargestOverridden = 216;
inline constexpr int kMsgNmatchmostOverridden = 217;
inline constexpr int kMsgStratumWeightOverridden = 218;
inline constexpr int kMsgOutWeightNoWeights = 219;
inline constexpr int kMsgOutWeightWithStrata = 220;
inline constexpr int kMsgPlotsNoneOverrides = 1100;
inline constexpr int kMsgGraphicsOff = 1104;

// Adds the texts to the host catalogue; safe to call more than once.
void addFrameMessages();

} // namespace velloc
