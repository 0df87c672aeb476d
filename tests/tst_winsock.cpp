#include "platform/error/VeskError.h"
#include "platform/udp/Winsock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QPointer>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>
#include <thread>

#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

using vesk::Winsock;

namespace {

// Test ports sit well above anything the program itself uses.
constexpr quint16 PortA = 41001;
constexpr quint16 PortB = 41002;

std::unique_ptr<Winsock> boundComponent(quint16 port)
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

QByteArray receiveOne(QUdpSocket& s, int timeoutMs = 5000)
{
    if (!QTest::qWaitFor([&] { return s.hasPendingDatagrams(); }, timeoutMs))
        return QByteArray("<nothing arrived>");
    return s.receiveDatagram().data();
}

QString errorText(const vesk::Error& e)
{
    return e.failed() + QStringLiteral(": ") + e.reason();
}

enum class Holder { Component, PlainAny, PlainAnyIPv4, PlainLoopback, PlainShared };

} // namespace

Q_DECLARE_METATYPE(Holder)

class tst_Winsock : public QObject {
    Q_OBJECT
private slots:
    void protocolOnlyUdp_data();
    void protocolOnlyUdp();
    void bindIsExclusive_data();
    void bindIsExclusive();
    void destroyReleasesPort_data();
    void destroyReleasesPort();
    void privilegedPortTellsHowToAllow();
    void burstArrivesWholeAndInOrder_data();
    void burstArrivesWholeAndInOrder();
    void oneWholeDatagramPerGetBytes_data();
    void oneWholeDatagramPerGetBytes();
    void getDataDecodesOneDatagram_data();
    void getDataDecodesOneDatagram();
    void anySourcePortIsDelivered();
    void nestedEventLoopKeepsOrder();
    void deletedFromDataArrival_data();
    void deletedFromDataArrival();
    void sendPutsExactBytesOnTheWire_data();
    void sendPutsExactBytesOnTheWire();
    void dottedHostsReadAsDecimal_data();
    void dottedHostsReadAsDecimal();
    void refusedSendSendsNothing_data();
    void refusedSendSendsNothing();
    void sendBeforeBindTakesFreePort();
};

void tst_Winsock::protocolOnlyUdp_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("UDP") << 1 << true;
    QTest::newRow("TCP") << 0 << false;
    QTest::newRow("unknown") << 2 << false;
    QTest::newRow("negative") << -1 << false;
}

void tst_Winsock::protocolOnlyUdp()
{
    QFETCH(int, protocol);
    QFETCH(bool, accepted);
    Winsock w;
    if (accepted) {
        w.setProtocol(protocol);
        QCOMPARE(w.Protocol(), protocol);
    } else {
        QVERIFY_THROWS_EXCEPTION(vesk::Error, w.setProtocol(protocol));
        // Still not UDP, so it refuses to open a port rather than guessing.
        QVERIFY_THROWS_EXCEPTION(vesk::Error, w.Bind(PortA));
        QVERIFY(!w.isBound());
    }
}

void tst_Winsock::bindIsExclusive_data()
{
    QTest::addColumn<Holder>("first");
    QTest::addColumn<Holder>("second");
    QTest::newRow("component, then component") << Holder::Component << Holder::Component;
    QTest::newRow("plain on Any (default flags), then component") << Holder::PlainAny << Holder::Component;
    QTest::newRow("plain on AnyIPv4, then component") << Holder::PlainAnyIPv4 << Holder::Component;
    QTest::newRow("plain on 127.0.0.1, then component") << Holder::PlainLoopback << Holder::Component;
    QTest::newRow("plain asking to share, then component") << Holder::PlainShared << Holder::Component;
    QTest::newRow("component, then plain on Any (default flags)") << Holder::Component << Holder::PlainAny;
    QTest::newRow("component, then plain on 127.0.0.1") << Holder::Component << Holder::PlainLoopback;
    QTest::newRow("component, then plain asking to share") << Holder::Component << Holder::PlainShared;
}

