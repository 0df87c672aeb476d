// What the transcript box shows, and where the user's actions get Qt's own
// layout of a long line before Qt handles them.
#include "conversation/TranscriptBox.h"

#include "conversation/TranscriptLayout.h"

#include <QAccessible>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include <algorithm>

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

// Keys and the input method: Qt lays out any line it asks about, as it does
// for every line in a plain box (Down asks for the next line, and so on).
bool TranscriptBox::event(QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride && type != QEvent::InputMethod)
        return QPlainTextEdit::event(event);
    const bool handled = m_layout->eagerly([&] { return QPlainTextEdit::event(event); });
    m_layout->release(textCursor());
    return handled;
}

// The pointer: the line under it gets Qt's layout first, and only that one, as
// finding it walks through every line above it in view.
bool TranscriptBox::viewportEvent(QEvent* event)
{
    const QEvent::Type type = event->type();
    const auto* mouse = dynamic_cast<QMouseEvent*>(event);
    const bool acting = mouse && (type != QEvent::MouseMove || mouse->buttons() != Qt::NoButton);
    if (!acting && type != QEvent::DragMove && type != QEvent::Drop)
        return QPlainTextEdit::viewportEvent(event);
    const QPointF at = mouse ? mouse->position() : static_cast<QDropEvent*>(event)->position();
    m_layout->open(cursorForPosition(at.toPoint()).block());
    const bool handled = QPlainTextEdit::viewportEvent(event);
    m_layout->release(textCursor());
    return handled;
}

void TranscriptBox::fitVerticalRange()
{
    const QTextDocument* doc = document();
    const qreal visible = viewport()->height() - doc->documentMargin() - 1;
    qreal y = 0;
    int fromBottom = 0; // whole lines that fit at the bottom, each one row (no wrapping)
    for (QTextBlock b = doc->lastBlock(); b.isValid() && (y += blockBoundingRect(b).height()) <= visible;
         b = b.previous())
        ++fromBottom;
    const int top = qMax(0, doc->lineCount() - fromBottom);
    if (verticalScrollBar()->maximum() != top) {
        verticalScrollBar()->setRange(0, top); // comes back here, then finds it right
        verticalScrollBar()->setPageStep(fromBottom);
    }
}

// At most one repaint a frame: under a flood every turn changes the whole
// view, more often than a screen shows it, and painting was a third of the
// window's time. What the view missed is painted at the next frame.
void TranscriptBox::holdRepaint()
{
    if (m_nextFrame.isActive() || !m_lastPaint.isValid() || m_lastPaint.nsecsElapsed() >= FrameNs)
        return;
    viewport()->setUpdatesEnabled(false);
    m_nextFrame.setSingleShot(true);
    m_nextFrame.start(int((FrameNs - m_lastPaint.nsecsElapsed()) / 1'000'000) + 1);
}

void TranscriptBox::paintEvent(QPaintEvent* event)
{
    m_lastPaint.start();
    // A magnifier or a screen reader asks Qt's accessible text interface where a
    // character is, and it reads the line's own layout, with no hook to open the
    // line first: while one listens, the lines in view get Qt's layout as they are
    // painted, as in Qt's own box.
    if (QAccessible::isActive())
        m_layout->eagerly([&] { QPlainTextEdit::paintEvent(event); });
    else
        QPlainTextEdit::paintEvent(event);
    // QPlainTextEdit leaves the long lines without its layout blank: draw the
    // part of them in view.
    const QRect area = event->rect();
    QPainter painter(viewport());
    painter.setClipRect(area);
    const QAbstractTextDocumentLayout::PaintContext context = getPaintContext();
    painter.setPen(context.palette.text().color());
    QPointF offset = contentOffset();
    for (QTextBlock block = firstVisibleBlock(); block.isValid() && offset.y() <= area.bottom();
         block = block.next()) {
        const QRectF r = blockBoundingRect(block).translated(offset);
        if (r.bottom() >= area.top() && TranscriptLayout::isDrawnLazily(block))
            m_layout->drawLongLine(&painter, block, r.topLeft(), area.left(), area.right() + 1, context,
                                   cursorWidth());
        offset.ry() += r.height();
    }
}

namespace {

constexpr qsizetype PieceLength = 64; // characters shaped together when drawn lazily: more than a view shows

} // namespace

void TranscriptLayout::drawLongLine(QPainter* painter, const QTextBlock& block, QPointF topLeft, qreal left,
                                    qreal right, const PaintContext& context, int cursorWidth)
{
    const QString text = block.text();
    qreal x = topLeft.x() + document()->documentMargin();
    QChar::Script run = QChar::Script_Common;
    for (qsizetype start = 0; start < text.size() && x <= right;) {
        // Pieces of about PieceLength units, each starting on a character of
        // a script of its own (never a space, nor the second half of a
        // surrogate pair): shaped alone, every character then takes the font
        // it takes in the whole line.
        qsizetype end = std::min(text.size(), start + PieceLength);
        while (end < text.size() && text[end].script() <= QChar::Script_Common)
            ++end;
        const qreal width = widthOf(text, start, end, run);
        if (x + width >= left) {
            QTextLayout piece(text.sliced(start, end - start), m_font);
            piece.setCacheEnabled(true); // shaped once, for laying out and drawing
            layOutAsOneLine(piece, document()->defaultTextOption());
            const int from = block.position() + int(start);
            QList<QTextLayout::FormatRange> ranges;
            for (const Selection& selection : context.selections) {
                const int a = qMax(selection.cursor.selectionStart() - from, 0);
                const int b = qMin(selection.cursor.selectionEnd() - from, int(end - start));
                if (b > a)
                    ranges.append({a, b - a, selection.format});
            }
            piece.draw(painter, QPointF(x, topLeft.y()), ranges);
            if (start == 0 && context.cursorPosition == block.position())
                piece.drawCursor(painter, QPointF(x, topLeft.y()), 0, cursorWidth);
        }
        x += width;
        start = end;
    }
}

} // namespace vesk
