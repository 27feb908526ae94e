#include "shell/web_server_app.h"

#include <QApplication>
#include <memory>
#include <mutex>

#include "platform/dialogs.h"
#include "platform/single_instance.h"
#include "service/servers.h"
#include "shell/qt_dialogs.h"
#include "shell/web_server_dlg.h"

// The icons are compiled into this static library; the program must ask for
// them by name, or the linker leaves them out.
static void load_icon_resources() { Q_INIT_RESOURCE(icons); }

namespace sealdesk::shell {

namespace {
// Whether the GUI thread's event loop may still take a posted stop. Never
// destroyed: the signal thread may look at it while the process ends.
std::mutex& gui_alive_lock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}
bool& gui_alive() {
    static bool* alive = new bool(false);
    return *alive;
}
}  // namespace

int CWebServerApp::Run(int& argc, char** argv, bool use_qt_dialogs) {
    // A second start ends here, silently, before it touches the desktop.
    if (!platform::claim_single_instance()) return 0;

    QApplication app(argc, argv);
    load_icon_resources();
    QApplication::setApplicationName(QStringLiteral("sealdesk"));
    // The window is hidden most of the time and the About box may be the
    // only window: closing it must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    QtDialogs* dialogs = nullptr;
    if (use_qt_dialogs) {
        auto owned = std::make_unique<QtDialogs>();
        dialogs = owned.get();
        platform::set_dialogs(std::move(owned));
    }

    // A stop signal stops the service and nothing else. The stop runs on
    // this (the GUI) thread, after the open questions are cancelled: run on
    // the signal thread, it would wait for a connection that waits for an
    // answer only this thread can give.
    SetSignalStopAction([dialogs] {
        std::lock_guard guard(gui_alive_lock());
        if (gui_alive())
            QMetaObject::invokeMethod(qApp, [dialogs] { StopServiceFromGui(dialogs); }, Qt::QueuedConnection);
    });

    {
        std::lock_guard guard(gui_alive_lock());
        gui_alive() = true;
    }
    int status = 0;
    {
        CWebServerDlg window(dialogs);
        main_window_ = &window;
        window.OnInitDialog();
        status = app.exec();
        // Quit has stopped the service already; this covers an event loop
        // that ended otherwise.
        {
            std::lock_guard guard(gui_alive_lock());
            gui_alive() = false;
        }
        StopServiceFromGui(dialogs, /*for_exit=*/true);
        main_window_ = nullptr;
    }
    // The service may ask nothing more of a GUI that is going away.
    if (dialogs) dialogs->refuse_questions();
    return status;
}

}  // namespace sealdesk::shell
