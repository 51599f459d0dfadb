// Catalogue texts of the EFFECT statement and its tables (group 1049, numbers 940-966).
#pragma once

namespace velloc {

inline constexpr int kMsgEffectGroupName = 940;
inline constexpr int kMsgEffectGroupLabel = 941;
inline constexpr int kMsgEffectTable = 942;
inline constexpr int kMsgEffectMeansTable = 943;
inline constexpr int kMsgEffectNoOutcome = 944;
inline constexpr int kMsgEffectCharacter = 945;
inline constexpr int kMsgEffectModelVar = 946;
inline constexpr int kMsgEffectEstimand = 947;
inline constexpr int kMsgEffectNotBinary = 948;
inline constexpr int kMsgEffectMissing = 949;
inline constexpr int kMsgEffectSeMethod = 950;
inline constexpr int kMsgEffectReplace = 951;
inline constexpr int kMsgEffectStratumDropped = 952;
inline constexpr int kMsgEffectSkipped = 953;
inline constexpr int kMsgEffectClusterNeedsSets = 954;
inline constexpr int kMsgEffectClusterReplace = 955;
inline constexpr int kMsgEffectStrataSe = 956;
inline constexpr int kMsgEffectStrataCovariates = 957;
inline constexpr int kMsgEffectCovariateOutcome = 958;
inline constexpr int kMsgEffectBootstrapProgress = 960;
inline constexpr int kMsgEffectMatchFailed = 962;
inline constexpr int kMsgEffectSingular = 963;
inline constexpr int kMsgEffectBootstrapFailed = 964;
inline constexpr int kMsgEffectBootstrapRedrawn = 965;
inline constexpr int kMsgEffectBootstrapShort = 966;

// Adds the texts to the host catalogue; safe to call more than once.
void addEffectMessages();

} // namespace velloc
