// "/DCSigner": the hash signed as "/signHash" signs it, answered together
// with the certificate, its thumbprint and the time, for a party that
// assembles the signature container elsewhere.
#include <cstdio>
#include <ctime>

#include "platform/cert_names.h"
#include "signing/data_signing.h"
#include "signing/hash_request.h"

namespace sealdesk {

std::string json_escape(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

std::string remote_signature_json(const RemoteSignature& answer) {
    // Members in the ascending byte order of their keys.
    const std::pair<const char*, const std::string*> members[] = {
        {"DataToBeSigned", &answer.data_to_be_signed},
        {"PKCS1Signature", &answer.pkcs1_signature},
        {"SignedCertificate", &answer.signed_certificate},
        {"SignedThumbprint", &answer.signed_thumbprint},
        {"TimeStamping", &answer.time_stamping},
    };
    std::string json = "{";
    for (const auto& [key, value] : members) {
        if (json.size() > 1) json += ',';
        json += '"';
        json += key;
        json += "\":\"";
        json += json_escape(*value);
        json += '"';
    }
    json += '}';
    return json;
}

std::string utc_time_stamp(std::time_t when) {
    std::tm utc{};
    if (!gmtime_r(&when, &utc)) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%d%02d%02d%02d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

int dc_signer(std::string& result, const std::string& hash_opt, const std::string& hash_val,
              const std::string& session_id) {
    HashRequest request;
    Bytes signature;
    if (int code = sign_hash_steps(result, hash_opt, hash_val, session_id, request, signature)) return code;
    RemoteSignature answer;
    answer.data_to_be_signed = hash_val;
    answer.pkcs1_signature = base64_encode(signature);
    answer.signed_certificate = base64_encode(request.certificate->der());
    answer.signed_thumbprint = platform::thumbprint_hex(request.certificate->der());
    answer.time_stamping = utc_time_stamp(std::time(nullptr));
    // The answer is bytes as they stand (the echoed field may be any bytes),
    // after the mark.
    result = "\xEF\xBB\xBF" + remote_signature_json(answer);
    return 0;
}

}  // namespace sealdesk
