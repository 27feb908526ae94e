// The main window. Normally out of sight: the tray icon stands for it, and
// its menu's commands arrive here. Its buttons and close box only hide it.
#pragma once

#include <QDialog>
#include <QIcon>

#include "shell/system_tray.h"

namespace sealdesk::shell {

class QtDialogs;

class CWebServerDlg : public QDialog {
    Q_OBJECT
public:
    // `dialogs`: the prompts of the service, cancelled before it stops.
    explicit CWebServerDlg(QtDialogs* dialogs, QWidget* parent = nullptr);

    // Places the tray icon, hides the window and starts the service.
    void OnInitDialog();
    // A command of the menu, the buttons or the tray.
    void OnCommand(int command);
    // Delivers a command later, from the event loop.
    void PostCommand(int command);

    CSystemTray& tray() { return tray_; }

    void accept() override;
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnStart();
    void OnStop();
    void OnAbout();
    void OnQuit();

    QtDialogs* dialogs_;
    QIcon main_icon_;
    CSystemTray tray_;
};

// Stops the service on the calling (GUI) thread; open prompts are cancelled
// first, since the connections that wait for them would keep the stop from
// ending.
void StopServiceFromGui(QtDialogs* dialogs, bool for_exit = false);

}  // namespace sealdesk::shell
