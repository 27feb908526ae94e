// The process-wide certificate selection: the certificate the user picked,
// its toolkit twin, its six information texts, the OCSP switch and the
// verification time. Every read and change is a whole copy under one lock,
// and no dialog or token operation ever runs while it is held, so a request
// sees either the old or the new selection, never a mixture.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/cert_names.h"
#include "platform/token_store.h"

namespace SignCore {
class TElX509Certificate;
}

namespace sealdesk {

// Serial, subject name, issuer name, subject DN, valid-from, valid-to.
struct CertificateTexts {
    std::u16string serial, subject_name, issuer_name, subject_dn, valid_from, valid_to;
};

struct Selection {
    platform::CertificateHandle certificate;  // none when nothing is selected
    // The same certificate as the signing toolkit sees it. Signing through
    // the toolkit takes the key from `certificate` (acquire_private_key).
    std::shared_ptr<SignCore::TElX509Certificate> toolkit_certificate;
};

// The accepted providers, one text; a provider passes when its name occurs
// anywhere in it (and does not start with "Microsoft").
inline constexpr char16_t kAcceptedProviders[] =
    u"Darvolk Group CSP V6.0;Darvolk Group CSP V5.0;Darvolk Group CSP V4.0;Darvolk Group CSP";
bool provider_accepted(const std::u16string& provider);

// The whole filter of the chooser: provider, private key, validity now.
bool certificate_listed(const platform::CertificateHandle& certificate);

// Back to the start-up state (nothing selected, an empty toolkit object,
// texts empty, OCSP off, no verification time). Done at every service start.
void reset_selection_at_start();

// What "/getSession" resets: the selection, the texts and the toolkit object
// (none afterwards), the OCSP switch and the verification time.
void reset_selection_for_session();

// Drops the certificate and its toolkit twin and empties the texts.
void release_selection();

// Lets the user pick a certificate and checks it. Returns 0 and leaves a
// complete selection, or returns the failure code ("100100" nothing picked,
// "100104" not valid at the verification time, "100102" OCSP not good)
// having written it into the last-error text. Runs the dialog on the calling
// thread. `release_first` is false when the caller already released.
int select_certificate(bool release_first = true);

enum class CertificateKind { Toolkit, Platform };
// How signing operations obtain the selection: selects when the member they
// need is missing, and once more when the key cannot be acquired.
void ensure_certificate(CertificateKind kind);

Selection current_selection();
CertificateTexts certificate_texts();
void clear_certificate_texts();
// Recomputes the texts of the current certificate (nothing when none).
void reload_certificate_texts();
CertificateTexts load_certificate_info(const platform::CertificateContext& certificate);

// The encoded subject name of a certificate as the DN text.
std::u16string name_to_dn_text(const Bytes& encoded_name);

bool ocsp_enabled();
void set_ocsp_enabled(bool on);

std::optional<platform::SystemTime> verification_time();
void set_verification_time(const platform::SystemTime& time);

}  // namespace sealdesk
