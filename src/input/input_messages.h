// Messages of the observation reading and the model rows (group 1049).
#pragma once

namespace velloc {

// Adds the reading and model-row messages to the catalogue. Safe to call more than once.
void addInputMessages();

} // namespace velloc
