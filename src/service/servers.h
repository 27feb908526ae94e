// Start and stop of the local service: the plain listener on 14007 and the
// TLS listener on 14407, their connections and the request log.
#pragma once

#include <functional>
#include <string>

namespace sealdesk {

constexpr unsigned short kHttpPort = 14007;
constexpr unsigned short kHttpsPort = 14407;

// Builds the TLS certificate and both listeners and starts them; returns once
// both listener threads run (not waiting for them to bind). Meant to run on a
// worker thread of the caller's. Reports only on standard output.
void StartServers();

// Stops both listeners, ends every connection and closes the request log.
// Does nothing when no listener runs; safe to call from any thread.
void StopServers();

// True while a listener object exists (between StartServers and StopServers).
// Never waits for a start or stop under way.
bool ServersRunning();

// The last stop of the process: stops the service, and any StartServers
// still on its way (a worker of an earlier Start) then does nothing.
void StopServersForExit();

// What happens after SIGINT or SIGTERM has stopped the service: the headless
// program ends the process; the desktop program keeps running.
void SetSignalStopHook(std::function<void()> hook);

// Replaces what SIGINT and SIGTERM do (by default StopServers, then the stop
// hook). The desktop program hands the stop to its GUI thread, which first
// cancels the questions a stop would otherwise wait on. An empty function
// restores the default.
void SetSignalStopAction(std::function<void()> action);

// The folder of the running program (from /proc/self/exe), no trailing slash.
std::string ServiceFolder();

}  // namespace sealdesk
