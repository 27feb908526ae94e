#include "revocation/ocsp.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/http.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "certificates/selection.h"
#include "certificates/session.h"
#include "routing/form.h"
#include "routing/last_error.h"
#include "service/servers.h"
#include "text/text.h"

namespace sealdesk {
namespace {

// How long one connect, and one stalled read or write, may take.
constexpr int kWaitMilliseconds = 30'000;

X509* parse_certificate(const Bytes& der) {
    const unsigned char* p = der.data();
    return d2i_X509(nullptr, &p, static_cast<long>(der.size()));
}

// One entry of the CA information file as a certificate, or null.
X509* ca_candidate(const std::map<std::string, std::string>& entries, const std::string& name) {
    auto it = entries.find(name);
    if (it == entries.end()) return nullptr;
    std::printf("Found %s %s\n", name.c_str(), it->second.c_str());
    std::fflush(stdout);
    try {
        return parse_certificate(base64_decode(it->second));
    } catch (const bad_base64&) {
        return nullptr;
    }
}

// The whole exchange with one responder, however it trickles: each single
// wait is bounded above, and this bounds their sum, so that a responder that
// sends a byte every few seconds cannot hold the request for ever.
constexpr auto kExchangeLimit = std::chrono::milliseconds(2 * kWaitMilliseconds);

// Waits until `fd` is ready for `events`, at most one single wait and never
// past `deadline`: 1 ready, 0 timed out, -1 failed.
int wait_for(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    pollfd p{fd, events, 0};
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return 0;
        const int timeout = static_cast<int>(std::min<long long>(left.count(), kWaitMilliseconds));
        int n = poll(&p, 1, timeout);
        if (n < 0 && errno == EINTR) continue;
        return n < 0 ? -1 : n == 0 ? 0 : 1;
    }
}

// Sends the request to one responder and returns its response, or null.
OCSP_RESPONSE* query_responder(const std::string& host, const std::string& port, const std::string& path,
                               OCSP_REQUEST* request) {
    BIO* bio = BIO_new_connect(host.c_str());
    if (!bio) return nullptr;
    const auto deadline = std::chrono::steady_clock::now() + kExchangeLimit;
    OCSP_RESPONSE* response = nullptr;
    OSSL_HTTP_REQ_CTX* exchange = nullptr;
    do {
        BIO_set_conn_port(bio, port.c_str());
        BIO_set_nbio(bio, 1);
        int connected = BIO_do_connect(bio);
        if (connected <= 0 && !BIO_should_retry(bio)) {
            std::fprintf(stderr, "Error connecting BIO\n");
            break;
        }
        int fd = -1;
        if (BIO_get_fd(bio, &fd) < 0 || fd < 0) {
            std::fprintf(stderr, "Can't get connection fd\n");
            break;
        }
        if (connected <= 0 && wait_for(fd, POLLOUT, deadline) != 1) {
            std::fprintf(stderr, "Timeout on connect\n");
            break;
        }
        exchange = OCSP_sendreq_new(bio, path.c_str(), nullptr, -1);
        if (!exchange || OSSL_HTTP_REQ_CTX_add1_header(exchange, "Host", host.c_str()) != 1 ||
            OSSL_HTTP_REQ_CTX_set1_req(exchange, "application/ocsp-request", ASN1_ITEM_rptr(OCSP_REQUEST),
                                       reinterpret_cast<const ASN1_VALUE*>(request)) != 1)
            break;
        for (;;) {
            int rv = OSSL_HTTP_REQ_CTX_nbio_d2i(exchange, reinterpret_cast<ASN1_VALUE**>(&response),
                                               ASN1_ITEM_rptr(OCSP_RESPONSE));
            if (rv != -1) break;
            // A connect that moved on to the host's next address has a new socket.
            if (BIO_get_fd(bio, &fd) < 0 || fd < 0) {
                std::fprintf(stderr, "Can't get connection fd\n");
                break;
            }
            short events = BIO_should_read(bio)                                      ? POLLIN
                           : BIO_should_write(bio) || BIO_should_io_special(bio) ? POLLOUT
                                                                                  : 0;
            if (!events) {
                std::fprintf(stderr, "Unexpected retry condition\n");
                break;
            }
            int ready = wait_for(fd, events, deadline);
            if (ready == 0) {
                std::fprintf(stderr, "Timeout on request\n");
                break;
            }
            if (ready < 0) {
                std::fprintf(stderr, "Select error\n");
                break;
            }
        }
    } while (false);
    OSSL_HTTP_REQ_CTX_free(exchange);
    BIO_free_all(bio);
    ERR_clear_error();
    return response;
}

// The response is signed by the issuer itself, or by a responder
// certificate that the issuer signed and marked for OCSP signing.
bool signed_for_issuer(OCSP_BASICRESP* basic, X509* issuer) {
    STACK_OF(X509)* candidates = sk_X509_new_null();
    sk_X509_push(candidates, issuer);
    X509* signer = nullptr;
    bool ok = OCSP_resp_get0_signer(basic, &signer, candidates) == 1 && signer;
    if (ok && X509_cmp(signer, issuer) != 0) {
        EVP_PKEY* issuer_key = X509_get0_pubkey(issuer);
        ok = issuer_key && X509_verify(signer, issuer_key) == 1 &&
             (X509_get_extended_key_usage(signer) & XKU_OCSP_SIGN) != 0;
    }
    if (ok) {
        STACK_OF(X509)* trusted = sk_X509_new_null();
        sk_X509_push(trusted, signer);
        X509_STORE* store = X509_STORE_new();
        // The signer was checked above; here only the signature is verified.
        ok = OCSP_basic_verify(basic, trusted, store, OCSP_TRUSTOTHER | OCSP_NOINTERN | OCSP_NOVERIFY) == 1;
        X509_STORE_free(store);
        sk_X509_free(trusted);
    }
    sk_X509_free(candidates);
    ERR_clear_error();
    return ok;
}

}  // namespace

