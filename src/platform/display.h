// Whether a desktop is there to show windows on.
#pragma once

namespace sealdesk::platform {

// True when the X server named by $DISPLAY accepts a connection.
bool display_reachable();

}  // namespace sealdesk::platform
