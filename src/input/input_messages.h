// Messages of the observation reading and the model rows (group 1049).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace velloc {

// Message numbers of the BY-group reading and the treatment levels.
inline constexpr int kMsgFrequencyTooLarge = 222;
inline constexpr int kMsgAnalysisVarMissing = 223;
inline constexpr int kMsgTreatmentLevels = 225;
inline constexpr int kMsgTreatedLevelAbsent = 227;
inline constexpr int kMsgFewTreated = 228;
inline constexpr int kMsgFewControl = 229;
inline constexpr int kMsgTreatedLabelCut = 230;
inline constexpr int kMsgControlLabelCut = 231;
inline constexpr int kMsgTreatedLevelDefault = 320;

// Observations of a BY group left out for missing values (count and variables), and the
// form of a list cut short.
inline constexpr int kMsgLeftOutMissing = 970;
inline constexpr int kMsgLeftOutMissingOne = 971;
inline constexpr int kMsgListMore = 972;
// An assessed CLASS variable with more than two levels, or with one, in a BY group.
inline constexpr int kMsgClassLevels = 973;
inline constexpr int kMsgClassOneLevel = 974;
inline constexpr int kMsgNonPositiveWeight = 975;

// How many entries a list in a message shows before it says how many more there are.
inline constexpr std::size_t kListShown = 10;

// Adds the reading and model-row messages to the catalogue. Safe to call more than once.
void addInputMessages();

// The items joined by ", "; past max items, the first max and the number left over.
std::string listCut(const std::vector<std::string>& items, std::size_t max);

} // namespace velloc
