// Two conversation windows and a plain UDP peer talking over 127.0.0.1 on the
// real ports, driven through the windows' own controls.
#include "testsupport.h"
#include "underwine.h"

#include "conversation/TranscriptBox.h"
#include "platform/udp/Winsock.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QUdpSocket>

using namespace Qt::StringLiterals;
using namespace testsupport;

namespace {

const QHostAddress kLoopback(QHostAddress::LocalHost);

// Waits until `socket` has a datagram and returns it.
QByteArray nextDatagram(QUdpSocket& socket)
{
    if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(3000))
        return "<nothing arrived>";
    return socket.receiveDatagram().data();
}

// Types as an input method commits text: one key event carrying all of it.
void type(frmVesk* w, const QString& text)
{
    w->txtSend->clear();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
    QApplication::sendEvent(w->txtSend, &press);
}

} // namespace

class TestConversation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { vesk::applyAppearance(*qApp); }
    void cleanup() { closeEverything(); }

    void serverAndClientConverse();
    void exactBytesLeaveTheWindow_data();
    void exactBytesLeaveTheWindow();
    void receivedBytesBecomeLines_data();
    void receivedBytesBecomeLines();
    void failedSendKeepsTheText_data();
    void failedSendKeepsTheText();
    void nobodyAtThePartnersPortIsNoticed();
    void secondWindowOfTheSameRoleIsRefused();
    void endThenStartBindsTheSamePortAgain();

private:
    frmVesk* open(bool client, const QStringList& octets = {u"127"_s, u"0"_s, u"0"_s, u"1"_s});
};

frmVesk* TestConversation::open(bool client, const QStringList& octets)
{
    startConversation(frmMain::showFresh(), octets, client);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return findWindow<frmVesk>(client ? u"frmVeskB"_s : u"frmVesk"_s);
}

void TestConversation::serverAndClientConverse()
{
    frmVesk* server = open(false);
    frmVesk* client = open(true);
    QVERIFY(server && client);

    type(server, u"こんにちは"_s);
    QTest::mouseClick(server->cmdSend, Qt::LeftButton);
    QCOMPARE(server->txtReceive->windowsText(), u"自分>> こんにちは\r\n"_s);
    QVERIFY(server->txtSend->text().isEmpty());
    QCOMPARE(server->focusWidget(), server->txtSend);
    QTRY_COMPARE(client->txtReceive->windowsText(), u"相手>> こんにちは\r\n"_s);

    type(client, u"はい、ｱｲｳ ok"_s);
    QTest::mouseClick(client->cmdSend, Qt::LeftButton);
    QTRY_COMPARE(server->txtReceive->windowsText(),
                 u"相手>> はい、ｱｲｳ ok\r\n自分>> こんにちは\r\n"_s);
    QCOMPARE(client->txtReceive->windowsText(),
             u"自分>> はい、ｱｲｳ ok\r\n相手>> こんにちは\r\n"_s);
    QVERIFY(errorReports().isEmpty());
}

void TestConversation::exactBytesLeaveTheWindow_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("shown"); // the own line's text: what the partner gets
    QTest::newRow("ascii") << u"hello"_s << QByteArray("hello") << u"hello"_s;
    QTest::newRow("kana") << u"こんにちは"_s << QByteArray("\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd")
                          << u"こんにちは"_s;
    QTest::newRow("half-width katakana") << u"ｱ"_s << QByteArray("\xb1") << u"ｱ"_s;
    QTest::newRow("yen sign best fit") << u"¥100"_s << QByteArray("\\100") << u"\\100"_s;
    QTest::newRow("emoji has no mapping") << u"a😀"_s << QByteArray("a??") << u"a??"_s;
    QTest::newRow("JIS-style wave dash as Windows sends it")
        << u"10時〜12時"_s << QByteArray("10\x8e\x9e\x81\x60" "12\x8e\x9e") << u"10時～12時"_s;
    QTest::newRow("empty") << QString() << QByteArray() << QString();
    QTest::newRow("control characters travel, the partner drops them")
        << u"a\r\nb\tc"_s << QByteArray("a\r\nb\tc") << u"abc"_s;
    QTest::newRow("largest datagram") << QString(65507, u'a') << QByteArray(65507, 'a') << QString(65507, u'a');
}

