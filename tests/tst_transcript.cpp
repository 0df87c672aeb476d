// The transcript: newest line on top, the caret rule, batches that must look
// exactly like lines put in one by one, the cap on its size, and plain copying.
#include "conversation/MessageRules.h"
#include "conversation/TranscriptBox.h"
#include "transcriptmodel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <functional>

using namespace Qt::StringLiterals;
using vesk::TranscriptBox;

Q_DECLARE_METATYPE(std::function<void(TranscriptBox&)>)

class TestTranscript : public QObject {
    Q_OBJECT
private slots:
    void newestOnTop_data();
    void newestOnTop();
    void batchLooksLikeOneByOne_data();
    void batchLooksLikeOneByOne();
    void caretCountsLineBreaksAsTwo_data();
    void caretCountsLineBreaksAsTwo();
    void nestedBatchesFlushOnceAtTheEnd();
    void newLineIsInViewEvenAfterScrolling();
    void lineRightAfterAPaintIsPaintedAtTheNextFrame();
    void capDropsTheOldestAndSaysSoOnce_data();
    void capDropsTheOldestAndSaysSoOnce();
    void capEdges_data();
    void capEdges();
    void noticeStaysOneAtTheBottom_data();
    void noticeStaysOneAtTheBottom();
    void copyIsPlainText();
};

void TestTranscript::newestOnTop_data()
{
    QTest::addColumn<QString>("typed"); // what the user typed into the box first
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<qint32>("caret");
    QTest::addColumn<int>("caretBlock");

    QTest::newRow("A, B, C sent in order")
        << QString() << QStringList{u"自分>> A\r\n"_s, u"自分>> B\r\n"_s, u"自分>> C\r\n"_s}
        << u"自分>> C\r\n自分>> B\r\n自分>> A\r\n"_s << qint32(8) << 1;
    QTest::newRow("typed text stays at the end")
        << u"xyz"_s << QStringList{u"相手>> hi\r\n"_s} << u"相手>> hi\r\nxyz"_s << qint32(9) << 1;
    QTest::newRow("typed lines stay below")
        << u"one\ntwo"_s << QStringList{u"相手>> a\r\n"_s, u"自分>> bb\r\n"_s}
        << u"自分>> bb\r\n相手>> a\r\none\r\ntwo"_s << qint32(9) << 1;
    QTest::newRow("empty message")
        << QString() << QStringList{u"相手>> \r\n"_s} << u"相手>> \r\n"_s << qint32(7) << 1;
    // A lone LF or CR is one character of the line, not a break: the caret
    // lands right after the line's own CR LF.
    QTest::newRow("own line with a lone LF and CR inside")
        << u"old"_s << QStringList{u"自分>> a\nb\rc\r\n"_s} << u"自分>> a\nb\rc\r\nold"_s << qint32(12) << 1;
    QTest::newRow("own line of two lines")
        << u"old"_s << QStringList{u"自分>> a\r\nb\r\n"_s} << u"自分>> a\r\nb\r\nold"_s << qint32(11) << 2;
}

void TestTranscript::newestOnTop()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, lines);
    QFETCH(QString, expected);
    QFETCH(qint32, caret);
    QFETCH(int, caretBlock);

    TranscriptBox box;
    box.setPlainText(typed);
    box.moveCursor(QTextCursor::End); // wherever the user left the caret
    for (const QString& l : lines)
        box.insertLine(l);
    QCOMPARE(box.windowsText(), expected);
    // Right after the new line's CR LF: the start of the line that was on top.
    QCOMPARE(box.caretPosition(), caret);
    QCOMPARE(box.textCursor().blockNumber(), caretBlock);
    QCOMPARE(box.textCursor().positionInBlock(), 0);
    QVERIFY(!box.textCursor().hasSelection());
}

void TestTranscript::batchLooksLikeOneByOne_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("count");
    QTest::newRow("one line") << QString() << 1;
    QTest::newRow("three lines") << QString() << 3;
    QTest::newRow("a burst over typed text") << u"typed\nby hand"_s << 500;
}

void TestTranscript::batchLooksLikeOneByOne()
{
    QFETCH(QString, typed);
    QFETCH(int, count);

    TranscriptBox single, batched;
    single.setPlainText(typed);
    batched.setPlainText(typed);
    batched.beginBatch();
    for (int i = 0; i < count; ++i) {
        const QString line = vesk::transcriptLine(vesk::kPartnerLabel, QString::number(i * 7919));
        single.insertLine(line);
        batched.insertLine(line);
    }
    QCOMPARE(batched.windowsText(), typed.isEmpty() ? QString() : typed.replace(u'\n', u"\r\n"_s));
    batched.endBatch();
    QCOMPARE(batched.windowsText(), single.windowsText());
    QCOMPARE(batched.caretPosition(), single.caretPosition());
    QCOMPARE(batched.document()->blockCount(), single.document()->blockCount());
}

