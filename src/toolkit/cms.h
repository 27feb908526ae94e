// A CMS SignedData message with one signature, built and signed with
// OpenSSL's CMS functions. The signer's private key may live on a token: the
// message never holds it, it asks for it only for the signing step.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "toolkit/certificate.h"
#include "toolkit/streams.h"

namespace SignCore {

// The toolkit's digest algorithm identifiers.
constexpr int SB_ALGORITHM_DGST_SHA1 = 0x7101;

// Runs `step` with the signer's private key and answers whether the step and
// any login before it succeeded. The key is valid only during the step.
using TElKeyAccess = std::function<bool(const std::function<bool(EVP_PKEY*)>& step)>;

class TElCMSSignature {
public:
    int DigestAlgorithm = SB_ALGORITHM_DGST_SHA1;
    // Written as the signed attribute signingTime (seconds since 1970, UTC);
    // none leaves the attribute out.
    std::optional<std::time_t> SigningTime;

    // The certificate whose key signs; the message carries this certificate.
    void SetSigningCertificate(std::shared_ptr<TElX509Certificate> certificate, TElKeyAccess key);

private:
    friend class TElSignedCMSMessage;
    std::shared_ptr<TElX509Certificate> certificate_;
    TElKeyAccess key_;
};

class TElSignedCMSMessage {
public:
    // Content carried inside the message (true) or left out, for a detached
    // signature (false).
    bool IncludeContent = true;

    void SetContent(const void* data, std::size_t size);
    // Adds the signature and answers its index. The message takes one.
    std::size_t AddSignature();
    TElCMSSignature& Signature(std::size_t index);

    // Signs and writes the DER encoding of the ContentInfo at the stream's
    // position. Raises SBException when the message cannot be built or signed
    // (no signer, unsupported digest, key refused or not the certificate's).
    void SaveToStream(TStream& stream);

private:
    std::vector<std::uint8_t> content_;
    std::vector<std::unique_ptr<TElCMSSignature>> signatures_;
};

}  // namespace SignCore
