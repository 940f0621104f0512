// IPv4 sockets on Winsock 2 (ws2_32, a system DLL). select takes arrays of handles, so it has
// no limit on handle values.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "platform/platform.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace platform {

namespace {
SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

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

SocketHandle Handle(SOCKET s) { return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s); }

timeval Timeval(uint32_t timeoutMs) {
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutMs / 1000);
    tv.tv_usec = static_cast<long>(timeoutMs % 1000) * 1000;
    return tv;
}

int Length(size_t length) { return length > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(length); }
}  // namespace

bool SocketsStart() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

SocketHandle OpenTcpSocket() { return Handle(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }

SocketHandle OpenUdpSocket() {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return kInvalidSocket;
    BOOL on = TRUE;
    if (setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
        closesocket(s);
        return kInvalidSocket;
    }
    // Otherwise a port-unreachable answer to one datagram fails the next receive.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    return Handle(s);
}

bool SocketBind(SocketHandle s, uint32_t address, uint16_t port) {
    sockaddr_in sa = Endpoint(address, port);
    return bind(Sock(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool SocketLocalAddress(SocketHandle s, uint32_t* address, uint16_t* port) {
    sockaddr_in sa{};
    int len = sizeof sa;
    if (getsockname(Sock(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
    FromEndpoint(sa, address, port);
    return true;
}

bool SocketListen(SocketHandle s, int backlog) { return listen(Sock(s), backlog) == 0; }

SocketHandle SocketAccept(SocketHandle s, uint32_t* peerAddress, uint16_t* peerPort) {
    sockaddr_in sa{};
    int len = sizeof sa;
    SOCKET c = accept(Sock(s), reinterpret_cast<sockaddr*>(&sa), &len);
    if (c == INVALID_SOCKET) return kInvalidSocket;
    FromEndpoint(sa, peerAddress, peerPort);
    return Handle(c);
}

bool SocketSetNoDelay(SocketHandle s) {
    BOOL on = TRUE;
    return setsockopt(Sock(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool SocketSetSendTimeout(SocketHandle s, uint32_t timeoutMs) {
    DWORD ms = timeoutMs;
    return setsockopt(Sock(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms) == 0;
}

ConnectResult SocketConnect(SocketHandle s, uint32_t address, uint16_t port, uint32_t timeoutMs) {
    u_long nonBlocking = 1;
    if (ioctlsocket(Sock(s), FIONBIO, &nonBlocking) != 0) return ConnectResult::Failed;
    sockaddr_in sa = Endpoint(address, port);
    ConnectResult result = ConnectResult::Connected;
    if (connect(Sock(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            result = ConnectResult::Failed;
        } else {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(Sock(s), &writable);
            FD_SET(Sock(s), &failed);
            timeval tv = Timeval(timeoutMs);
            int ready = select(0, nullptr, &writable, &failed, &tv);
            if (ready == 0)
                result = ConnectResult::TimedOut;
            else if (ready < 0 || FD_ISSET(Sock(s), &failed) || !FD_ISSET(Sock(s), &writable))
                result = ConnectResult::Failed;
        }
    }
    u_long blocking = 0;
    if (ioctlsocket(Sock(s), FIONBIO, &blocking) != 0) return ConnectResult::Failed;
    return result;
}

int SocketSend(SocketHandle s, const void* data, size_t length) {
    return send(Sock(s), static_cast<const char*>(data), Length(length), 0);
}

int SocketReceive(SocketHandle s, void* buffer, size_t length) {
    return recv(Sock(s), static_cast<char*>(buffer), Length(length), 0);
}

int SocketSendTo(SocketHandle s, const void* data, size_t length, uint32_t address, uint16_t port) {
    sockaddr_in sa = Endpoint(address, port);
    return sendto(Sock(s), static_cast<const char*>(data), Length(length), 0, reinterpret_cast<sockaddr*>(&sa),
                  sizeof sa);
}

int SocketReceiveFrom(SocketHandle s, void* buffer, size_t length, uint32_t* fromAddress, uint16_t* fromPort) {
    sockaddr_in sa{};
    int len = sizeof sa;
    int n = recvfrom(Sock(s), static_cast<char*>(buffer), Length(length), 0, reinterpret_cast<sockaddr*>(&sa), &len);
    // A longer datagram fills the buffer and reports WSAEMSGSIZE; POSIX gives the cut datagram.
    if (n < 0 && WSAGetLastError() == WSAEMSGSIZE) n = Length(length);
    if (n >= 0) FromEndpoint(sa, fromAddress, fromPort);
    return n;
}

int SocketWaitReadable(SocketHandle s, uint32_t timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Sock(s), &readable);
    timeval tv = Timeval(timeoutMs);
    int ready = select(0, &readable, nullptr, nullptr, &tv);
    return ready < 0 ? -1 : (ready > 0 ? 1 : 0);
}

void SocketShutdown(SocketHandle s) { shutdown(Sock(s), SD_BOTH); }

void SocketClose(SocketHandle s) {
    if (s != kInvalidSocket) closesocket(Sock(s));
}

}  // namespace platform
