// Sends a burst of datagrams over loopback into the socket component and into
// plain QUdpSocket receivers that only count, and prints how many arrived and
// how fast. Figures only; nothing is asserted.

#include "platform/udp/Winsock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QUdpSocket>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#endif

namespace {

constexpr int Count = 10000;
constexpr int PayloadSize = 100;
constexpr quint16 Port = 41101;
constexpr qint64 IdleMs = 300;
constexpr qint64 CapMs = 15000;

struct Result {
    int delivered = 0;
    double rate = 0; // datagrams per second
};

// One receiver under test: binds, counts arrivals into `count`.
struct Receiver {
    std::function<void()> bind;
    std::function<void()> release;
    std::function<qint64()> buffer;
};

void sendBurst()
{
    QUdpSocket sender;
    const QByteArray payload(PayloadSize, 'x');
    for (int i = 0; i < Count; ++i)
        sender.writeDatagram(payload, QHostAddress::LocalHost, Port);
}

// Waits until the count reaches the burst or stops moving.
Result run(Receiver& r, const int& count, bool sendFirst)
{
    r.bind();
    QElapsedTimer clock;
    std::thread sender;
    if (sendFirst) {
        sendBurst();
        clock.start();
    } else {
        clock.start();
        sender = std::thread(sendBurst);
    }
    // A ticking timer wakes the wait so that idleness is noticed.
    QTimer tick;
    tick.start(20);
    qint64 lastArrival = 0; // ns since the clock started
    qint64 lastChange = 0;  // ms
    int seen = 0;
    while (count < Count) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const qint64 now = clock.elapsed();
        if (count != seen) {
            seen = count;
            lastArrival = clock.nsecsElapsed();
            lastChange = now;
        } else if (now - lastChange > IdleMs || now > CapMs) {
            break;
        }
    }
    if (sender.joinable())
        sender.join();
    Result res;
    res.delivered = count;
    res.rate = lastArrival > 0 ? count / (double(lastArrival) / 1e9) : 0;
    r.release();
    return res;
}

template <typename T> T median(std::vector<T> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    int count = 0;
    std::unique_ptr<vesk::Winsock> component;
    std::unique_ptr<QUdpSocket> plain;

    const auto bindPlain = [&](bool bigBuffer) {
        count = 0;
        plain = std::make_unique<QUdpSocket>();
        plain->bind(QHostAddress::AnyIPv4, Port, QAbstractSocket::DontShareAddress);
        if (bigBuffer) {
#ifdef Q_OS_LINUX
            const int size = 16 * 1024 * 1024;
            ::setsockopt(int(plain->socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
#endif
        }
        QObject::connect(plain.get(), &QUdpSocket::readyRead, [&] {
            char buf[65536];
            while (plain->hasPendingDatagrams())
                if (plain->readDatagram(buf, sizeof buf) >= 0)
                    ++count;
        });
    };
    const auto plainBuffer = [&] {
        return plain->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toLongLong();
    };

    struct Named {
        const char* name;
        Receiver r;
    };
    std::vector<Named> receivers;
    receivers.push_back({"Winsock (DataArrival+GetData)",
                         {[&] {
                              count = 0;
                              component = std::make_unique<vesk::Winsock>();
                              component->setProtocol(vesk::Winsock::sckUDPProtocol);
                              component->Bind(Port);
                              QObject::connect(component.get(), &vesk::Winsock::DataArrival, [&](qint32) {
                                  QString text;
                                  component->GetData(text);
                                  ++count;
                              });
                          },
                          [&] { component.reset(); },
                          [&] { return component->receiveBufferSize(); }}});
    receivers.push_back({"plain QUdpSocket, default buffer",
                         {[&] { bindPlain(false); }, [&] { plain.reset(); }, plainBuffer}});
    receivers.push_back({"plain QUdpSocket, 16 MiB forced",
                         {[&] { bindPlain(true); }, [&] { plain.reset(); }, plainBuffer}});

    std::printf("burst of %d datagrams x %d bytes over 127.0.0.1, %d runs, medians\n", Count, PayloadSize, runs);
    std::printf("%-34s %-22s %12s %10s %14s\n", "receiver", "sending", "rcvbuf", "delivered", "datagrams/s");
    // Component and plain receiver with the same buffer, everything sent first.
    double componentRate = 0, plainRate = 0;
    int componentDelivered = 0;
    for (bool sendFirst : {true, false}) {
        for (auto& [name, r] : receivers) {
            std::vector<int> delivered;
            std::vector<double> rates;
            qint64 granted = 0;
            for (int i = 0; i < runs; ++i) {
                Receiver probe = r;
                probe.release = [&] {
                    granted = r.buffer();
                    r.release();
                };
                const Result res = run(probe, count, sendFirst);
                delivered.push_back(res.delivered);
                rates.push_back(res.rate);
            }
            std::printf("%-34s %-22s %12lld %10d %14.0f\n", name, sendFirst ? "all sent first" : "sender thread meanwhile",
                        qlonglong(granted), median(delivered), median(rates));
            if (sendFirst && &r == &receivers.front().r) {
                componentRate = median(rates);
                componentDelivered = median(delivered);
            } else if (sendFirst && &r == &receivers.back().r) {
                plainRate = median(rates);
            }
        }
    }
    std::printf("RESULT | socket component, burst of %d x %d B sent first: delivered | %d | %d | datagrams sent | datagrams | >=1\n",
                Count, PayloadSize, componentDelivered, Count);
    std::printf("RESULT | socket component, burst of %d x %d B sent first: rate | %.0f | %.0f | plain QUdpSocket, same buffer | datagrams/s | -\n",
                Count, PayloadSize, componentRate, plainRate);
    return 0;
}
