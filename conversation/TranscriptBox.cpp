#include "conversation/TranscriptBox.h"

#include "conversation/TranscriptLayout.h"
#include "platform/error/VeskError.h"

#include <QApplication>
#include <QLocale>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <limits>
#include <utility>

namespace vesk {

namespace {

// Marks the notice line at the bottom, so that later trims keep it there.
constexpr int NoticeState = 0x56455346;

// Line breaks in a line as the document counts them: CR LF, or a lone CR or LF.
int lineBreaks(QStringView line)
{
    int breaks = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == u'\r' && i + 1 < line.size() && line[i + 1] == u'\n')
            ++i;
        if (line[i] == u'\r' || line[i] == u'\n')
            ++breaks;
    }
    return breaks;
}

} // namespace

TranscriptBox::TranscriptBox(QWidget* parent) : QPlainTextEdit(parent)
{
    auto* doc = new QTextDocument(this);
    m_layout = new TranscriptLayout(doc);
    doc->setDocumentLayout(m_layout);
    m_layout->setPaintDevice(viewport());
    doc->setDefaultFont(font());
    setDocument(doc);

    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true); // Tab moves on to End, as in the edit control

    // Qt blinks the caret by repainting where it believes the caret is: the
    // start of a long line. Repaint the line the caret is really on instead.
    m_longLineBlink = new QTimer(this);
    m_longLineBlink->setInterval(qMax(QApplication::cursorFlashTime() / 2, 100));
    connect(m_longLineBlink, &QTimer::timeout, this, [this] {
        const QRectF line = blockBoundingGeometry(textCursor().block()).translated(contentOffset());
        viewport()->update(QRect(0, int(line.top()), viewport()->width(), int(line.height()) + 1));
    });
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        if (TranscriptLayout::isDrawnInPieces(textCursor().block()))
            m_longLineBlink->start();
        else
            m_longLineBlink->stop();
    });
}

QString TranscriptBox::droppedNotice() const
{
    return QStringLiteral("――これより古い行は、受信欄の上限（%1 文字）を超えたので削除しました――")
        .arg(QLocale(QLocale::Japanese).toString(m_capacity));
}

void TranscriptBox::insertLine(const QString& line)
{
    if (m_batchDepth > 0) {
        m_pending.append(line);
        return;
    }
    insertNow({line});
}

void TranscriptBox::beginBatch()
{
    ++m_batchDepth;
}

void TranscriptBox::endBatch()
{
    if (m_batchDepth == 0 || --m_batchDepth > 0 || m_pending.isEmpty())
        return;
    const QStringList lines = std::exchange(m_pending, {});
    insertNow(lines);
}

void TranscriptBox::insertNow(const QStringList& lines)
{
    const QString& newest = lines.constLast();
    // The caret rule: replacing the text puts the caret at 0, and it then moves
    // on by the newest line's length, formed as a signed 32-bit sum.
    const qint32 caret = 0;
    if (newest.size() > std::numeric_limits<qint32>::max() - caret)
        throw Error(QStringLiteral("受信欄のカーソルを動かせませんでした"),
                    QStringLiteral("行が長すぎて位置が整数の範囲を超えました。"));

    // Newest first, as they will read; the last line break is the fresh block below.
    qsizetype total = 0;
    for (const QString& l : lines)
        total += l.size();
    QString text;
    text.reserve(total);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it)
        text.append(*it);
    bool endsInBreak = true;
    if (text.endsWith(u"\r\n"))
        text.chop(2);
    else if (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    else
        endsInBreak = false;

    // Replacing the text keeps no undo history, as in the edit control; it also
    // keeps a long transcript from holding every insertion twice.
    QTextDocument* doc = document();
    const int caretLine = textCursor().block().position();
    const int sizeBefore = doc->characterCount();
    doc->setUndoRedoEnabled(false);
    QTextCursor at(doc);
    at.beginEditBlock();
    // A fresh first block for the new lines: the line that was on top keeps its
    // own block, and with it the layout Qt already made of it.
    if (endsInBreak)
        at.insertBlock();
    at.setPosition(0);
    at.insertText(text); // each CR LF, or a lone CR or LF, becomes a line break
    at.endEditBlock();
    const int inserted = doc->characterCount() - sizeBefore;
    keepWithinCapacity();
    doc->setUndoRedoEnabled(true);

    // The view goes back to the top, where the new line is, as it does when an
    // edit control's text is replaced; the caret lands right after the new line.
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    QTextCursor after(doc);
    const QTextBlock next = doc->findBlockByNumber(lineBreaks(newest));
    after.setPosition(next.isValid() ? next.position() : doc->characterCount() - 1);
    m_layout->setGeometryOnly(true);
    setTextCursor(after);
    m_layout->setGeometryOnly(false);

    // Qt analysed the text of the line the caret was on to find it; where that
    // is a long line the caret has now left, let the analysis go, or every long
    // line the caret passed through would keep a second copy of its text.
    const QTextBlock left = doc->findBlock(caretLine + inserted);
    if (left.position() == caretLine + inserted && left != after.block() && TranscriptLayout::isDrawnInPieces(left))
        left.layout()->setText(QString());
}

