#include "conversation/TranscriptLayout.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

namespace vesk {

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
    if (font == m_font && m_lineHeight > 0)
        return;
    m_font = font;
    m_pieces.clear();
    ++m_fontGeneration;
    QTextLayout probe(QStringLiteral("あ"), m_font);
    layOutAsOneLine(probe);
    m_lineHeight = probe.lineAt(0).height();
}

QRectF TranscriptLayout::blockBoundingRect(const QTextBlock& block) const
{
    const bool laidOut = !block.isValid() || block.layout()->lineCount() > 0;
    if (laidOut || !(m_geometryOnly || block.length() > LongLine + 1))
        return QPlainTextDocumentLayout::blockBoundingRect(block);
    if (!block.isVisible())
        return QRectF();
    const_cast<TranscriptLayout*>(this)->followFont();
    // No width: QPlainTextEdit scrolls to the caret through the line's first
    // row, which such a line does not have, and takes an empty rectangle as the
    // sign to leave it alone. The width of long lines is in documentSize.
    QRectF r(0, 0, 0, m_lineHeight);
    if (!block.next().isValid())
        r.adjust(0, 0, 0, document()->documentMargin());
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
    if (charsRemoved > 0)
        m_longWidth = 0; // measured again as the long lines still there are drawn
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


} // namespace vesk