void tst_Winsock::bindIsExclusive()
{
    QFETCH(Holder, first);
    QFETCH(Holder, second);

    const auto plainBind = [](QUdpSocket& s, Holder h) {
        switch (h) {
        case Holder::PlainAny: return s.bind(PortA); // Qt's defaults: Any, shared on Unix
        case Holder::PlainAnyIPv4: return s.bind(QHostAddress::AnyIPv4, PortA);
        case Holder::PlainLoopback: return s.bind(QHostAddress::LocalHost, PortA);
        case Holder::PlainShared:
            return s.bind(QHostAddress::AnyIPv4, PortA, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
        case Holder::Component: break;
        }
        return false;
    };

    QUdpSocket plainFirst;
    std::unique_ptr<Winsock> componentFirst;
    if (first == Holder::Component)
        componentFirst = boundComponent(PortA);
    else
        QVERIFY(plainBind(plainFirst, first));

    if (second == Holder::Component) {
        Winsock w;
        w.setProtocol(Winsock::sckUDPProtocol);
        try {
            w.Bind(PortA);
            QFAIL("a second Bind of a held port succeeded");
        } catch (const vesk::Error& e) {
            QVERIFY2(e.failed().contains(QString::number(PortA)), qPrintable(errorText(e)));
            QVERIFY2(e.reason().contains(QStringLiteral("既に別のプログラムが使っています")), qPrintable(errorText(e)));
        }
        QVERIFY(!w.isBound());
    } else {
        QUdpSocket plainSecond;
        QVERIFY2(!plainBind(plainSecond, second), "a plain socket shares the component's port");
    }
}

void tst_Winsock::destroyReleasesPort_data()
{
    QTest::addColumn<bool>("rebindWithComponent");
    QTest::newRow("component binds again") << true;
    QTest::newRow("plain socket binds") << false;
}

void tst_Winsock::destroyReleasesPort()
{
    QFETCH(bool, rebindWithComponent);
    boundComponent(PortA).reset();
    if (rebindWithComponent) {
        auto again = boundComponent(PortA);
        QCOMPARE(again->LocalPort(), PortA);
    } else {
        QUdpSocket s;
        QVERIFY(s.bind(QHostAddress::AnyIPv4, PortA, QAbstractSocket::DontShareAddress));
    }
}

void tst_Winsock::privilegedPortTellsHowToAllow()
{
#ifdef Q_OS_LINUX
    // Drop the right to bind low ports for this thread only, as an ordinary
    // user would lack it, and give it back afterwards.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    if (syscall(SYS_capget, &header, saved) != 0)
        QSKIP("capabilities cannot be read here");
    __user_cap_data_struct lowered[2] = {saved[0], saved[1]};
    lowered[0].effective &= ~(1u << CAP_NET_BIND_SERVICE);
    if (syscall(SYS_capset, &header, lowered) != 0)
        QSKIP("capabilities cannot be changed here");
    const auto restore = qScopeGuard([&] { syscall(SYS_capset, &header, saved); });

    QUdpSocket probe;
    if (probe.bind(QHostAddress::AnyIPv4, 1002, QAbstractSocket::DontShareAddress))
        QSKIP("ports below 1024 are open to everyone on this system");
    if (probe.error() != QAbstractSocket::SocketAccessError)
        QSKIP("port 1002 is taken by something else");

    Winsock w;
    w.setProtocol(Winsock::sckUDPProtocol);
    try {
        w.Bind(1002);
        QFAIL("Bind(1002) succeeded without the capability");
    } catch (const vesk::Error& e) {
        QVERIFY2(e.failed().contains(QStringLiteral("1002")), qPrintable(errorText(e)));
        QVERIFY2(e.reason().contains(QStringLiteral("setcap cap_net_bind_service=+ep ")
                                     + QCoreApplication::applicationFilePath()),
                 qPrintable(errorText(e)));
    }
#else
    QSKIP("only Linux keeps ports below 1024 for privileged programs");
#endif
}

void tst_Winsock::burstArrivesWholeAndInOrder_data()
{
    QTest::addColumn<bool>("sendAllFirst");
    QTest::newRow("all sent before the loop runs") << true;
    QTest::newRow("sent from another thread meanwhile") << false;
}

void tst_Winsock::burstArrivesWholeAndInOrder()
{
    QFETCH(bool, sendAllFirst);
    constexpr int Count = 10000;
    const auto payload = [](int i) {
        return QByteArray::number(i).rightJustified(8, '0') + QByteArray(92, 'x');
    };

    auto w = boundComponent(PortA);
    qInfo("receive buffer granted: %lld bytes", w->receiveBufferSize());
    QList<qint32> sizes;
    QList<QString> texts;
    int started = 0, finished = 0;
    connect(w.get(), &Winsock::DataArrival, w.get(), [&](qint32 n) {
        sizes << n;
        QString text;
        w->GetData(text);
        texts << text;
    });
    connect(w.get(), &Winsock::ArrivalBatchStarted, w.get(), [&] { ++started; });
    connect(w.get(), &Winsock::ArrivalBatchFinished, w.get(), [&] { ++finished; });

    int sent = 0;
    const auto sendAll = [&] {
        QUdpSocket sender;
        for (int i = 0; i < Count; ++i)
            sent += sender.writeDatagram(payload(i), QHostAddress::LocalHost, PortA) == 100;
    };
    std::thread sender;
    if (sendAllFirst)
        sendAll();
    else
        sender = std::thread(sendAll);
    if (!QTest::qWaitFor([&] { return sizes.size() >= Count; }, 20000))
        qWarning("only %lld of %d datagrams arrived", qlonglong(sizes.size()), Count);
    if (sender.joinable())
        sender.join();
    // Anything beyond the burst would show up now.
    QTest::qWait(50);

    QCOMPARE(sent, Count);
    QCOMPARE(sizes.size(), Count);
    QCOMPARE(texts.size(), Count);
    for (int i = 0; i < Count; ++i) {
        if (sizes[i] != 100 || texts[i] != QString::fromLatin1(payload(i)))
            QFAIL(qPrintable(QStringLiteral("datagram %1 arrived as %2 (%3 bytes)").arg(i).arg(texts[i]).arg(sizes[i])));
    }
    QVERIFY(started >= 1);
    QCOMPARE(finished, started);
    QCOMPARE(w->waitingDatagrams(), 0);
}

void tst_Winsock::oneWholeDatagramPerGetBytes_data()
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

void tst_Winsock::oneWholeDatagramPerGetBytes()
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

void tst_Winsock::getDataDecodesOneDatagram_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("text");
    QTest::newRow("Japanese and ASCII") << QByteArray("\x83\x65\x83\x58\x83\x67 abc") << QStringLiteral("テスト abc");
    QTest::newRow("half-width kana") << QByteArray("\xB1\xB2\xB3") << QStringLiteral("ｱｲｳ");
    QTest::newRow("lead byte cut off") << QByteArray("\x83") << QStringLiteral("\u30FB");
    QTest::newRow("empty") << QByteArray() << QString();
}

