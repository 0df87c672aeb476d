// Bursts from a plain sender in another process, as fast as loopback goes, into
// the socket component and into a plain QUdpSocket that only counts, with the
// system's receive buffer an ordinary user gets: how many arrive, in order, and
// how fast. Each burst once into an idle window's thread and once while that
// thread is busy (a long paint, a drag) as the burst comes. On Linux a bare
// recvmmsg loop on a thread of its own, the least any program can do, shows
// what the machine itself allows. Figures only.
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
#include <atomic>
#include <thread>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

constexpr quint16 Port = 41101;
constexpr qint64 IdleMs = 500;   // nothing new for this long: the burst is over
constexpr qint64 FirstMs = 5000; // nothing at all for this long: the burst is lost
constexpr qint64 BusyMs = 300;   // the window's thread away, as in a long paint
constexpr qint64 CapMs = 30000;
#ifdef Q_OS_LINUX
constexpr int Kinds = 3; // the component, a plain QUdpSocket, a bare reader
#else
constexpr int Kinds = 2;
#endif

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
    std::function<void()> sync; // counts taken on another thread, brought over

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

#ifdef Q_OS_LINUX
// Nothing but the system calls: waits for the socket, drains it 64 datagrams at a
// time, checks their numbers.
struct Bare {
    int fd = -1;
    std::atomic<bool> stop{false};
    std::atomic<int> delivered{0};
    std::atomic<bool> inOrder{true};
    std::thread thread;
    ~Bare()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
        ::close(fd);
    }
};

void bindBare(Receiver& r, std::unique_ptr<Bare>& b)
{
    b = std::make_unique<Bare>();
    Bare* const p = b.get();
    p->fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int size = 1 << 30; // as much as the system gives
    ::setsockopt(p->fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    socklen_t length = sizeof size;
    ::getsockopt(p->fd, SOL_SOCKET, SO_RCVBUF, &size, &length);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(Port);
    if (::bind(p->fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
        std::perror("bench_burst: bind");
    p->thread = std::thread([p] {
        constexpr int Batch = 64;
        constexpr std::size_t Room = 65536; // the largest IPv4 datagram fits
        std::vector<char> slab(Batch * Room);
        mmsghdr messages[Batch];
        iovec parts[Batch];
        for (int i = 0; i < Batch; ++i) {
            parts[i] = {slab.data() + std::size_t(i) * Room, Room};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        int last = -1;
        while (!p->stop) {
            pollfd f{p->fd, POLLIN, 0};
            if (::poll(&f, 1, 20) <= 0)
                continue;
            const int got = ::recvmmsg(p->fd, messages, Batch, MSG_DONTWAIT, nullptr);
            for (int i = 0; i < got; ++i) {
                const int n = QByteArray(slab.data() + std::size_t(i) * Room, 8).toInt();
                if (n <= last)
                    p->inOrder = false;
                last = n;
            }
            if (got > 0)
                p->delivered += got;
        }
    });
    r.buffer = size;
    r.sync = [&r, p] {
        r.delivered = p->delivered;
        r.inOrder = p->inOrder;
    };
    r.release = [&b] { b.reset(); };
}
#endif

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
    tick.start(r.sync ? 1 : 20); // and often, to time a count taken elsewhere
    qint64 lastArrivalNs = 0, lastChangeMs = clock.elapsed();
    int seen = 0;
    while (r.delivered < b.count) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (r.sync)
            r.sync();
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
            double rates[3] = {};
            int delivered[3] = {};
            for (int kind = 0; kind < Kinds; ++kind) {
                std::vector<int> got;
                std::vector<double> rate;
                bool inOrder = true;
                qint64 buffer = 0;
                for (int i = 0; i < runs; ++i) {
                    Receiver r;
                    std::unique_ptr<vesk::Winsock> component;
                    std::unique_ptr<QUdpSocket> plain;
#ifdef Q_OS_LINUX
                    std::unique_ptr<Bare> bare;
                    if (kind == 2)
                        bindBare(r, bare);
#endif
                    if (kind == 0)
                        bindComponent(r, component);
                    else if (kind == 1)
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
                            kind == 0 ? "socket component" : kind == 1 ? "plain QUdpSocket" : "bare recvmmsg thread",
                            qPrintable(burst),
                            busy ? "busy" : "idle", qlonglong(buffer), delivered[kind], inOrder ? "yes" : "NO",
                            rates[kind]);
            }
            const char* when = busy ? "window busy" : "window idle";
            const QString bareShare =
                Kinds > 2 ? QStringLiteral("; bare recvmmsg thread %1").arg(delivered[2] / double(b.count), 0, 'f', 3)
                          : QString();
            std::printf("RESULT | burst of %s, %s: delivered / sent | %.3f | 1 | target; plain QUdpSocket %.3f%s | "
                        "ratio | >=1\n",
                        qPrintable(burst), when, delivered[0] / double(b.count), delivered[1] / double(b.count),
                        qPrintable(bareShare));
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
