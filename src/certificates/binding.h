// Binding of the certificate functions and the process-wide certificate state.
#pragma once

namespace sealdesk {

// First step of every service start: binds the token/certificate layer and
// creates the process-wide texts (last-error text, session token, certificate
// information texts), all empty.
void bind_certificate_functions();

}  // namespace sealdesk
