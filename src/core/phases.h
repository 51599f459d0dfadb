// The procedure's phase routines, in the order the driver runs them. Each takes the run
// context and returns 0 to go on or non-zero to abandon the current BY group (unless the
// driver ignores its result).
#pragma once

namespace velloc {

struct VlcRun;

// Reading and model rows.
int vlcbin(VlcRun& run);
int vlcin(VlcRun& run);
int vlcodel(VlcRun& run);
// The propensity model fit.
int vlclreg(VlcRun& run);
// Scores, weights, support region.
int vlcwght(VlcRun& run);
int vlcregn(VlcRun& run);
// Score order and group files.
int vlcsort(VlcRun& run);
int vlcfile(VlcRun& run);
int vlcback(VlcRun& run);
// Matching.
int vlcxcov(VlcRun& run);
int velloc(VlcRun& run);
int vlccomb(VlcRun& run);
int vlcmend(VlcRun& run);
// Strata and balance statistics.
int vlcstra(VlcRun& run);
int vlccdst(VlcRun& run);
int vlccdf1(VlcRun& run);
int vlccdff(VlcRun& run);
// Output table definitions (once per step) and the information tables.
int vlcxods(VlcRun& run);
int vlctdat(VlcRun& run);
int vlctpsc(VlcRun& run);
int vlctmtc(VlcRun& run, int matchSuccess);
int vlctstr(VlcRun& run);
// Assessment tables.
int vlctinf(VlcRun& run);
int vlctdif(VlcRun& run);
int vlctexw(VlcRun& run);
int vlctexm(VlcRun& run);
int vlctins(VlcRun& run);
int vlctdis(VlcRun& run);
// Plots.
int vlcpset(VlcRun& run);
int vlcpltd(VlcRun& run);
int vlcpltx(VlcRun& run);
int vlcpltc(VlcRun& run);
int vlcplta(VlcRun& run);
int vlcpltj(VlcRun& run);
int vlcpltw(VlcRun& run);
int vlcplsd(VlcRun& run);
int vlcplsx(VlcRun& run);
int vlcplsc(VlcRun& run);
int vlcplsa(VlcRun& run);
int vlcplsj(VlcRun& run);
// The output data set rows of the BY group.
int vlcoutd(VlcRun& run, int matchSuccess, int nStrata);

} // namespace velloc
