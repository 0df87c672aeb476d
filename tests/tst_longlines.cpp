// Lines too long for Qt to lay out on every arrival: they must look, scroll and
// answer every user action exactly as in Qt's own box holding the same text.
#include "conversation/MessageRules.h"
#include "conversation/TranscriptBox.h"
#include "conversation/TranscriptLayout.h"

#include <QInputMethodEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <functional>

using namespace Qt::StringLiterals;
using vesk::TranscriptBox;

namespace {

// Kana and Latin letters in words of a few characters; `rare` (if any) at `at`.
QString longText(int length, int at = -1, const QString& rare = {})
{
    QString text;
    for (int i = 0; text.size() < length; ++i) {
        if (text.size() == at)
            text += rare;
        else if (i % 7 == 6)
            text += u' ';
        else
            text += QChar(i % 3 ? char16_t(u'ぁ' + i % 80) : char16_t(u'A' + i % 26));
    }
    return text;
}

bool show(QPlainTextEdit& box)
{
    box.resize(249, 161);
    box.show();
    return QTest::qWaitForWindowExposed(&box);
}

// The centre of line `block` in the view, `x` pixels in.
QPoint on(const QPlainTextEdit& box, int block, int x)
{
    const QTextBlock b = box.document()->findBlockByNumber(block);
    return QPoint(x, box.cursorRect(QTextCursor(b)).center().y());
}

// What the user does to line `line` of a box.
using Action = std::function<void(QPlainTextEdit&, int line)>;

} // namespace

Q_DECLARE_METATYPE(Action)

class TestLongLines : public QObject {
    Q_OBJECT
private slots:
    void behavesAsQtsOwnBox_data();
    void behavesAsQtsOwnBox();
    void looksAsQtsOwnBox_data();
    void looksAsQtsOwnBox();
    void rangeNarrowsWhenLongLinesGo();
};

void TestLongLines::behavesAsQtsOwnBox_data()
{
    QTest::addColumn<Action>("action");
    const auto click = [](QPlainTextEdit& box, int line, int x) {
        QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, on(box, line, x));
    };
    QTest::newRow("Ctrl+A, a click halfway, typing") << Action([=](QPlainTextEdit& box, int line) {
        QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
        click(box, line, 120);
        QTest::keyClicks(&box, u"Z"_s);
    });
    QTest::newRow("drag a selection") << Action([](QPlainTextEdit& box, int line) {
        QTest::mousePress(box.viewport(), Qt::LeftButton, {}, on(box, line, 40));
        QTest::mouseMove(box.viewport(), on(box, line, 190));
        QTest::mouseRelease(box.viewport(), Qt::LeftButton, {}, on(box, line, 190));
    });
    QTest::newRow("double-click, scrolled") << Action([](QPlainTextEdit& box, int line) {
        box.horizontalScrollBar()->setValue(700);
        QTest::mouseDClick(box.viewport(), Qt::LeftButton, {}, on(box, line, 131));
    });
    QTest::newRow("triple-click") << Action([](QPlainTextEdit& box, int line) {
        QTest::mouseDClick(box.viewport(), Qt::LeftButton, {}, on(box, line, 60));
        QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, on(box, line, 60));
    });
    QTest::newRow("Down, then Up into it") << Action([=](QPlainTextEdit& box, int line) {
        click(box, line - 1, 120);
        QTest::keyClick(&box, Qt::Key_Down);
        QTest::keyClick(&box, Qt::Key_Down);
        QTest::keyClick(&box, Qt::Key_Up);
        QTest::keyClicks(&box, u"Z"_s);
    });
    QTest::newRow("PageDown, PageUp") << Action([=](QPlainTextEdit& box, int line) {
        click(box, line, 100);
        QTest::keyClick(&box, Qt::Key_PageDown);
        QTest::keyClick(&box, Qt::Key_PageUp);
    });
    QTest::newRow("Shift and Ctrl+C leave the view alone") << Action([=](QPlainTextEdit& box, int line) {
        click(box, line, 100);
        box.horizontalScrollBar()->setValue(2000);
        QTest::keyClick(&box, Qt::Key_Shift);
        QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
    });
    QTest::newRow("input method composition") << Action([=](QPlainTextEdit& box, int line) {
        click(box, line, 120);
        QInputMethodEvent compose(u"にほん"_s, {});
        QCoreApplication::sendEvent(&box, &compose);
        box.setProperty("composing", box.cursorRect()); // where the candidate window opens
        QInputMethodEvent commit;
        commit.setCommitString(u"日本"_s);
        QCoreApplication::sendEvent(&box, &commit);
    });
    QTest::newRow("text dropped halfway") << Action([](QPlainTextEdit& box, int line) {
        QMimeData dropped;
        dropped.setText(u"ドロップ"_s);
        const QPointF at = on(box, line, 120);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &dropped, Qt::LeftButton, {});
        QCoreApplication::sendEvent(box.viewport(), &enter);
        QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &dropped, Qt::LeftButton, {});
        QCoreApplication::sendEvent(box.viewport(), &move);
        QDropEvent drop(at, Qt::CopyAction, &dropped, Qt::LeftButton, {});
        QCoreApplication::sendEvent(box.viewport(), &drop);
    });
    QTest::newRow("a screen reader moves the caret, then Down") << Action([](QPlainTextEdit& box, int line) {
        QTextCursor c(box.document()->findBlockByNumber(line));
        c.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, 40);
        box.setTextCursor(c);
        QTest::keyClick(&box, Qt::Key_Down);
    });
}

