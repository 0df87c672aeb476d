// The start window and the two conversation windows as a user meets them:
// layout, captions, keys, and how the windows hand over to each other.
#include "testsupport.h"

#include "conversation/TranscriptBox.h"
#include "platform/udp/Winsock.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace testsupport;

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup() { closeEverything(); }

    void startWindowLayout_data();
    void startWindowLayout();
    void conversationLayout_data();
    void conversationLayout();
    void captionsFitTheirRectangles_data();
    void captionsFitTheirRectangles();
    void startWindowTabOrder();
    void startOpensTheChosenRole_data();
    void startOpensTheChosenRole();
    void accessKeys();
    void enterInTheInputBoxSendsNothing();
    void sendKeysKeepMessagesApart();
    void enterPressesTheFocusedButton();
    void endReturnsToAFreshStartWindow();
    void closingAConversationEndsTheProgram();
    void endInTheStartWindowEndsTheProgram();

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

void TestWindows::startWindowLayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("pixels");
    QTest::addColumn<QString>("caption");
    // Rectangles in twips divided by 15.
    QTest::newRow("lblIP") << u"lblIP"_s << QRect(8, 8, 97, 17) << u"相手のIPアドレス："_s;
    QTest::newRow("txtIP(0)") << u"txtIP(0)"_s << QRect(80, 24, 25, 18) << QString();
    QTest::newRow("txtIP(1)") << u"txtIP(1)"_s << QRect(104, 24, 25, 18) << QString();
    QTest::newRow("txtIP(2)") << u"txtIP(2)"_s << QRect(128, 24, 25, 18) << QString();
    QTest::newRow("txtIP(3)") << u"txtIP(3)"_s << QRect(152, 24, 25, 18) << QString();
    QTest::newRow("fraCheck") << u"fraCheck"_s << QRect(8, 48, 97, 73) << u"Client / Server"_s;
    QTest::newRow("optServer") << u"optServer"_s << QRect(8, 24, 57, 12) << u"Server"_s;
    QTest::newRow("optClient") << u"optClient"_s << QRect(8, 48, 57, 12) << u"Client"_s;
    QTest::newRow("cmdStart") << u"cmdStart"_s << QRect(120, 56, 57, 25) << u"決定(&S)"_s;
    QTest::newRow("cmdEnd") << u"cmdEnd"_s << QRect(120, 88, 57, 25) << u"終了(&X)"_s;
}

static QString captionOf(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    return QString();
}

void TestWindows::startWindowLayout()
{
    QFETCH(QString, name);
    QFETCH(QRect, pixels);
    QFETCH(QString, caption);

    frmMain start;
    QCOMPARE(start.windowTitle(), u"Vesk -Main-"_s);
    QCOMPARE(start.size(), QSize(185, 130));
    auto* w = start.findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(w->geometry(), pixels);
    QCOMPARE(captionOf(w), caption);
    QVERIFY(start.optServer->isChecked());
    QVERIFY(!start.optClient->isChecked());
}

void TestWindows::conversationLayout_data()
{
    QTest::addColumn<bool>("client");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("pixels");
    QTest::addColumn<QString>("caption");
    for (bool client : {false, true}) {
        const QString b = client ? u"B"_s : QString();
        const auto row = [&](const char* base, QRect r, const QString& caption) {
            const QString name = QString::fromLatin1(base) + b;
            QTest::addRow("%s", qPrintable(name)) << client << name << r << caption;
        };
        row("lblSend", QRect(8, 8, 89, 17), u"送信メッセージ"_s);
        row("txtSend", QRect(16, 24, 249, 18), QString());
        row("cmdSend", QRect(272, 21, 57, 25), u"送信(&S)"_s);
        row("lblRecive", QRect(8, 48, 97, 17), u"送受信メッセージ"_s);
        row("txtReceive", QRect(16, 64, 249, 161), QString());
        row("cmdEnd", QRect(272, 64, 57, 25), u"終了(&X)"_s);
    }
}

