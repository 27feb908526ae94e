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
bool ServersRunning();

// What happens after SIGINT or SIGTERM has stopped the service: the headless
// program ends the process; the desktop program keeps running.
void SetSignalStopHook(std::function<void()> hook);

// The folder of the running program (from /proc/self/exe), no trailing slash.
std::string ServiceFolder();

}  // namespace sealdesk
