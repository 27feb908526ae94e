#include "shell/web_server_app.h"

#include <QApplication>
#include <memory>

#include "platform/dialogs.h"
#include "platform/single_instance.h"
#include "service/servers.h"
#include "shell/qt_dialogs.h"
#include "shell/web_server_dlg.h"

// The icons are compiled into this static library; the program must ask for
// them by name, or the linker leaves them out.
static void load_icon_resources() { Q_INIT_RESOURCE(icons); }

namespace sealdesk::shell {

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

    // A stop signal stops the service and nothing else.
    SetSignalStopHook([] {});

    int status = 0;
    {
        CWebServerDlg window(dialogs);
        main_window_ = &window;
        window.OnInitDialog();
        status = app.exec();
        // Quit has stopped the service already; this covers an event loop
        // that ended otherwise.
        StopServiceFromGui(dialogs);
        main_window_ = nullptr;
    }
    // The service may ask nothing more of a GUI that is going away.
    if (dialogs) dialogs->refuse_questions();
    return status;
}

}  // namespace sealdesk::shell
