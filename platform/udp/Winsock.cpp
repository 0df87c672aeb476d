#include "platform/udp/Winsock.h"

#include "platform/error/VeskError.h"
#include "platform/udp/DottedAddress.h"
#include "platform/udp/SocketErrors.h"
#include "platform/udp/Payload.h"
#include "platform/udp/ReceiveThread.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QUdpSocket>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <optional>

namespace vesk {

namespace {

// The system's buffer only has to cover the moments the reading thread is not
// running; the system caps the request (Linux at net.core.rmem_max, doubled),
// which is enough: bursts wait in the component's own buffer.
constexpr int ReceiveBufferRequest = 4 * 1024 * 1024;

} // namespace

Winsock::Winsock(QObject* parent) : QObject(parent)
{
    m_relook.setSingleShot(true);
    m_relook.setInterval(0);
    connect(&m_relook, &QTimer::timeout, this, &Winsock::readPending);
}

Winsock::~Winsock()
{
    // The reading thread stops before the socket closes under it; then the
    // port is free the moment the window is gone.
    m_reader.reset();
    if (m_socket)
        m_socket->close();
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

qint64 Winsock::droppedDatagrams() const
{
    return m_reader ? m_reader->dropped() : 0;
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

    // Only now: before the socket exists the size has nowhere to go. No
    // privilege is asked for, so a test run as root sees what a user gets.
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, ReceiveBufferRequest);

    // Nothing reads through Qt: its notifier goes quiet after the first
    // datagram, and the thread takes every one from the system.
    try {
        m_reader = std::make_unique<ReceiveThread>(
            socket->socketDescriptor(),
            [this] { QMetaObject::invokeMethod(this, &Winsock::readPending, Qt::QueuedConnection); },
            [this](quint32 host, quint16 port) {
                // When the answer came, not when the window's thread gets to it.
                const auto at = std::chrono::steady_clock::now();
                QMetaObject::invokeMethod(this, [this, host, port, at] { nobodyListens(host, port, at); },
                                          Qt::QueuedConnection);
            });
    } catch (const std::exception& e) {
        delete socket;
        throw Error(QStringLiteral("ポート %1 を開けませんでした").arg(localPort),
                    QStringLiteral("受信の準備ができませんでした (%1)").arg(QString::fromLocal8Bit(e.what())));
    }
    m_socket = socket;
}

void Winsock::nobodyListens(quint32 host, quint16 port, std::chrono::steady_clock::time_point at)
{
    // Only the partner's port counts; Windows does not say (0, 0), and the
    // component sends nowhere else.
    if (host != 0 || port != 0) {
        const std::optional<quint32> partner = parseDottedIPv4(m_remoteHost);
        if (!partner || *partner != host || port != quint16(m_remotePort))
            return;
    }
    m_lastUnreachable = std::max(m_lastUnreachable, at);
    if (m_unreachableTold)
        return;
    m_unreachableTold = true;
    emit PartnerUnreachable();
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

    // A send that drew no "nobody listens" for a while ends the run of them.
    const auto now = std::chrono::steady_clock::now();
    if (m_unreachableTold && m_lastSend > m_lastUnreachable && now - m_lastSend >= QuietPeriod)
        m_unreachableTold = false;

    socketerrors::clearSystemError();
    qint64 sent = m_socket->writeDatagram(payload, QHostAddress(*host), quint16(m_remotePort));
    int systemError = socketerrors::lastSystemError();
#ifdef Q_OS_LINUX
    // Linux also reports an earlier datagram's "port unreachable" on the next
    // call, which is not this one's failure: the reading thread tells it. Each
    // refused call takes one such answer, and the answers to datagrams sent
    // just before may come in between, so this is tried a few times. An
    // unconnected socket is never refused for the datagram it is sending.
    for (int tries = 0; sent < 0 && systemError == ECONNREFUSED && tries < 16; ++tries) {
        socketerrors::clearSystemError();
        sent = m_socket->writeDatagram(payload, QHostAddress(*host), quint16(m_remotePort));
        systemError = socketerrors::lastSystemError();
    }
#endif
    if (sent >= 0)
        m_lastSend = now;
    if (sent < 0)
        throw Error(what, socketerrors::sendFailure(*m_socket, systemError));
    if (sent != payload.size())
        throw Error(what, QStringLiteral("%1 バイトのうち %2 バイトしか送れませんでした。").arg(payload.size()).arg(sent));
}

} // namespace vesk
