#pragma once

namespace velloc {
// Registers the labels of the information and balance tables.
void addAssessMessages();
} // namespace velloc
