// A TCP socket: the listening socket of a port (dual-stack, all addresses) or
// an accepted connection (non-blocking).
#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace SignCore {

// The error a send or receive reports when the socket would block.
constexpr int kWouldBlock = 10035;

class TElSocket {
public:
    TElSocket() = default;
    explicit TElSocket(int accepted_fd);  // takes ownership
    ~TElSocket();
    TElSocket(const TElSocket&) = delete;
    TElSocket& operator=(const TElSocket&) = delete;

    unsigned short ListenPort = 0;

    // 0 on success, otherwise the errno of the failing call.
    int Bind();
    int Listen(int backlog = 128);
    // Waits at most `timeout_ms` for a connection; nullptr when none came.
    std::unique_ptr<TElSocket> Accept(int timeout_ms);

    // The peer's address; IPv4 peers of the dual-stack socket in dotted form.
    const std::string& RemoteAddress() const { return remote_address_; }

    // Each returns 0 or an error code (kWouldBlock when nothing could move).
    int Send(const void* data, std::size_t size, std::size_t& sent);
    int Receive(void* buffer, std::size_t size, std::size_t& received);
    // True when data (or the peer's close) is waiting, within `timeout_ms`.
    bool CanReceive(int timeout_ms);
    // Waits until the socket can take more bytes, at most `timeout_ms`.
    bool CanSend(int timeout_ms);

    bool Connected() const { return connected_.load(); }
    // Graceful: shuts the connection down so the peer reads its end; forced:
    // just releases the descriptor.
    void Close(bool forced);

private:
    int fd_ = -1;
    std::atomic<bool> connected_{false};
    std::string remote_address_;
};

}  // namespace SignCore
