// The operator override of the admission rule: a client at another address
// than 127.0.0.1 is let in while the person at the machine holds four fixed
// keys down and has touched keyboard or mouse within the last 250 ms.
#pragma once

namespace sealdesk::platform {

bool operator_override_holds();

}  // namespace sealdesk::platform
