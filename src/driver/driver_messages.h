#pragma once

namespace velloc {
// Registers the names and labels of the driver's output groups.
void addDriverMessages();
} // namespace velloc