void tst_Winsock::getDataDecodesOneDatagram()
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

void tst_Winsock::anySourcePortIsDelivered()
{
    auto w = boundComponent(PortA);
    Arrivals got(w.get());

    QUdpSocket fixed, ephemeral1, ephemeral2;
    QVERIFY(fixed.bind(QHostAddress::LocalHost, PortB));
    QList<QByteArray> expected;
    for (QUdpSocket* s : {&fixed, &ephemeral1, &ephemeral2, &fixed}) {
        expected << QByteArray("from ") + QByteArray::number(expected.size());
        s->writeDatagram(expected.last(), QHostAddress::LocalHost, PortA);
    }
    QVERIFY(QTest::qWaitFor([&] { return got.datagrams.size() >= expected.size(); }, 5000));
    QCOMPARE(got.datagrams, expected);
}

void tst_Winsock::nestedEventLoopKeepsOrder()
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

void tst_Winsock::deletedFromDataArrival_data()
{
    QTest::addColumn<bool>("fromNestedLoop");
    QTest::newRow("in the slot") << false;
    QTest::newRow("in a loop the slot runs") << true;
}

void tst_Winsock::deletedFromDataArrival()
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

void tst_Winsock::sendPutsExactBytesOnTheWire_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("Japanese and ASCII") << QStringLiteral("テスト abc") << QByteArray("\x83\x65\x83\x58\x83\x67 abc");
    QTest::newRow("half-width kana") << QStringLiteral("ｱｲｳ") << QByteArray("\xB1\xB2\xB3");
    QTest::newRow("NEC special") << QStringLiteral("①") << QByteArray("\x87\x40");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("largest") << QString(Winsock::MaxDatagramSize, u'a') << QByteArray(Winsock::MaxDatagramSize, 'a');
}

void tst_Winsock::sendPutsExactBytesOnTheWire()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, wire);
    QUdpSocket listener;
    QVERIFY(listener.bind(QHostAddress::AnyIPv4, PortB));
    auto w = boundComponent(PortA);
    w->setRemoteHost(QStringLiteral("127.0.0.1"));
    w->setRemotePort(PortB);

    w->SendData(text);
    QVERIFY(QTest::qWaitFor([&] { return listener.hasPendingDatagrams(); }, 5000));
    const QNetworkDatagram d = listener.receiveDatagram();
    QVERIFY(d.data() == wire);
    QCOMPARE(d.senderPort(), int(PortA));
}

void tst_Winsock::dottedHostsReadAsDecimal_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("listenOn");
    QTest::newRow("plain") << "127.0.0.1" << "127.0.0.1";
    QTest::newRow("leading zeros") << "127.000.000.001" << "127.0.0.1";
    QTest::newRow("010 is ten, not octal eight") << "127.0.0.010" << "127.0.0.10";
    QTest::newRow("099") << "127.0.0.099" << "127.0.0.99";
    QTest::newRow("top of each part") << "127.255.255.254" << "127.255.255.254";
}

