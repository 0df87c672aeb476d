// The socket component receiving: whole datagrams, one per DataArrival, in
// order, from anyone to any local address, a burst far beyond the system's
// buffer without loss while the window is busy, a turn's worth at a time, and
// a window that runs a loop or closes from inside its slot.
#include "winsocksupport.h"

#include "platform/udp/ReceiveThread.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#ifdef Q_OS_LINUX
#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

using namespace winsocktest;

class tst_WinsockReceive : public QObject {
    Q_OBJECT
private slots:
    void burstArrivesWholeAndInOrder_data();
    void burstArrivesWholeAndInOrder();
    void oneWholeDatagramPerGetBytes_data();
    void oneWholeDatagramPerGetBytes();
    void getDataDecodesOneDatagram_data();
    void getDataDecodesOneDatagram();
    void anySourceAndLocalAddressIsDelivered();
    void nestedEventLoopKeepsOrder();
    void takenBeforeItsArrival();
    void deletedFromDataArrival_data();
    void deletedFromDataArrival();
};

namespace {

#ifdef Q_OS_LINUX
// The component's socket in this process, found by its port.
int socketOnPort(quint16 port)
{
    for (int fd = 3; fd < 1024; ++fd) {
        sockaddr_in a{};
        socklen_t length = sizeof a;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0 && a.sin_family == AF_INET
            && ntohs(a.sin_port) == port)
            return fd;
    }
    return -1;
}

std::array<quint32, SK_MEMINFO_VARS> memoryOf(int fd)
{
    std::array<quint32, SK_MEMINFO_VARS> info{};
    socklen_t length = sizeof info;
    ::getsockopt(fd, SOL_SOCKET, SO_MEMINFO, info.data(), &length);
    return info;
}
#endif

} // namespace

void tst_WinsockReceive::burstArrivesWholeAndInOrder_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("sendAllFirst");
    QTest::addColumn<bool>("linuxOnly");
    // The window's thread runs no event loop while these are sent: all but a
    // system buffer's worth wait in the component's own.
    QTest::newRow("10,000 x 100 B, all sent before the loop runs") << 10000 << 100 << true << false;
    QTest::newRow("10,000 x 100 B, sent from another thread meanwhile") << 10000 << 100 << false << false;
    QTest::newRow("30 x 60,000 B, all sent first: more than a turn takes") << 30 << 60000 << true << false;
    // Half again the component's bound: it keeps the oldest, in order, and
    // reads again once the window has taken some.
    QTest::newRow("beyond the component's buffer, all sent first") << 850 << 60000 << true << true;
}

void tst_WinsockReceive::burstArrivesWholeAndInOrder()
{
    QFETCH(int, count);
    QFETCH(int, size);
    QFETCH(bool, sendAllFirst);
    QFETCH(bool, linuxOnly);
    Q_UNUSED(linuxOnly); // the rows that need Linux skip elsewhere
    const auto payload = [size](int i) {
        return QByteArray::number(i).rightJustified(8, '0') + QByteArray(size - 8, 'x');
    };
    // What the component keeps of a burst it cannot hand over: the oldest.
    const int kept = int(qMin<qint64>(count, vesk::ReceiveThread::Bound / vesk::ReceiveThread::charge(size)));

    auto w = boundComponent(PortA);
#ifdef Q_OS_LINUX
    // The size an ordinary user gets on a stock system (net.core.rmem_max,
    // which the system doubles), whoever runs the test.
    const int fd = socketOnPort(PortA);
    QVERIFY(fd >= 0);
    const int stock = 212992;
    QVERIFY(::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &stock, sizeof stock) == 0);
    QVERIFY(w->receiveBufferSize() <= 2 * stock);
    // Sent no faster than the system's buffer empties, so that the system
    // never drops one: what it holds goes on to the component's own buffer
    // while the window's thread is busy elsewhere. Once that is full, the
    // rest is sent as it comes.
    const auto pace = [fd, &w] {
        const auto start = std::chrono::steady_clock::now();
        while (w->droppedDatagrams() == 0
               && memoryOf(fd)[SK_MEMINFO_RMEM_ALLOC] > memoryOf(fd)[SK_MEMINFO_RCVBUF] / 2) {
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20))
                return false; // nobody empties it
            std::this_thread::yield();
        }
        return true;
    };
#else
    if (linuxOnly)
        QSKIP("sending no faster than the system's buffer empties needs Linux's SO_MEMINFO");
    const auto pace = [] { return true; };
