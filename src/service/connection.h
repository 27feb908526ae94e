// The listener of one port and the connections it admits, each on a thread
// of its own with its own HTTP(S) server object.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "routing/dispatcher.h"
#include "toolkit/certificate.h"
#include "toolkit/http_server.h"
#include "toolkit/socket.h"
#include "toolkit/streams.h"
#include "toolkit/websocket.h"

namespace sealdesk {

using RequestCallback = std::function<void(const SignCore::TElHTTPServerRequestParams& request)>;

class THTTPSServerListeningThread;

class THTTPSServerThread {
public:
    THTTPSServerThread(THTTPSServerListeningThread* owner, std::unique_ptr<SignCore::TElSocket> socket);
    ~THTTPSServerThread();
    THTTPSServerThread(const THTTPSServerThread&) = delete;
    THTTPSServerThread& operator=(const THTTPSServerThread&) = delete;

    void Start();

    std::thread thread;
    std::atomic<bool> stop_request{false};
    std::atomic<bool> finished{false};
    SignCore::TElWebSocketServer* websocket = nullptr;  // the server's, not owned
    THTTPSServerListeningThread* owner;
    std::unique_ptr<SignCore::TElSocket> socket;
    std::unique_ptr<SignCore::TElHTTPSServer> server;
    std::unique_ptr<SignCore::TElHTTPServerRequestParams> request_params;
    std::unique_ptr<SignCore::TElHTTPServerResponseParams> response_params;
    bool response_option = false;
    bool collecting_body = false;
    std::unique_ptr<SignCore::TMemoryStream> body;
    LogCallback log_callback;
    RequestCallback request_callback;

private:
    void Run();
    void Log(const std::string& text) const;
    // Socket input and output of the server.
    void HandleSend(const std::uint8_t* data, std::size_t size);
    std::size_t HandleReceive(std::uint8_t* buffer, std::size_t max);
    // Request intake, body, response.
    void HandleRequest(SignCore::TElHTTPServerRequest& request, bool& handled);
    void HandleData(const std::uint8_t* data, std::size_t size);
    void HandleDataComplete();
    void DispatchAndRespond();
    void HandleClose(int reason);
    void HandleTLSError(int code, bool fatal, bool remote);
    void HandleWebSocketText(const std::string& text);
};

class THTTPSServerListeningThread {
public:
    // Connections one listener keeps at once; further clients are closed
    // at once, so that a flood of idle sockets cannot exhaust the process.
    static constexpr std::size_t kMaxConnections = 256;

    explicit THTTPSServerListeningThread(unsigned short port);
    ~THTTPSServerListeningThread();
    THTTPSServerListeningThread(const THTTPSServerListeningThread&) = delete;
    THTTPSServerListeningThread& operator=(const THTTPSServerListeningThread&) = delete;

    void Start(bool tls, SignCore::TElMemoryCertStorage* storage, bool option, LogCallback log, RequestCallback request);

    std::thread thread;
    std::atomic<bool> stop_request{false};
    std::atomic<bool> finished{false};
    SignCore::TElSharedResource list_lock;
    SignCore::TList<THTTPSServerThread> connections;
    SignCore::TElSocket socket;
    SignCore::TElMemoryCertStorage* storage = nullptr;
    bool tls = false;
    bool response_option = false;
    LogCallback log_callback;
    RequestCallback request_callback;

private:
    void Run();
    void Log(const std::string& text) const;
    void Sweep();
};

}  // namespace sealdesk
