// The socket component sending: the exact bytes on the wire, only to a dotted
// IPv4 address read as decimal, and what it says when a destination will not do.
#include "underwine.h"
#include "winsocksupport.h"

#include <QScopeGuard>

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QProcess>
#include <QStandardPaths>

using namespace winsocktest;

class tst_WinsockSend : public QObject {
    Q_OBJECT
private slots:
    void sendPutsExactBytesOnTheWire_data();
    void sendPutsExactBytesOnTheWire();
    void dottedHostsReadAsDecimal_data();
    void dottedHostsReadAsDecimal();
    void refusedSendSendsNothing_data();
    void refusedSendSendsNothing();
    void unreachableDestinationsSayWhy_data();
    void unreachableDestinationsSayWhy();
    void sendBeforeBindTakesFreePort();
    void nobodyListeningIsToldOncePerRun_data();
    void nobodyListeningIsToldOncePerRun();
};

void tst_WinsockSend::sendPutsExactBytesOnTheWire_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("Japanese and ASCII") << QStringLiteral("テスト abc") << QByteArray("\x83\x65\x83\x58\x83\x67 abc");
    QTest::newRow("half-width kana") << QStringLiteral("ｱｲｳ") << QByteArray("\xB1\xB2\xB3");
    QTest::newRow("NEC special") << QStringLiteral("①") << QByteArray("\x87\x40");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("largest") << QString(Winsock::MaxDatagramSize, u'a') << QByteArray(Winsock::MaxDatagramSize, 'a');
}

void tst_WinsockSend::sendPutsExactBytesOnTheWire()
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

void tst_WinsockSend::dottedHostsReadAsDecimal_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("listenOn");
    QTest::newRow("plain") << "127.0.0.1" << "127.0.0.1";
    QTest::newRow("leading zeros") << "127.000.000.001" << "127.0.0.1";
    QTest::newRow("010 is ten, not octal eight") << "127.0.0.010" << "127.0.0.10";
    QTest::newRow("099") << "127.0.0.099" << "127.0.0.99";
    QTest::newRow("top of each part") << "127.255.255.254" << "127.255.255.254";
}

void tst_WinsockSend::dottedHostsReadAsDecimal()
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

void tst_WinsockSend::refusedSendSendsNothing_data()
{
    // Every host here would land on this machine if it were ever sent, so a
    // listener on loopback or the component itself would catch a stray.
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("named");
    // The reason names what is wrong: the address as typed, the port, the size.
    const auto host = [](const char* name, const char* h) {
        QTest::newRow(name) << QString::fromUtf8(h) << int(PortB) << 2
                            << QStringLiteral("「%1」").arg(QString::fromUtf8(h));
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
    QTest::newRow("any address") << "0.0.0.0" << int(PortB) << 2 << QStringLiteral("0.0.0.0 には送れません");
    QTest::newRow("any address, zero-padded") << "000.00.0.000" << int(PortB) << 2
                                              << QStringLiteral("0.0.0.0 には送れません");
    QTest::newRow("port 0") << "127.0.0.1" << 0 << 2 << QStringLiteral("ポート番号 0 は");
    QTest::newRow("port 65536 (wraps to 0)") << "127.0.0.1" << 65536 + PortB << 2
                                             << QStringLiteral("ポート番号 %1 は").arg(65536 + PortB);
    QTest::newRow("negative port") << "127.0.0.1" << -1 << 2 << QStringLiteral("ポート番号 -1 は");
    QTest::newRow("65508 bytes") << "127.0.0.1" << int(PortB) << 65508 << "65508";
}

void tst_WinsockSend::refusedSendSendsNothing()
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

void tst_WinsockSend::unreachableDestinationsSayWhy_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("reason");
    // The test's own network (tests/isolated.sh) has no route out of this
    // machine, says "host unreachable" for 192.0.2.0/24 and "prohibited" for
    // 198.51.100.0/24.
    QTest::newRow("no route to the network") << "203.0.113.7" << QStringLiteral("相手のネットワークに届きません");
    QTest::newRow("host unreachable") << "192.0.2.7" << QStringLiteral("相手のコンピューターに届きません");
    QTest::newRow("prohibited") << "198.51.100.7" << QStringLiteral("この宛先には送れません");
}

