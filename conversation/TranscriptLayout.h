#pragma once

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QPlainTextDocumentLayout>
#include <QTextBlockUserData>

#include <memory>
#include <vector>

class QPainter;
class QTextLayout;

namespace vesk {

// The transcript's layout. Qt lays a line out by shaping all of it, which for
// a large datagram (tens of thousands of characters) takes a tenth of a second
// and more, every time the line is laid out again. Such long lines are never
// laid out whole here: each takes one line's height, and drawLongLine draws
// only the pieces of it in view, each piece shaped on its own. Positions along
// the line come from the pieces' widths, found only as far along the line as
// anything has been looked at.
class TranscriptLayout : public QPlainTextDocumentLayout {
    Q_OBJECT
public:
    // Lines longer than this, in characters, are drawn a piece at a time.
    static constexpr int LongLine = 1000;

    explicit TranscriptLayout(QTextDocument* document);
    ~TranscriptLayout() override;

    // True for a line that this layout draws itself (QPlainTextEdit leaves it blank).
    static bool isDrawnInPieces(const QTextBlock& block);

    QRectF blockBoundingRect(const QTextBlock& block) const override;

    // While on, a line Qt has not laid out yet is given one line's height
    // without being laid out. Moving the caret, QPlainTextEdit works out the
    // geometry of every line from the top of the view to where the caret was,
    // only to repaint there: after a burst, dozens of lines the view will
    // never show.
    void setGeometryOnly(bool on) noexcept { m_geometryOnly = on; }

    QSizeF documentSize() const override;

    // Draws the part of a long line that lies between `left` and `right`
    // (viewport x), with the line's top-left at `topLeft`.
    void drawLongLine(QPainter* painter, const QTextBlock& block, QPointF topLeft, qreal left, qreal right,
                      const PaintContext& context, int cursorWidth);

    // The text position nearest to `x` (block coordinates) in a long line, and
    // the x of a position in it.
    int positionAt(const QTextBlock& block, qreal x);
    qreal xOf(const QTextBlock& block, int position);

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    // Where each piece of a long line starts, in characters and in pixels from the
    // line's start, as far along the line as it has been measured.
    struct Edges : QTextBlockUserData {
        quint64 serial = 0;
        quint64 fontGeneration = 0;
        int length = -1; // of the block when measured; -1 when it must be measured again
        std::vector<int> starts{0};
        std::vector<qreal> x{0};
    };

    struct Piece {
        quint64 line; // Edges::serial of the line it belongs to
        int index;
        std::unique_ptr<QTextLayout> layout;
    };

    Edges& edgesOf(const QTextBlock& block);
    void measure(const QTextBlock& block, Edges& edges, int untilPosition, qreal untilX);
    QTextLayout& piece(const QTextBlock& block, Edges& edges, int index);
    qreal estimatedWidth(const QTextBlock& block, const Edges* edges) const;
    void layOutAsOneLine(QTextLayout& layout) const;
    void followFont();

    QFont m_font;
    std::vector<Piece> m_pieces;   // the most recently drawn pieces, newest last
    quint64 m_nextSerial = 1;
    quint64 m_fontGeneration = 0;
    qreal m_lineHeight = 0;
    qreal m_longWidth = 0; // the widest long line measured so far
    int m_blockCount = 0;
    bool m_geometryOnly = false;
};

} // namespace vesk