// Each action gives the same text, caret, selection and view as in Qt's own
// box. The long line sits among short ones, and the oldest lines are long too.
void TestLongLines::behavesAsQtsOwnBox()
{
    QFETCH(Action, action);
    TranscriptBox ours;
    for (int i = 0; i < 6; ++i)
        ours.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, longText(2000 + i)));
    ours.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, u"short"_s));
    ours.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, longText(3000)));
    for (int i = 0; i < 3; ++i)
        ours.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, u"short %1"_s.arg(i)));
    QPlainTextEdit qts;
    qts.setFont(ours.font());
    qts.setLineWrapMode(QPlainTextEdit::NoWrap);
    qts.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    qts.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    qts.setPlainText(ours.document()->toPlainText());
    QVERIFY(show(ours) && show(qts));
    for (QPlainTextEdit* box : {static_cast<QPlainTextEdit*>(&ours), &qts})
        box->setTextCursor(QTextCursor(box->document()->findBlockByNumber(1)));
    QCoreApplication::processEvents();
    QCOMPARE(ours.verticalScrollBar()->maximum(), qts.verticalScrollBar()->maximum());

    const int line = 3;
    QVERIFY(vesk::TranscriptLayout::isDrawnLazily(ours.document()->findBlockByNumber(line)));
    for (QPlainTextEdit* box : {static_cast<QPlainTextEdit*>(&ours), &qts}) {
        box->horizontalScrollBar()->setValue(0);
        box->verticalScrollBar()->setValue(0);
        action(*box, line);
    }
    QCOMPARE(ours.document()->toPlainText(), qts.document()->toPlainText());
    QCOMPARE(ours.textCursor().position(), qts.textCursor().position());
    QCOMPARE(ours.textCursor().anchor(), qts.textCursor().anchor());
    QCOMPARE(ours.horizontalScrollBar()->value(), qts.horizontalScrollBar()->value());
    QCOMPARE(ours.verticalScrollBar()->value(), qts.verticalScrollBar()->value());
    QCOMPARE(ours.cursorRect(), qts.cursorRect());
    QCOMPARE(ours.property("composing"), qts.property("composing"));
    QCOMPARE(ours.horizontalScrollBar()->maximum(), qts.horizontalScrollBar()->maximum());
    // Qt's layout of a long line goes once the caret has left it.
    ours.setTextCursor(QTextCursor(ours.document()));
    QVERIFY(vesk::TranscriptLayout::isDrawnLazily(ours.document()->findBlockByNumber(line)));
}

