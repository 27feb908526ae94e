#include "toolkit/cms.h"

#include <openssl/cms.h>
#include <openssl/err.h>

#include <climits>
#include <string>

#include "toolkit/sb_exception.h"

namespace SignCore {
namespace {

constexpr char kErrorType[] = "ECMSError";

const EVP_MD* digest_of(int algorithm) {
    switch (algorithm) {
    case SB_ALGORITHM_DGST_SHA1: return EVP_sha1();
    default: return nullptr;
    }
}

// OpenSSL's pending errors of this thread as one line, emptying the queue.
std::string drain_errors() {
    std::string text;
    while (unsigned long e = ERR_get_error()) {
        char line[256];
        ERR_error_string_n(e, line, sizeof line);
        if (!text.empty()) text += "; ";
        text += line;
    }
    return text;
}

}  // namespace

void TElCMSSignature::SetSigningCertificate(std::shared_ptr<TElX509Certificate> certificate, TElKeyAccess key) {
    certificate_ = std::move(certificate);
    key_ = std::move(key);
}

void TElSignedCMSMessage::SetContent(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    content_.assign(bytes, bytes + size);
}

std::size_t TElSignedCMSMessage::AddSignature() {
    if (!signatures_.empty()) raise_error(kErrorType, "The message takes one signature");
    signatures_.push_back(std::make_unique<TElCMSSignature>());
    return signatures_.size() - 1;
}

TElCMSSignature& TElSignedCMSMessage::Signature(std::size_t index) {
    if (index >= signatures_.size()) throw SBInvalidParameterException();
    return *signatures_[index];
}

void TElSignedCMSMessage::SaveToStream(TStream& stream) {
    if (signatures_.empty()) raise_error(kErrorType, "The message has no signature");
    const TElCMSSignature& signature = *signatures_.front();
    X509* signer = signature.certificate_ ? signature.certificate_->Handle() : nullptr;
    if (!signer || !signature.key_) raise_error(kErrorType, "The signature has no signing certificate");
    const EVP_MD* md = digest_of(signature.DigestAlgorithm);
    if (!md) raise_error(kErrorType, "Unsupported digest algorithm");
    if (content_.size() > static_cast<std::size_t>(INT_MAX)) raise_error(kErrorType, "Content too large");

    std::vector<std::uint8_t> encoded;
    std::string failure;
    // Everything that touches the key happens inside the step: the signer
    // info holds a reference to the key until the message is freed.
    const bool signed_ok = signature.key_([&](EVP_PKEY* key) {
        static const std::uint8_t kNothing = 0;
        BIO* in = BIO_new_mem_buf(content_.empty() ? &kNothing : content_.data(), static_cast<int>(content_.size()));
        const unsigned flags = CMS_BINARY | CMS_PARTIAL | (IncludeContent ? 0u : CMS_DETACHED);
        CMS_ContentInfo* cms = in ? CMS_sign(nullptr, nullptr, nullptr, nullptr, flags) : nullptr;
        bool ok = cms != nullptr;
        CMS_SignerInfo* info = nullptr;
        if (ok) {
            // Signed attributes: content type, message digest and, when
            // given, the signing time; no capabilities list.
            info = CMS_add1_signer(cms, signer, key, md, CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP);
            ok = info != nullptr;
        }
        if (ok && signature.SigningTime) {
            ASN1_TIME* when = ASN1_TIME_set(nullptr, *signature.SigningTime);
            ok = when && CMS_signed_add1_attr_by_NID(info, NID_pkcs9_signingTime, when->type, when, -1) == 1;
            ASN1_TIME_free(when);
        }
        ok = ok && CMS_final(cms, in, nullptr, CMS_BINARY) == 1;
        if (ok) {
            unsigned char* der = nullptr;
            const int size = i2d_CMS_ContentInfo(cms, &der);
            ok = size > 0;
            if (ok) encoded.assign(der, der + size);
            OPENSSL_free(der);
        }
        if (!ok) failure = drain_errors();
        CMS_ContentInfo_free(cms);
        BIO_free(in);
        return ok;
    });
    if (!signed_ok) raise_error(kErrorType, failure.empty() ? "The signing key was not available" : failure);
    stream.Write(encoded.data(), encoded.size());
}

}  // namespace SignCore
