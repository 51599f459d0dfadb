// Messages and labels of matching (group 1049).
#pragma once

namespace velloc {

// Adds the matching messages to the catalogue. Safe to call more than once.
void addMatchMessages();

} // namespace velloc
