// The host interface: everything the procedure may ask of its host.
#pragma once

#include "host/dataset.h"  // input data sets, variables, BY groups
#include "host/exit.h"     // xexit and exit codes
#include "host/messages.h" // catalogue, xpmlog, wkread, xpmstr, the log
#include "host/misc.h"     // symbols, clock, wzstrup
#include "host/missing.h"  // the missing value
#include "host/netopt.h"   // NetworkOptimizer: minimum-cost flow and assignment
#include "host/outdata.h"  // the output data set writer
#include "host/output.h"   // output groups, tables, graphs, sinks, zodsexit
#include "host/phase.h"    // the running phase, utilFatal
#include "host/session.h"  // the session: options, destinations, libraries
#include "host/sweep.h"    // zsweep
#include "host/utilfile.h" // utility files and zsort
