// The EFFECT statement: its options (once per step) and the phase that estimates the
// treatment effect of each BY group on the observations the adjustment keeps.
#pragma once

namespace velloc {

struct VlcRun;

// Reads the EFFECT statement into run.effect; errors end the procedure.
void effectOptions(VlcRun& run);

// Defines the Effect and EffectMeans tables (once per step, when EFFECT is given).
void effectTables(VlcRun& run);

// Estimates, logs and delivers the tables of the BY group. matchSuccess: the matching of the
// group succeeded. Returns 0.
int vlceffect(VlcRun& run, int matchSuccess);

} // namespace velloc
