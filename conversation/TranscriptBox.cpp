#include "conversation/TranscriptBox.h"

#include "platform/udp/VeskError.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <limits>

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
    insertNow(line, line.size());
}

void TranscriptBox::beginBatch()
{
    ++m_batchDepth;
}

void TranscriptBox::endBatch()
{
    if (m_batchDepth == 0 || --m_batchDepth > 0 || m_pending.isEmpty())
        return;
    // Newest on top: the last line collected goes first.
    qsizetype total = 0;
    for (const QString& l : std::as_const(m_pending))
        total += l.size();
    QString text;
    text.reserve(total);
    for (auto it = m_pending.crbegin(); it != m_pending.crend(); ++it)
        text.append(*it);
    const qsizetype lastLength = m_pending.constLast().size();
    m_pending.clear();
    insertNow(text, lastLength);
}

void TranscriptBox::insertNow(const QString& text, qsizetype lastLineLength)
{
    // Replacing the text keeps no undo history, as in the edit control; it also
    // keeps a long transcript from holding every insertion twice.
    QTextDocument* doc = document();
    doc->setUndoRedoEnabled(false);
    QTextCursor at(doc);
    at.insertText(text); // CR LF becomes one block break
    doc->setUndoRedoEnabled(true);

    // The text was replaced, so the box reports its caret at 0.
    const qint32 caret = 0;
    if (lastLineLength > std::numeric_limits<qint32>::max() - caret)
        throw Error(QStringLiteral("受信欄のカーソルを動かせませんでした"),
                    QStringLiteral("行が長すぎて位置が整数の範囲を超えました。"));
    setCaretPosition(caret + static_cast<qint32>(lastLineLength));
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
