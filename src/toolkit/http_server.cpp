#include "toolkit/http_server.h"

#include <openssl/err.h>

#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/asio/buffer.hpp>

#include <algorithm>
#include <cctype>
#include <exception>

#include "toolkit/certificate.h"
#include "toolkit/sb_exception.h"
#include "toolkit/websocket.h"

namespace SignCore {

namespace http = boost::beast::http;
using boost::beast::error_code;
using boost::beast::string_view;

namespace {

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool icontains(std::string_view haystack, std::string_view needle) {
    if (needle.size() > haystack.size()) return false;
    for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i)
        if (iequals(haystack.substr(i, needle.size()), needle)) return true;
    return false;
}

int method_code(std::string_view name) {
    static const char* const names[] = {"GET", "POST", "HEAD", "OPTIONS", "DELETE", "TRACE", "PUT", "CONNECT"};
    for (int i = 0; i < 8; ++i)
        if (name == names[i]) return i;
    return kMethodOther;
}

const char* reason_phrase(int status) {
    switch (status) {
        case 100: return "Continue";
        case 101: return "Switching Protocols";
        case 200: return "OK";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        default: return "Unknown";
    }
}

}  // namespace

// Beast's incremental parser, raising the server's request events.
class RequestParser : public http::basic_parser<true> {
public:
    RequestParser(TElHTTPSServer& server, TElHTTPServerRequest& request) : server_(server), request_(request) {
        header_limit(static_cast<std::uint32_t>(TElHTTPSServer::kMaxHeaderBytes));
        body_limit(TElHTTPSServer::kMaxBodyBytes);
        eager(true);
    }

    std::exception_ptr failure;
    bool body_expected = false;
    bool wants_upgrade = false;
    std::string websocket_key;

private:
    void on_request_impl(http::verb, string_view method, string_view target, int version, error_code&) override {
        request_.MethodText.assign(method.data(), method.size());
        request_.Method = method_code(request_.MethodText);
        request_.URL.assign(target.data(), target.size());
        request_.VersionMajor = version / 10;
        request_.VersionMinor = version % 10;
    }

    void on_response_impl(int, string_view, int, error_code&) override {}

    void on_field_impl(http::field, string_view name, string_view value, error_code&) override {
        request_.Headers.emplace_back(std::string(name.data(), name.size()), std::string(value.data(), value.size()));
    }

    void on_header_impl(error_code& ec) override {
        request_.KeepAlive = keep_alive();
        request_.Chunked = chunked();
        if (auto length = content_length()) request_.ContentLength = static_cast<std::int64_t>(*length);
        TElHTTPServerRequestParams view;
        view.Assign(&request_);
        request_.ExpectContinue = iequals(view.Header("Expect"), "100-continue");
        body_expected = request_.ContentLength > 0 || request_.Chunked || request_.ExpectContinue;

        if (request_.Method == kMethodGet && icontains(view.Header("Upgrade"), "websocket") &&
            icontains(view.Header("Connection"), "upgrade") && !view.Header("Sec-WebSocket-Key").empty() &&
            view.Header("Sec-WebSocket-Version") == "13") {
            // The session starts once the head is complete; no request event.
            wants_upgrade = true;
            websocket_key = view.Header("Sec-WebSocket-Key");
            return;
        }
        guard(ec, [&] {
            bool handled = true;
            if (server_.OnRequest) server_.OnRequest(request_, handled);
            if (!handled) {
                server_.FailRequest(500);
                return;
            }
            if (request_.ExpectContinue && request_.ContentLength > 0 && server_.Active()) {
                static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
                server_.Write(kContinue, sizeof kContinue - 1);
            }
        });
    }

    void on_body_init_impl(const boost::optional<std::uint64_t>&, error_code&) override {}

    std::size_t on_body_impl(string_view body, error_code& ec) override {
        deliver(body, ec);
        return body.size();
    }

    void on_chunk_header_impl(std::uint64_t, string_view, error_code&) override {}

    std::size_t on_chunk_body_impl(std::uint64_t, string_view body, error_code& ec) override {
        deliver(body, ec);
        return body.size();
    }

    void on_finish_impl(error_code& ec) override {
        if (wants_upgrade || !body_expected) return;
        guard(ec, [&] {
            if (server_.Active() && server_.OnDataComplete) server_.OnDataComplete();
        });
    }