#endif

    QList<QByteArray> datagrams;
    QList<qsizetype> batchBytes;    // handed over in each turn but the last datagram
    qsizetype lastSize = 0;
    int started = 0, finished = 0, tooLate = 0;
    connect(w.get(), &Winsock::DataArrival, w.get(), [&](qint32 n) {
        if (started == finished)
            ++tooLate;
        datagrams << w->GetBytes();
        QCOMPARE(n, qint32(datagrams.last().size()));
        batchBytes.last() += lastSize;
        lastSize = n;
    });
    connect(w.get(), &Winsock::ArrivalBatchStarted, w.get(), [&] {
        ++started;
        batchBytes << 0;
        lastSize = 0;
    });
    connect(w.get(), &Winsock::ArrivalBatchFinished, w.get(), [&] { ++finished; });

    int sent = 0;
    bool paced = true;
    std::atomic<bool> done = false;
    const auto sendAll = [&] {
        QUdpSocket sender;
        for (int i = 0; i < count && paced; ++i) {
            paced = pace();
            sent += sender.writeDatagram(payload(i), QHostAddress::LocalHost, PortA) == size;
        }
        done = true;
    };
    std::thread sender;
    if (sendAllFirst)
        sendAll();
    else
        sender = std::thread(sendAll);
    if (!QTest::qWaitFor([&] { return done && datagrams.size() >= kept; }, 30000))
        qWarning("only %lld of %d datagrams arrived", qlonglong(datagrams.size()), kept);
    if (sender.joinable())
        sender.join();
    // Anything beyond the burst would show up now.
    QTest::qWait(50);
    QVERIFY2(paced, "the system's buffer stayed full: nothing drained it while the window was busy");
    QCOMPARE(sent, count);

    // In order, the oldest all there; beyond the bound, the component dropped
    // the newest and the system more while the component was full, and a few
    // arrive that the system held when the window had taken some.
    const int delivered = int(datagrams.size());
    QVERIFY(delivered >= kept);
    QCOMPARE(delivered == count, kept == count);
    int previous = -1;
    for (int i = 0; i < delivered; ++i) {
        const int number = datagrams[i].left(8).toInt();
        if (number <= previous || (i < kept && number != i) || datagrams[i] != payload(number))
            QFAIL(qPrintable(QStringLiteral("datagram %1 of %2 arrived as %3... (%4 bytes)")
                                 .arg(i)
                                 .arg(delivered)
                                 .arg(QString::fromLatin1(datagrams[i].left(8)))
                                 .arg(datagrams[i].size())));
        previous = number;
    }
#ifdef Q_OS_LINUX
    QCOMPARE(qint64(delivered) + w->droppedDatagrams() + memoryOf(fd)[SK_MEMINFO_DROPS], qint64(count));
#endif
    QCOMPARE(tooLate, 0);
    QCOMPARE(finished, started);
    for (qsizetype before : batchBytes)
        QVERIFY2(before < Winsock::TurnBytes, "a turn handed over more than its bytes before its last datagram");
    if (qint64(size) * count > 2 * Winsock::TurnBytes)
        QVERIFY(started >= 2);
    QCOMPARE(w->waitingDatagrams(), 0);
}

void tst_WinsockReceive::oneWholeDatagramPerGetBytes_data()
{
    QTest::addColumn<QByteArray>("payload");
    QByteArray largest(Winsock::MaxDatagramSize, Qt::Uninitialized);
    for (qsizetype i = 0; i < largest.size(); ++i)
        largest[i] = char(i * 7 + i / 251);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("1 byte") << QByteArray("A");
    QTest::newRow("lone lead byte") << QByteArray("\x83");
    QTest::newRow("100 bytes") << QByteArray(100, '\x82');
    QTest::newRow("65507 bytes") << largest;
}

void tst_WinsockReceive::oneWholeDatagramPerGetBytes()
{
    QFETCH(QByteArray, payload);
    auto w = boundComponent(PortA);
    Arrivals got(w.get());

    // The marker right behind shows whether the two ran together.
    QUdpSocket sender;
    QCOMPARE(sender.writeDatagram(payload, QHostAddress::LocalHost, PortA), payload.size());
    QCOMPARE(sender.writeDatagram(QByteArray("e"), QHostAddress::LocalHost, PortA), 1);
    QVERIFY(QTest::qWaitFor([&] { return got.datagrams.size() >= 2; }, 5000));

    QCOMPARE(got.sizes, (QList<qint32>{qint32(payload.size()), 1}));
    QCOMPARE(got.datagrams.size(), 2);
    QVERIFY(got.datagrams[0] == payload);
    QCOMPARE(got.datagrams[1], QByteArray("e"));
}

void tst_WinsockReceive::getDataDecodesOneDatagram_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("text");
    QTest::newRow("Japanese and ASCII") << QByteArray("\x83\x65\x83\x58\x83\x67 abc") << QStringLiteral("テスト abc");
    QTest::newRow("half-width kana") << QByteArray("\xB1\xB2\xB3") << QStringLiteral("ｱｲｳ");
    QTest::newRow("lead byte cut off") << QByteArray("\x83") << QStringLiteral("\u30FB");
    QTest::newRow("empty") << QByteArray() << QString();
}

void tst_WinsockReceive::getDataDecodesOneDatagram()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, text);
    auto w = boundComponent(PortA);
    QStringList texts;
    connect(w.get(), &Winsock::DataArrival, w.get(), [&](qint32) {
        QString s = QStringLiteral("stale");
        w->GetData(s);
        texts << s;
    });

    QUdpSocket sender;
    sender.writeDatagram(payload, QHostAddress::LocalHost, PortA);
    sender.writeDatagram(QByteArray("e"), QHostAddress::LocalHost, PortA);
    QVERIFY(QTest::qWaitFor([&] { return texts.size() >= 2; }, 5000));
    QCOMPARE(texts, (QStringList{text, QStringLiteral("e")}));

    // With nothing waiting, GetData leaves an empty text.
    QString none = QStringLiteral("stale");
    w->GetData(none);
    QVERIFY(none.isEmpty());
}

