#include "platform/dialogs.h"

#include <mutex>
#include <vector>

namespace sealdesk::platform {
namespace {

// Nobody to ask: every question is cancelled.
class HeadlessDialogs final : public Dialogs {
public:
    std::optional<std::size_t> choose_certificate(const std::vector<CertificateChoice>&) override {
        return std::nullopt;
    }
    std::optional<std::string> enter_pin(const PinRequest&) override { return std::nullopt; }
    std::optional<std::u16string> open_file(const FileRequest&) override { return std::nullopt; }
    std::optional<std::u16string> save_file(const FileRequest&) override { return std::nullopt; }
};

std::mutex g_lock;
Dialogs* g_current = nullptr;
// Replaced implementations stay alive: a connection thread may still be
// inside one of their questions when the program installs another.
std::vector<std::unique_ptr<Dialogs>> g_all;

}  // namespace

Dialogs& dialogs() {
    std::lock_guard guard(g_lock);
    if (!g_current) {
        g_all.push_back(std::make_unique<HeadlessDialogs>());
        g_current = g_all.back().get();
    }
    return *g_current;
}

void set_dialogs(std::unique_ptr<Dialogs> implementation) {
    if (!implementation) implementation = std::make_unique<HeadlessDialogs>();
    std::lock_guard guard(g_lock);
    g_current = implementation.get();
    g_all.push_back(std::move(implementation));
}

}  // namespace sealdesk::platform
