#include "platform/udp/SocketErrors.h"

#include "platform/udp/LowPortAdvice.h"

#include <QUdpSocket>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <cerrno>
#endif

namespace vesk::socketerrors {

namespace {

QString withDetail(const QString& reason, const QString& detail)
{
    if (detail.isEmpty())
        return reason;
    return reason + QStringLiteral(" (") + detail + QLatin1Char(')');
}

QString sendFailureText(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::DatagramTooLargeError:
        return QStringLiteral("メッセージが大きすぎて一度に送れません。");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("この宛先に送る権限がありません。");
    case QAbstractSocket::TemporaryError:
        return QStringLiteral("送信待ちのデータが多すぎます。しばらくしてからもう一度送ってください。");
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("相手が受け取りを拒みました。相手のプログラムが動いているか確かめてください。");
    default:
        return QStringLiteral("ネットワークのエラーで送れませんでした。");
    }
}

// The same error numbers under their names on each platform.
#ifdef Q_OS_WIN
enum : int {
    NetUnreachable = WSAENETUNREACH, NetDown = WSAENETDOWN, HostUnreachable = WSAEHOSTUNREACH,
    HostDown = WSAEHOSTDOWN, Access = WSAEACCES, Permission = WSAEACCES, NoBuffers = WSAENOBUFS,
    WouldBlock = WSAEWOULDBLOCK, MessageSize = WSAEMSGSIZE, Refused = WSAECONNREFUSED,
    // Windows reports an earlier datagram's "port unreachable" on the next call so.
    Reset = WSAECONNRESET,
};
#else
enum : int {
    NetUnreachable = ENETUNREACH, NetDown = ENETDOWN, HostUnreachable = EHOSTUNREACH,
    HostDown = EHOSTDOWN, Access = EACCES, Permission = EPERM, NoBuffers = ENOBUFS,
    WouldBlock = EAGAIN, MessageSize = EMSGSIZE, Refused = ECONNREFUSED, Reset = ECONNRESET,
};
#endif

QString sendFailureText(const QUdpSocket& socket, int systemError)
{
    if (systemError == NetUnreachable || systemError == NetDown)
        return QStringLiteral("相手のネットワークに届きません。ネットワークの接続を確かめてください。");
    if (systemError == HostUnreachable || systemError == HostDown)
        return QStringLiteral("相手のコンピューターに届きません。アドレスを確かめてください。");
    if (systemError == Access || systemError == Permission)
        return QStringLiteral("この宛先には送れません。ブロードキャストのアドレスか、"
                              "ファイアウォールが送信を止めています。");
    if (systemError == NoBuffers || systemError == WouldBlock)
        return sendFailureText(QAbstractSocket::TemporaryError);
    if (systemError == MessageSize)
        return sendFailureText(QAbstractSocket::DatagramTooLargeError);
    if (systemError == Refused || systemError == Reset)
        return sendFailureText(QAbstractSocket::ConnectionRefusedError);
    // Qt folds most failures into NetworkError; its own error is the fallback.
    return sendFailureText(socket.error());
}

} // namespace

QString bindFailure(const QUdpSocket& socket, int port)
{
    const QString detail = socket.errorString();
    switch (socket.error()) {
    case QAbstractSocket::AddressInUseError:
        return withDetail(QStringLiteral("このポートは既に別のプログラムが使っています。"
                                         "同じ役のウィンドウを二つ開いていないか確かめてください。"),
                          detail);
    case QAbstractSocket::SocketAccessError:
#ifdef Q_OS_LINUX
        if (port > 0 && port < 1024)
            return withDetail(lowPortAdvice(port, readLowPortFacts(port)), detail);
#else
        Q_UNUSED(port);
#endif
        return withDetail(QStringLiteral("このポートを開く権限がありません。"), detail);
    case QAbstractSocket::SocketAddressNotAvailableError:
        return withDetail(QStringLiteral("このコンピューターで使えないアドレスです。"), detail);
    case QAbstractSocket::SocketResourceError:
        return withDetail(QStringLiteral("ソケットを作れませんでした。開いているソケットが多すぎるかもしれません。"),
                          detail);
    default:
        return withDetail(QStringLiteral("ネットワークのエラーです。"), detail);
    }
}

void clearSystemError() noexcept
{
#ifdef Q_OS_WIN
    WSASetLastError(0);
#else
    errno = 0;
#endif
}

int lastSystemError() noexcept
{
#ifdef Q_OS_WIN
    return WSAGetLastError();
#else
    return errno;
#endif
}

QString sendFailure(const QUdpSocket& socket, int systemError)
{
    return withDetail(sendFailureText(socket, systemError), socket.errorString());
}

} // namespace vesk::socketerrors