// Whoever sends, from whatever port, to whichever address of this machine:
// the port listens on every interface, or the partner's computer is never heard.
void tst_WinsockReceive::anySourceAndLocalAddressIsDelivered()
{
    auto w = boundComponent(PortA);
    Arrivals got(w.get());

    QUdpSocket fixed, ephemeral1, ephemeral2;
    QVERIFY(fixed.bind(QHostAddress::LocalHost, PortB));
    QList<QByteArray> expected;
    // 127.0.0.2 is this machine too, but not the loopback address itself.
    const QHostAddress otherLocal(QStringLiteral("127.0.0.2"));
    for (QUdpSocket* s : {&fixed, &ephemeral1, &ephemeral2, &fixed}) {
        expected << QByteArray("from ") + QByteArray::number(expected.size());
        s->writeDatagram(expected.last(), expected.size() % 2 ? otherLocal : QHostAddress(QHostAddress::LocalHost),
                         PortA);
    }
    QVERIFY(QTest::qWaitFor([&] { return got.datagrams.size() >= expected.size(); }, 5000));
    QCOMPARE(got.datagrams, expected);
}

void tst_WinsockReceive::nestedEventLoopKeepsOrder()
{
    auto w = boundComponent(PortA);
    QUdpSocket sender;
    const auto send = [&](const char* s) { sender.writeDatagram(QByteArray(s), QHostAddress::LocalHost, PortA); };

    // The first slot runs a loop before it takes its datagram, the way a
    // message box would; more datagrams come in meanwhile.
    QList<qint32> sizes;
    QList<QByteArray> taken;
    bool inSlot = false;
    bool reentered = false;
    connect(w.get(), &Winsock::DataArrival, w.get(), [&](qint32 n) {
        reentered |= inSlot;
        inSlot = true;
        sizes << n;
        if (sizes.size() == 1) {
            send("333");
            send("4444");
            QEventLoop loop;
            QTimer::singleShot(100, &loop, &QEventLoop::quit);
            loop.exec();
        }
        taken << w->GetBytes();
        inSlot = false;
    });

    send("1");
    send("22");
    QVERIFY(QTest::qWaitFor([&] { return taken.size() >= 4; }, 5000));
    QVERIFY(!reentered);
    QCOMPARE(taken, (QList<QByteArray>{"1", "22", "333", "4444"}));
    QCOMPARE(sizes, (QList<qint32>{1, 2, 3, 4}));
}

// A receiver that takes a datagram when the turn starts, before its
// DataArrival: every datagram is taken once, in order, and none announced
// after it was taken.
void tst_WinsockReceive::takenBeforeItsArrival()
{
    auto w = boundComponent(PortA);
    QList<QByteArray> taken;
    QList<qint32> sizes;
    connect(w.get(), &Winsock::ArrivalBatchStarted, w.get(), [&] { taken << w->GetBytes(); });
    connect(w.get(), &Winsock::DataArrival, w.get(), [&](qint32 n) {
        sizes << n;
        taken << w->GetBytes();
    });
    QUdpSocket sender;
    for (const char* s : {"1", "22", "333"})
        sender.writeDatagram(QByteArray(s), QHostAddress::LocalHost, PortA);
    QVERIFY(QTest::qWaitFor([&] { return taken.size() >= 3 && !taken.last().isEmpty(); }, 5000));
    QTest::qWait(20);
    taken.removeAll(QByteArray());
    QCOMPARE(taken, (QList<QByteArray>{"1", "22", "333"}));
    for (qint32 n : sizes)
        QVERIFY(n == 2 || n == 3);
}

void tst_WinsockReceive::deletedFromDataArrival_data()
{
    QTest::addColumn<bool>("fromNestedLoop");
    QTest::newRow("in the slot") << false;
    QTest::newRow("in a loop the slot runs") << true;
}

void tst_WinsockReceive::deletedFromDataArrival()
{
    QFETCH(bool, fromNestedLoop);
    QPointer<Winsock> w = boundComponent(PortA).release();
    int arrivals = 0;
    connect(w, &Winsock::DataArrival, w, [&](qint32) {
        ++arrivals;
        if (!fromNestedLoop) {
            delete w.data();
            return;
        }
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [&] { delete w.data(); });
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    });

    QUdpSocket sender;
    for (const char* s : {"1", "2", "3"})
        sender.writeDatagram(QByteArray(s), QHostAddress::LocalHost, PortA);
    QVERIFY(QTest::qWaitFor([&] { return w.isNull(); }, 5000));
    QTest::qWait(20);
    QCOMPARE(arrivals, 1);
    // The window is gone, so is its hold on the port.
    auto again = boundComponent(PortA);
    QVERIFY(again->isBound());
}

QTEST_GUILESS_MAIN(tst_WinsockReceive)
#include "tst_winsock_receive.moc"