    void deliver(string_view body, error_code& ec) {
        guard(ec, [&] {
            if (server_.Active() && server_.OnData)
                server_.OnData(reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
        });
    }

    // Exceptions must not unwind through the parser: keep the first one and
    // stop parsing; the server raises it once the parser has returned.
    template <class F>
    void guard(error_code& ec, F body) {
        try {
            body();
        } catch (...) {
            failure = std::current_exception();
            ec = http::error::bad_value;
        }
    }

    TElHTTPSServer& server_;
    TElHTTPServerRequest& request_;
};

std::string TElHTTPServerRequestParams::Header(const std::string& name) const {
    if (!request_) return {};
    for (const auto& [key, value] : request_->Headers)
        if (iequals(key, name)) return value;
    return {};
}

TElURL TElURL::Parse(const std::string& url) {
    TElURL result;
    std::size_t at = 0;
    const std::size_t scheme_end = url.find("://");
    if (scheme_end != std::string::npos) {
        result.Scheme = url.substr(0, scheme_end);
        at = scheme_end + 3;
    }
    std::size_t path_start = url.find_first_of("/?#", at);
    std::string authority = url.substr(at, path_start == std::string::npos ? std::string::npos : path_start - at);
    if (const auto user_end = authority.rfind('@'); user_end != std::string::npos) authority.erase(0, user_end + 1);
    std::size_t port_sep = authority.rfind(':');
    if (port_sep != std::string::npos && authority.find(']', port_sep) == std::string::npos) {
        result.Host = authority.substr(0, port_sep);
        result.Port = std::atoi(authority.c_str() + port_sep + 1);
    } else {
        result.Host = authority;
    }
    if (result.Port == 0) result.Port = iequals(result.Scheme, "https") ? 443 : iequals(result.Scheme, "ftp") ? 21 : 80;
    result.Path = path_start == std::string::npos ? "/" : url.substr(path_start);
    if (const auto hash = result.Path.find('#'); hash != std::string::npos) result.Path.erase(hash);
    if (result.Path.empty() || result.Path[0] != '/') result.Path.insert(0, "/");
    return result;
}

TElHTTPSServer::TElHTTPSServer() = default;

TElHTTPSServer::~TElHTTPSServer() {
    parser_.reset();
    websocket_.reset();
    SSL_free(ssl_);  // frees both BIOs
}

void TElHTTPSServer::DetachEvents() {
    OnSend = nullptr;
    OnReceive = nullptr;
    OnOpenConnection = nullptr;
    OnCloseConnection = nullptr;
    OnRequest = nullptr;
    OnData = nullptr;
    OnDataComplete = nullptr;
    OnTLSError = nullptr;
    OnWebSocketSessionCreated = nullptr;
    OnWebSocketSessionReady = nullptr;
}

void TElHTTPSServer::Open() {
    if (open_) return;
    if (UseTLS) {
        if (!CertStorage) throw SBInvalidParameterException();
        SSL_CTX* context = CertStorage->AcquireServerContext();
        ssl_ = SSL_new(context);
        SSL_CTX_free(context);  // the session holds its own reference
        if (!ssl_) raise_error("ETLSError", "Cannot create the TLS session");
        in_bio_ = BIO_new(BIO_s_mem());
        out_bio_ = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(in_bio_, -1);
        SSL_set_bio(ssl_, in_bio_, out_bio_);
        SSL_set_accept_state(ssl_);
    }
    open_ = true;
    if (OnOpenConnection) OnOpenConnection();
}

bool TElHTTPSServer::SessionActive() const {
    if (UseTLS) return open_ && handshake_done_ && !closed_;
    return open_ && !closed_;
}

void TElHTTPSServer::NotifyClosed(int reason) {
    closed_ = true;
    if (close_notified_) return;
    close_notified_ = true;
    if (OnCloseConnection) OnCloseConnection(reason);
}

void TElHTTPSServer::Close(bool silent) {
    if (!open_ || closed_) return;
    if (UseTLS && ssl_ && handshake_done_ && !silent) {
        SSL_shutdown(ssl_);
        FlushTLS();
    }
    ERR_clear_error();
    NotifyClosed(kClosedLocally);
}

void TElHTTPSServer::FlushTLS() {
    char chunk[16384];
    while (out_bio_ && BIO_ctrl_pending(out_bio_) > 0) {
        const int n = BIO_read(out_bio_, chunk, sizeof chunk);
        if (n <= 0) break;
        if (OnSend) OnSend(reinterpret_cast<const std::uint8_t*>(chunk), static_cast<std::size_t>(n));
    }
}

void TElHTTPSServer::TLSFailed() {
    const unsigned long error = ERR_peek_last_error();
    int reason = ERR_GET_REASON(error);
    bool remote = false;
    // Alerts received from the peer come back as reasons offset by 1000.
    if (reason >= SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256) {
        reason -= SSL_AD_REASON_OFFSET;
        remote = true;
    }
    ERR_clear_error();
    FlushTLS();  // our alert, if the engine produced one
    if (OnTLSError) OnTLSError(reason, true, remote);
    NotifyClosed(kClosedOnError);
}

void TElHTTPSServer::DataAvailable() {
    if (!open_ || closed_) return;
    std::uint8_t buffer[16384];
    const std::size_t received = OnReceive ? OnReceive(buffer, sizeof buffer) : 0;
    if (received == 0) {
        NotifyClosed(kClosedByPeer);
        return;
    }
    if (!UseTLS) {
        ProcessPlain(buffer, received);
        return;
    }
    BIO_write(in_bio_, buffer, static_cast<int>(received));
    if (!handshake_done_) {
        ERR_clear_error();
        const int result = SSL_do_handshake(ssl_);
        FlushTLS();
        if (result != 1) {
            const int error = SSL_get_error(ssl_, result);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) TLSFailed();
            return;
        }
        handshake_done_ = true;
    }
    std::uint8_t plain[16384];
    while (!closed_) {
        ERR_clear_error();
        const int n = SSL_read(ssl_, plain, sizeof plain);
        if (n > 0) {
            ProcessPlain(plain, static_cast<std::size_t>(n));
            continue;
        }
        const int error = SSL_get_error(ssl_, n);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) break;
        if (error == SSL_ERROR_ZERO_RETURN) {
            FlushTLS();
            NotifyClosed(kClosedByPeer);
            return;
        }
        TLSFailed();
        return;
    }
    FlushTLS();
}

