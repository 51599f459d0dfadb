#include "driver/message_catalogue.h"

#include <mutex>

#include "adjust/adjust_messages.h"
#include "assess/assess_messages.h"
#include "base/run_messages.h"
#include "driver/driver_messages.h"
#include "effect/effect_messages.h"
#include "input/input_messages.h"
#include "io/data_messages.h"
#include "match/match_messages.h"
#include "model/model_messages.h"
#include "options/options_messages.h"
#include "plots/plot_messages.h"
#include "render/output_messages.h"
#include "statements/parser.h"

namespace velloc {

void registerCatalogue() {
    static std::once_flag once;
    std::call_once(once, [] {
        host::addRunMessages();
        host::addDataSetMessages();
        host::addOutputMessages();
        host::addParserMessages();
        addDriverMessages();
        addFrameMessages();
        addModelMessages();
        addInputMessages();
        addAdjustMessages();
        addAssessMessages();
        addMatchMessages();
        addPlotMessages();
        addEffectMessages();
    });
}

} // namespace velloc
