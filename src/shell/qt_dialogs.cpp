#include "shell/qt_dialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <condition_variable>

#include "shell/certificate_chooser.h"

namespace sealdesk::shell {

namespace {

QString text(const std::u16string& s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

std::u16string u16(const QString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size()));
}

// Prompts come from a service in the background while the user looks at the
// browser: without this they open behind it and the page seems to hang.
void bring_to_front(QDialog& dialog) {
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
}

class PinDialog : public QDialog {
public:
    explicit PinDialog(const platform::PinRequest& request) {
        setWindowTitle(QStringLiteral("Token PIN"));
        auto* layout = new QVBoxLayout(this);
        if (request.after_wrong_pin)
            layout->addWidget(new QLabel(QStringLiteral("The PIN was not accepted."), this));
        auto* form = new QFormLayout;
        auto* token = new QLabel(text(request.token_label), this);
        token->setTextFormat(Qt::PlainText);
        form->addRow(QStringLiteral("Token:"), token);
        pin_ = new QLineEdit(this);
        pin_->setEchoMode(QLineEdit::Password);
        form->addRow(QStringLiteral("PIN:"), pin_);
        if (request.tries_left >= 0)
            form->addRow(QStringLiteral("Tries left:"), new QLabel(QString::number(request.tries_left), this));
        layout->addLayout(form);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(buttons);
        pin_->setFocus();
    }
    std::string pin() const { return pin_->text().toStdString(); }

private:
    QLineEdit* pin_;
};

}  // namespace

struct QtDialogs::Question {
    std::function<QDialog*()> make;
    std::function<void(QDialog&)> accepted;
    QPointer<QDialog> dialog;  // GUI thread only

    std::mutex lock;
    std::condition_variable answered;
    bool done = false;

    void finish() {
        std::lock_guard guard(lock);
        done = true;
        answered.notify_all();
    }
    bool finished() {
        std::lock_guard guard(lock);
        return done;
    }
};

void QtDialogs::ask(std::function<QDialog*()> make, std::function<void(QDialog&)> accepted) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    if (QThread::currentThread() == app->thread()) {
        // Asked on the GUI thread itself: nobody to wait for, run it modally.
        std::unique_ptr<QDialog> dialog(make());
        dialog->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        if (dialog->exec() == QDialog::Accepted) accepted(*dialog);
        return;
    }
    auto question = std::make_shared<Question>();
    question->make = std::move(make);
    question->accepted = std::move(accepted);
    {
        std::lock_guard guard(lock_);
        if (refusing_) return;
        open_.push_back(question);
    }
    QMetaObject::invokeMethod(app, [question] { show(question); }, Qt::QueuedConnection);
    {
        std::unique_lock guard(question->lock);
        question->answered.wait(guard, [&] { return question->done; });
    }
    std::lock_guard guard(lock_);
    open_.erase(std::remove(open_.begin(), open_.end(), question), open_.end());
}

void QtDialogs::show(const std::shared_ptr<Question>& question) {
    if (question->finished()) return;  // cancelled while it waited in the queue
    QDialog* dialog = question->make();
    question->dialog = dialog;
    QObject::connect(dialog, &QDialog::finished, dialog, [question, dialog](int result) {
        if (question->finished()) return;
        if (result == QDialog::Accepted) question->accepted(*dialog);
        question->finish();
        dialog->deleteLater();
    });
    bring_to_front(*dialog);
}

void QtDialogs::refuse_questions() {
    std::vector<std::shared_ptr<Question>> open;
    {
        std::lock_guard guard(lock_);
        refusing_ = true;
        open = open_;
    }
    for (const auto& question : open) {
        if (question->dialog) question->dialog->reject();
        question->finish();
        if (question->dialog) question->dialog->deleteLater();
    }
}

void QtDialogs::allow_questions() {
    std::lock_guard guard(lock_);
    refusing_ = false;
}

std::optional<std::size_t> QtDialogs::choose_certificate(const std::vector<platform::CertificateChoice>& choices) {
    std::optional<std::size_t> picked;
    ask([choices] { return new CertificateChooser(choices); },
        [&picked](QDialog& dialog) { picked = static_cast<CertificateChooser&>(dialog).picked(); });
    return picked;
}

std::optional<std::string> QtDialogs::enter_pin(const platform::PinRequest& request) {
    std::optional<std::string> pin;
    ask([request] { return new PinDialog(request); },
        [&pin](QDialog& dialog) { pin = static_cast<PinDialog&>(dialog).pin(); });
    return pin;
}

QStringList QtDialogs::name_filters(const platform::FileRequest& request) {
    QStringList filters;
    for (const auto& filter : request.filters) {
        // Windows lists patterns with ";" and its "*.*" matches every name,
        // also one without a dot; Qt wants spaces and "*" for that.
        QStringList patterns;
        for (const QString& pattern : text(filter.pattern).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString trimmed = pattern.trimmed();
            patterns << (trimmed == QLatin1String("*.*") ? QStringLiteral("*") : trimmed);
        }
        filters << text(filter.name) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters;
}

QFileDialog* QtDialogs::file_dialog(const platform::FileRequest& request, bool save) {
    auto* dialog = new QFileDialog;
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    // The list shows the descriptions only, as the pages name them.
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    if (!request.title.empty()) dialog->setWindowTitle(text(request.title));
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (save) dialog->setOption(QFileDialog::DontConfirmOverwrite);
    const QStringList filters = name_filters(request);
    if (!filters.isEmpty()) {
        dialog->setNameFilters(filters);
        const int selected = std::clamp(request.selected_filter, 0, static_cast<int>(filters.size()) - 1);
        dialog->selectNameFilter(filters[selected]);
    }
    if (!request.proposed_name.empty()) dialog->selectFile(text(request.proposed_name));
    return dialog;
}

std::optional<std::u16string> QtDialogs::pick_file(const platform::FileRequest& request, bool save) {
    std::optional<std::u16string> path;
    ask([this, request, save] { return file_dialog(request, save); },
        [&path](QDialog& dialog) {
            const QStringList files = static_cast<QFileDialog&>(dialog).selectedFiles();
            if (!files.isEmpty()) path = u16(files.front());
        });
    return path;
}

std::optional<std::u16string> QtDialogs::open_file(const platform::FileRequest& request) {
    return pick_file(request, false);
}

std::optional<std::u16string> QtDialogs::save_file(const platform::FileRequest& request) {
    return pick_file(request, true);
}

}  // namespace sealdesk::shell
