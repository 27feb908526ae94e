// Turns one complete request into a response: admits GET and POST, reads the
// body as form fields, runs the operation of the request path and sets the
// status, length and headers.
#pragma once

#include <functional>
#include <string>

#include "toolkit/http_server.h"
#include "toolkit/streams.h"

namespace sealdesk {

using LogCallback = std::function<void(const std::string& text)>;

// Leaves the response body in `result`; the caller sends head and body.
void Dispatch(const SignCore::TElHTTPServerRequestParams& request, SignCore::TElHTTPServerResponseParams& response,
              SignCore::TMemoryStream& body, bool response_option, const LogCallback& log, std::string& result);

// Percent-decoding of form fields ("+" and "%XY"). Off unless turned on; pages
// send their fields undecoded and the operations expect them so. A request
// declaring exactly "application/x-www-form-urlencoded" is never decoded.
void SetFormDecoding(bool on);

}  // namespace sealdesk
