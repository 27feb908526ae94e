#include "platform/signals.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <mutex>
#include <thread>

namespace sealdesk::platform {
namespace {

// Never destroyed: the signal thread may still be inside sigwait, or run a
// late signal's action, while the process runs its exit handlers.
struct SignalState {
    std::mutex lock;
    std::function<void()> action;
    bool thread_started = false;
};
SignalState& state() {
    static SignalState* instance = new SignalState;
    return *instance;
}

sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void signal_loop() {
    const sigset_t set = stop_signals();
    for (;;) {
        int signal_number = 0;
        if (sigwait(&set, &signal_number) != 0) continue;
        std::function<void()> action;
        {
            std::lock_guard lock(state().lock);
            action = state().action;
        }
        if (action) action();
    }
}

}  // namespace

void block_stop_signals() {
    const sigset_t set = stop_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void set_stop_signal_action(std::function<void()> action) {
    SignalState& s = state();
    std::lock_guard lock(s.lock);
    s.action = std::move(action);
    if (!s.thread_started) {
        // The signals must be blocked in every thread for sigwait to see them;
        // block them here too in case the program did not do it first.
        block_stop_signals();
        std::thread(signal_loop).detach();
        s.thread_started = true;
    }
}

}  // namespace sealdesk::platform
