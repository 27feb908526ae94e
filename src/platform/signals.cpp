#include "platform/signals.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <mutex>
#include <thread>

namespace sealdesk::platform {
namespace {

std::mutex g_lock;
std::function<void()> g_action;
bool g_thread_started = false;

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
            std::lock_guard lock(g_lock);
            action = g_action;
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
    std::lock_guard lock(g_lock);
    g_action = std::move(action);
    if (!g_thread_started) {
        // The signals must be blocked in every thread for sigwait to see them;
        // block them here too in case the program did not do it first.
        block_stop_signals();
        std::thread(signal_loop).detach();
        g_thread_started = true;
    }
}

}  // namespace sealdesk::platform
