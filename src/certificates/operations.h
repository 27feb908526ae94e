// The operations of the certificate routes: session, selection, certificate
// information and the verification time. Each fills `result` (empty on
// failure, with the code in the last-error text) and returns 0 or the code.
#pragma once

#include <string>

namespace sealdesk {

int get_session(std::string& result);
int get_certificate(std::string& result, const std::string& session_id);
int get_sign_cert(std::string& result, const std::string& session_id);
int get_thumbprint(std::string& result, const std::string& session_id);

int get_cert_serial(std::string& result);
int get_cert_cn(std::string& result);
int get_cert_dn(std::string& result);
int get_cert_issuer(std::string& result);
int get_cert_valid_date(std::string& result);
int get_cert_expire_date(std::string& result);

int set_time_verify(std::string& result, const std::string& time_server, const std::string& session_id);

}  // namespace sealdesk
