// SIGINT and SIGTERM are taken on a thread of their own (sigwait), never in a
// signal handler, so that stopping the service may lock, join and free.
#pragma once

#include <functional>

namespace sealdesk::platform {

// Blocks SIGINT and SIGTERM in the calling thread and every thread it starts
// later. Call first thing in main, before any thread exists.
void block_stop_signals();

// Runs `action` on the signal thread for every SIGINT or SIGTERM; starts that
// thread on the first call, later calls replace the action.
void set_stop_signal_action(std::function<void()> action);

}  // namespace sealdesk::platform