void TranscriptBox::keepWithinCapacity()
{
    qint64 excess = windowsLength() - m_capacity;
    if (excess <= 0)
        return;
    QTextDocument* doc = document();
    QTextBlock notice = doc->lastBlock();
    if (notice.userState() != NoticeState)
        notice = QTextBlock();
    const bool announce = !notice.isValid() && !m_dropNoticeShown;
    if (announce)
        excess += droppedNotice().size(); // it takes the place of what goes
    // What a line takes in the text: its CR LF too, but for the last line.
    const auto units = [](const QTextBlock& b) { return qint64(b.length()) + (b.next().isValid() ? 1 : -1); };

    // The oldest lines are at the bottom (above the notice, once it is there);
    // the newest line always stays.
    QTextBlock first = notice.isValid() ? notice.previous() : doc->lastBlock();
    // Without a notice to keep, the break above the first line to go goes too.
    qint64 freed = units(first) + (notice.isValid() || announce ? 0 : 2);
    while (freed < excess && first.blockNumber() > 1) {
        first = first.previous();
        freed += units(first);
    }
    if (first.blockNumber() < 1)
        return;

    QTextCursor cut(doc);
    if (notice.isValid()) {
        cut.setPosition(first.position());
        cut.setPosition(notice.position(), QTextCursor::KeepAnchor);
        cut.removeSelectedText();
    } else if (announce) {
        cut.setPosition(first.position());
        cut.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cut.insertText(droppedNotice());
        cut.block().setUserState(NoticeState);
        m_dropNoticeShown = true;
    } else {
        cut.setPosition(first.position() - 1);
        cut.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cut.removeSelectedText();
    }
}

QString TranscriptBox::windowsText() const
{
    QString text = document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    return text;
}

qint64 TranscriptBox::windowsLength() const
{
    // Every block break is two units there (CR LF); the document counts a
    // final separator that the text does not hold.
    const QTextDocument* doc = document();
    return qint64(doc->characterCount()) - 1 + doc->blockCount() - 1;
}

qint32 TranscriptBox::caretPosition() const
{
    const QTextCursor c = textCursor();
    // Every block break before the caret is one unit in the document and two
    // (CR LF) in the edit control.
    return static_cast<qint32>(c.position() + c.blockNumber());
}

void TranscriptBox::setCaretPosition(qint32 position)
{
    QTextBlock block = document()->firstBlock();
    qint32 start = 0; // Windows position of the block's first character
    while (block.next().isValid() && position > start + block.length() - 1 + 1) {
        start += block.length() - 1 + 2;
        block = block.next();
    }
    const int offset = std::clamp(position - start, 0, block.length() - 1);
    QTextCursor c(block);
    c.setPosition(block.position() + offset);
    setTextCursor(c);
}

} // namespace vesk
