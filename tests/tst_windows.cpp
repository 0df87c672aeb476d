// The start window and the two conversation windows as a user meets them:
// keys, focus, and how the windows hand over to each other.
#include "testsupport.h"

#include "conversation/TranscriptBox.h"
#include "platform/udp/Winsock.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <functional>

using namespace Qt::StringLiterals;
using namespace testsupport;

namespace {
// Opens the window a row starts from; does something to a window.
using Open = std::function<QWidget*()>;
using Act = std::function<void(QWidget*)>;
} // namespace

Q_DECLARE_METATYPE(Open)
Q_DECLARE_METATYPE(Act)

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup() { closeEverything(); }

    void startWindowTabOrder();
    void startOpensTheChosenRole_data();
    void startOpensTheChosenRole();
    void accessKeys();
    void enterInTheInputBoxSendsNothing();
    void sendKeysKeepMessagesApart_data();
    void sendKeysKeepMessagesApart();
    void endReturnsToAFreshStartWindow();
    void leavingTheLastWindowEndsTheProgram_data();
    void leavingTheLastWindowEndsTheProgram();

private:
    frmVesk* openConversation(bool client);
};

void TestWindows::initTestCase()
{
    vesk::applyAppearance(*qApp);
}

frmVesk* TestWindows::openConversation(bool client)
{
    frmMain* start = frmMain::showFresh();
    startConversation(start, {u"127"_s, u"0"_s, u"0"_s, u"1"_s}, client);
    auto* w = findWindow<frmVesk>(client ? u"frmVeskB"_s : u"frmVesk"_s);
    if (w)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return w;
}

void TestWindows::startWindowTabOrder()
{
    frmMain* start = frmMain::showFresh();
    QVERIFY(QTest::qWaitForWindowActive(start));
    const auto tabFrom = [](Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, mods);
        return QApplication::focusWidget()->objectName();
    };
    QCOMPARE(QApplication::focusWidget(), start->txtIP[0]);
    QCOMPARE(tabFrom(), u"txtIP(1)"_s);
    QCOMPARE(tabFrom(), u"txtIP(2)"_s);
    QCOMPARE(tabFrom(), u"txtIP(3)"_s);
    QCOMPARE(tabFrom(), u"optServer"_s);
    QCOMPARE(tabFrom(), u"cmdStart"_s);
    QCOMPARE(tabFrom(), u"cmdEnd"_s);

    start->optServer->setFocus();
    QTest::keyClick(start->optServer, Qt::Key_Down);
    QVERIFY(start->optClient->isChecked());
    QCOMPARE(QApplication::focusWidget(), start->optClient);
    QCOMPARE(tabFrom(), u"cmdStart"_s);
    QCOMPARE(tabFrom(Qt::ShiftModifier), u"optClient"_s);
    QCOMPARE(tabFrom(Qt::ShiftModifier), u"txtIP(3)"_s);
}

void TestWindows::startOpensTheChosenRole_data()
{
    QTest::addColumn<bool>("client");
    QTest::addColumn<QStringList>("octets");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("remoteHost");
    QTest::addColumn<int>("remotePort");
    QTest::addColumn<int>("localPort");
    QTest::newRow("untouched options: Server")
        << false << QStringList{u"192"_s, u"168"_s, u"1"_s, u"20"_s} << u"frmVesk"_s
        << u"Vesk - Server -"_s << u"192.168.1.20"_s << 1001 << 1002;
    QTest::newRow("Client") << true << QStringList{u"127"_s, u"0"_s, u"0"_s, u"1"_s} << u"frmVeskB"_s
                            << u"Vesk - Client -"_s << u"127.0.0.1"_s << 1002 << 1001;
    QTest::newRow("empty boxes") << false << QStringList{} << u"frmVesk"_s << u"Vesk - Server -"_s
                                 << u"..."_s << 1001 << 1002;
    QTest::newRow("kept verbatim") << true << QStringList{u" 10"_s, u"010"_s, u"x"_s, u""_s}
                                   << u"frmVeskB"_s << u"Vesk - Client -"_s << u" 10.010.x."_s << 1002
                                   << 1001;
}

void TestWindows::startOpensTheChosenRole()
{
    QFETCH(bool, client);
    QFETCH(QStringList, octets);
    QFETCH(QString, window);
    QFETCH(QString, caption);
    QFETCH(QString, remoteHost);
    QFETCH(int, remotePort);
    QFETCH(int, localPort);

    frmMain* start = frmMain::showFresh();
    QPointer<frmMain> startAlive(start);
    startConversation(start, octets, client);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    auto* w = findWindow<frmVesk>(window);
    QVERIFY(w);
    QVERIFY(startAlive.isNull()); // the start window unloaded itself
    QCOMPARE(w->windowTitle(), caption);
    QCOMPARE(w->Winsock1->RemoteHost(), remoteHost);
    QCOMPARE(w->Winsock1->RemotePort(), remotePort);
    QCOMPARE(w->Winsock1->LocalPort(), localPort);
    QCOMPARE(w->Winsock1->Protocol(), qint32(vesk::Winsock::sckUDPProtocol));
    QVERIFY(QTest::qWaitForWindowActive(w));
    QCOMPARE(QApplication::focusWidget(), w->txtSend); // the input box has the focus
    QCOMPARE(w->txtSend->objectName(), client ? u"txtSendB"_s : u"txtSend"_s);
    QVERIFY(errorReports().isEmpty());
}

