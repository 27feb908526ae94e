// Entry point. `sealdesk --headless` runs the service without any window: it
// starts at once and SIGINT or SIGTERM stop it and end the process. Without
// the option the desktop program runs, or, when no display can be reached,
// the headless service.
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/dialogs.h"
#include "platform/display.h"
#include "platform/signals.h"
#include "service/servers.h"
#include "shell/web_server_app.h"

namespace {

int run_headless() {
    // The stop hook runs on the signal thread, possibly again for a second
    // signal while main is already returning: what it touches must outlive
    // main, so it is never destroyed.
    struct Stopped {
        std::mutex lock;
        std::condition_variable changed;
        bool done = false;
    };
    static Stopped* stopped = new Stopped;
    sealdesk::SetSignalStopHook([] {
        std::lock_guard guard(stopped->lock);
        stopped->done = true;
        stopped->changed.notify_all();
    });
    std::thread starter(sealdesk::StartServers);
    starter.join();
    std::unique_lock guard(stopped->lock);
    stopped->changed.wait(guard, [] { return stopped->done; });
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so that only the signal thread takes them.
    sealdesk::platform::block_stop_signals();
    // Test builds answer the dialogs from a script when one is named; the
    // desktop then keeps its hands off them.
    const bool scripted = sealdesk::platform::install_scripted_dialogs_from_environment();
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--headless") == 0) return run_headless();
    if (!sealdesk::platform::display_reachable()) return run_headless();
    sealdesk::shell::CWebServerApp app;
    return app.Run(argc, argv, /*use_qt_dialogs=*/!scripted);
}
