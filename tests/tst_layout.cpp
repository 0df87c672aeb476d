// The windows as they are drawn: every control's rectangle, caption and kind,
// both roles, and captions that fit the rectangles they were given.
#include "testsupport.h"

#include "conversation/TranscriptBox.h"
#include "platform/udp/Winsock.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>

using namespace Qt::StringLiterals;
using namespace testsupport;

class TestLayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { vesk::applyAppearance(*qApp); }

    void startWindowLayout_data();
    void startWindowLayout();
    void conversationLayout_data();
    void conversationLayout();
    void captionsFitTheirRectangles_data();
    void captionsFitTheirRectangles();
};

void TestLayout::startWindowLayout_data()
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

void TestLayout::startWindowLayout()
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

void TestLayout::conversationLayout_data()
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

void TestLayout::conversationLayout()
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

void TestLayout::captionsFitTheirRectangles_data()
{
    QTest::addColumn<bool>("conversation");
    QTest::addColumn<QString>("name");
    for (const char* n : {"lblIP", "fraCheck", "optServer", "optClient", "cmdStart", "cmdEnd"})
        QTest::addRow("start %s", n) << false << QString::fromLatin1(n);
    for (const char* n : {"lblSend", "cmdSend", "lblRecive", "cmdEnd"})
        QTest::addRow("conversation %s", n) << true << QString::fromLatin1(n);
}

// At 96 dpi every caption must show whole inside the rectangle it was given.
void TestLayout::captionsFitTheirRectangles()
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
QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
