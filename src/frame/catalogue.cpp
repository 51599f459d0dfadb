#include "frame/catalogue.h"

#include "frame/driver_messages.h"
#include "host/run_messages.h"

namespace velloc {

void registerCatalogue() {
    static bool done = false;
    if (done) return;
    done = true;
    host::addRunMessages();
    addDriverMessages();
}

} // namespace velloc
