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

namespace {

// A control as the windows are specified: its rectangle in twips.
struct Control {
    const char* name;
    const char16_t* caption; // empty where it has none
    int left, top, width, height;
};

const QSize kStartTwips(2775, 1950);
const Control kStart[] = {
    {"lblIP", u"相手のIPアドレス：", 120, 120, 1455, 255},
    {"txtIP(0)", u"", 1200, 360, 375, 270},
    {"txtIP(1)", u"", 1560, 360, 375, 270},
    {"txtIP(2)", u"", 1920, 360, 375, 270},
    {"txtIP(3)", u"", 2280, 360, 375, 270},
    {"fraCheck", u"Client / Server", 120, 720, 1455, 1095},
    {"optServer", u"Server", 120, 360, 855, 180}, // inside fraCheck
    {"optClient", u"Client", 120, 720, 855, 180},
    {"cmdStart", u"決定(&S)", 1800, 840, 855, 375},
    {"cmdEnd", u"終了(&X)", 1800, 1320, 855, 375},
};

// Names of the Server role; the Client role adds "B" to each.
const QSize kConversationTwips(5025, 3540);
const Control kConversation[] = {
    {"lblSend", u"送信メッセージ", 120, 120, 1335, 255},
    {"txtSend", u"", 240, 360, 3735, 270},
    {"cmdSend", u"送信(&S)", 4080, 315, 855, 375},
    {"lblRecive", u"送受信メッセージ", 120, 720, 1455, 255},
    {"txtReceive", u"", 240, 960, 3735, 2415},
    {"cmdEnd", u"終了(&X)", 4080, 960, 855, 375},
};

// Device-independent pixels, 15 twips each (96 dpi); Qt scales them for other DPIs.
int inPixels(int twips) { return qRound(twips / 15.0); }
QSize inPixels(QSize twips) { return {inPixels(twips.width()), inPixels(twips.height())}; }
QRect inPixels(const Control& c)
{
    return {inPixels(c.left), inPixels(c.top), inPixels(c.width), inPixels(c.height)};
}

} // namespace

void TestLayout::startWindowLayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("pixels");
    QTest::addColumn<QString>("caption");
    for (const Control& c : kStart)
        QTest::newRow(c.name) << QString::fromLatin1(c.name) << inPixels(c) << QString::fromUtf16(c.caption);
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
    QCOMPARE(start.size(), inPixels(kStartTwips));
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
        for (const Control& c : kConversation) {
            const QString name = QString::fromLatin1(c.name) + (client ? u"B"_s : QString());
            QTest::addRow("%s", qPrintable(name)) << client << name << inPixels(c) << QString::fromUtf16(c.caption);
        }
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
    QCOMPARE(w.size(), inPixels(kConversationTwips));
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
    for (const Control& c : kStart)
        if (*c.caption)
            QTest::addRow("start %s", c.name) << false << QString::fromLatin1(c.name);
    for (const Control& c : kConversation)
        if (*c.caption)
            QTest::addRow("conversation %s", c.name) << true << QString::fromLatin1(c.name);
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
