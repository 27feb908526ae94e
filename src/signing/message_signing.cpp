// "/Sign" and "/Verify": a text signed as a CMS message with the selected
// certificate, and a detached signature checked over a text.
#include <ctime>

#include "certificates/selection.h"
#include "certificates/session.h"
#include "platform/cert_names.h"
#include "platform/message_verify.h"
#include "routing/last_error.h"
#include "signing/data_signing.h"
#include "toolkit/cms.h"
#include "toolkit/sb_exception.h"

namespace sealdesk {
namespace {

// The message "/Sign" answers with: one SHA-1 signature with a signing time,
// the signer's certificate, and the content inside, so that whoever receives
// it can verify it and read the signed text from it alone. "/Verify" and
// other detached verifiers given the text accept it too. `no_key` tells
// whether the signing step failed because the certificate's key could not be
// had (gone from the token, or not there once logged in).
Bytes build_signed_message(const Bytes& content, const Selection& selection, bool& no_key) {
    using namespace SignCore;
    platform::CertificateHandle certificate = selection.certificate;
    TElSignedCMSMessage message;
    message.SetContent(content.data(), content.size());
    message.IncludeContent = true;
    TElCMSSignature& signature = message.Signature(message.AddSignature());
    signature.DigestAlgorithm = SB_ALGORITHM_DGST_SHA1;
    signature.SigningTime = std::time(nullptr);
    signature.SetSigningCertificate(selection.toolkit_certificate,
                                    [certificate, &no_key](const std::function<bool(EVP_PKEY*)>& step) {
                                        auto key = platform::acquire_private_key(certificate);
                                        platform::KeyUse outcome = key ? key->use(step) : platform::KeyUse::KeyAbsent;
                                        no_key = outcome == platform::KeyUse::KeyAbsent;
                                        return outcome == platform::KeyUse::Done;
                                    });
    TMemoryStream stream;
    message.SaveToStream(stream);
    return stream.Data();
}

}  // namespace

std::optional<Bytes> text_content(std::string_view in_data, std::u16string* text) {
    std::u16string wide;
    try {
        Bytes utf8 = base64_decode(in_data);
        wide = from_utf8(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
    } catch (const bad_base64&) {
        return std::nullopt;
    } catch (const bad_conversion&) {
        return std::nullopt;
    }
    Bytes content;
    content.reserve(wide.size() * 2);
    for (char16_t unit : wide) {
        content.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        content.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    if (text) *text = std::move(wide);
    return content;
}

int sign_message(std::string& result, const std::string& in_data, const std::string& session_id) {
    if (!check_session(session_id)) {
        release_selection();
        return fail_with(result, u"100205");
    }
    // Not base64, or not UTF-8 inside: the same answer, nothing to sign.
    std::optional<Bytes> content = text_content(in_data);
    if (!content) return fail_with(result, u"100200");

    ensure_certificate(CertificateKind::Toolkit);
    Selection selection = current_selection();
    if (!selection.toolkit_certificate || !selection.certificate) return fail_with(result, u"100201");

    Bytes message;
    bool no_key = false;
    try {
        message = build_signed_message(*content, selection, no_key);
    } catch (const std::exception& e) {
        if (!SignCore::is_toolkit_exception(e)) throw;
        // A key that cannot be had is the certificate step's failure, not
        // the message's.
        return fail_with(result, no_key ? u"100201" : u"100203");
    }
    result = utf8_response(ascii_to_wide(base64_encode(message)));
    return 0;
}

int verify_message(std::string& result, const std::string& signature, const std::string& in_data,
                   const std::string& session_id) {
    if (!check_session(session_id)) return fail_with(result, u"100303");

    // A signature that is not base64 is a toolkit error that the dispatcher
    // answers (404), leaving the last-error text as it was.
    Bytes message;
    try {
        message = base64_decode(signature);
    } catch (const bad_base64&) {
        SignCore::raise_error("EElBase64Error", "Invalid base64 data in the signature");
    }

    std::u16string text;
    std::optional<Bytes> content = text_content(in_data, &text);
    if (!content) return fail_with(result, u"100300");

    platform::X509Ptr signer = platform::verify_detached_message_signature(message, 0, *content);
    if (!signer) return fail_with(result, u"100302");

    std::u16string name = platform::simple_display_name(signer.get(), false);
    if (name.empty()) return fail_with(result, u"100301");

    auto date = [](std::optional<std::int64_t> when) {
        return when ? cert_date_text(*when, DateForm::OneSpace) : std::u16string();
    };
    std::u16string answer = text;
    answer += u'#';
    answer += ascii_to_wide(serial_hex(platform::serial_blob(signer.get())));
    answer += u"#CN=";
    answer += name;
    answer += u'#';
    answer += date(platform::not_before(signer.get()));
    answer += u'#';
    answer += date(platform::not_after(signer.get()));
    answer += u'#';
    answer += ascii_to_wide(base64_encode(platform::certificate_der(signer.get())));
    // The answer is also left as the last-error text, where pages have
    // always been able to read it again.
    last_error_set(answer);
    result = utf8_response(answer);
    return 0;
}

}  // namespace sealdesk
