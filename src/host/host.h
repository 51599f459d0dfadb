// The host interface: everything the procedure may ask of its host.
#pragma once

#include "base/exit_codes.h"           // xexit and exit codes
#include "base/messages.h"             // catalogue, xpmlog, wkread, xpmstr, the log
#include "base/missing.h"              // the missing value
#include "base/text.h"                 // symbols, clock, wzstrup
#include "host/session.h"              // the session: options, destinations, libraries
#include "io/dataset.h"                // input data sets, variables, BY groups
#include "io/output_dataset.h"         // the output data set writer
#include "io/step_place.h"             // the running phase, utilFatal
#include "io/utility_file.h"           // utility files and zsort
#include "numeric/sweep.h"             // zsweep
#include "render/output.h"             // output groups, tables, graphs, sinks, zodsexit
#include "solvers/network_optimizer.h" // NetworkOptimizer: minimum-cost flow and assignment
