// Verification of a detached signed message, as the platform's message
// functions do it: the signature of one signer is checked against the
// content and the signer's certificate carried in the message. There is no
// check of the certificate's chain, trust, validity period or revocation.
#pragma once

#include <openssl/x509.h>

#include <cstddef>
#include <memory>

#include "text/text.h"

namespace sealdesk::platform {

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// The certificate of signer `signer_index` when `message` (DER of a CMS or
// PKCS#7 SignedData) carries a valid signature of that signer over
// `content`; none when the message is malformed, the signer or its
// certificate is missing, or the signature or the content's digest does not
// match. A message that carries content of its own is checked against
// `content` all the same.
X509Ptr verify_detached_message_signature(const Bytes& message, std::size_t signer_index, const Bytes& content);

}  // namespace sealdesk::platform
