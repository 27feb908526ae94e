#include "routing/route_table.h"

#include "certificates/operations.h"
#include "revocation/ocsp.h"
#include "routing/last_error.h"
#include "signing/data_signing.h"
#include "text/text.h"

namespace sealdesk {
namespace {

int get_last_err(std::string& result, const FormMap&) {
    result = utf8_response(last_error_get());
    return 0;
}

// Paths are compared whole and case-sensitively, first match wins. Each row
// takes its fields from the form map (absent ones as empty texts, integer
// fields through FormMap::integer) and calls its operation.
const std::vector<Route> g_routes = {
    {"/echo", [](std::string& r, const FormMap& f) { r = f.text("value"); return 0; }},
    // Both forms of "/getSession" (with and without `liblist`) behave alike.
    {"/getSession", [](std::string& r, const FormMap&) { return get_session(r); }},
    {"/getLastErr", get_last_err},
    {"/getCertificate", [](std::string& r, const FormMap& f) { return get_certificate(r, f.text("sessionID")); }},
    {"/getCertSNB", [](std::string& r, const FormMap&) { return get_cert_serial(r); }},
    {"/getCertCN", [](std::string& r, const FormMap&) { return get_cert_cn(r); }},
    {"/getCertDN", [](std::string& r, const FormMap&) { return get_cert_dn(r); }},
    {"/getCertIssuer", [](std::string& r, const FormMap&) { return get_cert_issuer(r); }},
    {"/getCertValidDate", [](std::string& r, const FormMap&) { return get_cert_valid_date(r); }},
    {"/getCertExpireDate", [](std::string& r, const FormMap&) { return get_cert_expire_date(r); }},
    {"/Sign", [](std::string& r, const FormMap& f) { return sign_message(r, f.text("inData"), f.text("sessionID")); }},
    {"/Verify",
     [](std::string& r, const FormMap& f) {
         return verify_message(r, f.text("signature"), f.text("inData"), f.text("sessionID"));
     }},
    {"/getThumprint", [](std::string& r, const FormMap& f) { return get_thumbprint(r, f.text("sessionID")); }},
    {"/signHash",
     [](std::string& r, const FormMap& f) {
         return sign_hash(r, f.text("HashOpt"), f.text("HashVal"), f.text("sessionID"));
     }},
    {"/signPKCS7Hash",
     [](std::string& r, const FormMap& f) {
         return sign_pkcs7_hash(r, f.text("HashOpt"), f.text("HashVal"), f.text("sessionID"));
     }},
    {"/signPKCS1", [](std::string& r, const FormMap& f) { return sign_pkcs1(r, f.text("inData"), f.text("sessionID")); }},
    {"/DCSigner",
     [](std::string& r, const FormMap& f) {
         return dc_signer(r, f.text("HashOpt"), f.text("HashVal"), f.text("sessionID"));
     }},
    {"/configOCSP",
     [](std::string& r, const FormMap& f) { return config_ocsp(r, f.text("isOCSP"), f.text("sessionID")); }},
    {"/getSignCert", [](std::string& r, const FormMap& f) { return get_sign_cert(r, f.text("sessionID")); }},
    {"/setTimeVerify",
     [](std::string& r, const FormMap& f) { return set_time_verify(r, f.text("timeServer"), f.text("sessionID")); }},
};

}  // namespace

const std::vector<Route>& route_table() { return g_routes; }

const Route* find_route(std::string_view path) {
    for (const Route& route : g_routes)
        if (route.path == path) return &route;
    return nullptr;
}

}  // namespace sealdesk
