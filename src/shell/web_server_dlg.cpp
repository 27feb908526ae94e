#include "shell/web_server_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <thread>

#include "service/servers.h"
#include "shell/about_dlg.h"
#include "shell/qt_dialogs.h"
#include "shell/resources.h"

namespace sealdesk::shell {

namespace {
constexpr const char* kPlaceholder = "SealDesk signs for the web pages of this computer.";
}

void StopServiceFromGui(QtDialogs* dialogs, bool for_exit) {
    if (dialogs) dialogs->refuse_questions();
    if (for_exit)
        StopServersForExit();
    else
        StopServers();
    if (dialogs) dialogs->allow_questions();
}

CWebServerDlg::CWebServerDlg(QtDialogs* dialogs, QWidget* parent)
    : QDialog(parent),
      dialogs_(dialogs),
      main_icon_(resource_icon(kIconMain)),
      tray_([this](int command) { PostCommand(command); }) {
    setWindowTitle(QStringLiteral("SealDesk"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);

    auto* menu_bar = new QMenuBar(this);
    QMenu* popup = menu_bar->addMenu(QString::fromUtf8(kTrayMenuTitle.data(), static_cast<qsizetype>(kTrayMenuTitle.size())));
    fill_menu_103(*popup, std::nullopt, [this](int command) { OnCommand(command); });

    auto* placeholder = new QLabel(QString::fromLatin1(kPlaceholder), this);
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setTextFormat(Qt::PlainText);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    ok->setAutoDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    const QSize button = dialog_units(*this, 50, 14);
    ok->setMinimumSize(button);
    cancel->setMinimumSize(button);
    connect(ok, &QPushButton::clicked, this, [this] { OnCommand(kCommandOk); });
    connect(cancel, &QPushButton::clicked, this, [this] { OnCommand(kCommandCancel); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menu_bar);
    layout->addStretch();
    layout->addWidget(placeholder);
    layout->addStretch();
    layout->addLayout(buttons);

    resize(dialog_units(*this, 320, 200));
    setWindowIcon(main_icon_);
}

void CWebServerDlg::OnInitDialog() {
    if (!tray_.PlaceTrayIcon(main_icon_)) {
        // No tray on this desktop: the window stays in sight so that its menu
        // can be reached. The service starts all the same, so that pages work.
        show();
        OnStart();
        return;
    }
    tray_.ChooseDefaultItem(kStartPosition);
    CSystemTray::HideWindowToTray(*this);
    OnStart();
}

void CWebServerDlg::OnCommand(int command) {
    switch (command) {
    case kCommandStart: OnStart(); break;
    case kCommandStop: OnStop(); break;
    case kCommandAbout: OnAbout(); break;
    case kCommandQuit: OnQuit(); break;
    case kCommandOk:
    case kCommandCancel: CSystemTray::HideWindowToTray(*this); break;
    default: break;
    }
}

void CWebServerDlg::PostCommand(int command) {
    QMetaObject::invokeMethod(this, [this, command] { OnCommand(command); }, Qt::QueuedConnection);
}

void CWebServerDlg::accept() { OnCommand(kCommandOk); }
void CWebServerDlg::reject() { OnCommand(kCommandCancel); }

void CWebServerDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    OnCommand(kCommandCancel);
}

void CWebServerDlg::OnStart() {
    // Nothing checks whether the service already runs; the shell keeps no
    // handle to the worker.
    std::thread(StartServers).detach();
    tray_.ChooseDefaultItem(kStartPosition);
}

void CWebServerDlg::OnStop() {
    if (!ServersRunning()) return;
    StopServiceFromGui(dialogs_);
    tray_.ChooseDefaultItem(kStopPosition);
}

void CWebServerDlg::OnAbout() {
    CAboutDlg about(isVisible() ? this : nullptr);
    about.setWindowIcon(main_icon_);
    about.exec();
}

void CWebServerDlg::OnQuit() {
    // The service is stopped before the program ends, so that no listener or
    // connection thread still runs while the process tears down; a Start
    // still on its way then starts nothing.
    StopServiceFromGui(dialogs_, /*for_exit=*/true);
    QCoreApplication::exit(0);
}

}  // namespace sealdesk::shell