void TElHTTPSServer::ProcessPlain(const std::uint8_t* data, std::size_t size) {
    if (websocket_) {
        websocket_->Feed(data, size);
        return;
    }
    pending_.append(reinterpret_cast<const char*>(data), size);
    ProcessHttp();
}

void TElHTTPSServer::ProcessHttp() {
    while (!closed_ && !websocket_ && !pending_.empty()) {
        if (!parser_) {
            request_ = std::make_unique<TElHTTPServerRequest>();
            parser_ = std::make_unique<RequestParser>(*this, *request_);
        }
        error_code ec;
        const std::size_t used = parser_->put(boost::asio::buffer(pending_.data(), pending_.size()), ec);
        pending_.erase(0, used);
        if (parser_->failure) {
            std::exception_ptr failure = parser_->failure;
            parser_.reset();
            pending_.clear();
            std::rethrow_exception(failure);
        }
        if (ec == http::error::need_more) {
            if (used == 0) break;
            continue;
        }
        if (ec) {
            // Malformed, or a head or body over the bounds: refuse and close.
            parser_.reset();
            pending_.clear();
            FailRequest(400);
            return;
        }
        if (parser_->is_done()) {
            const bool upgrade = parser_->wants_upgrade;
            const std::string key = parser_->websocket_key;
            parser_.reset();
            if (upgrade && !closed_) {
                StartWebSocket(key);
                if (!pending_.empty() && websocket_) {
                    std::string rest;
                    rest.swap(pending_);
                    websocket_->Feed(reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size());
                }
                return;
            }
        }
    }
}

void TElHTTPSServer::FailRequest(int status) {
    if (closed_) return;
    TElHTTPServerResponseParams response;
    response.StatusCode = status;
    response.ContentLength = 0;
    response.KeepAlive = false;
    response.AnnounceConnection = true;
    SendResponseHeaders(response);
    Close(false);
}

void TElHTTPSServer::StartWebSocket(const std::string& key) {
    const std::string head = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                             "Sec-WebSocket-Accept: " +
                             TElWebSocketServer::AcceptKey(key) + "\r\n\r\n";
    Write(head.data(), head.size());
    websocket_ = std::make_unique<TElWebSocketServer>([this](const void* data, std::size_t size) { Write(data, size); },
                                                      [this] { Close(false); });
    if (OnWebSocketSessionCreated) OnWebSocketSessionCreated(websocket_.get());
    if (OnWebSocketSessionReady) OnWebSocketSessionReady(websocket_.get());
}

void TElHTTPSServer::Write(const void* data, std::size_t size) {
    if (!open_ || closed_ || size == 0) return;
    if (!UseTLS) {
        if (OnSend) OnSend(static_cast<const std::uint8_t*>(data), size);
        return;
    }
    if (!handshake_done_) return;
    ERR_clear_error();
    const int n = SSL_write(ssl_, data, static_cast<int>(size));
    FlushTLS();
    if (n <= 0) raise_error("ETLSError", "TLS write failed");
}

void TElHTTPSServer::SendResponseHeaders(const TElHTTPServerResponseParams& response) {
    response_keep_alive_ = response.KeepAlive;
    std::string head = "HTTP/1.1 " + std::to_string(response.StatusCode) + " " + reason_phrase(response.StatusCode) +
                       "\r\nContent-Length: " + std::to_string(response.ContentLength) + "\r\n";
    for (const auto& [name, value] : response.OtherHeaders) head += name + ": " + value + "\r\n";
    if (response.AnnounceConnection) head += response.KeepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    head += "\r\n";
    Write(head.data(), head.size());
}

void TElHTTPSServer::SendResponseBody(TStream& body) {
    char chunk[16384];
    std::size_t n = 0;
    while ((n = body.Read(chunk, sizeof chunk)) > 0) Write(chunk, n);
}

void TElHTTPSServer::FinishResponse() { FlushTLS(); }

}  // namespace SignCore
