// What the transcript box shows and how the pointer and the keys move in it,
// where long lines need more than QPlainTextEdit does by itself.
#include "conversation/TranscriptBox.h"

#include "conversation/TranscriptLayout.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>

namespace vesk {

QMimeData* TranscriptBox::createMimeDataFromSelection() const
{
    // Plain text straight from the document: Qt's own copy builds a rich-text
    // document of the selection first, which for a full transcript takes a minute.
    auto* mime = new QMimeData;
    QString text = textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    mime->setText(text);
    return mime;
}

void TranscriptBox::paintEvent(QPaintEvent* event)
{
    QPlainTextEdit::paintEvent(event);
    // QPlainTextEdit leaves the long lines blank: draw the pieces of them in view.
    const QRect area = event->rect();
    QPainter painter(viewport());
    painter.setClipRect(area);
    const QAbstractTextDocumentLayout::PaintContext context = getPaintContext();
    painter.setPen(context.palette.text().color());
    QPointF offset = contentOffset();
    for (QTextBlock block = firstVisibleBlock(); block.isValid() && offset.y() <= area.bottom();
         block = block.next()) {
        const QRectF r = blockBoundingRect(block).translated(offset);
        if (r.bottom() >= area.top() && TranscriptLayout::isDrawnInPieces(block))
            m_layout->drawLongLine(&painter, block, r.topLeft(), area.left(), area.right() + 1, context,
                                   cursorWidth());
        offset.ry() += r.height();
    }
}

void TranscriptBox::keyPressEvent(QKeyEvent* event)
{
    QPlainTextEdit::keyPressEvent(event);
    showCaretInLongLine();
}

void TranscriptBox::inputMethodEvent(QInputMethodEvent* event)
{
    QPlainTextEdit::inputMethodEvent(event);
    showCaretInLongLine();
}

void TranscriptBox::mousePressEvent(QMouseEvent* event)
{
    const int scrolled = horizontalScrollBar()->value();
    QPlainTextEdit::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        placeCaretInLongLine(event->position(), scrolled, event->modifiers() & Qt::ShiftModifier);
}

void TranscriptBox::mouseMoveEvent(QMouseEvent* event)
{
    const int scrolled = horizontalScrollBar()->value();
    QPlainTextEdit::mouseMoveEvent(event);
    if (event->buttons() & Qt::LeftButton)
        placeCaretInLongLine(event->position(), scrolled, true);
}

void TranscriptBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    const int scrolled = horizontalScrollBar()->value();
    QPlainTextEdit::mouseDoubleClickEvent(event);
    const int position = longLinePositionAt(event->position(), scrolled);
    if (event->button() != Qt::LeftButton || position < 0)
        return;
    QTextCursor word(document());
    word.setPosition(position);
    word.select(QTextCursor::WordUnderCursor);
    setTextCursor(word);
    horizontalScrollBar()->setValue(scrolled);
}

// QPlainTextEdit finds no characters in a line it has not laid out: it puts
// the caret at the line's start and scrolls there. These find the position
// under the pointer in such a line, in the view as it was (`scrolled`), and
// put the caret there; -1 where the pointer is not over one.
int TranscriptBox::longLinePositionAt(QPointF at, int scrolled) const
{
    const QTextBlock block = cursorForPosition(at.toPoint()).block();
    if (!TranscriptLayout::isDrawnInPieces(block))
        return -1;
    return block.position() + m_layout->positionAt(block, at.x() + scrolled);
}

void TranscriptBox::placeCaretInLongLine(QPointF at, int scrolled, bool extend)
{
    const int position = longLinePositionAt(at, scrolled);
    if (position < 0)
        return;
    QTextCursor c = textCursor();
    c.setPosition(position, extend ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
    setTextCursor(c);
    horizontalScrollBar()->setValue(scrolled);
    showCaretInLongLine(); // a line cut off at the bottom comes into view
}

// Qt cannot bring a caret in a long line into view (it knows no row of the
// line to scroll to), so this does: the line up or down into the view, then
// across to the caret.
void TranscriptBox::showCaretInLongLine()
{
    const QTextCursor c = textCursor();
    const QTextBlock block = c.block();
    if (!TranscriptLayout::isDrawnInPieces(block))
        return;
    // Without wrapping, the vertical scroll bar counts lines, one per block.
    QScrollBar* down = verticalScrollBar();
    const QRectF line = blockBoundingGeometry(block).translated(contentOffset());
    if (line.top() < 0)
        down->setValue(block.blockNumber());
    else if (line.bottom() > viewport()->height())
        down->setValue(down->value() + int((line.bottom() - viewport()->height()) / line.height()) + 1);
    const qreal x = m_layout->xOf(block, c.positionInBlock());
    QScrollBar* across = horizontalScrollBar();
    const int width = viewport()->width();
    if (x < across->value() || x > across->value() + width - cursorWidth())
        across->setValue(int(x) - width / 2);
    viewport()->update();
}

} // namespace vesk
