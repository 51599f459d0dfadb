// Messages of the model rows and the logistic fit (group 1049).
#pragma once

namespace velloc {

// Adds the fit's messages to the catalogue. Safe to call more than once.
void addModelMessages();

} // namespace velloc