std::map<std::string, std::string> parse_ca_info(std::string_view text) {
    std::map<std::string, std::string> entries;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        entries[std::string(line.substr(0, equals))] = std::string(line.substr(equals + 1));
    }
    return entries;
}

X509* find_issuer(X509* certificate, const std::string& ca_info_path) {
    std::ifstream file(ca_info_path, std::ios::binary);
    if (!file) return nullptr;
    std::stringstream content;
    content << file.rdbuf();
    auto entries = parse_ca_info(content.str());
    if (entries.empty()) return nullptr;

    X509_NAME* issuer_name = X509_get_issuer_name(certificate);
    int index = X509_NAME_get_index_by_NID(issuer_name, NID_commonName, -1);
    if (index < 0) return nullptr;
    const ASN1_STRING* cn = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(issuer_name, index));
    std::string name(reinterpret_cast<const char*>(ASN1_STRING_get0_data(cn)),
                     static_cast<std::size_t>(ASN1_STRING_length(cn)));
    if (!entries.count(name)) return nullptr;

    X509* candidate = ca_candidate(entries, name);
    if (!candidate) return nullptr;
    EVP_PKEY* key = X509_get0_pubkey(candidate);
    if (key && X509_verify(certificate, key) == 1) return candidate;
    X509_free(candidate);
    ERR_clear_error();
    // A newer certificate of the same CA, taken as it is.
    return ca_candidate(entries, name + "_new");
}

int evaluate_ocsp_response(OCSP_RESPONSE* response, OCSP_CERTID* id, X509* issuer) {
    OCSP_BASICRESP* basic = OCSP_response_get1_basic(response);
    if (!basic) {
        ERR_clear_error();
        return kOcspNoAnswer;
    }
    int status = kOcspNoAnswer;
    if (signed_for_issuer(basic, issuer)) {
        for (int i = 0; i < OCSP_resp_count(basic); ++i) {
            OCSP_SINGLERESP* single = OCSP_resp_get0(basic, i);
            if (!single || !id || OCSP_id_cmp(OCSP_SINGLERESP_get0_id(single), id) != 0) continue;
            ASN1_GENERALIZEDTIME *this_update = nullptr, *next_update = nullptr;
            int reason = 0;
            int single_status = OCSP_single_get0_status(single, &reason, nullptr, &this_update, &next_update);
            // A stale or future answer says nothing about now (5 minutes of
            // clock difference allowed).
            if (!OCSP_check_validity(this_update, next_update, 300, -1)) continue;
            if (single_status == V_OCSP_CERTSTATUS_REVOKED) status = kOcspRevoked;
            else if (single_status == V_OCSP_CERTSTATUS_GOOD) status = kOcspGood;
        }
    }
    OCSP_BASICRESP_free(basic);
    ERR_clear_error();
    return status;
}

int ocsp_status(X509* certificate, X509* issuer) {
    int status = kOcspNoAnswer;
    OCSP_REQUEST* request = OCSP_REQUEST_new();
    OCSP_CERTID* id = OCSP_cert_to_id(EVP_sha1(), certificate, issuer);
    OCSP_CERTID* request_id = id ? OCSP_CERTID_dup(id) : nullptr;
    if (!request || !request_id || !OCSP_request_add0_id(request, request_id)) {
        if (request_id) OCSP_CERTID_free(request_id);
        std::fprintf(stderr, "Error Creating OCSP request\n");
    }
    STACK_OF(OPENSSL_STRING)* addresses = X509_get1_ocsp(certificate);
    for (int i = 0; request && status == kOcspNoAnswer && i < sk_OPENSSL_STRING_num(addresses); ++i) {
        const char* url = sk_OPENSSL_STRING_value(addresses, i);
        int tls = 0;
        char *host = nullptr, *port = nullptr, *path = nullptr;
        if (OSSL_HTTP_parse_url(url, &tls, nullptr, &host, &port, nullptr, &path, nullptr, nullptr) == 1 && !tls) {
            OCSP_RESPONSE* response = query_responder(host, port, path, request);
            if (!response) {
                std::fprintf(stderr, "Error querying OCSP responder\n");
            } else {
                if (OCSP_response_status(response) == OCSP_RESPONSE_STATUS_SUCCESSFUL)
                    status = evaluate_ocsp_response(response, id, issuer);
                OCSP_RESPONSE_free(response);
            }
        }
        OPENSSL_free(host);
        OPENSSL_free(port);
        OPENSSL_free(path);
        ERR_clear_error();
    }
    X509_email_free(addresses);
    OCSP_CERTID_free(id);
    OCSP_REQUEST_free(request);
    return status;
}

bool ocsp_check(const platform::CertificateContext& certificate) {
    X509* issuer = find_issuer(certificate.x509(), ServiceFolder() + "/CAInfo.cfg");
    if (!issuer) return false;
    int status = ocsp_status(certificate.x509(), issuer);
    X509_free(issuer);
    return status == kOcspGood;
}

int config_ocsp(std::string& result, const std::string& is_ocsp, const std::string& session_id) {
    if (!check_session(session_id)) return fail_with(result, u"101200");
    set_ocsp_enabled(c_atoi(is_ocsp) != 0);
    last_error_set(u"0");
    result = utf8_response(u"0");
    return 0;
}

}  // namespace sealdesk
