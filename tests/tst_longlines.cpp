// Lines too long for Qt to lay out, drawn a piece at a time: they must look and
// answer clicks, double-clicks and keys as Qt's own layout of the same
// characters does, and the caret must be able to go anywhere among them.
#include "conversation/MessageRules.h"
#include "conversation/TranscriptBox.h"
#include "conversation/TranscriptLayout.h"

#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <functional>

using namespace Qt::StringLiterals;
using vesk::TranscriptBox;

namespace {

// Kana and Latin letters in words of a few characters.
QString longText(int length, int emojiAt = -1)
{
    QString text;
    for (int i = 0; text.size() < length; ++i) {
        if (text.size() == emojiAt)
            text += u"😀"_s;
        else if (i % 7 == 6)
            text += u' ';
        else
            text += QChar(i % 3 ? char16_t(u'ぁ' + i % 80) : char16_t(u'A' + i % 26));
    }
    return text;
}

bool show(TranscriptBox& box)
{
    box.resize(249, 161);
    box.show();
    return QTest::qWaitForWindowExposed(&box);
}

bool inView(const TranscriptBox& box)
{
    const QRect caret = box.cursorRect();
    return caret.top() >= 0 && caret.bottom() <= box.viewport()->height();
}

// Puts the caret somehow on the long line, given its block number.
using PutCaret = std::function<void(TranscriptBox&, int longLine)>;
// What must be in view afterwards.
using Seen = std::function<bool(const TranscriptBox&)>;

} // namespace

Q_DECLARE_METATYPE(PutCaret)
Q_DECLARE_METATYPE(Seen)

class TestLongLines : public QObject {
    Q_OBJECT
private slots:
    void looksAndClicksLikeAShortLine_data();
    void looksAndClicksLikeAShortLine();
    void caretGoesIntoALongLineOutOfView_data();
    void caretGoesIntoALongLineOutOfView();
};

void TestLongLines::looksAndClicksLikeAShortLine_data()
{
    QTest::addColumn<int>("emojiAt"); // -1: none
    QTest::addColumn<int>("scrolledTo"); // pixels
    QTest::newRow("start of the line") << -1 << 0;
    QTest::newRow("scrolled right") << -1 << 700;
    QTest::newRow("an emoji across a piece's edge") << 63 << 0;
}

void TestLongLines::looksAndClicksLikeAShortLine()
{
    QFETCH(int, emojiAt);
    QFETCH(int, scrolledTo);
    const QString text = longText(3000, emojiAt);
    TranscriptBox longBox, shortBox;
    longBox.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, text));
    shortBox.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, text.left(vesk::TranscriptLayout::LongLine - 100)));
    QVERIFY(show(longBox) && show(shortBox));
    QCoreApplication::processEvents(); // the scroll ranges follow what was drawn
    for (TranscriptBox* box : {&longBox, &shortBox}) {
        box->horizontalScrollBar()->setValue(scrolledTo);
        QCOMPARE(box->horizontalScrollBar()->value(), scrolledTo);
    }
    QVERIFY(longBox.document()->firstBlock().layout()->lineCount() == 0); // never laid out whole
    QCOMPARE(longBox.viewport()->grab().toImage(), shortBox.viewport()->grab().toImage());

    for (const int x : {30, 131, 200}) {
        for (TranscriptBox* box : {&longBox, &shortBox})
            QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, QPoint(x, 8));
        QCOMPARE(longBox.textCursor().position(), shortBox.textCursor().position());
        QCOMPARE(longBox.horizontalScrollBar()->value(), scrolledTo);
        for (TranscriptBox* box : {&longBox, &shortBox})
            QTest::mouseDClick(box->viewport(), Qt::LeftButton, {}, QPoint(x, 8));
        QCOMPARE(longBox.textCursor().selectedText(), shortBox.textCursor().selectedText());
    }
}

void TestLongLines::caretGoesIntoALongLineOutOfView_data()
{
    QTest::addColumn<PutCaret>("putCaret");
    QTest::addColumn<Seen>("seen");
    QTest::newRow("Down key onto a long line below the view")
        << PutCaret([](TranscriptBox& box, int longLine) {
               while (box.textCursor().blockNumber() < longLine)
                   QTest::keyClick(box.viewport(), Qt::Key_Down);
           })
        << Seen(inView);
    QTest::newRow("click on a long line cut off at the bottom")
        << PutCaret([](TranscriptBox& box, int longLine) {
               const QTextDocument* doc = box.document();
               const qreal lineHeight = doc->documentLayout()->blockBoundingRect(doc->firstBlock()).height();
               const int shown = int(box.viewport()->height() / lineHeight); // whole lines in view
               box.verticalScrollBar()->setValue(longLine - shown);
               QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, QPoint(60, box.viewport()->height() - 2));
           })
        << Seen(inView);
    QTest::newRow("own message of many lines on a long top line")
        << PutCaret([](TranscriptBox& box, int) {
               box.insertLine(vesk::transcriptLine(vesk::kOwnLabel, longText(1500)));
               box.insertLine(vesk::transcriptLine(vesk::kOwnLabel, QString(30, u'\n')));
           })
        << Seen([](const TranscriptBox& box) { return box.verticalScrollBar()->value() == 0; }); // the top
}

// Qt scrolls to a caret through the first row of its line, which a long line
// does not have: every way of putting the caret there must work. Keys and the
// pointer bring the line into view; a new line leaves the view on top, as it
// always does, wherever the caret rule puts the caret.
void TestLongLines::caretGoesIntoALongLineOutOfView()
{
    QFETCH(PutCaret, putCaret);
    QFETCH(Seen, seen);
    TranscriptBox box;
    box.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, longText(3000)));
    for (int i = 0; i < 20; ++i)
        box.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, u"short %1"_s.arg(i)));
    QVERIFY(show(box));
    putCaret(box, box.document()->blockCount() - 2);
    QVERIFY2(seen(box), qPrintable(u"caret at %1, scrolled to %2"_s.arg(box.cursorRect().top())
                                       .arg(box.verticalScrollBar()->value())));
}

QTEST_MAIN(TestLongLines)
#include "tst_longlines.moc"
