#include "platform/udp/Winsock.h"

#include "platform/error/VeskError.h"
#include "platform/udp/DottedAddress.h"
#include "platform/udp/SocketErrors.h"
#include "platform/udp/Payload.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

#include <chrono>
#include <new>
#include <optional>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#endif

namespace vesk {

namespace {

// Room for a burst: 10,000 datagrams of 100 bytes take about 8 MB of kernel
// memory on Linux (each one is charged ~830 bytes), and Linux doubles the value.
constexpr int ReceiveBufferRequest = 16 * 1024 * 1024;

// A read that keeps failing must not hold the event loop; what is left is
// picked up on the next turn.
constexpr int MaxFailedReadsPerTurn = 8;

// The most one turn of the event loop reads and hands over before the window
// gets to paint and to take the user's input again. The time bounds many small
// datagrams, the bytes bound what the transcript then takes in one edit.
constexpr std::chrono::milliseconds TurnTime{4};
constexpr qsizetype TurnBytes = 1024 * 1024;

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

void Winsock::GetData(QString& data)
{
    data = payload::toText(GetBytes());
}

QByteArray Winsock::GetBytes()
{
    if (m_waiting.empty())
        return {};
    QByteArray datagram = std::move(m_waiting.front());
    m_waiting.pop_front();
    // Taken before its DataArrival: it is not announced any more.
    m_unannounced = qMin(m_unannounced, qsizetype(m_waiting.size()));
    return datagram;
}

bool Winsock::readOne(QUdpSocket& socket)
{
    const qint64 size = socket.readDatagram(m_buffer.data(), m_buffer.size());
    if (size < 0)
        return false;
    m_waiting.emplace_back(m_buffer.constData(), qsizetype(size));
    ++m_unannounced;
    return true;
}

void Winsock::readPending()
{
    // A slot that spins a nested event loop can bring us back here; the turn
    // that is running reads on, in order, once the slot returns.
    if (m_delivering > 0 || !m_socket)
        return;

    QUdpSocket* const socket = m_socket;
    const QPointer<Winsock> self(this);
    ++m_delivering;
    const auto leave = qScopeGuard([this, &self] {
        if (self)
            --m_delivering;
    });
    // The window was closed from a slot: the socket is still inside its own
    // readyRead, so its deletion is posted to run after that has returned.
    const auto gone = [&self, socket] {
        if (self)
            return false;
        socket->deleteLater();
        return true;
    };

    // One turn's worth, then back to the event loop: what a flood leaves
    // waits in the system's receive buffer, which is what overflows, and the
    // window keeps answering keys and clicks in between.
    const auto started = std::chrono::steady_clock::now();
    qsizetype bytes = 0;
    int failedReads = 0;
    bool readOnce = false;
    bool batchOpen = false;
    for (;;) {
        if (m_unannounced == 0) {
            // At least one read even when nothing seems to wait: only a read
            // clears Qt's "readyRead already signalled" mark, and with it left
            // set Qt turns the notifier off at the next datagram for good.
            if (readOnce && (bytes >= TurnBytes || !socket->hasPendingDatagrams()
                             || std::chrono::steady_clock::now() - started >= TurnTime))
                break;
            readOnce = true;
            try {
                if (!readOne(*socket)) {
                    // Nothing there, or unreadable (on Windows an ICMP
                    // port-unreachable shows up so): skip it, never spin on it.
                    if (++failedReads >= MaxFailedReadsPerTurn)
                        break;
                    continue;
                }
            } catch (const std::bad_alloc&) {
                break; // what was not read waits in the system for the next turn
            }
        }
        if (!batchOpen) {
            emit ArrivalBatchStarted();
            if (gone())
                return;
            batchOpen = true;
        }
        const QByteArray& next = m_waiting[m_waiting.size() - std::size_t(m_unannounced)];
        const auto size = qint32(next.size());
        bytes += size;
        --m_unannounced;
        emit DataArrival(size);
        if (gone())
            return;
    }
    if (!batchOpen)
        return;
    emit ArrivalBatchFinished();
    if (gone())
        return;
    // What is left comes with the next turn. And a slot may have run a nested
    // loop: Qt then swallows the readyRead of what came in meanwhile and never
    // repeats it, so look again from the loop.
    if (!m_relook.isActive())
        m_relook.start();
}

} // namespace vesk
