#include "certificates/operations.h"

#include "certificates/selection.h"
#include "certificates/session.h"
#include "routing/form.h"
#include "routing/last_error.h"
#include "text/text.h"

namespace sealdesk {
namespace {

// The current certificate, or none after emptying the texts.
platform::CertificateHandle selected_or_clear() {
    platform::CertificateHandle certificate = current_selection().certificate;
    if (!certificate) clear_certificate_texts();
    return certificate;
}

}  // namespace

int get_session(std::string& result) {
    std::u16string token = new_session();
    reset_selection_for_session();
    result = utf8_response(token);
    return 0;
}

int get_certificate(std::string& result, const std::string& session_id) {
    // The current selection goes first, so a wrong session still drops it.
    release_selection();
    if (!check_session(session_id)) {
        clear_certificate_texts();
        return fail_with(result, u"100103");
    }
    if (int code = select_certificate(false)) {
        result.clear();
        return code;
    }
    platform::CertificateHandle certificate = current_selection().certificate;
    if (!certificate) return fail_with(result, u"100100");
    result = utf8_response(ascii_to_wide(base64_encode(certificate->der())));
    return 0;
}

int get_sign_cert(std::string& result, const std::string& session_id) {
    if (!check_session(session_id)) return fail_with(result, u"100103");
    platform::CertificateHandle certificate = selected_or_clear();
    if (!certificate) return fail_with(result, u"100100");
    reload_certificate_texts();
    result = utf8_response(ascii_to_wide(base64_encode(certificate->der())));
    return 0;
}

int get_thumbprint(std::string& result, const std::string& session_id) {
    if (!check_session(session_id)) return fail_with(result, u"100103");
    platform::CertificateHandle certificate = selected_or_clear();
    if (!certificate) return fail_with(result, u"100100");
    result = utf8_response(ascii_to_wide(platform::thumbprint_hex(certificate->der())));
    return 0;
}

namespace {

// The getters answer their text as it stands, the mark alone when empty.
int answer_text(std::string& result, std::u16string CertificateTexts::*text) {
    result = utf8_response(certificate_texts().*text);
    return 0;
}

}  // namespace

int get_cert_serial(std::string& result) { return answer_text(result, &CertificateTexts::serial); }
int get_cert_cn(std::string& result) { return answer_text(result, &CertificateTexts::subject_name); }
int get_cert_dn(std::string& result) { return answer_text(result, &CertificateTexts::subject_dn); }
int get_cert_issuer(std::string& result) { return answer_text(result, &CertificateTexts::issuer_name); }
int get_cert_valid_date(std::string& result) { return answer_text(result, &CertificateTexts::valid_from); }
int get_cert_expire_date(std::string& result) { return answer_text(result, &CertificateTexts::valid_to); }

int set_time_verify(std::string& result, const std::string& time_server, const std::string& session_id) {
    if (!check_session(session_id)) return fail_with(result, u"101200");
    if (time_server.size() != 14) return fail_with(result, u"101201");
    // YYYYMMDDhhmmss, each field read as the C runtime reads a number; no
    // range check here (an impossible time leaves checks at the current time).
    auto field = [&](std::size_t at, std::size_t size) { return c_atoi(std::string_view(time_server).substr(at, size)); };
    platform::SystemTime time;
    time.year = field(0, 4);
    time.month = field(4, 2);
    time.day = field(6, 2);
    time.hour = field(8, 2);
    time.minute = field(10, 2);
    time.second = field(12, 2);
    set_verification_time(time);
    last_error_set(u"0");
    result = utf8_response(u"0");
    return 0;
}

}  // namespace sealdesk
