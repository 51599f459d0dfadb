// Catalogue texts of the statement and option handling (group 1049, a few plot notes in 210).
#pragma once

namespace velloc {

// Adds the texts to the host catalogue; safe to call more than once.
void addFrameMessages();

} // namespace velloc
