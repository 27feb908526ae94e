#include "service/servers.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "certificates/binding.h"
#include "platform/signals.h"
#include "service/connection.h"
#include "toolkit/sb_exception.h"

namespace sealdesk {

using namespace SignCore;

namespace {

constexpr const char* kKeyPassword = "velocamber";

// One lock over start and stop: the shell, its worker and the signal thread
// may call them at the same time.
std::mutex g_service_lock;
std::unique_ptr<THTTPSServerListeningThread> g_plain;
std::unique_ptr<THTTPSServerListeningThread> g_tls;
std::unique_ptr<TFileStream> g_request_log;
std::unique_ptr<TElSharedResource> g_request_log_lock;
std::unique_ptr<TElX509Certificate> g_certificate;
std::unique_ptr<TElMemoryCertStorage> g_storage;

// Never destroyed, as the signal thread may read it while the process ends.
struct SignalHook {
    std::mutex lock;
    std::function<void()> hook;
    std::function<void()> action;  // replaces the default stop when set
};
SignalHook& signal_hook() {
    static SignalHook* instance = new SignalHook;
    return *instance;
}

// The service's texts about itself are dropped; SEALDESK_LOG_EVENTS=1 shows
// them on standard error for diagnosis.
void log_event(const std::string& text) {
    static const bool show = [] {
        const char* value = std::getenv("SEALDESK_LOG_EVENTS");
        return value && *value == '1';
    }();
    if (!show || text.empty()) return;
    std::fprintf(stderr, "%s%s", text.c_str(), text.back() == '\n' ? "" : "\n");
}

void append_to_request_log(const std::string& text) {
    TElSharedResource* lock = g_request_log_lock.get();
    TFileStream* stream = g_request_log.get();
    if (!lock || !stream) return;
    lock->WaitToWrite();
    try {
        stream->Seek(0, SeekOrigin::End);
        stream->WriteText(text);
    } catch (const std::exception&) {
        // A log that cannot be written never holds up the request.
    }
    lock->DoneWrite();
}

void log_request(const TElHTTPServerRequestParams& request) {
    append_to_request_log("===================OnRequest===================\n");
    // The method code is derived from this very text, so the text is the
    // method's name for the eight known codes and for any other method alike.
    append_to_request_log("Method: " + request.MethodText() + " | URL: " + request.URL() + "\n\n");
}

// Written under g_service_lock, read without it.
std::atomic<bool> g_running{false};
bool g_exiting = false;

void stop_on_signal() {
    std::function<void()> hook, action;
    {
        std::lock_guard guard(signal_hook().lock);
        hook = signal_hook().hook;
        action = signal_hook().action;
    }
    if (action) {
        action();
        return;
    }
    StopServers();
    if (hook) hook();
}

}  // namespace

std::string ServiceFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string folder(path, static_cast<std::size_t>(n));
    const auto slash = folder.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : folder.substr(0, slash);
}

void SetSignalStopHook(std::function<void()> hook) {
    {
        std::lock_guard guard(signal_hook().lock);
        signal_hook().hook = std::move(hook);
    }
    // Signals must stop the service even when a start failed before it
    // could install the action itself.
    platform::set_stop_signal_action(stop_on_signal);
}

void SetSignalStopAction(std::function<void()> action) {
    {
        std::lock_guard guard(signal_hook().lock);
        signal_hook().action = std::move(action);
    }
    platform::set_stop_signal_action(stop_on_signal);
}

bool ServersRunning() { return g_running; }

void StartServers() {
    std::lock_guard guard(g_service_lock);
    if (g_exiting) return;
    if (g_plain || g_tls) {
        // A running service keeps its session and selection.
        std::fprintf(stderr, "sealdesk: the service is already running\n");
        return;
    }
    bind_certificate_functions();
    try {
        const std::string folder = ServiceFolder();
        g_storage = std::make_unique<TElMemoryCertStorage>();
        g_certificate = std::make_unique<TElX509Certificate>();
        const int result = g_certificate->LoadFromFileAuto(folder + "/server.crt", "");
        g_certificate->LoadKeyFromFileAuto(folder + "/server.key", kKeyPassword);
        if (result != 0) {
            std::printf("Can't load server certificate, error %d\n", result);
            std::fflush(stdout);
            return;
        }
        g_storage->Add(*g_certificate, true);

        g_request_log_lock = std::make_unique<TElSharedResource>();
        g_request_log = std::make_unique<TFileStream>(folder + "/serverLog.txt", TFileStream::Mode::Create);

        g_plain = std::make_unique<THTTPSServerListeningThread>(kHttpPort);
        g_running = true;
        g_plain->Start(false, nullptr, true, log_event, log_request);
        log_event("Server started\n");

        g_tls = std::make_unique<THTTPSServerListeningThread>(kHttpsPort);
        g_tls->Start(true, g_storage.get(), true, log_event, log_request);
        log_event("Server https started\n");

        std::printf("HTTPServer is working now,\n log - %s/serverLog.txt\n", folder.c_str());
        std::printf("...Just press key 'S' to stop HTTPServer...\n");
        std::fflush(stdout);
        platform::set_stop_signal_action(stop_on_signal);
    } catch (const std::exception& e) {
        std::printf("Error %s\n", e.what());
        std::fflush(stdout);
        if (g_request_log && !g_plain && !g_tls) {
            g_request_log.reset();
            g_request_log_lock.reset();
        }
    }
}

namespace {
void stop_locked() {
    if (!g_plain && !g_tls) return;
    if (g_plain) {
        g_plain->stop_request = true;
        if (g_plain->thread.joinable()) g_plain->thread.join();
        g_plain.reset();
        log_event("Server stopped");
    }
    if (g_tls) {
        g_tls->stop_request = true;
        if (g_tls->thread.joinable()) g_tls->thread.join();
        g_tls.reset();
        log_event("Server HTTPS stopped");
    }
    g_request_log.reset();
    g_request_log_lock.reset();
    g_running = false;
}
}  // namespace

void StopServers() {
    std::lock_guard guard(g_service_lock);
    stop_locked();
}

void StopServersForExit() {
    std::lock_guard guard(g_service_lock);
    g_exiting = true;
    stop_locked();
}

}  // namespace sealdesk
