// "/signHash", "/signPKCS7Hash" and "/signPKCS1": signatures made on the
// token through its key provider, so the key never leaves the token.
#include <openssl/pkcs7.h>

#include <ctime>
#include <memory>

#include "certificates/selection.h"
#include "certificates/session.h"
#include "routing/last_error.h"
#include "signing/data_signing.h"
#include "signing/hash_request.h"

namespace sealdesk {
namespace {

// Longest HashVal accepted, in characters.
constexpr std::size_t kMaxHashText = 100;

const EVP_MD* openssl_digest(platform::HashAlgorithm algorithm) {
    switch (algorithm) {
    case platform::HashAlgorithm::Md5: return EVP_md5();
    case platform::HashAlgorithm::Sha256: return EVP_sha256();
    case platform::HashAlgorithm::Sha1: break;
    }
    return EVP_sha1();
}

struct Pkcs7Free {
    void operator()(PKCS7* p7) const { PKCS7_free(p7); }
};

// Adds content type (data), message digest (the page's hash) and signing
// time (now, UTC) to the signer; false when the library refuses one.
bool add_signed_attributes(PKCS7_SIGNER_INFO* signer, const Bytes& hash) {
    if (PKCS7_add_signed_attribute(signer, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data)) != 1)
        return false;
    ASN1_OCTET_STRING* digest = ASN1_OCTET_STRING_new();
    if (!digest || ASN1_OCTET_STRING_set(digest, hash.data(), static_cast<int>(hash.size())) != 1 ||
        PKCS7_add_signed_attribute(signer, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, digest) != 1) {
        ASN1_OCTET_STRING_free(digest);
        return false;
    }
    // UTCTime up to 2049, as the attribute's definition wants.
    ASN1_TIME* now = ASN1_TIME_set(nullptr, std::time(nullptr));
    if (!now || PKCS7_add_signed_attribute(signer, NID_pkcs9_signingTime, now->type, now) != 1) {
        ASN1_TIME_free(now);
        return false;
    }
    return true;
}

// The code of a provider failure of "/signHash" and "/signPKCS7Hash" (and
// "/DCSigner"); a key that turns out to be missing is one that cannot be
// acquired.
int fail_for(std::string& result, ProviderFailure failure) {
    switch (failure) {
    case ProviderFailure::HashObject: return fail_with(result, u"100200");
    case ProviderFailure::Signature: return fail_with(result, u"100203");
    case ProviderFailure::KeyAbsent: return fail_with(result, u"100201");
    case ProviderFailure::None: break;
    }
    return 0;
}

}  // namespace

platform::HashAlgorithm hash_algorithm(std::string_view hash_opt) {
    if (hash_opt == "1") return platform::HashAlgorithm::Md5;
    if (hash_opt == "2") return platform::HashAlgorithm::Sha256;
    return platform::HashAlgorithm::Sha1;
}

int begin_hash_signing(std::string& result, const std::string& hash_opt, const std::string& hash_val,
                       const std::string& session_id, HashRequest& request) {
    if (!check_session(session_id)) {
        release_selection();
        return fail_with(result, u"100205");
    }
    if (hash_val.empty()) return fail_with(result, u"100200");
    if (hash_val.size() > kMaxHashText) return fail_with(result, u"100204");
    request.hash = hex_decode(hash_val);
    request.algorithm = hash_algorithm(hash_opt);
    if (request.hash.size() != platform::hash_length(request.algorithm)) return fail_with(result, u"100200");

    ensure_certificate(CertificateKind::Platform);
    request.certificate = current_selection().certificate;
    if (!request.certificate) return fail_with(result, u"100201");
    request.provider = platform::CryptProvider::acquire(request.certificate);
    if (!request.provider) return fail_with(result, u"100201");
    return 0;
}

ProviderFailure sign_on_provider(const platform::CryptProvider& provider, platform::HashAlgorithm algorithm,
                                 const Bytes& input, bool input_is_hash, Bytes& signature) {
    std::unique_ptr<platform::CryptHash> hash = provider.create_hash(algorithm);
    if (!hash) return ProviderFailure::HashObject;
    if (!(input_is_hash ? hash->set_hash_value(input) : hash->hash_data(input.data(), input.size())))
        return ProviderFailure::HashObject;
    std::optional<std::size_t> length = hash->signature_length();
    if (!length) return ProviderFailure::Signature;
    platform::KeyUse outcome = platform::KeyUse::Failed;
    std::optional<Bytes> signed_bytes = hash->sign(&outcome);
    if (outcome == platform::KeyUse::KeyAbsent) return ProviderFailure::KeyAbsent;
    if (!signed_bytes || signed_bytes->size() > *length) return ProviderFailure::Signature;
    // The provider answers least significant byte first.
    signature.assign(signed_bytes->rbegin(), signed_bytes->rend());
    return ProviderFailure::None;
}

