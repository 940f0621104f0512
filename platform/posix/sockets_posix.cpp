// IPv4 sockets on BSD sockets. Sends use MSG_NOSIGNAL so a closed peer never raises SIGPIPE;
// waits use poll, which has no limit on descriptor numbers.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/platform.h"

namespace platform {

namespace {
int Fd(SocketHandle s) { return static_cast<int>(s); }

sockaddr_in Endpoint(uint32_t address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

void FromEndpoint(const sockaddr_in& sa, uint32_t* address, uint16_t* port) {
    if (address) *address = ntohl(sa.sin_addr.s_addr);
    if (port) *port = ntohs(sa.sin_port);
}

SocketHandle Open(int type, int protocol) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

// poll for events, retried after a signal with the time that is left.
int PollFor(SocketHandle s, short events, uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{Fd(s), events, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        int r = poll(&p, 1, left < 0 ? 0 : static_cast<int>(left));
        if (r >= 0) return r > 0 ? 1 : 0;
        if (errno != EINTR) return -1;
    }
}
}  // namespace

bool SocketsStart() { return true; }

SocketHandle OpenTcpSocket() { return Open(SOCK_STREAM, IPPROTO_TCP); }

SocketHandle OpenUdpSocket() {
    SocketHandle s = Open(SOCK_DGRAM, IPPROTO_UDP);
    if (s == kInvalidSocket) return s;
    int on = 1;
    if (setsockopt(Fd(s), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        close(Fd(s));
        return kInvalidSocket;
    }
    return s;
}

bool SocketBind(SocketHandle s, uint32_t address, uint16_t port) {
    sockaddr_in sa = Endpoint(address, port);
    return bind(Fd(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool SocketLocalAddress(SocketHandle s, uint32_t* address, uint16_t* port) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(Fd(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
    FromEndpoint(sa, address, port);
    return true;
}

bool SocketListen(SocketHandle s, int backlog) { return listen(Fd(s), backlog) == 0; }

SocketHandle SocketAccept(SocketHandle s, uint32_t* peerAddress, uint16_t* peerPort) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int fd;
    do {
        fd = accept4(Fd(s), reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kInvalidSocket;
    FromEndpoint(sa, peerAddress, peerPort);
    return static_cast<SocketHandle>(fd);
}

bool SocketSetNoDelay(SocketHandle s) {
    int on = 1;
    return setsockopt(Fd(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

bool SocketSetSendTimeout(SocketHandle s, uint32_t timeoutMs) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeoutMs / 1000);
    tv.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
    return setsockopt(Fd(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

ConnectResult SocketConnect(SocketHandle s, uint32_t address, uint16_t port, uint32_t timeoutMs) {
    int flags = fcntl(Fd(s), F_GETFL, 0);
    if (flags < 0 || fcntl(Fd(s), F_SETFL, flags | O_NONBLOCK) != 0) return ConnectResult::Failed;
    sockaddr_in sa = Endpoint(address, port);
    ConnectResult result = ConnectResult::Connected;
    if (connect(Fd(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            result = ConnectResult::Failed;
        } else {
            int ready = PollFor(s, POLLOUT, timeoutMs);
            int error = 0;
            socklen_t len = sizeof error;
            if (ready == 0)
                result = ConnectResult::TimedOut;
            else if (ready < 0 || getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0)
                result = ConnectResult::Failed;
        }
    }
    if (fcntl(Fd(s), F_SETFL, flags) != 0) return ConnectResult::Failed;
    return result;
}

int SocketSend(SocketHandle s, const void* data, size_t length) {
    ssize_t n;
    do {
        n = send(Fd(s), data, length, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int SocketReceive(SocketHandle s, void* buffer, size_t length) {
    ssize_t n;
    do {
        n = recv(Fd(s), buffer, length, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int SocketSendTo(SocketHandle s, const void* data, size_t length, uint32_t address, uint16_t port) {
    sockaddr_in sa = Endpoint(address, port);
    ssize_t n;
    do {
        n = sendto(Fd(s), data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int SocketReceiveFrom(SocketHandle s, void* buffer, size_t length, uint32_t* fromAddress, uint16_t* fromPort) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ssize_t n;
    do {
        n = recvfrom(Fd(s), buffer, length, 0, reinterpret_cast<sockaddr*>(&sa), &len);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) FromEndpoint(sa, fromAddress, fromPort);
    return static_cast<int>(n);
}

int SocketWaitReadable(SocketHandle s, uint32_t timeoutMs) { return PollFor(s, POLLIN, timeoutMs); }

void SocketShutdown(SocketHandle s) { shutdown(Fd(s), SHUT_RDWR); }

void SocketClose(SocketHandle s) {
    if (s != kInvalidSocket) close(Fd(s));
}

}  // namespace platform
