// Names and labels of the driver's output groups.
#include "driver/driver_messages.h"

#include "base/messages.h"

namespace velloc {

namespace {
using host::kGroupProc;
using host::Severity;
constexpr host::MessageDef kDriverMessages[] = {
    {kGroupProc, 32, Severity::Text, "Assessment"},
    {kGroupProc, 33, Severity::Text, "Balance Assessment"},
    {kGroupProc, 34, Severity::Text, "StrataAssessment"},
    {kGroupProc, 35, Severity::Text, "Balance Assessment within Strata"},
};
} // namespace

void addDriverMessages() {
    host::addMessages(kDriverMessages);
}

} // namespace velloc
