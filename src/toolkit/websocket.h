// The server side of a WebSocket session (RFC 6455) on an upgraded
// connection: unmasks client frames, joins fragmented messages, answers pings
// and the closing handshake, and sends unmasked text frames.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace SignCore {

class TElWebSocketServer {
public:
    // Longest message the session takes; a longer one closes it (1009).
    static constexpr std::size_t kMaxMessageBytes = 16 * 1024 * 1024;

    // `write` sends bytes on the connection; `close` ends the connection once
    // the closing handshake has been sent.
    TElWebSocketServer(std::function<void(const void*, std::size_t)> write, std::function<void()> close);

    std::function<void(const std::string& text)> OnTextMessage;

    void SendText(const std::string& text);
    void Feed(const std::uint8_t* data, std::size_t size);
    bool Closed() const { return closed_; }

    // The Sec-WebSocket-Accept value for a client's key.
    static std::string AcceptKey(const std::string& client_key);

private:
    void SendFrame(int opcode, const std::string& payload);
    void CloseWith(std::uint16_t code);
    bool HandleFrame(bool fin, int opcode, std::string& payload);

    std::function<void(const void*, std::size_t)> write_;
    std::function<void()> close_;
    std::string input_;
    std::string message_;
    bool in_message_ = false;
    bool message_kind_text_ = false;
    bool closed_ = false;
};

}  // namespace SignCore
