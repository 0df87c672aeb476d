#include "platform/udp/Winsock.h"

#include "platform/error/VeskError.h"
#include "platform/udp/DottedAddress.h"
#include "platform/udp/SocketErrors.h"
#include "platform/udp/Payload.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QUdpSocket>
#include <QVariant>

#include <optional>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#endif

namespace vesk {

namespace {

// Room for a burst: 10,000 datagrams of 100 bytes take about 8 MB of kernel
// memory on Linux (each one is charged ~830 bytes), and Linux doubles the value.
constexpr int ReceiveBufferRequest = 16 * 1024 * 1024;

} // namespace

Winsock::Winsock(QObject* parent) : QObject(parent)
{
    m_relook.setSingleShot(true);
    m_relook.setInterval(0);
    connect(&m_relook, &QTimer::timeout, this, &Winsock::readPending);
}

Winsock::~Winsock()
{
    if (!m_socket)
        return;
    // Close first so the port is free the moment the window is gone.
    m_socket->disconnect(this);
    m_socket->close();
    if (m_delivering > 0) {
        // We are inside the socket's own readyRead, which touches the socket
        // after we return; readPending deletes it once that has unwound.
        m_socket->setParent(nullptr);
    }
    m_socket = nullptr;
}

void Winsock::setProtocol(qint32 protocol)
{
    if (protocol != sckUDPProtocol)
        throw Error(QStringLiteral("通信方式を %1 にできませんでした").arg(protocol),
                    QStringLiteral("このプログラムは UDP (1) でしか通信できません。"));
    m_protocol = protocol;
}

void Winsock::setRemoteHost(const QString& host)
{
    // Checked when sending: the window fills this in long before it sends.
    m_remoteHost = host;
}

void Winsock::setRemotePort(qint32 port)
{
    m_remotePort = port;
}

bool Winsock::isBound() const noexcept
{
    return m_socket && m_socket->state() == QAbstractSocket::BoundState;
}

qint32 Winsock::LocalPort() const noexcept
{
    return isBound() ? qint32(m_socket->localPort()) : 0;
}

qint64 Winsock::receiveBufferSize() const
{
    if (!isBound())
        return 0;
    return m_socket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toLongLong();
}

void Winsock::Bind(qint32 localPort)
{
    const QString what = QStringLiteral("ポート %1 を開けませんでした").arg(localPort);
    if (m_protocol != sckUDPProtocol)
        throw Error(what, QStringLiteral("通信方式が UDP (1) になっていません。"));
    if (localPort < 0 || localPort > 65535)
        throw Error(what, QStringLiteral("ポートの番号は 0 から 65535 までです。"));
    if (m_socket)
        throw Error(what, QStringLiteral("このウィンドウは既にポート %1 を使っています。").arg(LocalPort()));
    bindSocket(localPort);
}

void Winsock::bindSocket(qint32 localPort)
{
    auto* socket = new QUdpSocket(this);
    // Qt's default shares the address on Windows (SO_REUSEADDR), so a second
    // copy could take the port and silently split the traffic; ask for
    // exclusive use everywhere.
    if (!socket->bind(QHostAddress::AnyIPv4, quint16(localPort), QAbstractSocket::DontShareAddress)) {
        const QString why = socketerrors::bindFailure(*socket, localPort);
        delete socket;
        throw Error(QStringLiteral("ポート %1 を開けませんでした").arg(localPort), why);
    }

    // Only now: before the socket exists the size has nowhere to go. Forcing
    // it past net.core.rmem_max needs privilege; otherwise the system caps it.
    bool forced = false;
#ifdef Q_OS_LINUX
    const int request = ReceiveBufferRequest;
    forced = ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &request,
                          sizeof request) == 0;
#endif
    if (!forced)
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, ReceiveBufferRequest);

    m_socket = socket;
    connect(m_socket, &QUdpSocket::readyRead, this, &Winsock::readPending);
}

void Winsock::SendData(const QString& text)
{
    SendBytes(payload::fromText(text));
}

void Winsock::SendBytes(const QByteArray& payload)
{
    const QString what = QStringLiteral("メッセージを %1:%2 に送れませんでした").arg(m_remoteHost).arg(m_remotePort);
    if (m_protocol != sckUDPProtocol)
        throw Error(what, QStringLiteral("通信方式が UDP (1) になっていません。"));

    // Qt would send a null or any-address destination to this very computer;
    // a destination must be spelled out.
    const std::optional<quint32> host = parseDottedIPv4(m_remoteHost);
    if (!host)
        throw Error(what, QStringLiteral("相手のアドレス「%1」は 192.168.0.2 のような数字四つの IPv4 アドレスではありません。")
                              .arg(m_remoteHost));
    if (*host == 0)
        throw Error(what, QStringLiteral("0.0.0.0 には送れません。相手のアドレスを設定してください。"));
    if (m_remotePort < 1 || m_remotePort > 65535)
        throw Error(what, QStringLiteral("相手のポート番号 %1 は使えません。1 から 65535 までです。").arg(m_remotePort));
    if (payload.size() > MaxDatagramSize)
        throw Error(what, QStringLiteral("メッセージが %1 バイトあり、一度に送れる %2 バイトを超えています。")
                              .arg(payload.size())
                              .arg(MaxDatagramSize));

    // Like the control it replaces, sending before Bind takes a free port and
    // listens on it, so replies still arrive.
    if (!m_socket)
        bindSocket(0);

    socketerrors::clearSystemError();
    const qint64 sent = m_socket->writeDatagram(payload, QHostAddress(*host), quint16(m_remotePort));
    const int systemError = socketerrors::lastSystemError();
    if (sent < 0)
        throw Error(what, socketerrors::sendFailure(*m_socket, systemError));
    if (sent != payload.size())
        throw Error(what, QStringLiteral("%1 バイトのうち %2 バイトしか送れませんでした。").arg(payload.size()).arg(sent));
}

} // namespace vesk