void TestTranscript::caretCountsLineBreaksAsTwo_data()
{
    QTest::addColumn<qint32>("windowsPosition");
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("column");
    // Text "ab\r\n\r\ncde": blocks "ab", "", "cde".
    QTest::newRow("start") << 0 << 0 << 0;
    QTest::newRow("end of first line") << 2 << 0 << 2;
    QTest::newRow("empty line") << 4 << 1 << 0;
    QTest::newRow("third line") << 6 << 2 << 0;
    QTest::newRow("inside third line") << 8 << 2 << 2;
    QTest::newRow("end") << 9 << 2 << 3;
}

void TestTranscript::caretCountsLineBreaksAsTwo()
{
    QFETCH(qint32, windowsPosition);
    QFETCH(int, block);
    QFETCH(int, column);

    TranscriptBox box;
    box.setPlainText(u"ab\n\ncde"_s);
    QCOMPARE(box.windowsText(), u"ab\r\n\r\ncde"_s);
    box.setCaretPosition(windowsPosition);
    QCOMPARE(box.textCursor().blockNumber(), block);
    QCOMPARE(box.textCursor().positionInBlock(), column);
    QCOMPARE(box.caretPosition(), windowsPosition);
}

void TestTranscript::nestedBatchesFlushOnceAtTheEnd()
{
    TranscriptBox box;
    box.beginBatch();
    box.insertLine(u"1\r\n"_s);
    box.beginBatch();
    box.insertLine(u"2\r\n"_s);
    box.endBatch();
    QVERIFY(box.windowsText().isEmpty());
    box.endBatch();
    QCOMPARE(box.windowsText(), u"2\r\n1\r\n"_s);
    box.endBatch(); // unbalanced: harmless
    box.insertLine(u"3\r\n"_s);
    QCOMPARE(box.windowsText(), u"3\r\n2\r\n1\r\n"_s);
}

// Replacing an edit control's text scrolls it back to the top, so a new line is
// never hidden below or beside what the user scrolled to.
void TestTranscript::newLineIsInViewEvenAfterScrolling()
{
    TranscriptBox box;
    box.resize(249, 161);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    for (int i = 0; i < 50; ++i)
        box.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, QString(i * 3, u'x')));
    box.verticalScrollBar()->setValue(box.verticalScrollBar()->maximum());
    box.horizontalScrollBar()->setValue(box.horizontalScrollBar()->maximum());
    QVERIFY(box.verticalScrollBar()->value() > 0 && box.horizontalScrollBar()->value() > 0);

    box.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, u"new"_s));
    QCOMPARE(box.verticalScrollBar()->value(), 0);
    QCOMPARE(box.horizontalScrollBar()->value(), 0);
    QCOMPARE(box.cursorForPosition(QPoint(2, 2)).block().text(), u"相手>> new"_s);
}

// Under a flood the view is painted at most once a frame; what came in
// between is still painted, once the frame is over.
void TestTranscript::lineRightAfterAPaintIsPaintedAtTheNextFrame()
{
    TranscriptBox box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, u"1"_s));
    box.viewport()->repaint();
    struct : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override { return (paints += event->type() == QEvent::Paint, false); }
    } counter;
    box.viewport()->installEventFilter(&counter);
    box.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, u"2"_s));
    QTRY_VERIFY(counter.paints > 0);
    QVERIFY(box.viewport()->updatesEnabled());
}

void TestTranscript::capDropsTheOldestAndSaysSoOnce_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("batched");
    QTest::newRow("one by one") << QString() << false;
    QTest::newRow("in batches") << QString() << true;
    QTest::newRow("typed text at the bottom goes first") << u"typed by hand"_s << false;
}

// Newest lines first, as many as fit, then the notice, once, at the very bottom.
void TestTranscript::capDropsTheOldestAndSaysSoOnce()
{
    QFETCH(QString, typed);
    QFETCH(bool, batched);
    TranscriptBox box;
    box.setCapacity(400);
    const QString notice = box.droppedNotice();
    box.setPlainText(typed);
    QStringList lines; // oldest first
    for (int i = 0; i < 60; ++i) {
        lines << vesk::transcriptLine(vesk::kPartnerLabel, QString(i % 7 + 1, QChar(u'a' + i % 26)));
        if (batched && i % 5 == 0)
            box.beginBatch();
        box.insertLine(lines.last());
        if (batched && i % 5 == 4)
            box.endBatch();
        QVERIFY(box.windowsLength() <= box.capacity());
    }
    QString kept;
    for (qsizetype i = lines.size() - 1; i >= 0 && kept.size() + lines[i].size() + notice.size() <= 400; --i)
        kept += lines[i];
    QCOMPARE(box.windowsText(), kept + notice);
    QCOMPARE(box.windowsLength(), box.windowsText().size());
    QCOMPARE(box.caretPosition(), qint32(lines.last().size())); // the caret rule still holds
}

