// Bursts from a plain sender in another process, as fast as loopback goes, into
// the socket component and into a plain QUdpSocket that only counts, with the
// system's receive buffer an ordinary user gets: how many arrive, in order, and
// how fast. Each burst once into an idle window's thread and once while that
// thread is busy (a long paint, a drag) as the burst comes. Figures only.
// Usage: bench_burst <udp_sender | -> [runs]
// scripts/bench.sh runs it as an ordinary user with the stock net.core.rmem_max.
// With "-" the bursts come from outside, as for the Windows build under Wine,
// which cannot start the Linux sender: before each one it prints
// "ready <port> <count> <bytes>" and waits for a burst of that to port.
#include "platform/udp/Winsock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

namespace {

constexpr quint16 Port = 41101;
constexpr qint64 IdleMs = 500;   // nothing new for this long: the burst is over
constexpr qint64 FirstMs = 5000; // nothing at all for this long: the burst is lost
constexpr qint64 BusyMs = 300;   // the window's thread away, as in a long paint
constexpr qint64 CapMs = 30000;

struct Burst {
    int count;
    int bytes;
};

struct Result {
    int delivered = 0;
    bool inOrder = true;
    double rate = 0; // datagrams per second, from the sender's start to the last arrival
};

// One receiver under test, counting arrivals and checking their numbers.
struct Receiver {
    int delivered = 0;
    int lastNumber = -1;
    bool inOrder = true;
    qint64 buffer = 0;
    std::function<void()> release;

    void arrived(const QByteArray& d)
    {
        const int n = d.left(8).toInt();
        inOrder = inOrder && n > lastNumber;
        lastNumber = n;
        ++delivered;
    }
};

void bindComponent(Receiver& r, std::unique_ptr<vesk::Winsock>& w)
{
    w = std::make_unique<vesk::Winsock>();
    w->setProtocol(vesk::Winsock::sckUDPProtocol);
    w->Bind(Port);
    vesk::Winsock* const c = w.get();
    QObject::connect(c, &vesk::Winsock::DataArrival, c, [&r, c](qint32) {
        QString text;
        c->GetData(text); // decoded, as the window does
        r.arrived(text.left(8).toLatin1());
    });
    r.buffer = w->receiveBufferSize();
    r.release = [&w] { w.reset(); };
}

void bindPlain(Receiver& r, std::unique_ptr<QUdpSocket>& s)
{
    s = std::make_unique<QUdpSocket>();
    s->bind(QHostAddress::AnyIPv4, Port, QAbstractSocket::DontShareAddress);
    QUdpSocket* const p = s.get();
    QObject::connect(p, &QUdpSocket::readyRead, p, [&r, p] {
        char buf[65536];
        while (p->hasPendingDatagrams()) {
            const qint64 n = p->readDatagram(buf, sizeof buf);
            if (n >= 0)
                r.arrived(QByteArray::fromRawData(buf, qsizetype(n)));
        }
    });
    r.buffer = s->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toLongLong();
    r.release = [&s] { s.reset(); };
}

Result run(Receiver& r, const QString& sender, const Burst& b, bool busy)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    if (sender == QLatin1String("-")) {
        std::printf("ready %d %d %d\n", Port, b.count, b.bytes);
        std::fflush(stdout);
    } else {
        process.start(sender, {QStringLiteral("burst"), QString::number(Port), QString::number(b.count),
                               QString::number(b.bytes)});
    }
    if (busy) {
        // Away from the event loop, working, while the burst comes.
        while (clock.elapsed() < BusyMs) {
        }
    }
    QTimer tick; // wakes the wait so that the end of the burst is noticed
    tick.start(20);
    qint64 lastArrivalNs = 0, lastChangeMs = clock.elapsed();
    int seen = 0;
    while (r.delivered < b.count) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const qint64 now = clock.elapsed();
        if (r.delivered != seen) {
            seen = r.delivered;
            lastArrivalNs = clock.nsecsElapsed();
            lastChangeMs = now;
        } else if (now - lastChangeMs > (seen ? IdleMs : FirstMs) || now > CapMs) {
            break;
        }
    }
    process.waitForFinished();
    if (process.exitCode() != 0)
        std::fprintf(stderr, "bench_burst: the sender failed: %s\n", process.readAllStandardError().constData());
    Result res;
    res.delivered = r.delivered;
    res.inOrder = r.inOrder;
    res.rate = lastArrivalNs > 0 ? r.delivered / (double(lastArrivalNs) / 1e9) : 0;
    return res;
}

template <typename T> T median(std::vector<T> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

#ifdef Q_OS_LINUX
long long rmemMax()
{
    QFile f(QStringLiteral("/proc/sys/net/core/rmem_max"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toLongLong() : -1;
}

double peakMiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <udp_sender> [runs]\n", argv[0]);
        return 2;
    }
    const QString sender = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;

#ifdef Q_OS_LINUX
    std::printf("net.core.rmem_max %lld, running as uid %u, %d runs, medians\n", rmemMax(), unsigned(getuid()), runs);
#else
    std::printf("%d runs, medians\n", runs);
#endif
    std::printf("%-28s %-14s %-6s %10s %10s %9s %12s\n", "receiver", "burst", "window", "rcvbuf", "delivered",
                "in order", "datagrams/s");
    for (const Burst& b : {Burst{10000, 100}, Burst{2000, 4000}}) {
        const QString burst = QStringLiteral("%1 x %2 B").arg(b.count).arg(b.bytes);
        for (bool busy : {false, true}) {
            double rates[2] = {};
            int delivered[2] = {};
            for (int kind = 0; kind < 2; ++kind) {
                std::vector<int> got;
                std::vector<double> rate;
                bool inOrder = true;
                qint64 buffer = 0;
                for (int i = 0; i < runs; ++i) {
                    Receiver r;
                    std::unique_ptr<vesk::Winsock> component;
                    std::unique_ptr<QUdpSocket> plain;
                    if (kind == 0)
                        bindComponent(r, component);
                    else
                        bindPlain(r, plain);
                    const Result res = run(r, sender, b, busy);
                    got.push_back(res.delivered);
                    rate.push_back(res.rate);
                    inOrder = inOrder && res.inOrder;
                    buffer = r.buffer;
                    r.release();
                }
                delivered[kind] = median(got);
                rates[kind] = median(rate);
                std::printf("%-28s %-14s %-6s %10lld %10d %9s %12.0f\n",
                            kind == 0 ? "socket component" : "plain QUdpSocket", qPrintable(burst),
                            busy ? "busy" : "idle", qlonglong(buffer), delivered[kind], inOrder ? "yes" : "NO",
                            rates[kind]);
            }
            const char* when = busy ? "window busy" : "window idle";
            std::printf("RESULT | burst of %s, %s: delivered / sent | %.3f | 1 | target; plain QUdpSocket %.3f | "
                        "ratio | >=1\n",
                        qPrintable(burst), when, delivered[0] / double(b.count), delivered[1] / double(b.count));
            std::printf("RESULT | burst of %s, %s: rate | %.0f | %.0f | plain QUdpSocket, same buffer | datagrams/s "
                        "| -\n",
                        qPrintable(burst), when, rates[0], rates[1]);
            std::fflush(stdout);
        }
    }
#ifdef Q_OS_LINUX
    std::printf("RESULT | bench_burst peak memory | %.1f | 256 | target | MiB | <=1\n", peakMiB());
#endif
    return 0;
}
