#include "certificates/binding.h"

#include "routing/last_error.h"

namespace sealdesk {

void bind_certificate_functions() {
    last_error_reset();
}

}  // namespace sealdesk
