#include "platform/message_verify.h"

#include <openssl/cms.h>
#include <openssl/err.h>

#include <climits>

namespace sealdesk::platform {
namespace {

bool signature_matches(CMS_ContentInfo* cms, CMS_SignerInfo* signer, const Bytes& content) {
    // Signed attributes first (their signature), then the content against
    // the message digest they carry, or against the signature itself when
    // there are none.
    if (CMS_signed_get_attr_count(signer) >= 0 && CMS_SignerInfo_verify(signer) != 1) return false;
    if (content.size() > static_cast<std::size_t>(INT_MAX)) return false;
    static const std::uint8_t kNothing = 0;
    BIO* data = BIO_new_mem_buf(content.empty() ? &kNothing : content.data(), static_cast<int>(content.size()));
    if (!data) return false;
    BIO* chain = CMS_dataInit(cms, data);
    bool ok = false;
    if (chain) {
        char buffer[4096];
        while (BIO_read(chain, buffer, sizeof buffer) > 0) {
        }
        ok = CMS_SignerInfo_verify_content(signer, chain) == 1;
        // The digest filters in front of our content are the message's.
        while (chain && chain != data) {
            BIO* next = BIO_pop(chain);
            BIO_free(chain);
            chain = next;
        }
    }
    BIO_free(data);
    return ok;
}

}  // namespace

X509Ptr verify_detached_message_signature(const Bytes& message, std::size_t signer_index, const Bytes& content) {
    if (message.empty() || message.size() > static_cast<std::size_t>(LONG_MAX)) return nullptr;
    const unsigned char* p = message.data();
    CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(message.size()));
    X509Ptr result;
    if (cms && OBJ_obj2nid(CMS_get0_type(cms)) == NID_pkcs7_signed) {
        STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
        if (signers && signer_index < static_cast<std::size_t>(sk_CMS_SignerInfo_num(signers))) {
            CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, static_cast<int>(signer_index));
            // Pairs every signer with its certificate among the message's own.
            CMS_set1_signers_certs(cms, nullptr, 0);
            X509* certificate = nullptr;
            CMS_SignerInfo_get0_algs(signer, nullptr, &certificate, nullptr, nullptr);
            if (certificate && signature_matches(cms, signer, content) && X509_up_ref(certificate) == 1)
                result.reset(certificate);
        }
    }
    CMS_ContentInfo_free(cms);
    ERR_clear_error();
    return result;
}

}  // namespace sealdesk::platform
