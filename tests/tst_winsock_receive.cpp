// The socket component receiving: whole datagrams, one per DataArrival, in
// order, from anyone to any local address, a burst without loss, and a window
// that runs a loop or closes from inside its slot.
#include "winsocksupport.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <thread>

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
    void deletedFromDataArrival_data();
    void deletedFromDataArrival();
};

void tst_WinsockReceive::burstArrivesWholeAndInOrder_data()
{
    QTest::addColumn<bool>("sendAllFirst");
    QTest::newRow("all sent before the loop runs") << true;
    QTest::newRow("sent from another thread meanwhile") << false;
}

void tst_WinsockReceive::burstArrivesWholeAndInOrder()
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
