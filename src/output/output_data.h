// The rows of the output data set and its commit at the end of the step.
#pragma once

namespace velloc {

struct VlcRun;

// Commits the output data set written so far (renamed into place). Called once after the
// last BY group of a step that did not end fatally; a step without OUT= or without input
// observations does nothing.
// Returns 0, or the output set-up exit code when the file could not be written.
int vlcoutc(VlcRun& run);

} // namespace velloc
