// The transcript: newest line on top, the caret rule, batches that must look
// exactly like lines put in one by one, the cap on its size, and plain copying.
#include "conversation/MessageRules.h"
#include "conversation/TranscriptBox.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

using namespace Qt::StringLiterals;
using vesk::TranscriptBox;

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
    void capDropsTheOldestAndSaysSoOnce_data();
    void capDropsTheOldestAndSaysSoOnce();
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