void TestConversation::exactBytesLeaveTheWindow()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, wire);
    QFETCH(QString, shown);

    QUdpSocket peer; // stands where a Client copy would
    QVERIFY(peer.bind(kLoopback, 1001));
    frmVesk* w = open(false);
    QVERIFY(w);
    type(w, typed);
    QTest::mouseClick(w->cmdSend, Qt::LeftButton);
    QCOMPARE(nextDatagram(peer), wire);
    QCOMPARE(w->txtReceive->windowsText(), u"自分>> "_s + shown + u"\r\n"_s);
    QVERIFY(w->txtSend->text().isEmpty());
}

void TestConversation::receivedBytesBecomeLines_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("shown"); // null: nothing is shown
    QTest::newRow("hello") << QByteArray("hello") << u"相手>> hello"_s;
    QTest::newRow("line break removed") << QByteArray("a\r\nb") << u"相手>> ab"_s;
    QTest::newRow("empty") << QByteArray() << u"相手>> "_s;
    QTest::newRow("only control characters") << QByteArray("\t\x01\x1f\0", 4) << u"相手>> "_s;
    QTest::newRow("kanji") << QByteArray("\x93\xfa\x96\x7b") << u"相手>> 日本"_s;
    QTest::newRow("lone lead byte at the end") << QByteArray("a\x82") << u"相手>> a・"_s;
    QTest::newRow("labels are just text") << QByteArray("\x8e\xa9\x95\xaa>> x") << u"相手>> 自分>> x"_s;
    QTest::newRow("0.0.0.0 inside") << QByteArray("host 0.0.0.0 up") << QString();
    QTest::newRow("0.0.0.0 after the filter") << QByteArray("0.0.0\t.0") << QString();
    QTest::newRow("0.0.0.00") << QByteArray("0.0.0.00") << QString();
    QTest::newRow("0.0.0.1") << QByteArray("0.0.0.1") << u"相手>> 0.0.0.1"_s;
}

void TestConversation::receivedBytesBecomeLines()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, shown);

    frmVesk* w = open(true); // receives on 1001
    QVERIFY(w);
    QUdpSocket peer; // any source port will do
    QCOMPARE(peer.writeDatagram(datagram, kLoopback, 1001), datagram.size());
    // A marker after it shows when the datagram has been handled.
    QCOMPARE(peer.writeDatagram("marker", kLoopback, 1001), 6);
    QTRY_VERIFY(w->txtReceive->windowsText().startsWith(u"相手>> marker\r\n"_s));
    const QString expected = u"相手>> marker\r\n"_s + (shown.isNull() ? QString() : shown + u"\r\n"_s);
    QCOMPARE(w->txtReceive->windowsText(), expected);
}

void TestConversation::failedSendKeepsTheText_data()
{
    QTest::addColumn<QStringList>("octets");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("reasonMentions");
    QTest::newRow("empty boxes") << QStringList{} << u"abc"_s << u"..."_s;
    QTest::newRow("not a number") << QStringList{u"127"_s, u"0"_s, u"x"_s, u"1"_s} << u"abc"_s
                                  << u"127.0.x.1"_s;
    QTest::newRow("octet over 255") << QStringList{u"127"_s, u"0"_s, u"0"_s, u"256"_s} << u"abc"_s
                                    << u"127.0.0.256"_s;
    // Every partner program drops these unseen: not sent, and the user is told.
    QTest::newRow("0.0.0.0 inside") << QStringList{u"127"_s, u"0"_s, u"0"_s, u"1"_s}
                                    << u"10.0.0.0/8 は社内です"_s << u"0.0.0.0"_s;
    QTest::newRow("0.0.0.0 once the partner drops the tab")
        << QStringList{u"127"_s, u"0"_s, u"0"_s, u"1"_s} << u"0.0.0\t.0"_s << u"0.0.0.0"_s;
    QTest::newRow("too long for one datagram")
        << QStringList{u"127"_s, u"0"_s, u"0"_s, u"1"_s} << QString(32754, u'漢') << u"65508"_s;
}

