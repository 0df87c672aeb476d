// Long lines, a piece at a time: where each piece starts along the line, the
// pieces shaped for drawing, and positions within the line.
#include "conversation/TranscriptLayout.h"

#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

namespace vesk {

namespace {

constexpr int PieceLength = 64; // characters shaped together: more than a view shows
constexpr std::size_t KeptPieces = 64; // shaped pieces kept for the next paint

// Characters [from, to) of a block, without copying a long line out whole.
QString textOf(const QTextBlock& block, int from, int to)
{
    if (to - from > 4 * 1024)
        return block.text().mid(from, to - from);
    QString text(to - from, Qt::Uninitialized);
    const QTextDocument* doc = block.document();
    for (int i = from; i < to; ++i)
        text[i - from] = doc->characterAt(block.position() + i);
    return text;
}

} // namespace

TranscriptLayout::Edges& TranscriptLayout::edgesOf(const QTextBlock& block)
{
    followFont();
    auto* edges = static_cast<Edges*>(block.userData());
    if (!edges) {
        edges = new Edges;
        QTextBlock(block).setUserData(edges); // the document owns it from now on
    }
    if (edges->length != block.length() || edges->fontGeneration != m_fontGeneration) {
        edges->serial = m_nextSerial++; // pieces shaped for the old text are stale
        edges->fontGeneration = m_fontGeneration;
        edges->length = block.length();
        edges->starts.assign(1, 0);
        edges->x.assign(1, 0);
    }
    return *edges;
}

// Extends the measured part of the line until it covers `untilPosition` and
// reaches past `untilX`, or the line's end. Each piece's width is that of the
// piece as it is drawn, shaped on its own, so the pieces meet exactly. Near the
// measured end, the pieces are shaped as for drawing and kept; far along (a
// scroll or a key that jumps), they are shaped a chunk of text at a time and
// let go, so the pieces in view stay kept.
void TranscriptLayout::measure(const QTextBlock& block, Edges& edges, int untilPosition, qreal untilX)
{
    const int length = block.length() - 1;
    const auto reached = [&] {
        return edges.starts.back() == length || (edges.starts.back() >= untilPosition && edges.x.back() > untilX);
    };
    while (!reached()) {
        const int from = edges.starts.back();
        const bool far = untilPosition - from > 2 * PieceLength || untilX - edges.x.back() > 30 * PieceLength;
        // One character past the last piece, to see whether a piece would end
        // inside a surrogate pair.
        const QString text = textOf(block, from, std::min(length, from + (far ? 64 : 1) * PieceLength + 2));
        int start = 0;
        while (!reached()) {
            int end = std::min(int(text.size()), start + PieceLength);
            if (end < text.size() && text[end].isLowSurrogate())
                ++end;
            if (end == text.size() && from + end < length)
                break; // the character after it is not in `text`: the next round sees it
            edges.starts.push_back(from + end);
            edges.x.push_back(edges.x.back());
            if (far) {
                QTextLayout layout(text.mid(start, end - start), m_font);
                layOutAsOneLine(layout);
                edges.x.back() += layout.lineAt(0).horizontalAdvance();
            } else {
                edges.x.back() += piece(block, edges, int(edges.starts.size()) - 2).lineAt(0).horizontalAdvance();
            }
            start = end;
        }
    }

    const qreal width = estimatedWidth(block, &edges) + 2 * document()->documentMargin() + 1;
    if (width > m_longWidth) {
        m_longWidth = width;
        // Not from inside a paint: the scroll bars follow when the loop runs.
        QMetaObject::invokeMethod(this, [this] { emit documentSizeChanged(documentSize()); },
                                  Qt::QueuedConnection);
    }
}

// The measured part, and the rest at the measured part's average advance.
qreal TranscriptLayout::estimatedWidth(const QTextBlock& block, const Edges* edges) const
{
    const int length = block.length() - 1;
    if (!edges || edges->length != block.length() || edges->starts.back() == 0)
        return length * qreal(m_font.pixelSize() > 0 ? m_font.pixelSize() : m_font.pointSizeF());
    return edges->x.back() * length / edges->starts.back();
}

// Shapes `layout` as one line the way a piece of a long line is drawn: no
// wrapping, and the leading included as QPlainTextDocumentLayout includes it.
void TranscriptLayout::layOutAsOneLine(QTextLayout& layout) const
{
    QTextOption option = document()->defaultTextOption();
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLeadingIncluded(true);
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
}

QTextLayout& TranscriptLayout::piece(const QTextBlock& block, Edges& edges, int index)
{
    const auto found = std::find_if(m_pieces.begin(), m_pieces.end(), [&](const Piece& p) {
        return p.line == edges.serial && p.index == index;
    });
    if (found != m_pieces.end()) {
        std::rotate(found, found + 1, m_pieces.end()); // now the most recent
        return *m_pieces.back().layout;
    }
    const auto start = std::size_t(index);
    auto layout = std::make_unique<QTextLayout>(textOf(block, edges.starts[start], edges.starts[start + 1]), m_font);
    layout->setCacheEnabled(true);
    layOutAsOneLine(*layout);
    if (m_pieces.size() >= KeptPieces)
        m_pieces.erase(m_pieces.begin());
    m_pieces.push_back({edges.serial, index, std::move(layout)});
    return *m_pieces.back().layout;
}

void TranscriptLayout::drawLongLine(QPainter* painter, const QTextBlock& block, QPointF topLeft, qreal left,
                                    qreal right, const PaintContext& context, int cursorWidth)
{
    Edges& edges = edgesOf(block);
    const qreal x0 = topLeft.x() + document()->documentMargin();
    measure(block, edges, 0, right - x0);
    const int pieces = int(edges.starts.size()) - 1;
    // The first piece that ends right of `left`.
    int k = int(std::upper_bound(edges.x.begin() + 1, edges.x.end(), left - x0) - (edges.x.begin() + 1));
    for (; k < pieces && x0 + edges.x[std::size_t(k)] <= right; ++k) {
        QTextLayout& layout = piece(block, edges, k);
        const int start = block.position() + edges.starts[std::size_t(k)];
        const int length = edges.starts[std::size_t(k) + 1] - edges.starts[std::size_t(k)];
        QList<QTextLayout::FormatRange> ranges;
        for (const Selection& selection : context.selections) {
            const int from = qMax(selection.cursor.selectionStart() - start, 0);
            const int to = qMin(selection.cursor.selectionEnd() - start, length);
            if (to > from)
                ranges.append({from, to - from, selection.format});
        }
        const QPointF at(x0 + edges.x[std::size_t(k)], topLeft.y());
        layout.draw(painter, at, ranges);
        const int caret = context.cursorPosition - start;
        const bool lineEnd = k == pieces - 1 && edges.starts.back() == block.length() - 1;
        if (caret >= 0 && (caret < length || (caret == length && lineEnd)))
            layout.drawCursor(painter, at, caret, cursorWidth);
    }
}

int TranscriptLayout::positionAt(const QTextBlock& block, qreal x)
{
    Edges& edges = edgesOf(block);
    const qreal along = x - document()->documentMargin();
    measure(block, edges, 0, along);
    const int pieces = int(edges.starts.size()) - 1;
    if (pieces <= 0)
        return 0;
    int k = int(std::upper_bound(edges.x.begin(), edges.x.end(), along) - edges.x.begin()) - 1;
    k = std::clamp(k, 0, pieces - 1);
    const QTextLine line = piece(block, edges, k).lineAt(0);
    return edges.starts[std::size_t(k)] + line.xToCursor(along - edges.x[std::size_t(k)]);
}

qreal TranscriptLayout::xOf(const QTextBlock& block, int position)
{
    Edges& edges = edgesOf(block);
    measure(block, edges, position + 1, 0);
    const int pieces = int(edges.starts.size()) - 1;
    if (pieces <= 0)
        return document()->documentMargin();
    int k = int(std::upper_bound(edges.starts.begin(), edges.starts.end(), position) - edges.starts.begin()) - 1;
    k = std::clamp(k, 0, pieces - 1);
    const QTextLine line = piece(block, edges, k).lineAt(0);
    return document()->documentMargin() + edges.x[std::size_t(k)]
         + line.cursorToX(position - edges.starts[std::size_t(k)]);
}

} // namespace vesk
