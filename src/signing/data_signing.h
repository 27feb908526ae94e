// The data-signing operations: a text signed as a CMS message and a detached
// signature checked over a text ("/Sign", "/Verify"), hashes and data signed
// on the token through its key provider ("/signHash", "/signPKCS7Hash",
// "/signPKCS1"), and the remote-signing answer ("/DCSigner").
//
// Each fills `result` (EF BB BF and the answer; empty on failure, with the
// code in the last-error text) and returns 0 or the code as a number.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/crypt_provider.h"
#include "text/text.h"

namespace sealdesk {

int sign_message(std::string& result, const std::string& in_data, const std::string& session_id);
int verify_message(std::string& result, const std::string& signature, const std::string& in_data,
                   const std::string& session_id);

int sign_hash(std::string& result, const std::string& hash_opt, const std::string& hash_val,
              const std::string& session_id);
int sign_pkcs7_hash(std::string& result, const std::string& hash_opt, const std::string& hash_val,
                    const std::string& session_id);
int sign_pkcs1(std::string& result, const std::string& in_data, const std::string& session_id);

int dc_signer(std::string& result, const std::string& hash_opt, const std::string& hash_val,
              const std::string& session_id);

// ---- pieces shared by the operations, and tested on their own ----

// What is signed for a text that a page sends as `inData`: the base64 text
// decoded, read as UTF-8, laid out as UTF-16LE (no mark, no terminator).
// None when the field is not base64 or the bytes are not UTF-8; `text`
// receives the wide text.
std::optional<Bytes> text_content(std::string_view in_data, std::u16string* text = nullptr);

// "1" MD5, "2" SHA-256, any other text SHA-1 (whole-text comparison).
platform::HashAlgorithm hash_algorithm(std::string_view hash_opt);

// The "/DCSigner" answer: five string members, no white space.
struct RemoteSignature {
    std::string data_to_be_signed;   // the HashVal field as received
    std::string pkcs1_signature;     // base64
    std::string signed_certificate;  // base64 of the DER
    std::string signed_thumbprint;   // 40 upper-case hex digits
    std::string time_stamping;       // YYYYMMDDhhmmss, UTC
};
std::string remote_signature_json(const RemoteSignature& answer);
// Escapes `"` `\` and the control bytes 08 09 0A 0C 0D; other bytes pass.
std::string json_escape(std::string_view value);
// The year unpadded, then month, day, hour, minute, second as two digits.
std::string utc_time_stamp(std::time_t when);

}  // namespace sealdesk
