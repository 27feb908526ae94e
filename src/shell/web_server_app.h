// The desktop program: one per user session, its main window out of sight
// behind the tray icon, the service started at once.
#pragma once

namespace sealdesk::shell {

class CWebServerDlg;

class CWebServerApp {
public:
    // Runs the program to its end and gives the process's exit status.
    // `use_qt_dialogs`: install the Qt dialogs as the service's prompts.
    int Run(int& argc, char** argv, bool use_qt_dialogs = true);

    CWebServerDlg* main_window() const { return main_window_; }

private:
    CWebServerDlg* main_window_ = nullptr;
};

}  // namespace sealdesk::shell