void tst_WinsockSend::unreachableDestinationsSayWhy()
{
    QFETCH(QString, host);
    QFETCH(QString, reason);
    if (qEnvironmentVariable("VESK_TEST_NETWORK") != QLatin1String("private"))
        QSKIP("needs the test's own network namespace (tests/isolated.sh)");
    auto w = boundComponent(PortA);
    w->setRemoteHost(host);
    w->setRemotePort(PortB);
    try {
        w->SendData(QStringLiteral("hi"));
        QFAIL("the send went through");
    } catch (const vesk::Error& e) {
        QVERIFY2(e.reason().startsWith(reason), qPrintable(errorText(e)));
    }
}

void tst_WinsockSend::sendBeforeBindTakesFreePort()
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

void tst_WinsockSend::nobodyListeningIsToldOncePerRun_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<bool>("icmpDropped");
    QTest::addColumn<bool>("partnerComesAndGoes");
    QTest::addColumn<int>("told");
    QTest::newRow("nobody at the port: once for the run") << false << false << false << 1;
    QTest::newRow("a listening partner: never") << true << false << false << 0;
    QTest::newRow("the answer dropped by a firewall: never") << false << true << false << 0;
    QTest::newRow("the partner comes and goes: again after a quiet send") << false << false << true << 2;
}

void tst_WinsockSend::nobodyListeningIsToldOncePerRun()
{
    QFETCH(bool, listening);
    QFETCH(bool, icmpDropped);
    QFETCH(bool, partnerComesAndGoes);
    QFETCH(int, told);
    if (underWine())
        QSKIP("Wine 8 hands no ICMP port unreachable to a UDP socket; Windows reports it as WSAECONNRESET");
    if (icmpDropped) {
        // A rule of this test's own network only, never the machine's.
        if (qEnvironmentVariable("VESK_TEST_NETWORK") != QLatin1String("private"))
            QSKIP("needs the test's own network (tests/isolated.sh)");
        const QString nft = QStandardPaths::findExecutable(QStringLiteral("nft"));
        if (nft.isEmpty())
            QSKIP("nft is not installed");
        const int rc = QProcess::execute(nft, {QStringLiteral("add table ip vesk_test; add chain ip vesk_test out "
                                                              "{ type filter hook output priority 0; }; add rule ip "
                                                              "vesk_test out icmp type destination-unreachable drop")
                                                   .split(u' ')});
        QCOMPARE(rc, 0);
    }
    const auto removeRule = qScopeGuard([icmpDropped] {
        if (icmpDropped)
            QProcess::execute(QStringLiteral("nft"), {QStringLiteral("delete"), QStringLiteral("table"),
                                                     QStringLiteral("ip"), QStringLiteral("vesk_test")});
    });

    auto w = boundComponent(PortA);
    w->setRemoteHost(QStringLiteral("127.0.0.1"));
    w->setRemotePort(PortB);
    int toldNow = 0;
    connect(w.get(), &Winsock::PartnerUnreachable, w.get(), [&] { ++toldNow; });
    QUdpSocket partner;
    if (listening)
        QVERIFY(partner.bind(QHostAddress::LocalHost, PortB));

    // Back to back: the answer to one comes in before the next leaves, and
    // each send still succeeds.
    const auto sendSome = [&] {
        for (int i = 0; i < 5; ++i) {
            try {
                w->SendData(QStringLiteral("hello %1").arg(i));
            } catch (const vesk::Error& e) {
                QFAIL(qPrintable(errorText(e)));
            }
        }
    };
    sendSome();
    if (partnerComesAndGoes) {
        QVERIFY(QTest::qWaitFor([&] { return toldNow == 1; }, 5000));
        QTest::qWait(100); // the other answers in, before the partner comes
        QVERIFY(partner.bind(QHostAddress::LocalHost, PortB));
        sendSome();
        QTest::qWait(int(Winsock::QuietPeriod.count()) + 100);
        partner.close();
        sendSome();
    }
    if (told > 0)
        QVERIFY(QTest::qWaitFor([&] { return toldNow >= told; }, 5000));
    QTest::qWait(200); // an answer that should not come would be in by now
    QCOMPARE(toldNow, told);
}

QTEST_GUILESS_MAIN(tst_WinsockSend)
#include "tst_winsock_send.moc"
