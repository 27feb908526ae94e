// The four questions the service asks the person at the machine. Every one is
// asked from a connection thread and blocks that thread until answered; the
// desktop implementation runs the window on the GUI thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sealdesk::platform {

// One line of the certificate chooser.
struct CertificateChoice {
    std::string thumbprint;      // SHA-1 of the DER, 40 upper-case hex digits
    std::u16string subject;      // simple display name of the subject
    std::u16string issuer;       // simple display name of the issuer
    std::int64_t not_before = 0; // unix seconds, UTC
    std::int64_t not_after = 0;
    std::u16string provider;     // provider name of the token's module
};

struct PinRequest {
    std::u16string token_label;
    int tries_left = -1;         // -1 when the token does not say
    bool after_wrong_pin = false;
};

struct FileFilter {
    std::u16string name;         // e.g. u"PDF Files (*.pdf)"
    std::u16string pattern;      // e.g. u"*.pdf"
};

struct FileRequest {
    std::u16string title;
    std::vector<FileFilter> filters;
    int selected_filter = 0;     // zero-based index into filters
    std::u16string proposed_name;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Index into `choices` of the picked certificate, or nothing (cancel,
    // closed, or an empty list).
    virtual std::optional<std::size_t> choose_certificate(const std::vector<CertificateChoice>& choices) = 0;
    virtual std::optional<std::string> enter_pin(const PinRequest& request) = 0;
    virtual std::optional<std::u16string> open_file(const FileRequest& request) = 0;
    virtual std::optional<std::u16string> save_file(const FileRequest& request) = 0;
};

// The process's dialogs. Until a program installs its own, every question is
// cancelled (a headless service has nobody to ask).
Dialogs& dialogs();
void set_dialogs(std::unique_ptr<Dialogs> implementation);

// Test builds only (SEALDESK_SCRIPTED_DIALOGS): when SEALDESK_DIALOG_SCRIPT
// names a file, installs the scripted dialogs that take their answers from it
// (and log each question to SEALDESK_DIALOG_LOG) and returns true. A shipped
// build never reads answers from the environment and always returns false.
bool install_scripted_dialogs_from_environment();

}  // namespace sealdesk::platform
