#pragma once

#include <QPlainTextDocumentLayout>
#include <QScopeGuard>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QHash>

#include <map>
#include <memory>
#include <vector>

class QPainter;

namespace vesk {

// The transcript's layout. Qt lays a line out by shaping all of it, which for a
// large datagram (tens of thousands of characters) takes a tenth of a second and
// more: a flood of them would stop the window. So a long line is left without
// Qt's layout while it is only shown (drawLongLine draws the part in view), and
// gets Qt's layout, with all of Qt's editing, as soon as the user acts on it
// (open), until the caret has left it again (release).
class TranscriptLayout : public QPlainTextDocumentLayout {
    Q_OBJECT
public:
    // Lines longer than this, in characters, are drawn lazily while only shown.
    static constexpr int LongLine = 1000;

    using QPlainTextDocumentLayout::QPlainTextDocumentLayout;

    static bool isLong(const QTextBlock& block) { return block.isValid() && block.length() - 1 > LongLine; }
    // True for a long line without Qt's layout (QPlainTextEdit leaves it blank).
    static bool isDrawnLazily(const QTextBlock& block) { return isLong(block) && block.layout()->lineCount() == 0; }

    // Runs `act` with Qt's own layout of any long line Qt asks about meanwhile,
    // as for a line of ten characters: the user is acting on the text.
    template <typename Act>
    auto eagerly(Act act)
    {
        ++m_eager;
        const auto done = qScopeGuard([this] { --m_eager; });
        return act();
    }
    void open(const QTextBlock& block) { eagerly([&] { return blockBoundingRect(block); }); }
    // Lets Qt's layout of the long lines opened so far go, except the lines of
    // `keep`'s position and anchor.
    void release(const QTextCursor& keep);

    QRectF blockBoundingRect(const QTextBlock& block) const override;
    QSizeF documentSize() const override;

    // Draws the part of a lazily drawn line between `left` and `right`
    // (viewport x), with the line's top-left at `topLeft`.
    void drawLongLine(QPainter* painter, const QTextBlock& block, QPointF topLeft, qreal left, qreal right,
                      const PaintContext& context, int cursorWidth);

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    struct Width;
    static void layOutAsOneLine(QTextLayout& layout, const QTextOption& defaults);
    void followFont();
    qreal widthOf(QStringView text, qsizetype from, qsizetype to, QChar::Script& run);
    qreal advance(QStringView text, qsizetype& i, QChar::Script& run);
    void measure(const QTextBlock& block);
    void reportWidth();

    QFont m_font;
    qreal m_lineHeight = 0;
    // The advance of each UTF-16 unit with a script of its own, -1 until met, and that script.
    std::vector<float> m_advances;
    std::vector<quint8> m_scripts;
    QHash<quint64, qreal> m_inRun;    // of a character of no script of its own, by the script around it
    QHash<int, QString> m_samples;    // a character of each script met, to measure others beside
    // How many lines have each width, in 64ths of a pixel; shared with each line's
    // Width, which outlives this layout when the document goes.
    std::shared_ptr<std::map<int, int>> m_widths = std::make_shared<std::map<int, int>>();
    qreal m_reportedWidth = -1;
    bool m_reportPending = false;
    std::vector<QTextCursor> m_opened; // long lines given Qt's layout, followed through edits
    int m_eager = 0;
};

} // namespace vesk
