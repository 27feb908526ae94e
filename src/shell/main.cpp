// Entry point. `sealdesk --headless` runs the service without any window: it
// starts at once and SIGINT or SIGTERM stop it and end the process.
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/signals.h"
#include "service/servers.h"

namespace {

int run_headless() {
    std::mutex lock;
    std::condition_variable stopped;
    bool done = false;
    sealdesk::SetSignalStopHook([&] {
        std::lock_guard guard(lock);
        done = true;
        stopped.notify_all();
    });
    std::thread starter(sealdesk::StartServers);
    starter.join();
    std::unique_lock guard(lock);
    stopped.wait(guard, [&] { return done; });
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so that only the signal thread takes them.
    sealdesk::platform::block_stop_signals();
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--headless") == 0) return run_headless();
    // The desktop program is not there yet: without it the service runs
    // headless, as on a machine without a display.
    return run_headless();
}
