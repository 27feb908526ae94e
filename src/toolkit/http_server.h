// One HTTP/1.x connection, optionally over TLS, optionally upgraded to a
// WebSocket. The server does no I/O of its own: it reads through OnReceive,
// writes through OnSend, and raises events on the caller's thread.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/streams.h"

namespace SignCore {

class TElMemoryCertStorage;
class TElWebSocketServer;
class RequestParser;

// Request method codes; kMethodOther carries its name in MethodText.
enum HTTPMethod : int {
    kMethodGet = 0, kMethodPost, kMethodHead, kMethodOptions, kMethodDelete,
    kMethodTrace, kMethodPut, kMethodConnect, kMethodOther
};

// What the parser knows of a request; owned by the server.
struct TElHTTPServerRequest {
    int Method = kMethodOther;
    std::string MethodText;
    std::string URL;
    int VersionMajor = 1, VersionMinor = 1;
    std::vector<std::pair<std::string, std::string>> Headers;
    std::int64_t ContentLength = 0;  // 0 when absent
    bool KeepAlive = false;
    bool Chunked = false;
    bool ExpectContinue = false;
};

// A view of the request being handled.
class TElHTTPServerRequestParams {
public:
    void Assign(TElHTTPServerRequest* request) { request_ = request; }
    bool Assigned() const { return request_ != nullptr; }
    int Method() const { return request_->Method; }
    const std::string& MethodText() const { return request_->MethodText; }
    const std::string& URL() const { return request_->URL; }
    void SetURL(const std::string& url) { request_->URL = url; }
    std::int64_t ContentLength() const { return request_->ContentLength; }
    bool KeepAlive() const { return request_->KeepAlive; }
    // The two further cases in which a body follows the head.
    bool Chunked() const { return request_->Chunked; }
    bool ExpectContinue() const { return request_->ExpectContinue; }
    // Value of the first header of that name (case-insensitive), or "".
    std::string Header(const std::string& name) const;

private:
    TElHTTPServerRequest* request_ = nullptr;
};

class TElHTTPServerResponseParams {
public:
    int StatusCode = 200;
    std::int64_t ContentLength = 0;
    bool KeepAlive = false;
    // Write a "Connection:" line that states whether the connection stays
    // open, so that HTTP/1.0 clients keep it too.
    bool AnnounceConnection = false;
    std::vector<std::pair<std::string, std::string>> OtherHeaders;
    void AddHeader(const std::string& name, const std::string& value) { OtherHeaders.emplace_back(name, value); }
};

// Parses a URL (scheme://host[:port]/path?query) into its parts.
struct TElURL {
    std::string Scheme, Host, Path;  // Path keeps its query
    int Port = 0;
    static TElURL Parse(const std::string& url);
};

class TElHTTPSServer {
public:
    // Upper bounds on what one request may make the server hold.
    static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
    static constexpr std::uint64_t kMaxBodyBytes = 512ull * 1024 * 1024;

    TElHTTPSServer();
    ~TElHTTPSServer();
    TElHTTPSServer(const TElHTTPSServer&) = delete;
    TElHTTPSServer& operator=(const TElHTTPSServer&) = delete;

    bool UseTLS = false;
    TElMemoryCertStorage* CertStorage = nullptr;

    // Events.
    std::function<void(const std::uint8_t* data, std::size_t size)> OnSend;
    std::function<std::size_t(std::uint8_t* buffer, std::size_t max)> OnReceive;
    std::function<void()> OnOpenConnection;
    std::function<void(int reason)> OnCloseConnection;
    std::function<void(TElHTTPServerRequest& request, bool& handled)> OnRequest;
    std::function<void(const std::uint8_t* data, std::size_t size)> OnData;
    std::function<void()> OnDataComplete;
    std::function<void(int code, bool fatal, bool remote)> OnTLSError;
    std::function<void(TElWebSocketServer* session)> OnWebSocketSessionCreated;
    std::function<void(TElWebSocketServer* session)> OnWebSocketSessionReady;

    // Close reasons passed to OnCloseConnection.
    enum CloseReason : int { kClosedLocally = 0, kClosedByPeer = 1, kClosedOnError = 2 };

    void Open();
    // Reads what the connection has and handles it; raises SBException on a
    // failure of the TLS engine.
    void DataAvailable();
    bool Active() const { return open_ && !closed_; }
    // True once a TLS session is established and not yet closed.
    bool SessionActive() const;
    // Ends the session: a TLS close_notify unless `silent`.
    void Close(bool silent);
    void DetachEvents();

    void SendResponseHeaders(const TElHTTPServerResponseParams& response);
    void SendResponseBody(TStream& body);
    void FinishResponse();

    // Sends application bytes (through TLS when on).
    void Write(const void* data, std::size_t size);

private:
    friend class RequestParser;
    void ProcessPlain(const std::uint8_t* data, std::size_t size);
    void ProcessHttp();
    void FailRequest(int status);
    void StartWebSocket(const std::string& key);
    void FlushTLS();
    void TLSFailed();
    void NotifyClosed(int reason);

    bool open_ = false;
    bool closed_ = false;
    bool close_notified_ = false;
    SSL* ssl_ = nullptr;
    BIO* in_bio_ = nullptr;   // network -> TLS
    BIO* out_bio_ = nullptr;  // TLS -> network
    bool handshake_done_ = false;
    std::string pending_;  // received plaintext not parsed yet
    std::unique_ptr<RequestParser> parser_;
    std::unique_ptr<TElHTTPServerRequest> request_;
    std::unique_ptr<TElWebSocketServer> websocket_;
    bool response_keep_alive_ = true;
};

}  // namespace SignCore
