// The reading thread's channels besides the socket's datagrams: the wake-up
// channel that ends its wait, and on Linux the socket's queue of errors.
#include "platform/udp/ReceiveThread.h"

#include <cstring>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#endif

namespace vesk {

bool ReceiveThread::openWakeUp()
{
#ifdef Q_OS_WIN
    // WSAPoll waits on sockets only: a loopback socket that sends to itself.
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return false;
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof self;
    if (::bind(s, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0
        || ::getsockname(s, reinterpret_cast<sockaddr*>(&self), &length) != 0
        || ::connect(s, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
        const int error = WSAGetLastError();
        closesocket(s);
        WSASetLastError(error);
        return false;
    }
    m_wakeRead = m_wakeWrite = qintptr(s);
    return true;
#else
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    m_wakeRead = fds[0];
    m_wakeWrite = fds[1];
    return true;
#endif
}

void ReceiveThread::wakeUp()
{
    const char byte = 1;
#ifdef Q_OS_WIN
    ::send(SOCKET(m_wakeWrite), &byte, 1, 0);
#else
    [[maybe_unused]] const auto written = ::write(int(m_wakeWrite), &byte, 1);
#endif
}

void ReceiveThread::drainWakeUp()
{
    char bytes[16];
#ifdef Q_OS_WIN
    while (::recv(SOCKET(m_wakeRead), bytes, sizeof bytes, 0) > 0) {
    }
#else
    while (::read(int(m_wakeRead), bytes, sizeof bytes) > 0) {
    }
#endif
}

void ReceiveThread::readErrors()
{
#ifdef Q_OS_LINUX
    for (;;) {
        sockaddr_in destination{};
        char control[512];
        char data[1];
        iovec part{data, sizeof data};
        msghdr message{};
        message.msg_name = &destination;
        message.msg_namelen = sizeof destination;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (::recvmsg(int(m_socket), &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            return;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
                continue;
            sock_extended_err error{};
            std::memcpy(&error, CMSG_DATA(c), sizeof error);
            if (error.ee_origin == SO_EE_ORIGIN_ICMP && error.ee_type == ICMP_DEST_UNREACH
                && error.ee_code == ICMP_PORT_UNREACH && destination.sin_family == AF_INET)
                m_unreachable(ntohl(destination.sin_addr.s_addr), ntohs(destination.sin_port));
        }
    }
#endif
}

void ReceiveThread::closeWakeUp()
{
#ifdef Q_OS_WIN
    closesocket(SOCKET(m_wakeRead));
#else
    ::close(int(m_wakeRead));
    ::close(int(m_wakeWrite));
#endif
}

} // namespace vesk
