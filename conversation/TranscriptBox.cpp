#include "conversation/TranscriptBox.h"

#include "platform/error/VeskError.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <limits>
#include <utility>

namespace vesk {

TranscriptBox::TranscriptBox(QWidget* parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true); // Tab moves on to End, as in the edit control
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

    // Replacing the text keeps no undo history, as in the edit control; it also
    // keeps a long transcript from holding every insertion twice.
    QTextDocument* doc = document();
    doc->setUndoRedoEnabled(false);
    QTextCursor at(doc);
    at.beginEditBlock();
    if (lines.size() > 1) {
        // The older lines of a batch, newest of them first, then the newest line
        // in front of them all.
        qsizetype total = 0;
        for (qsizetype i = 0; i + 1 < lines.size(); ++i)
            total += lines[i].size();
        QString older;
        older.reserve(total);
        for (qsizetype i = lines.size() - 2; i >= 0; --i)
            older.append(lines[i]);
        at.insertText(older);
        at.setPosition(0);
    }
    at.insertText(newest); // each CR LF, or a lone CR or LF, becomes a line break
    at.endEditBlock();
    doc->setUndoRedoEnabled(true);

    // The view goes back to the top, where the new line is, as it does when an
    // edit control's text is replaced; the caret lands right after the new line.
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    setTextCursor(at);
}

QString TranscriptBox::windowsText() const
{
    QString text = document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    return text;
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
