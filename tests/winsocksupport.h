#pragma once

// What the socket component's tests share: ports of their own, a bound
// component, and a receiver that takes each datagram the way a window does.
#include "platform/error/VeskError.h"
#include "platform/udp/Winsock.h"

#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

#include <memory>

namespace winsocktest {

using vesk::Winsock;


// Test ports sit well above anything the program itself uses.
constexpr quint16 PortA = 41001;
constexpr quint16 PortB = 41002;

inline std::unique_ptr<Winsock> boundComponent(quint16 port)
{
    auto w = std::make_unique<Winsock>();
    w->setProtocol(Winsock::sckUDPProtocol);
    w->Bind(port);
    return w;
}

// Collects what a window would: the announced size and one GetBytes per DataArrival.
struct Arrivals {
    QList<qint32> sizes;
    QList<QByteArray> datagrams;
    int batchesStarted = 0;
    int batchesFinished = 0;

    explicit Arrivals(Winsock* w)
    {
        QObject::connect(w, &Winsock::DataArrival, w, [this, w](qint32 n) {
            sizes << n;
            datagrams << w->GetBytes();
        });
        QObject::connect(w, &Winsock::ArrivalBatchStarted, w, [this] { ++batchesStarted; });
        QObject::connect(w, &Winsock::ArrivalBatchFinished, w, [this] { ++batchesFinished; });
    }
};

inline QByteArray receiveOne(QUdpSocket& s, int timeoutMs = 5000)
{
    if (!QTest::qWaitFor([&] { return s.hasPendingDatagrams(); }, timeoutMs))
        return QByteArray("<nothing arrived>");
    return s.receiveDatagram().data();
}

inline QString errorText(const vesk::Error& e)
{
    return e.failed() + QStringLiteral(": ") + e.reason();
}

} // namespace winsocktest
