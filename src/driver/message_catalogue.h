#pragma once

namespace velloc {
// Registers every message of the host and the procedure in the catalogue. Idempotent.
void registerCatalogue();
} // namespace velloc
