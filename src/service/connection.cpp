#include "service/connection.h"

#include <chrono>
#include <cstdio>
#include <system_error>

#include "platform/operator_override.h"
#include "toolkit/sb_exception.h"

namespace sealdesk {

using namespace SignCore;
using namespace std::chrono_literals;

namespace {
// A client that takes no byte for this long while we send is given up.
constexpr auto kStalledSendLimit = 30s;
}  // namespace

// ---------------------------------------------------------------- connection

THTTPSServerThread::THTTPSServerThread(THTTPSServerListeningThread* owner_, std::unique_ptr<TElSocket> socket_)
    : owner(owner_),
      socket(std::move(socket_)),
      server(std::make_unique<TElHTTPSServer>()),
      request_params(std::make_unique<TElHTTPServerRequestParams>()),
      body(std::make_unique<TMemoryStream>()) {
    server->OnSend = [this](const std::uint8_t* data, std::size_t size) { HandleSend(data, size); };
    server->OnReceive = [this](std::uint8_t* buffer, std::size_t max) { return HandleReceive(buffer, max); };
    server->OnOpenConnection = [this] { Log("Connection opened"); };
    server->OnCloseConnection = [this](int reason) { HandleClose(reason); };
    server->OnRequest = [this](TElHTTPServerRequest& request, bool& handled) { HandleRequest(request, handled); };
    server->OnData = [this](const std::uint8_t* data, std::size_t size) { HandleData(data, size); };
    server->OnDataComplete = [this] { HandleDataComplete(); };
    server->OnTLSError = [this](int code, bool fatal, bool remote) { HandleTLSError(code, fatal, remote); };
    server->OnWebSocketSessionCreated = [this](TElWebSocketServer* session) { websocket = session; };
    server->OnWebSocketSessionReady = [this](TElWebSocketServer* session) {
        session->OnTextMessage = [this](const std::string& text) { HandleWebSocketText(text); };
    };
}

THTTPSServerThread::~THTTPSServerThread() {
    if (thread.joinable()) thread.join();
    if (server) {
        try {
            if (server->SessionActive()) server->Close(!socket || !socket->Connected());
        } catch (const std::exception&) {
        }
        server->DetachEvents();
    }
    websocket = nullptr;
    server.reset();
    socket.reset();
    body.reset();
    request_params.reset();
    response_params.reset();
    log_callback = nullptr;
    request_callback = nullptr;
    owner->list_lock.WaitToWrite();
    owner->connections.Remove(this);
    owner->list_lock.DoneWrite();
}

void THTTPSServerThread::Start() { thread = std::thread([this] { Run(); }); }

void THTTPSServerThread::Log(const std::string& text) const {
    if (log_callback && !text.empty()) log_callback(std::string(text));
}

void THTTPSServerThread::Run() {
    try {
        server->Open();
        while (!stop_request) {
            if (!socket->Connected()) break;
            if (!socket->CanReceive(500) || stop_request) {
                std::this_thread::sleep_for(50ms);
                continue;
            }
            server->DataAvailable();
        }
    } catch (const std::exception& e) {
        if (!is_toolkit_exception(e)) std::fprintf(stderr, "sealdesk: connection ended: %s\n", e.what());
    }
    try {
        if (server->SessionActive()) server->Close(!socket->Connected());
        if (socket->Connected()) socket->Close(false);
    } catch (const std::exception&) {
    }
    finished = true;
}

void THTTPSServerThread::HandleSend(const std::uint8_t* data, std::size_t size) {
    std::size_t offset = 0;
    auto last_progress = std::chrono::steady_clock::now();
    while (offset < size && socket->Connected()) {
        std::size_t sent = 0;
        const int error = socket->Send(data + offset, size - offset, sent);
        offset += sent;
        if (sent > 0) last_progress = std::chrono::steady_clock::now();
        if (error == kWouldBlock) {
            // A client that stopped reading must not hold the stop or this
            // thread for ever.
            if (stop_request || std::chrono::steady_clock::now() - last_progress > kStalledSendLimit) return;
            socket->CanSend(10);
            continue;
        }
        if (error != 0) return;
    }
}

std::size_t THTTPSServerThread::HandleReceive(std::uint8_t* buffer, std::size_t max) {
    std::size_t received = 0;
    const int error = socket->Receive(buffer, max, received);
    if (error != 0 || received == 0) {
        socket->Close(false);
        return 0;
    }
    return received;
}

void THTTPSServerThread::HandleRequest(TElHTTPServerRequest& request, bool& handled) {
    try {
        request_params->Assign(&request);
        response_params = std::make_unique<TElHTTPServerResponseParams>();
        const std::string& url = request_params->URL();
        if (url.empty() || url[0] != '/') request_params->SetURL(TElURL::Parse(url).Path);
        body->Clear();
        collecting_body = true;
        if (request_callback) request_callback(*request_params);
        if (request_params->ContentLength() <= 0 && !request_params->Chunked() && !request_params->ExpectContinue())
            DispatchAndRespond();
        handled = true;
    } catch (const std::exception& e) {
        if (!is_toolkit_exception(e)) throw;
        handled = false;
    }
}

void THTTPSServerThread::HandleData(const std::uint8_t* data, std::size_t size) {
    if (!collecting_body) return;
    try {
        body->Write(data, size);
    } catch (const std::exception&) {
    }
}

void THTTPSServerThread::HandleDataComplete() { DispatchAndRespond(); }

void THTTPSServerThread::DispatchAndRespond() {
    collecting_body = false;
    std::string result;
    Dispatch(*request_params, *response_params, *body, response_option, log_callback, result);
    try {
        server->SendResponseHeaders(*response_params);
        if (!result.empty()) {
            Log("Result data : " + result + "\n");
            TMemoryStream stream;
            stream.Write(result.data(), result.size());
            stream.Seek(0, SeekOrigin::Begin);
            server->SendResponseBody(stream);
        }
        server->FinishResponse();
        if (!request_params->KeepAlive()) {
            server->Close(false);
            if (socket->Connected()) socket->Close(false);
        }
    } catch (const std::exception& e) {
        if (!is_toolkit_exception(e)) throw;
    }
    // The body of a large upload is not kept past its request.
    body->Clear();
}

void THTTPSServerThread::HandleClose(int reason) {
    if (socket && socket->Connected()) socket->Close(false);
    Log("Connection closed: " + std::to_string(reason));
}

void THTTPSServerThread::HandleTLSError(int code, bool fatal, bool remote) {
    Log("SSL error: " + std::to_string(code) + ", fatal: " + (fatal ? "true" : "false") +
        ", remote: " + (remote ? "true" : "false"));
}

void THTTPSServerThread::HandleWebSocketText(const std::string& text) {
    Log("WebSocket text received = " + text);
    if (websocket) websocket->SendText("Response: " + text);
}

// ------------------------------------------------------------------ listener

THTTPSServerListeningThread::THTTPSServerListeningThread(unsigned short port) { socket.ListenPort = port; }

void THTTPSServerListeningThread::Start(bool tls_, TElMemoryCertStorage* storage_, bool option, LogCallback log,
                                        RequestCallback request) {
    tls = tls_;
    storage = storage_;
    response_option = option;
    log_callback = std::move(log);
    request_callback = std::move(request);
    thread = std::thread([this] { Run(); });
}

void THTTPSServerListeningThread::Log(const std::string& text) const {
    if (log_callback && !text.empty()) log_callback(std::string(text));
}

void THTTPSServerListeningThread::Sweep() {
    // Only this thread appends and removes while it runs, so the list is read
    // without the lock here.
    for (THTTPSServerThread* connection : connections.Snapshot())
        if (connection->finished) delete connection;  // joins, then removes itself
}

void THTTPSServerListeningThread::Run() {
    if (socket.Bind() != 0 || socket.Listen() != 0) {
        Log("Failed to bind socket to the port");
        finished = true;
        return;
    }
    bool locked = false;
    try {
        while (true) {
            if (stop_request) {
                socket.Close(true);
                finished = true;
                return;
            }
            Sweep();
            std::unique_ptr<TElSocket> client = socket.Accept(100);
            if (!client) {
                std::this_thread::sleep_for(50ms);
                continue;
            }
            Log("Client accepted: " + client->RemoteAddress());
            const bool admitted = client->RemoteAddress() == "127.0.0.1" || platform::operator_override_holds();
            if (!admitted || connections.Count() >= kMaxConnections) {
                client->Close(true);
                continue;
            }
            list_lock.WaitToWrite();
            locked = true;
            auto* connection = new THTTPSServerThread(this, std::move(client));
            connection->server->UseTLS = tls;
            if (storage) connection->server->CertStorage = storage;
            connection->response_option = response_option;
            connection->log_callback = log_callback;
            connection->request_callback = request_callback;
            connections.Add(connection);
            list_lock.DoneWrite();
            locked = false;
            try {
                connection->Start();
            } catch (const std::system_error& e) {
                // No thread to be had just now: drop this client, keep listening.
                std::fprintf(stderr, "sealdesk: cannot serve a client on port %u: %s\n", socket.ListenPort,
                             e.what());
                connection->finished = true;
            }
        }
    } catch (const std::exception& e) {
        if (locked) list_lock.DoneWrite();
        std::fprintf(stderr, "sealdesk: listener on port %u ended: %s\n", socket.ListenPort, e.what());
        socket.Close(true);
        finished = true;
    }
}

THTTPSServerListeningThread::~THTTPSServerListeningThread() {
    if (thread.joinable()) thread.join();
    list_lock.WaitToWrite();
    for (THTTPSServerThread* connection : connections.Snapshot()) {
        connection->stop_request = true;
        if (connection->thread.joinable()) connection->thread.join();
    }
    list_lock.DoneWrite();
    // Each destruction takes the list lock for writing to remove itself, so
    // the finished ones are gathered under the read lock and destroyed after.
    while (true) {
        list_lock.WaitToRead();
        std::vector<THTTPSServerThread*> done;
        for (THTTPSServerThread* connection : connections.Snapshot())
            if (connection->finished) done.push_back(connection);
        const bool empty = connections.Count() == 0;
        list_lock.DoneRead();
        if (empty) break;
        for (THTTPSServerThread* connection : done) delete connection;
        if (done.empty()) std::this_thread::sleep_for(10ms);
    }
    socket.Close(true);
}

}  // namespace sealdesk
