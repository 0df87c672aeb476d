#include "conversation/TranscriptLayout.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

namespace vesk {

namespace {

constexpr int PieceLength = 64; // characters shaped together: a few more than a view shows
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

// Where each piece of a long line starts, in characters and in pixels from the
// line's start, as far along the line as it has been measured.
struct TranscriptLayout::Edges : QTextBlockUserData {
    quint64 serial = 0;
    quint64 fontGeneration = 0;
    int length = -1; // of the block when measured; -1 when it must be measured again
    std::vector<int> starts{0};
    std::vector<qreal> x{0};
};

TranscriptLayout::TranscriptLayout(QTextDocument* document)
    : QPlainTextDocumentLayout(document), m_blockCount(document->blockCount())
{
}

TranscriptLayout::~TranscriptLayout() = default;

bool TranscriptLayout::isDrawnInPieces(const QTextBlock& block)
{
    // Checked by length first: asking for the layout creates one.
    return block.isValid() && block.length() > LongLine + 1 && block.layout()->lineCount() == 0;
}

void TranscriptLayout::followFont()
{
    const QFont font = document()->defaultFont();
    if (font == m_font && !m_advances.empty())
        return;
    m_font = font;
    m_advances.assign(0x10000, -1.0f);
    m_pieces.clear();
    ++m_fontGeneration;
    // As QPlainTextDocumentLayout lays out a line: leading included.
    QTextLayout probe(QStringLiteral("あ"), m_font);
    probe.beginLayout();
    QTextLine line = probe.createLine();
    line.setLeadingIncluded(true);
    probe.endLayout();
    m_lineHeight = line.height();
}

qreal TranscriptLayout::advance(char16_t unit)
{
    float& a = m_advances[unit];
    if (a < 0) {
        const QFontMetricsF metrics(m_font);
        // A surrogate pair is one wide character; each half takes half of it.
        a = QChar::isSurrogate(unit) ? float(metrics.horizontalAdvance(QChar(0x3000)) / 2)
                                     : float(metrics.horizontalAdvance(QChar(unit)));
    }
    return a;
}

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
// reaches past `untilX`, or the line's end.
void TranscriptLayout::measure(const QTextBlock& block, Edges& edges, int untilPosition, qreal untilX)
{
    const int length = block.length() - 1;
    const auto reached = [&] {
        return edges.starts.back() == length || (edges.starts.back() >= untilPosition && edges.x.back() > untilX);
    };
    if (reached())
        return;
    while (!reached()) {
        const int from = edges.starts.back();
        // A piece more than asked for, and one more character so that a
        // surrogate pair on the edge stays whole: every round ends a piece.
        const int to = std::min(length, std::max(untilPosition, from) + PieceLength + 1);
        const QString text = textOf(block, from, to);
        qreal x = edges.x.back();
        for (int i = from; i < to; ++i) {
            const QChar ch = text[i - from];
            x += advance(ch.unicode());
            const bool splitsPair = ch.isHighSurrogate() && i + 1 < to && text[i + 1 - from].isLowSurrogate();
            if ((i + 1 - edges.starts.back() >= PieceLength && !splitsPair) || i + 1 == length) {
                edges.starts.push_back(i + 1);
                edges.x.push_back(x);
                if (reached())
                    break;
            }
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
    QTextOption option = document()->defaultTextOption();
    option.setWrapMode(QTextOption::NoWrap);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    layout->beginLayout();
    QTextLine line = layout->createLine();
    line.setLeadingIncluded(true);
    line.setPosition(QPointF(0, 0));
    layout->endLayout();
    if (m_pieces.size() >= KeptPieces)
        m_pieces.erase(m_pieces.begin());
    m_pieces.push_back({edges.serial, index, std::move(layout)});
    return *m_pieces.back().layout;
}

QRectF TranscriptLayout::blockBoundingRect(const QTextBlock& block) const
{
    const bool laidOut = !block.isValid() || block.layout()->lineCount() > 0;
    if (laidOut || !(m_geometryOnly || block.length() > LongLine + 1))
        return QPlainTextDocumentLayout::blockBoundingRect(block);
    if (!block.isVisible())
        return QRectF();
    auto* self = const_cast<TranscriptLayout*>(this);
    self->followFont();
    const qreal margin = document()->documentMargin();
    const qreal width = estimatedWidth(block, static_cast<const Edges*>(block.userData()));
    QRectF r(0, 0, width + 2 * margin, m_lineHeight);
    if (!block.next().isValid())
        r.adjust(0, 0, 0, margin);
    return r;
}

QSizeF TranscriptLayout::documentSize() const
{
    QSizeF size = QPlainTextDocumentLayout::documentSize();
    size.setWidth(qMax(size.width(), m_longWidth));
    return size;
}

void TranscriptLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    QTextDocument* doc = document();
    const QTextBlock first = doc->findBlock(from);
    const QTextBlock last = doc->findBlock(qMax(0, from + charsRemoved + charsAdded - 1));
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        if (auto* edges = static_cast<Edges*>(b.userData()))
            edges->length = -1;
        if (b == last)
            break;
    }
    const int blocks = doc->blockCount();
    if (first == last && blocks == m_blockCount && first.isValid() && first.length() > LongLine + 1) {
        // An edit inside a long line: QPlainTextDocumentLayout would lay the
        // whole line out again right here.
        QTextBlock(first).clearLayout();
        emit update(QRectF(0., -doc->documentMargin(), 1e9, 1e9));
        return;
    }
    m_blockCount = blocks;
    QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
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
        if (caret >= 0 && (caret < length || (caret == length && edges.starts.back() == block.length() - 1)))
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
