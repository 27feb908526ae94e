#include "toolkit/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace SignCore {
namespace {

std::string address_text(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    } else if (address.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
            inet_ntop(AF_INET, &in6->sin6_addr.s6_addr[12], text, sizeof text);
        else
            inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    }
    return text;
}

int wait_for(int fd, short events, int timeout_ms) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int n = ::poll(&p, 1, timeout_ms);
        if (n < 0 && errno == EINTR) continue;
        return n > 0 ? p.revents : 0;
    }
}

}  // namespace

TElSocket::TElSocket(int accepted_fd) : fd_(accepted_fd) {
    connected_ = fd_ >= 0;
    if (fd_ < 0) return;
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &length) == 0) remote_address_ = address_text(peer);
}

TElSocket::~TElSocket() {
    if (fd_ >= 0) ::close(fd_);
}

int TElSocket::Bind() {
    if (fd_ >= 0) ::close(fd_);
    // One IPv6 socket that also takes IPv4 (mapped) on every address: the
    // admission rule, not the listening address, keeps other clients out.
    fd_ = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) return errno;
    int zero = 0, one = 1;
    ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(ListenPort);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        return error;
    }
    return 0;
}

int TElSocket::Listen(int backlog) {
    if (fd_ < 0) return EBADF;
    return ::listen(fd_, backlog) == 0 ? 0 : errno;
}

std::unique_ptr<TElSocket> TElSocket::Accept(int timeout_ms) {
    if (fd_ < 0 || !(wait_for(fd_, POLLIN, timeout_ms) & POLLIN)) return nullptr;
    const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return nullptr;
    return std::make_unique<TElSocket>(client);
}

int TElSocket::Send(const void* data, std::size_t size, std::size_t& sent) {
    sent = 0;
    if (fd_ < 0 || !connected_) return ENOTCONN;
    const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (n >= 0) {
        sent = static_cast<std::size_t>(n);
        return 0;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return kWouldBlock;
    connected_ = false;
    return errno;
}

int TElSocket::Receive(void* buffer, std::size_t size, std::size_t& received) {
    received = 0;
    if (fd_ < 0 || !connected_) return ENOTCONN;
    const ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n > 0) {
        received = static_cast<std::size_t>(n);
        return 0;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return kWouldBlock;
    if (n == 0) return 0;  // the peer closed; the caller sees a count of 0
    connected_ = false;
    return errno;
}

bool TElSocket::CanReceive(int timeout_ms) {
    if (fd_ < 0) return false;
    return wait_for(fd_, POLLIN, timeout_ms) & (POLLIN | POLLHUP | POLLERR);
}

bool TElSocket::CanSend(int timeout_ms) {
    if (fd_ < 0) return false;
    return wait_for(fd_, POLLOUT, timeout_ms) & (POLLOUT | POLLHUP | POLLERR);
}

void TElSocket::Close(bool forced) {
    connected_ = false;
    if (fd_ < 0) return;
    if (!forced) ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace SignCore
