// One desktop program per user session: the first start takes an exclusive
// lock on a file of the user's runtime folder and holds it until it ends.
#pragma once

#include <string>

namespace sealdesk::platform {

// The lock file: $XDG_RUNTIME_DIR/EA1D558F-39F9-4A52-BD6F-ED37FF8DE17F.lock,
// or, without a usable runtime folder, the same name with the user id in the
// temporary folder.
std::string single_instance_lock_path();

// True when this process is the only instance (it now holds the lock for the
// rest of its life), false when another process holds it. A lock file that
// cannot be opened at all does not keep the program from running.
bool claim_single_instance();

}  // namespace sealdesk::platform
