#include "toolkit/websocket.h"

#include <openssl/sha.h>

#include "text/text.h"

namespace SignCore {

TElWebSocketServer::TElWebSocketServer(std::function<void(const void*, std::size_t)> write,
                                       std::function<void()> close)
    : write_(std::move(write)), close_(std::move(close)) {}

std::string TElWebSocketServer::AcceptKey(const std::string& client_key) {
    const std::string text = client_key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    return sealdesk::base64_encode(digest, sizeof digest);
}

void TElWebSocketServer::SendFrame(int opcode, const std::string& payload) {
    if (closed_) return;
    std::string frame;
    frame += static_cast<char>(0x80 | opcode);
    const std::uint64_t size = payload.size();
    if (size < 126) {
        frame += static_cast<char>(size);
    } else if (size <= 0xFFFF) {
        frame += static_cast<char>(126);
        frame += static_cast<char>(size >> 8);
        frame += static_cast<char>(size & 0xFF);
    } else {
        frame += static_cast<char>(127);
        for (int shift = 56; shift >= 0; shift -= 8) frame += static_cast<char>((size >> shift) & 0xFF);
    }
    frame += payload;
    write_(frame.data(), frame.size());
}

void TElWebSocketServer::SendText(const std::string& text) { SendFrame(0x1, text); }

void TElWebSocketServer::CloseWith(std::uint16_t code) {
    if (closed_) return;
    std::string payload;
    payload += static_cast<char>(code >> 8);
    payload += static_cast<char>(code & 0xFF);
    SendFrame(0x8, payload);
    closed_ = true;
    input_.clear();
    message_.clear();
    close_();
}

void TElWebSocketServer::Feed(const std::uint8_t* data, std::size_t size) {
    if (closed_) return;
    input_.append(reinterpret_cast<const char*>(data), size);
    for (;;) {
        if (closed_ || input_.size() < 2) return;
        const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(input_[i]); };
        const bool fin = byte(0) & 0x80;
        const int opcode = byte(0) & 0x0F;
        const bool masked = byte(1) & 0x80;
        std::uint64_t length = byte(1) & 0x7F;
        std::size_t header = 2;
        if (byte(0) & 0x70) return CloseWith(1002);  // no extension was agreed
        if (length == 126) {
            if (input_.size() < 4) return;
            length = (std::uint64_t{byte(2)} << 8) | byte(3);
            header = 4;
        } else if (length == 127) {
            if (input_.size() < 10) return;
            length = 0;
            for (int i = 0; i < 8; ++i) length = (length << 8) | byte(2 + i);
            header = 10;
        }
        // Clients must mask every frame.
        if (!masked) return CloseWith(1002);
        if (length > kMaxMessageBytes || message_.size() + length > kMaxMessageBytes) return CloseWith(1009);
        if (input_.size() < header + 4 + length) return;
        const std::uint8_t* mask = reinterpret_cast<const std::uint8_t*>(input_.data()) + header;
        std::string payload = input_.substr(header + 4, static_cast<std::size_t>(length));
        for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(payload[i] ^ mask[i % 4]);
        input_.erase(0, header + 4 + static_cast<std::size_t>(length));
        if (!HandleFrame(fin, opcode, payload)) return;
    }
}

bool TElWebSocketServer::HandleFrame(bool fin, int opcode, std::string& payload) {
    switch (opcode) {
        case 0x0:  // continuation
            if (!in_message_) {
                CloseWith(1002);
                return false;
            }
            message_ += payload;
            break;
        case 0x1:  // text
        case 0x2:  // binary: accepted, but only text messages are answered
            if (in_message_) {
                CloseWith(1002);
                return false;
            }
            in_message_ = true;
            message_ = payload;
            message_kind_text_ = opcode == 0x1;
            break;
        case 0x8:  // close: answer it and end
            CloseWith(1000);
            return false;
        case 0x9:  // ping
            if (payload.size() > 125) {
                CloseWith(1002);
                return false;
            }
            SendFrame(0xA, payload);
            return true;
        case 0xA:  // pong
            return true;
        default:
            CloseWith(1002);
            return false;
    }
    if (fin) {
        in_message_ = false;
        std::string text;
        text.swap(message_);
        if (message_kind_text_ && OnTextMessage) OnTextMessage(text);
    }
    return !closed_;
}

}  // namespace SignCore
