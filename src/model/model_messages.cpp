#include "model/model_messages.h"

#include <array>

#include "base/messages.h"

namespace velloc {

void addModelMessages() {
    using host::Severity;
    constexpr int g = host::kGroupProc;
    static const std::array<host::MessageDef, 8> defs{{
        {g, kMsgFitImpossible, Severity::Error,
         "The propensity score model cannot be fitted in this BY group: the CLASS levels could "
         "not be determined or only one treatment group has positive total weight."},
        {g, kMsgFitNotConverged, Severity::Warning,
         "The propensity score fit did not converge or its Hessian is singular at the "
         "estimates; the scores use the last parameter values reached."},
        {g, kMsgAliasedColumns, Severity::Warning,
         "Some design columns of the propensity score model are linear combinations of earlier "
         "columns; their coefficients are set to 0: %1."},
        {g, kMsgSuppliedPsZero, Severity::Error,
         "A supplied propensity score is 0 or too close to 0; the BY group is skipped."},
        {g, kMsgSuppliedPsOne, Severity::Error,
         "A supplied propensity score is 1 or too close to 1; the BY group is skipped."},
        {g, kMsgConstantColumn, Severity::Note,
         "The design column %1 of the propensity score model is constant in this BY group, so "
         "it cannot be told apart from the intercept."},
        {g, kMsgSeparation, Severity::Note,
         "The design column %1 separates the treated from the control observations %2: the "
         "propensity score model has no finite maximum likelihood estimate, and scores near 0 "
         "or 1 follow."},
        {g, kMsgFitIterations, Severity::Note,
         "The propensity score model was fitted in %1 Newton iterations (result %2); "
         "coefficients by design column: %3."},
    }};
    host::addMessages(defs);
}

} // namespace velloc