int sign_hash_steps(std::string& result, const std::string& hash_opt, const std::string& hash_val,
                    const std::string& session_id, HashRequest& request, Bytes& signature) {
    if (int code = begin_hash_signing(result, hash_opt, hash_val, session_id, request)) return code;
    return fail_for(result, sign_on_provider(*request.provider, request.algorithm, request.hash, true, signature));
}

int sign_hash(std::string& result, const std::string& hash_opt, const std::string& hash_val,
              const std::string& session_id) {
    HashRequest request;
    Bytes signature;
    if (int code = sign_hash_steps(result, hash_opt, hash_val, session_id, request, signature)) return code;
    result = utf8_response(ascii_to_wide(base64_encode(signature)));
    return 0;
}

int sign_pkcs7_hash(std::string& result, const std::string& hash_opt, const std::string& hash_val,
                    const std::string& session_id) {
    HashRequest request;
    if (int code = begin_hash_signing(result, hash_opt, hash_val, session_id, request)) return code;
    X509* certificate = request.certificate->x509();

    // A detached SignedData of type data, the signer's certificate alone in
    // its certificate set.
    std::unique_ptr<PKCS7, Pkcs7Free> p7(PKCS7_new());
    if (!p7 || PKCS7_set_type(p7.get(), NID_pkcs7_signed) != 1 ||
        PKCS7_content_new(p7.get(), NID_pkcs7_data) != 1)
        return fail_with(result, u"100203");
    PKCS7_SIGNER_INFO* signer =
        PKCS7_add_signature(p7.get(), certificate, X509_get0_pubkey(certificate), openssl_digest(request.algorithm));
    if (!signer || PKCS7_add_certificate(p7.get(), certificate) != 1 || PKCS7_set_detached(p7.get(), 1) != 1 ||
        !add_signed_attributes(signer, request.hash))
        return fail_with(result, u"100203");

    // What is signed: the DER of the signed attributes as a SET, sorted.
    unsigned char* encoded = nullptr;
    const int encoded_size = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(PKCS7_get_signed_attributes(signer)),
                                           &encoded, ASN1_ITEM_rptr(PKCS7_ATTR_SIGN));
    if (encoded_size <= 0) return fail_with(result, u"100203");
    Bytes attributes(encoded, encoded + encoded_size);
    OPENSSL_free(encoded);

    Bytes signature;
    ProviderFailure failure = sign_on_provider(*request.provider, request.algorithm, attributes, false, signature);
    if (int code = fail_for(result, failure)) return code;
    if (ASN1_STRING_set(signer->enc_digest, signature.data(), static_cast<int>(signature.size())) != 1)
        return fail_with(result, u"100203");

    unsigned char* der = nullptr;
    const int der_size = i2d_PKCS7(p7.get(), &der);
    if (der_size <= 0) return fail_with(result, u"100203");
    std::string text = base64_encode(der, static_cast<std::size_t>(der_size));
    OPENSSL_free(der);
    result = utf8_response(ascii_to_wide(text));
    return 0;
}

int sign_pkcs1(std::string& result, const std::string& in_data, const std::string& session_id) {
    if (!check_session(session_id)) {
        release_selection();
        return fail_with(result, u"100205");
    }
    ensure_certificate(CertificateKind::Platform);
    platform::CertificateHandle certificate = current_selection().certificate;
    if (!certificate) return fail_with(result, u"100201");
    // The bytes are signed as they are: no text conversion.
    Bytes data;
    try {
        data = base64_decode(in_data);
    } catch (const bad_base64&) {
        return fail_with(result, u"100200");
    }
    std::unique_ptr<platform::CryptProvider> provider = platform::CryptProvider::acquire(certificate);
    if (!provider) return fail_with(result, u"100201");
    Bytes signature;
    switch (sign_on_provider(*provider, platform::HashAlgorithm::Sha1, data, false, signature)) {
    case ProviderFailure::None: break;
    case ProviderFailure::KeyAbsent: return fail_with(result, u"100201");
    default: return fail_with(result, u"100200");
    }
    result = utf8_response(ascii_to_wide(base64_encode(signature)));
    return 0;
}

}  // namespace sealdesk