// Four lines of 100 units; the limits set just at or just below what they take
// (five lines: the last, empty one after the final CR LF counts).
void TestTranscript::capEdges_data()
{
    QTest::addColumn<qint64>("units");
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("trimmed");
    QTest::newRow("exactly at the unit limit") << qint64(400) << 100 << false;
    QTest::newRow("one unit below") << qint64(399) << 100 << true;
    QTest::newRow("two lines and the notice exactly at it") << qint64(-200) << 100 << true; // 200 + the notice
    QTest::newRow("exactly at the line limit") << qint64(10'000) << 5 << false;
    QTest::newRow("one line below") << qint64(10'000) << 4 << true;
}

// After every line, exactly what the model of the rule keeps.
void TestTranscript::capEdges()
{
    QFETCH(qint64, units);
    QFETCH(int, lines);
    QFETCH(bool, trimmed);
    TranscriptBox box;
    box.setCapacity(999);
    box.setLineCapacity(lines);
    if (units < 0)
        units = -units + box.droppedNotice().size();
    box.setCapacity(units);
    transcriptmodel::Model model;
    model.capacity = units;
    model.lineCapacity = lines;
    model.notice = box.droppedNotice();
    for (int i = 0; i < 4; ++i) {
        const QString line = vesk::transcriptLine(vesk::kPartnerLabel, QString(93, QChar(u'a' + i)));
        box.insertLine(line);
        model.arrive({line});
        QCOMPARE(box.windowsText(), model.text);
    }
    QCOMPARE(model.trimmed, trimmed);
    QVERIFY(box.windowsLength() <= units && box.document()->blockCount() <= lines);
}

using Edit = std::function<void(TranscriptBox&)>;

void TestTranscript::noticeStaysOneAtTheBottom_data()
{
    QTest::addColumn<Edit>("edit");
    const auto atNotice = [](TranscriptBox& box) { box.setTextCursor(QTextCursor(box.document()->lastBlock())); };
    QTest::newRow("Backspace at its start joins the oldest line to it") << Edit([=](TranscriptBox& box) {
        atNotice(box);
        QTest::keyClick(&box, Qt::Key_Backspace);
    });
    QTest::newRow("Enter inside it") << Edit([=](TranscriptBox& box) {
        atNotice(box);
        QTest::keyClick(&box, Qt::Key_Right);
        QTest::keyClick(&box, Qt::Key_Return);
    });
    QTest::newRow("Ctrl+A, Delete") << Edit([](TranscriptBox& box) {
        QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&box, Qt::Key_Delete);
    });
    QTest::newRow("typed after it") << Edit([](TranscriptBox& box) {
        box.moveCursor(QTextCursor::End);
        QTest::keyClicks(&box, "xyz");
    });
}

// Whatever the user does around the notice, the next line leaves exactly one
// at the very bottom, within the limits.
void TestTranscript::noticeStaysOneAtTheBottom()
{
    QFETCH(Edit, edit);
    TranscriptBox box;
    box.setCapacity(400);
    const QString notice = box.droppedNotice();
    for (int i = 0; i < 60; ++i)
        box.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, QString(i % 7 + 1, QChar(u'a' + i % 26))));
    QVERIFY(box.windowsText().endsWith(u"\r\n"_s + notice));
    edit(box);
    box.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, u"next"_s));
    const QString text = box.windowsText();
    QVERIFY2(text.endsWith(u"\r\n"_s + notice), qPrintable(text.right(80)));
    QCOMPARE(text.count(notice), 1);
    QVERIFY(box.windowsLength() <= box.capacity());
}

void TestTranscript::copyIsPlainText()
{
    TranscriptBox box;
    box.insertLine(u"相手>> a\r\n"_s);
    box.insertLine(u"自分>> b\r\n"_s);
    box.selectAll();
    box.copy();
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    QVERIFY(copied);
    // Plain text only: Qt's rich-text copy of a full transcript takes a minute.
    QCOMPARE(copied->formats(), QStringList{u"text/plain"_s});
    QCOMPARE(copied->text(), u"自分>> b\n相手>> a\n"_s);
}

QTEST_MAIN(TestTranscript)
#include "tst_transcript.moc"
