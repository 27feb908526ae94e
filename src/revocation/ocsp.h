// The OCSP check of a picked certificate: the issuer comes from the CA
// information file beside the program ("CAInfo.cfg", read on every check),
// the answer from the responders named in the certificate, over plain HTTP
// with bounded waits.
#pragma once

#include <openssl/ocsp.h>
#include <openssl/x509.h>

#include <chrono>
#include <map>
#include <string>
#include <string_view>

#include "platform/token_store.h"

namespace sealdesk {

// -1 no usable answer, 0 good, 1 revoked.
enum OcspStatus : int { kOcspNoAnswer = -1, kOcspGood = 0, kOcspRevoked = 1 };

// The CA information file: name before the first "=", value after it, lines
// ending in CR LF or LF, nothing trimmed, lines without "=" skipped, a later
// name replaces an earlier one.
std::map<std::string, std::string> parse_ca_info(std::string_view text);

// The issuer of `certificate` found through the CA information file at
// `ca_info_path`: the entry named after the issuer's first CN when the
// certificate's signature verifies with it, else the "_new" entry of that
// name unchecked. Null when there is none. The caller frees the result.
X509* find_issuer(X509* certificate, const std::string& ca_info_path);

// The responders' verdict on `certificate` issued by `issuer`.
int ocsp_status(X509* certificate, X509* issuer);

// The verdict read from one response to a request for `id`, whose issuer is
// `issuer`: only single responses about `id` count, and only when the
// response is signed by the issuer or by a responder the issuer certified
// for OCSP signing; the last good or revoked one decides.
int evaluate_ocsp_response(OCSP_RESPONSE* response, OCSP_CERTID* id, X509* issuer);

// True when the selected certificate is reported good.
bool ocsp_check(const platform::CertificateContext& certificate);

// "/configOCSP": switches the check on (isOCSP not 0) or off.
int config_ocsp(std::string& result, const std::string& is_ocsp, const std::string& session_id);

}  // namespace sealdesk
