#include "certificates/selection.h"

#include <ctime>
#include <mutex>

#include "platform/dialogs.h"
#include "revocation/ocsp.h"
#include "routing/last_error.h"
#include "toolkit/certificate.h"

namespace sealdesk {
namespace {

struct State {
    std::shared_ptr<platform::CertificateStore> store;
    Selection selection;
    CertificateTexts texts;
    bool ocsp = false;
    std::optional<platform::SystemTime> verification_time;
};

std::mutex g_lock;
State g_state;

std::int64_t now_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::shared_ptr<SignCore::TElX509Certificate> make_toolkit_certificate(const platform::CertificateContext& cert) {
    try {
        auto toolkit = std::make_shared<SignCore::TElX509Certificate>();
        toolkit->LoadFromBuffer(cert.der().data(), cert.der().size());
        return toolkit;
    } catch (const std::exception&) {
        // The selection then holds the certificate without its toolkit twin,
        // and operations signing through the toolkit select again.
        return nullptr;
    }
}

void release_locked(State& state) {
    state.selection.certificate.reset();
    state.selection.toolkit_certificate.reset();
    state.texts = {};
}

platform::CertificateChoice choice_of(const platform::CertificateContext& cert) {
    platform::CertificateChoice choice;
    choice.thumbprint = platform::thumbprint_hex(cert.der());
    choice.subject = platform::simple_display_name(cert.x509(), false);
    choice.issuer = platform::simple_display_name(cert.x509(), true);
    choice.not_before = platform::not_before(cert.x509()).value_or(0);
    choice.not_after = platform::not_after(cert.x509()).value_or(0);
    choice.provider = cert.provider_name();
    return choice;
}

}  // namespace

bool provider_accepted(const std::u16string& provider) {
    if (provider.rfind(u"Microsoft", 0) == 0) return false;
    return std::u16string_view(kAcceptedProviders).find(provider) != std::u16string_view::npos;
}

bool certificate_listed(const platform::CertificateHandle& certificate) {
    if (!provider_accepted(certificate->provider_name())) return false;
    if (!platform::acquire_private_key(certificate)) return false;
    return platform::verify_time_validity(certificate->x509(), now_seconds()) == 0;
}

void reset_selection_at_start() {
    std::lock_guard guard(g_lock);
    g_state = State{};
    g_state.selection.toolkit_certificate = std::make_shared<SignCore::TElX509Certificate>();
}

void reset_selection_for_session() {
    std::lock_guard guard(g_lock);
    release_locked(g_state);
    g_state.store.reset();
    g_state.ocsp = false;
    g_state.verification_time.reset();
}

void release_selection() {
    std::lock_guard guard(g_lock);
    release_locked(g_state);
    g_state.store.reset();
}

int select_certificate(bool release_first) {
    if (release_first) release_selection();
    std::shared_ptr<platform::CertificateStore> store = platform::CertificateStore::open_personal();

    std::vector<platform::CertificateHandle> listed;
    std::vector<platform::CertificateChoice> choices;
    for (const auto& cert : store->certificates()) {
        if (!certificate_listed(cert)) continue;
        listed.push_back(cert);
        choices.push_back(choice_of(*cert));
    }
    std::optional<std::size_t> picked = platform::dialogs().choose_certificate(choices);

    auto fail = [&](std::u16string_view code) {
        {
            std::lock_guard guard(g_lock);
            g_state.texts = {};
            g_state.store = store;  // stays open until the next selection
        }
        std::string ignored;
        return fail_with(ignored, code);
    };
    if (!picked || *picked >= listed.size()) return fail(u"100100");
    platform::CertificateHandle cert = listed[*picked];

    std::int64_t when = now_seconds();
    if (auto time = verification_time(); time && time->year != 0)
        if (auto converted = platform::system_time_to_unix(*time)) when = *converted;
    if (platform::verify_time_validity(cert->x509(), when) != 0) return fail(u"100104");

    if (ocsp_enabled() && !ocsp_check(*cert)) return fail(u"100102");

    auto toolkit = make_toolkit_certificate(*cert);
    CertificateTexts texts = load_certificate_info(*cert);
    std::lock_guard guard(g_lock);
    g_state.store = store;
    g_state.selection.certificate = cert;
    g_state.selection.toolkit_certificate = toolkit;
    g_state.texts = texts;
    return 0;
}

void ensure_certificate(CertificateKind kind) {
    Selection selection = current_selection();
    bool missing = kind == CertificateKind::Toolkit ? !selection.toolkit_certificate : !selection.certificate;
    if (missing) select_certificate();
    selection = current_selection();
    if (!selection.certificate || !platform::acquire_private_key(selection.certificate)) select_certificate();
}

Selection current_selection() {
    std::lock_guard guard(g_lock);
    return g_state.selection;
}

CertificateTexts certificate_texts() {
    std::lock_guard guard(g_lock);
    return g_state.texts;
}

void clear_certificate_texts() {
    std::lock_guard guard(g_lock);
    g_state.texts = {};
}

void reload_certificate_texts() {
    platform::CertificateHandle cert = current_selection().certificate;
    if (!cert) return;
    CertificateTexts texts = load_certificate_info(*cert);
    std::lock_guard guard(g_lock);
    // Only if the selection did not change meanwhile.
    if (g_state.selection.certificate == cert) g_state.texts = texts;
}

CertificateTexts load_certificate_info(const platform::CertificateContext& certificate) {
    X509* x509 = certificate.x509();
    CertificateTexts texts;
    texts.serial = ascii_to_wide(serial_hex(platform::serial_blob(x509)));
    texts.subject_name = platform::simple_display_name(x509, false);
    texts.issuer_name = platform::simple_display_name(x509, true);
    texts.subject_dn = platform::name_to_x500_reverse(X509_get_subject_name(x509));
    if (auto from = platform::not_before(x509)) texts.valid_from = cert_date_text(*from, DateForm::TwoSpaces);
    if (auto to = platform::not_after(x509)) texts.valid_to = cert_date_text(*to, DateForm::TwoSpaces);
    return texts;
}

std::u16string name_to_dn_text(const Bytes& encoded_name) {
    if (encoded_name.empty()) return {};
    const unsigned char* p = encoded_name.data();
    X509_NAME* name = d2i_X509_NAME(nullptr, &p, static_cast<long>(encoded_name.size()));
    if (!name) return {};
    std::u16string text = platform::name_to_x500_reverse(name);
    X509_NAME_free(name);
    return text;
}

bool ocsp_enabled() {
    std::lock_guard guard(g_lock);
    return g_state.ocsp;
}

void set_ocsp_enabled(bool on) {
    std::lock_guard guard(g_lock);
    g_state.ocsp = on;
}

std::optional<platform::SystemTime> verification_time() {
    std::lock_guard guard(g_lock);
    return g_state.verification_time;
}

void set_verification_time(const platform::SystemTime& time) {
    std::lock_guard guard(g_lock);
    g_state.verification_time = time;
}

}  // namespace sealdesk
