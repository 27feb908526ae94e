// Dialogs answered from a script file, for tests of the real service.
//
// Answers: one line per question, taken from the front of the file named by
// SEALDESK_DIALOG_SCRIPT (the line is removed, so a test may write the answers
// of its next request at any time): "certificate THUMBPRINT" (SHA-1 of the
// DER, 40 hexadecimal digits, either case), "certificate first",
// "pin TEXT", "open PATH", "save PATH" or "cancel". A question whose line is
// missing or of another kind is cancelled.
// Log: one line per question appended to the file named by SEALDESK_DIALOG_LOG
// (when set): "certificate" and the upper-case thumbprints offered, "pin" and
// the token label, "open" or "save" and the proposed file name.
#include "platform/dialogs.h"

#ifdef SEALDESK_SCRIPTED_DIALOGS

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "text/text.h"

namespace sealdesk::platform {
namespace {

class ScriptedDialogs final : public Dialogs {
public:
    ScriptedDialogs(std::string script, std::string log) : script_(std::move(script)), log_(std::move(log)) {}

    std::optional<std::size_t> choose_certificate(const std::vector<CertificateChoice>& choices) override {
        std::string line = "certificate";
        for (const CertificateChoice& choice : choices) line += " " + upper(choice.thumbprint);
        auto answer = next("certificate", line);
        if (!answer || choices.empty()) return std::nullopt;
        if (*answer == "first") return 0;
        for (std::size_t i = 0; i < choices.size(); ++i)
            if (upper(choices[i].thumbprint) == upper(*answer)) return i;
        return std::nullopt;
    }

    std::optional<std::string> enter_pin(const PinRequest& request) override {
        return next("pin", "pin " + to_utf8(request.token_label));
    }

    std::optional<std::u16string> open_file(const FileRequest& request) override {
        auto answer = next("open", "open " + to_utf8(request.proposed_name));
        if (!answer) return std::nullopt;
        return from_utf8(*answer);
    }

    std::optional<std::u16string> save_file(const FileRequest& request) override {
        auto answer = next("save", "save " + to_utf8(request.proposed_name));
        if (!answer) return std::nullopt;
        return from_utf8(*answer);
    }

private:
    static std::string upper(std::string text) {
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    }

    // Logs the question, takes the next line and returns its argument when
    // the line is of the asked kind.
    std::optional<std::string> next(const std::string& kind, const std::string& log_line) {
        std::lock_guard guard(lock_);
        if (!log_.empty()) {
            std::ofstream log(log_, std::ios::app | std::ios::binary);
            log << log_line << "\n";
        }
        std::ifstream in(script_, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        in.close();
        std::string text = all.str();
        if (text.empty()) return std::nullopt;
        std::size_t end = text.find('\n');
        std::string line = text.substr(0, end);
        std::string rest = end == std::string::npos ? std::string() : text.substr(end + 1);
        std::ofstream(script_, std::ios::trunc | std::ios::binary) << rest;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == kind) return std::string();
        if (line.rfind(kind + " ", 0) != 0) return std::nullopt;
        return line.substr(kind.size() + 1);
    }

    std::mutex lock_;
    const std::string script_;
    const std::string log_;
};

}  // namespace

bool install_scripted_dialogs_from_environment() {
    const char* script = std::getenv("SEALDESK_DIALOG_SCRIPT");
    if (!script || !*script) return false;
    const char* log = std::getenv("SEALDESK_DIALOG_LOG");
    set_dialogs(std::make_unique<ScriptedDialogs>(script, log ? log : ""));
    return true;
}

}  // namespace sealdesk::platform

#else

namespace sealdesk::platform {
bool install_scripted_dialogs_from_environment() { return false; }
}  // namespace sealdesk::platform

#endif