void TestWindows::accessKeys()
{
    // Alt+S presses Start in the start window, and Send in the conversation window.
    frmMain* start = frmMain::showFresh();
    QVERIFY(QTest::qWaitForWindowActive(start));
    QTest::keyClicks(start->txtIP[0], u"127"_s);
    QTest::keyClick(start, Qt::Key_S, Qt::AltModifier);
    frmVesk* w = nullptr;
    QTRY_VERIFY((w = findWindow<frmVesk>(u"frmVesk"_s)));
    QVERIFY(QTest::qWaitForWindowActive(w));

    // A held key repeats as the platform delivers it: press events marked as
    // repeats. They press nothing, not even in the window the first press opened.
    const auto altS = [w](bool repeat) {
        qt_sendShortcutOverrideEvent(w->txtSend, 0, Qt::Key_S, Qt::AltModifier, u"s"_s, repeat);
    };
    int clicked = 0;
    connect(w->cmdSend, &QPushButton::clicked, this, [&] { ++clicked; });
    for (int i = 0; i < 5; ++i)
        altS(true);
    QCOMPARE(clicked, 0);
    QTest::keyClick(w, Qt::Key_S, Qt::AltModifier);
    QCOMPARE(clicked, 1); // at once, not after an animation
    QCOMPARE(errorReports().size(), 1); // "127..." cannot be sent to
    errorReports().constFirst()->close();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    for (int i = 0; i < 5; ++i)
        altS(true);
    QCOMPARE(clicked, 1);
    altS(false); // a second press is a second click
    QCOMPARE(clicked, 2);
    errorReports().constFirst()->close();

    // Alt+X presses End: back to a start window.
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::keyClick(w, Qt::Key_X, Qt::AltModifier);
    QTRY_VERIFY(!findWindow<frmVesk>(u"frmVesk"_s));
    QVERIFY(findWindow<frmMain>(u"frmMain"_s));
}

void TestWindows::enterInTheInputBoxSendsNothing()
{
    frmVesk* w = openConversation(false);
    QVERIFY(w);
    int pressed = 0;
    connect(w->cmdSend, &QPushButton::pressed, this, [&] { ++pressed; });
    QTest::keyClicks(w->txtSend, u"hello"_s);
    QTest::keyClick(w->txtSend, Qt::Key_Return);
    QTest::keyClick(w->txtSend, Qt::Key_Enter);
    QCOMPARE(pressed, 0);
    QCOMPARE(w->txtSend->text(), u"hello"_s);
    QVERIFY(w->txtReceive->windowsText().isEmpty());
}

void TestWindows::sendKeysKeepMessagesApart_data()
{
    QTest::addColumn<Act>("send");
    QTest::newRow("Alt+S") << Act([](QWidget* w) { QTest::keyClick(w, Qt::Key_S, Qt::AltModifier); });
    QTest::newRow("Enter on the focused Send button") << Act([](QWidget* w) {
        auto* send = w->findChild<QPushButton*>(u"cmdSend"_s);
        send->setFocus();
        QTest::keyClick(send, Qt::Key_Return);
    });
}

// A fast typist's next keys after a send belong to the next message.
void TestWindows::sendKeysKeepMessagesApart()
{
    QFETCH(Act, send);
    frmVesk* w = openConversation(false);
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::keyClicks(w->txtSend, u"first"_s);
    send(w);
    QTest::keyClicks(w->txtSend, u"next"_s);
    QCOMPARE(w->txtReceive->windowsText(), u"自分>> first\r\n"_s);
    QCOMPARE(w->txtSend->text(), u"next"_s);
}

// With the real event loop running: End in a conversation window brings back a
// fresh start window, and the program keeps running.
void TestWindows::endReturnsToAFreshStartWindow()
{
    frmVesk* w = openConversation(true);
    QVERIFY(w);
    bool checked = false;
    QTimer::singleShot(0, w, [w] { QTest::mouseClick(w->cmdEnd, Qt::LeftButton); });
    QTimer::singleShot(200, qApp, [&] {
        frmMain* start = findWindow<frmMain>(u"frmMain"_s);
        checked = start && !findWindow<frmVesk>(u"frmVeskB"_s);
        for (auto* box : start->txtIP)
            checked = checked && box->text().isEmpty();
        checked = checked && start->optServer->isChecked() && !start->optClient->isChecked();
        QCoreApplication::exit(42); // still running: this timer had to end it
    });
    QCOMPARE(QApplication::exec(), 42);
    QVERIFY(checked);
}

void TestWindows::leavingTheLastWindowEndsTheProgram_data()
{
    QTest::addColumn<Open>("open");
    QTest::addColumn<Act>("leave");
    QTest::newRow("conversation closed through its frame")
        << Open([this] { return openConversation(false); }) << Act([](QWidget* w) { w->close(); });
    QTest::newRow("End in the start window") << Open([] { return frmMain::showFresh(); }) << Act([](QWidget* w) {
        QTest::mouseClick(w->findChild<QPushButton*>(u"cmdEnd"_s), Qt::LeftButton);
    });
}

void TestWindows::leavingTheLastWindowEndsTheProgram()
{
    QFETCH(Open, open);
    QFETCH(Act, leave);
    QWidget* w = open();
    QVERIFY(w);
    QTimer::singleShot(0, w, [w, leave] { leave(w); });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(42); });
    guard.start(5000);
    QCOMPARE(QApplication::exec(), 0);
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
