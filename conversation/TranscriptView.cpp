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

// QPlainTextEdit finds no characters in a line it has not laid out: it puts
// the caret at the line's start and scrolls there. This puts it where the
// pointer was, in the view as it was (`scrolled`).
void TranscriptBox::placeCaretInLongLine(QPointF at, int scrolled, bool extend)
{
    const QTextBlock block = cursorForPosition(at.toPoint()).block();
    if (!TranscriptLayout::isDrawnInPieces(block))
        return;
    const int position = block.position() + m_layout->positionAt(block, at.x() + scrolled);
    QTextCursor c = textCursor();
    c.setPosition(position, extend ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
    setTextCursor(c);
    horizontalScrollBar()->setValue(scrolled);
}

// Keys move the caret along a long line by characters; Qt scrolled to where
// it believes the caret is (the line's start), so bring the real one into view.
void TranscriptBox::showCaretInLongLine()
{
    const QTextCursor c = textCursor();
    const QTextBlock block = c.block();
    if (!TranscriptLayout::isDrawnInPieces(block))
        return;
    const qreal x = m_layout->xOf(block, c.positionInBlock());
    QScrollBar* bar = horizontalScrollBar();
    const int width = viewport()->width();
    if (x < bar->value() || x > bar->value() + width - cursorWidth())
        bar->setValue(int(x) - width / 2);
    viewport()->update();
}

} // namespace vesk
