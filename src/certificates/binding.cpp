#include "certificates/binding.h"

#include "certificates/selection.h"
#include "certificates/session.h"
#include "routing/last_error.h"

namespace sealdesk {

void bind_certificate_functions() {
    // The token layer needs no binding step of its own: modules are listed
    // and opened when a store is opened. What every start does is create the
    // process-wide texts and the selection state afresh.
    last_error_reset();
    reset_session();
    reset_selection_at_start();
}

}  // namespace sealdesk