void tst_Winsock::dottedHostsReadAsDecimal()
{
    QFETCH(QString, host);
    QFETCH(QString, listenOn);
    QUdpSocket listener;
    QVERIFY(listener.bind(QHostAddress(listenOn), PortB));
    auto w = boundComponent(PortA);
    w->setRemoteHost(host);
    w->setRemotePort(PortB);
    w->SendData(QStringLiteral("hi"));
    QCOMPARE(receiveOne(listener), QByteArray("hi"));
}

void tst_Winsock::refusedSendSendsNothing_data()
{
    // Every host here would land on this machine if it were ever sent, so a
    // listener on loopback or the component itself would catch a stray.
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("named");
    const auto host = [](const char* name, const char* h) {
        QTest::newRow(name) << QString::fromUtf8(h) << int(PortB) << 2 << QString();
    };
    host("empty", "");
    host("only dots", "...");
    host("leading space", " 127.0.0.1");
    host("trailing space", "127.0.0.1 ");
    host("letters", "a.b.c.d");
    host("name", "localhost");
    host("part over 255", "256.1.1.1");
    host("part wrapping to 127", "383.0.0.1");
    host("three parts", "127.0.1");
    host("two parts", "127.1");
    host("five parts", "127.0.0.1.1");
    host("trailing dot", "127.0.0.1.");
    host("four digits", "127.0.0.0001");
    host("hex", "0x7f.0.0.1");
    host("sign", "+127.0.0.1");
    host("full-width digits", "１２７.０.０.１");
    host("IPv6 mapped", "::ffff:127.0.0.1");
    host("any address", "0.0.0.0");
    host("any address, zero-padded", "000.00.0.000");
    QTest::newRow("port 0") << "127.0.0.1" << 0 << 2 << QString();
    QTest::newRow("port 65536 (wraps to 0)") << "127.0.0.1" << 65536 + PortB << 2 << QString();
    QTest::newRow("negative port") << "127.0.0.1" << -1 << 2 << QString();
    QTest::newRow("65508 bytes") << "127.0.0.1" << int(PortB) << 65508 << "65508";
}

void tst_Winsock::refusedSendSendsNothing()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(int, size);
    QFETCH(QString, named);

    QUdpSocket listener;
    QVERIFY(listener.bind(QHostAddress::AnyIPv4, PortB));
    auto w = boundComponent(PortA);
    Arrivals got(w.get());
    const QString text(size, u'x');

    w->setRemoteHost(host); // setting it never throws
    const QList<int> ports = port == PortB ? QList<int>{PortB, PortA} : QList<int>{port};
    for (int p : ports) {
        w->setRemotePort(p);
        try {
            w->SendData(text);
            QFAIL(qPrintable(QStringLiteral("sent to \"%1\" port %2").arg(host).arg(p)));
        } catch (const vesk::Error& e) {
            QVERIFY2(!e.reason().isEmpty(), qPrintable(errorText(e)));
            if (!named.isEmpty())
                QVERIFY2(e.reason().contains(named), qPrintable(errorText(e)));
        }
    }

    // Loopback keeps order, so a stray would come before these.
    w->setRemoteHost(QStringLiteral("127.0.0.1"));
    for (int p : {PortB, PortA}) {
        w->setRemotePort(p);
        w->SendData(QStringLiteral("sentinel"));
    }
    QCOMPARE(receiveOne(listener), QByteArray("sentinel"));
    QVERIFY(QTest::qWaitFor([&] { return !got.datagrams.isEmpty(); }, 5000));
    QCOMPARE(got.datagrams.first(), QByteArray("sentinel"));
}

void tst_Winsock::sendBeforeBindTakesFreePort()
{
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::AnyIPv4, PortB));
    Winsock w;
    w.setProtocol(Winsock::sckUDPProtocol);
    w.setRemoteHost(QStringLiteral("127.0.0.1"));
    w.setRemotePort(PortB);
    Arrivals got(&w);

    w.SendData(QStringLiteral("hello"));
    QVERIFY(QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); }, 5000));
    const QNetworkDatagram d = peer.receiveDatagram();
    QCOMPARE(d.data(), QByteArray("hello"));
    QVERIFY(w.isBound());
    QCOMPARE(d.senderPort(), w.LocalPort());

    // The port it took also receives, so the peer can answer.
    peer.writeDatagram(QByteArray("reply"), QHostAddress::LocalHost, quint16(w.LocalPort()));
    QVERIFY(QTest::qWaitFor([&] { return !got.datagrams.isEmpty(); }, 5000));
    QCOMPARE(got.datagrams.first(), QByteArray("reply"));
}

QTEST_GUILESS_MAIN(tst_Winsock)
#include "tst_winsock.moc"
