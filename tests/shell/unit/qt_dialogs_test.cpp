// The Qt dialogs without a display (offscreen platform): questions asked from
// another thread, answered or cancelled on the GUI thread.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <chrono>
#include <future>

#include "shell/certificate_chooser.h"
#include "shell/qt_dialogs.h"
#include "shell/resources.h"
#include "shell/tray_menu.h"

static void load_icon_resources() { Q_INIT_RESOURCE(icons); }

namespace sealdesk::shell {
namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "shell_unit_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        load_icon_resources();
    }
    void TearDown() override { delete app_; }

private:
    QApplication* app_ = nullptr;
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

std::vector<platform::CertificateChoice> sample_choices() {
    return {
        {"AA", u"Nguy\u1ec5n V\u0103n An", u"Darvolk-CA Test", 1704067200, 1798675200, u"Darvolk Token"},
        {"BB", u"Second Holder", u"Other CA", 0, 86399, u"softhsm2"},
    };
}

// Runs the event loop until a visible top-level dialog of type T (with the
// given title, when one is given) shows up.
template <class T = QDialog>
T* wait_for_dialog(const QString& title = {}) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<T*>(widget);
                dialog && dialog->isVisible() && (title.isEmpty() || dialog->windowTitle() == title))
                return dialog;
    }
    return nullptr;
}

template <class R>
R wait_for_answer(std::future<R>& answer) {
    while (answer.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return answer.get();
}

TEST(CertificateChooserModel, ShowsNamesValidityAndProvider) {
    CertificateChooserModel model(sample_choices());
    ASSERT_EQ(model.rowCount(), 2);
    ASSERT_EQ(model.columnCount(), 4);
    const QStringList headers = {"Issued to", "Issued by", "Valid", "Provider"};
    for (int column = 0; column < 4; ++column)
        EXPECT_EQ(model.headerData(column, Qt::Horizontal).toString(), headers[column]);
    auto cell = [&](int row, int column) { return model.data(model.index(row, column)).toString(); };
    EXPECT_EQ(cell(0, 0), QString::fromUtf8("Nguy\xe1\xbb\x85n V\xc4\x83n An"));
    EXPECT_EQ(cell(0, 1), "Darvolk-CA Test");
    EXPECT_EQ(cell(0, 2), QString::fromUtf8("2024-01-01 \xe2\x80\x93 2026-12-31"));  // TZ=UTC
    EXPECT_EQ(cell(0, 3), "Darvolk Token");
    EXPECT_EQ(cell(1, 2), QString::fromUtf8("1970-01-01 \xe2\x80\x93 1970-01-01"));
    EXPECT_FALSE(model.data(model.index(2, 0)).isValid());

    CertificateChooserModel empty({});
    EXPECT_EQ(empty.rowCount(), 0);
}

TEST(QtDialogs, FileFiltersKeepNamesAndMatchEveryFileForStarDotStar) {
    platform::FileRequest request;
    request.filters = {{u"PDF Files", u"*.PDF;*.pdf"},
                       {u"Office Files", u"*.docx;*.DOCX;*.doc"},
                       {u"All files(*.*)", u"*.*"}};
    EXPECT_EQ(QtDialogs::name_filters(request),
              QStringList({"PDF Files (*.PDF *.pdf)", "Office Files (*.docx *.DOCX *.doc)", "All files(*.*) (*)"}));
}

TEST(QtDialogs, ChooserAskedFromAnotherThreadReturnsThePickedRow) {
    QtDialogs dialogs;
    auto answer = std::async(std::launch::async, [&] { return dialogs.choose_certificate(sample_choices()); });
    auto* chooser = wait_for_dialog<CertificateChooser>();
    ASSERT_NE(chooser, nullptr);
    EXPECT_TRUE(chooser->windowFlags() & Qt::WindowStaysOnTopHint);
    auto* view = chooser->findChild<QTableView*>();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->model()->rowCount(), 2);
    view->selectRow(1);
    chooser->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(wait_for_answer(answer), std::optional<std::size_t>(1));

    // Closing the window is a cancel.
    auto cancelled = std::async(std::launch::async, [&] { return dialogs.choose_certificate(sample_choices()); });
    chooser = wait_for_dialog<CertificateChooser>();
    ASSERT_NE(chooser, nullptr);
    chooser->close();
    EXPECT_EQ(wait_for_answer(cancelled), std::nullopt);
}

