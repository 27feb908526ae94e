#include "platform/operator_override.h"

namespace sealdesk::platform {

// Without a desktop session to ask, the override never holds.
bool operator_override_holds() { return false; }

}  // namespace sealdesk::platform