void TestWindows::conversationLayout()
{
    QFETCH(bool, client);
    QFETCH(QString, name);
    QFETCH(QRect, pixels);
    QFETCH(QString, caption);

    frmVesk w(client ? vesk::Role::Client : vesk::Role::Server);
    QCOMPARE(w.objectName(), client ? u"frmVeskB"_s : u"frmVesk"_s);
    QCOMPARE(w.windowTitle(), client ? u"Vesk - Client -"_s : u"Vesk - Server -"_s);
    QCOMPARE(w.size(), QSize(335, 236));
    auto* c = w.findChild<QWidget*>(name);
    QVERIFY2(c, qPrintable(name));
    QCOMPARE(c->geometry(), pixels);
    QCOMPARE(captionOf(c), caption);
    QCOMPARE(w.Winsock1->objectName(), client ? u"Winsock1B"_s : u"Winsock1"_s);
    QVERIFY(!w.Winsock1->isBound()); // nothing is bound before the window loads

    // The transcript is an ordinary editable box with both scroll bars and no wrap.
    QVERIFY(!w.txtReceive->isReadOnly());
    QCOMPARE(w.txtReceive->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(w.txtReceive->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(w.txtReceive->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(!w.cmdSend->isDefault() && !w.cmdEnd->isDefault());
}

void TestWindows::captionsFitTheirRectangles_data()
{
    QTest::addColumn<bool>("conversation");
    QTest::addColumn<QString>("name");
    for (const char* n : {"lblIP", "fraCheck", "optServer", "optClient", "cmdStart", "cmdEnd"})
        QTest::addRow("start %s", n) << false << QString::fromLatin1(n);
    for (const char* n : {"lblSend", "cmdSend", "lblRecive", "cmdEnd"})
        QTest::addRow("conversation %s", n) << true << QString::fromLatin1(n);
}

// At 96 dpi every caption must show whole inside the rectangle it was given.
void TestWindows::captionsFitTheirRectangles()
{
    QFETCH(bool, conversation);
    QFETCH(QString, name);

    frmMain start;
    frmVesk talk(vesk::Role::Server);
    QWidget* window = conversation ? static_cast<QWidget*>(&talk) : &start;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* w = window->findChild<QWidget*>(name);
    QVERIFY(w);
    const QFontMetrics fm(w->font());
    QString text = captionOf(w);
    text.remove(u'&');
    QRect room = w->rect();
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = b->text();
        room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
    } else if (auto* r = qobject_cast<QRadioButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(r);
        opt.text = r->text();
        room = r->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, r);
    } else if (qobject_cast<QGroupBox*>(w)) {
        room.setWidth(room.width() - 16); // the frame's line and margins either side
    }
    QVERIFY2(fm.horizontalAdvance(text) <= room.width(),
             qPrintable(u"%1 needs %2 px, has %3"_s.arg(text).arg(fm.horizontalAdvance(text)).arg(room.width())));
    QVERIFY2(fm.height() <= w->height(),
             qPrintable(u"%1 is %2 px high, has %3"_s.arg(text).arg(fm.height()).arg(w->height())));
}

// Tab walks the boxes, then stops once in the option group, on the selected
// button, then Start and End; the arrow keys move the selection in the group.
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

// A fast typist's next keys after Alt+S belong to the next message.
void TestWindows::sendKeysKeepMessagesApart()
{
    frmVesk* w = openConversation(false);
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::keyClicks(w->txtSend, u"first"_s);
    QTest::keyClick(w, Qt::Key_S, Qt::AltModifier);
    QTest::keyClicks(w->txtSend, u"next"_s);
    QCOMPARE(w->txtReceive->windowsText(), u"自分>> first\r\n"_s);
    QCOMPARE(w->txtSend->text(), u"next"_s);
}

void TestWindows::enterPressesTheFocusedButton()
{
    frmVesk* w = openConversation(false);
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
    w->txtSend->setText(u"by Enter"_s);
    w->cmdSend->setFocus();
    QTest::keyClick(w->cmdSend, Qt::Key_Return);
    QCOMPARE(w->txtReceive->windowsText(), u"自分>> by Enter\r\n"_s);
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

void TestWindows::closingAConversationEndsTheProgram()
{
    frmVesk* w = openConversation(false);
    QVERIFY(w);
    QTimer::singleShot(0, w, [w] { w->close(); });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(42); });
    guard.start(5000);
    QCOMPARE(QApplication::exec(), 0);
}

void TestWindows::endInTheStartWindowEndsTheProgram()
{
    frmMain* start = frmMain::showFresh();
    QTimer::singleShot(0, start, [start] { QTest::mouseClick(start->cmdEnd, Qt::LeftButton); });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(42); });
    guard.start(5000);
    QCOMPARE(QApplication::exec(), 0);
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