void TestLongLines::looksAsQtsOwnBox_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("scrolledTo"); // pixels
    const int label = 4; // "相手>> " before the text, less one
    QTest::newRow("start of the line") << longText(3000) << 0;
    QTest::newRow("scrolled right") << longText(3000) << 700;
    QTest::newRow("exactly as long as a short line may be")
        << longText(vesk::TranscriptLayout::LongLine - label - 1) << 300;
    QTest::newRow("one longer") << longText(vesk::TranscriptLayout::LongLine - label) << 300;
    // A character outside the basic plane across the edge of the first piece.
    QTest::newRow("a rare kanji across a piece's edge") << longText(3000, 63 - label - 1, u"𠀋"_s) << 0;
    QTest::newRow("an emoji across a piece's edge") << longText(3000, 63 - label - 1, u"😀"_s) << 0;
}

// Drawn lazily, a line shows the same pixels as Qt's layout of it, caret
// included, and its width is the horizontal range.
void TestLongLines::looksAsQtsOwnBox()
{
    QFETCH(QString, text);
    QFETCH(int, scrolledTo);
    TranscriptBox ours, laidOut;
    for (TranscriptBox* box : {&ours, &laidOut}) {
        box->insertLine(vesk::transcriptLine(vesk::kPartnerLabel, text.left(40)));
        box->insertLine(vesk::transcriptLine(vesk::kPartnerLabel, text));
        box->insertLine(vesk::transcriptLine(vesk::kPartnerLabel, u"short"_s));
        QVERIFY(show(*box));
    }
    // The insertion left the caret at the long line's start; moved there by
    // hand it gives the line Qt's layout.
    laidOut.setCaretPosition(ours.caretPosition() + 1);
    laidOut.setCaretPosition(ours.caretPosition());
    QVERIFY(!vesk::TranscriptLayout::isDrawnLazily(laidOut.document()->findBlockByNumber(1)));
    QCOMPARE(vesk::TranscriptLayout::isDrawnLazily(ours.document()->findBlockByNumber(1)),
             text.size() + 5 > vesk::TranscriptLayout::LongLine);
    QCoreApplication::processEvents();
    QCOMPARE(ours.horizontalScrollBar()->maximum(), laidOut.horizontalScrollBar()->maximum());
    for (TranscriptBox* box : {&ours, &laidOut})
        box->horizontalScrollBar()->setValue(scrolledTo);
    QCOMPARE(ours.viewport()->grab().toImage(), laidOut.viewport()->grab().toImage());
}

// Once the long lines have gone at the bottom, the range is that of what is
// left, as in Qt's box holding the same text; opened or not, a line counts.
void TestLongLines::rangeNarrowsWhenLongLinesGo()
{
    TranscriptBox ours;
    ours.setCapacity(5000);
    QVERIFY(show(ours));
    ours.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, longText(3000)));
    ours.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, u"short"_s));
    ours.setCaretPosition(20); // opens the long line
    for (int i = 0; i < 40; ++i)
        ours.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, u"short line %1"_s.arg(i)));
    ours.insertLine(vesk::transcriptLine(vesk::kPartnerLabel, longText(1200)));
    ours.setCaretPosition(20);
    QVERIFY(!ours.windowsText().contains(longText(3000)));
    QPlainTextEdit qts;
    qts.setFont(ours.font());
    qts.setLineWrapMode(QPlainTextEdit::NoWrap);
    qts.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    qts.setPlainText(ours.document()->toPlainText());
    QVERIFY(show(qts));
    QCoreApplication::processEvents();
    QCOMPARE(ours.horizontalScrollBar()->maximum(), qts.horizontalScrollBar()->maximum());
}

QTEST_MAIN(TestLongLines)
#include "tst_longlines.moc"