// A send that fails adds no line of ours, keeps the text and says why.
void TestConversation::failedSendKeepsTheText()
{
    QFETCH(QStringList, octets);
    QFETCH(QString, typed);
    QFETCH(QString, reasonMentions);

    QUdpSocket peer;
    QVERIFY(peer.bind(kLoopback, 1001));
    frmVesk* w = open(false, octets);
    QVERIFY(w);
    w->txtSend->setText(typed);
    QTest::mouseClick(w->cmdSend, Qt::LeftButton);

    QCOMPARE(w->txtSend->text(), typed);
    QVERIFY(w->txtReceive->windowsText().isEmpty());
    const auto boxes = errorReports();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes[0]->text().contains(u"送信できませんでした"_s));
    QVERIFY2(boxes[0]->informativeText().contains(reasonMentions), qPrintable(boxes[0]->informativeText()));
    QCOMPARE(boxes[0]->parentWidget(), w); // over the window that failed, and gone with it
    QVERIFY(!peer.waitForReadyRead(200));
}

// The partner's computer answers that nothing listens at 1001: one notice beside
// the window for the run of messages, which were sent and stay as sent.
void TestConversation::nobodyAtThePartnersPortIsNoticed()
{
    if (underWine())
        QSKIP("Wine 8 hands no ICMP port unreachable to a UDP socket; Windows reports it as WSAECONNRESET");
    frmVesk* w = open(false);
    QVERIFY(w);
    for (const QString& text : {u"a"_s, u"b"_s, u"c"_s}) {
        type(w, text);
        QTest::mouseClick(w->cmdSend, Qt::LeftButton);
    }
    QTRY_COMPARE(errorReports().size(), 1);
    QMessageBox* notice = errorReports().constFirst();
    QCOMPARE(notice->objectName(), u"partnerAbsentNotice"_s);
    QCOMPARE(notice->parentWidget(), w);
    QVERIFY(!notice->isModal());
    QVERIFY2(notice->informativeText().contains(u"1001"_s), qPrintable(notice->informativeText()));
    QCOMPARE(w->txtReceive->windowsText(), u"自分>> c\r\n自分>> b\r\n自分>> a\r\n"_s);
}

void TestConversation::secondWindowOfTheSameRoleIsRefused()
{
    QVERIFY(open(false));
    frmMain* start = frmMain::showFresh();
    startConversation(start, {u"10"_s, u"0"_s, u"0"_s, u"2"_s}, false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    const auto boxes = errorReports();
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes[0]->text().contains(u"1002"_s), qPrintable(boxes[0]->text()));
    // Only the first window is open, and the start window keeps what was typed.
    int conversations = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        conversations += (qobject_cast<frmVesk*>(w) && w->isVisible()) ? 1 : 0;
    QCOMPARE(conversations, 1);
    QVERIFY(start->isVisible());
    QCOMPARE(start->txtIP[0]->text(), u"10"_s);
    QCOMPARE(start->txtIP[3]->text(), u"2"_s);

    // The user picks the other role and goes on.
    boxes[0]->close();
    QTest::mouseClick(start->optClient, Qt::LeftButton);
    QTest::mouseClick(start->cmdStart, Qt::LeftButton);
    QVERIFY(findWindow<frmVesk>(u"frmVeskB"_s));
}

void TestConversation::endThenStartBindsTheSamePortAgain()
{
    for (int round = 0; round < 3; ++round) {
        frmVesk* w = open(false);
        QVERIFY2(w, qPrintable(u"round %1"_s.arg(round)));
        QVERIFY(w->txtReceive->windowsText().isEmpty());
        // End, or closing through the frame, frees the port at once: before the
        // event loop runs again or any deferred deletion is sent.
        if (round == 1)
            w->close();
        else
            QTest::mouseClick(w->cmdEnd, Qt::LeftButton);
        QUdpSocket probe;
        QVERIFY2(probe.bind(QHostAddress::AnyIPv4, 1002, QAbstractSocket::DontShareAddress),
                 qPrintable(probe.errorString()));
        probe.close();
        for (QWidget* t : QApplication::topLevelWidgets())
            if (qobject_cast<frmMain*>(t))
                t->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(errorReports().isEmpty());
    }
}

QTEST_MAIN(TestConversation)
#include "tst_conversation.moc"