TEST(QtDialogs, EmptyChooserCannotBeConfirmed) {
    QtDialogs dialogs;
    auto answer = std::async(std::launch::async, [&] { return dialogs.choose_certificate({}); });
    auto* chooser = wait_for_dialog<CertificateChooser>();
    ASSERT_NE(chooser, nullptr);
    EXPECT_FALSE(chooser->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled());
    chooser->accept();  // even forced, nothing is picked
    EXPECT_EQ(wait_for_answer(answer), std::nullopt);
}

// Stopping the service cancels the open questions: their connection threads
// would otherwise keep the stop waiting on the GUI thread for ever.
TEST(QtDialogs, RefusingCancelsOpenAndNewQuestions) {
    QtDialogs dialogs;
    platform::PinRequest request{u"Token One", 3, true};
    auto open = std::async(std::launch::async, [&] { return dialogs.enter_pin(request); });
    QDialog* pin = wait_for_dialog("Token PIN");
    ASSERT_NE(pin, nullptr);
    QStringList labels;
    for (QLabel* label : pin->findChildren<QLabel*>()) labels << label->text();
    EXPECT_TRUE(labels.contains("Token One"));
    EXPECT_TRUE(labels.contains("3"));
    EXPECT_TRUE(labels.contains("The PIN was not accepted."));
    EXPECT_EQ(pin->findChild<QLineEdit*>()->echoMode(), QLineEdit::Password);

    dialogs.refuse_questions();  // on this, the GUI thread
    EXPECT_EQ(open.get(), std::nullopt);
    EXPECT_EQ(std::async(std::launch::async, [&] { return dialogs.enter_pin(request); }).get(), std::nullopt);

    dialogs.allow_questions();
    auto typed = std::async(std::launch::async, [&] { return dialogs.enter_pin({u"T", -1, false}); });
    pin = wait_for_dialog("Token PIN");
    ASSERT_NE(pin, nullptr);
    for (QLabel* label : pin->findChildren<QLabel*>()) EXPECT_NE(label->text(), "Tries left:");
    pin->findChild<QLineEdit*>()->setText(QString::fromUtf8("12\xc3\xa9"));
    pin->accept();
    EXPECT_EQ(wait_for_answer(typed), std::optional<std::string>("12\xc3\xa9"));
}

TEST(QtDialogs, FileDialogsProposeTheNameAndSelectTheGivenFilter) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString proposed = folder.filePath("report_signed.pdf");
    platform::FileRequest request;
    request.filters = {{u"PDF Files", u"*.PDF;*.pdf"}, {u"All files(*.*)", u"*.*"}};
    request.selected_filter = 1;
    request.proposed_name = proposed.toStdU16String();

    QtDialogs dialogs;
    auto saved = std::async(std::launch::async, [&] { return dialogs.save_file(request); });
    auto* dialog = wait_for_dialog<QFileDialog>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    // Shown as the page names it, without the patterns.
    EXPECT_EQ(dialog->selectedNameFilter().toStdString(), "All files(*.*)");
    EXPECT_EQ(dialog->selectedFiles().value(0), proposed);
    static_cast<QDialog*>(dialog)->accept();
    EXPECT_EQ(wait_for_answer(saved), proposed.toStdU16String());

    // Open wants a file that exists.
    request.proposed_name.clear();
    auto opened = std::async(std::launch::async, [&] { return dialogs.open_file(request); });
    dialog = wait_for_dialog<QFileDialog>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    dialog->reject();
    EXPECT_EQ(wait_for_answer(opened), std::nullopt);
}

TEST(MenuIcons, EveryCommandHasItsIconAndSeparatorsNone) {
    for (int command : {kCommandStart, kCommandStop, kCommandAbout, kCommandQuit})
        EXPECT_FALSE(menu_item_icon(command).isNull()) << command;
    EXPECT_TRUE(menu_item_icon(0).isNull());
    EXPECT_TRUE(menu_item_icon(999).isNull());
    EXPECT_FALSE(resource_icon(kIconMain).availableSizes().isEmpty());
    EXPECT_EQ(resource_icon(kIconMain).availableSizes().size(), 5);

    QMenu menu;
    fill_menu_103(menu, kStopPosition, [](int) {});
    ASSERT_NE(menu.defaultAction(), nullptr);
    EXPECT_EQ(menu.defaultAction()->text(), "Stop");
    QStringList texts;
    for (QAction* action : menu.actions()) texts << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(texts, QStringList({"Start", "Stop", "-", "About", "-", "Quit"}));
}

}  // namespace
}  // namespace sealdesk::shell
