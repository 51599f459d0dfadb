// Shared pieces of the weights, region, score-order and strata phases: the record layouts of
// the working, treated and control files and the top-N list insertion.
#pragma once
#include <cstdint>
#include <vector>

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
inline constexpr int kTrtExact = 15; // EXACT, CLASS indicators, continuous values, PS, LPS

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
inline constexpr int kCtlClass = 13; // CLASS indicators, continuous values, PS, LPS

// Tolerance of positive totals, of the region bounds and of the caliper test width.
inline constexpr double kAdjustTol = 1.110223024625157e-10;

// Fills the working, treated and control record layouts of the run from the sizes of the
// EXACT, assessed CLASS, combined continuous and ID lists.
void setAdjustLayouts(VlcRun& run);

// The balance slot of each combined continuous value of the working record, or -1 when the
// value has no slot this BY group (not an analysis variable, or excluded).
std::vector<int> combinedSlots(const VlcRun& run);
// Per assessed CLASS indicator: 1 when it is a two-level variable assessed this BY group.
std::vector<char> activeBinary(const VlcRun& run);

// Offers value v of the current working record rec to the largest-weight list of group g
// (0 control, 1 treated); the list keeps the listLength largest values, equal values in
// arrival order.
void vlcextw(VlcRun& run, double v, int g, const double* rec);

// Copies every record of src into dst (emptied first, given src's record length); both are
// left rewound. Returns 0 or a utility-file status code.
int copyUtilFile(host::UtilFile& src, host::UtilFile& dst);

// A utility-file failure ends the step (host::utilFatal): its text and phase in the log.
[[noreturn]] void utilFailure(VlcRun& run, int code);

} // namespace velloc
