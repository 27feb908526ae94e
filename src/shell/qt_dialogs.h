// The dialogs a user sees: Qt windows on the GUI thread, asked from the
// service's connection threads. A connection thread posts its question to
// the GUI thread and waits; the GUI thread shows the window without a nested
// event loop, so that it stays free to stop the service while a question is
// open (stopping cancels the open questions first).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <QStringList>

#include "platform/dialogs.h"

class QDialog;
class QFileDialog;

namespace sealdesk::shell {

class QtDialogs final : public platform::Dialogs {
public:
    std::optional<std::size_t> choose_certificate(const std::vector<platform::CertificateChoice>& choices) override;
    std::optional<std::string> enter_pin(const platform::PinRequest& request) override;
    std::optional<std::u16string> open_file(const platform::FileRequest& request) override;
    std::optional<std::u16string> save_file(const platform::FileRequest& request) override;

    // GUI thread. Cancels every open question and answers every new one with
    // cancel, until allow_questions().
    void refuse_questions();
    void allow_questions();

    // The Qt filter strings for a request's filters, in order.
    static QStringList name_filters(const platform::FileRequest& request);

private:
    struct Question;
    // Runs the dialog that `make` builds on the GUI thread and waits for it;
    // `accepted` runs there when the user confirms.
    void ask(std::function<QDialog*()> make, std::function<void(QDialog&)> accepted);
    static void show(const std::shared_ptr<Question>& question);
    QFileDialog* file_dialog(const platform::FileRequest& request, bool save);
    std::optional<std::u16string> pick_file(const platform::FileRequest& request, bool save);

    std::mutex lock_;
    bool refusing_ = false;
    std::vector<std::shared_ptr<Question>> open_;
};

}  // namespace sealdesk::shell
