#include "conversation/TranscriptLayout.h"

#include <QFontMetricsF>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace vesk {

// Shapes `layout` as one line the way QPlainTextDocumentLayout does: no
// wrapping, the leading included.
void TranscriptLayout::layOutAsOneLine(QTextLayout& layout, const QTextOption& defaults)
{
    QTextOption option = defaults;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLeadingIncluded(true);
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
}

// The width of a line, counted into the layout's table while the line lives.
struct TranscriptLayout::Width : QTextBlockUserData {
    Width(std::shared_ptr<std::map<int, int>> table, int to) : widths(std::move(table)) { set(to); }
    ~Width() override { set(-1); }
    void set(int to)
    {
        if (width >= 0 && --(*widths)[width] == 0)
            widths->erase(width);
        width = to;
        if (width >= 0)
            ++(*widths)[width];
    }
    std::shared_ptr<std::map<int, int>> widths;
    int width = -1;
};

// Called on each change of the text: setting the document's layout or its
// default font counts as one.
void TranscriptLayout::followFont()
{
    const QFont font = document()->defaultFont();
    if (font == m_font && m_lineHeight > 0)
        return;
    m_font = font;
    m_advances.assign(std::size_t(1) << 16, -1);
    m_scripts.assign(std::size_t(1) << 16, 0);
    m_inRun.clear();
    m_samples.clear();
    QTextLayout probe(QStringLiteral("Aあ"), m_font);
    layOutAsOneLine(probe, document()->defaultTextOption());
    m_lineHeight = probe.lineAt(0).height();
}

// The width of text[from, to) as Qt's layout of the line gives it (the
// transcript's font does not kern): the characters' advances, a character of
// no script of its own (a space, ">") in the font of the script before it
// (`run`, carried from piece to piece).
qreal TranscriptLayout::widthOf(QStringView text, qsizetype from, qsizetype to, QChar::Script& run)
{
    qreal width = 0;
    const char16_t* units = text.utf16();
    for (qsizetype i = from; i < to;) {
        if (const float known = m_advances[units[i]]; known >= 0) { // the usual case: met before
            width += known;
            run = QChar::Script(m_scripts[units[i++]]);
        } else {
            width += advance(text, i, run);
        }
    }
    return width;
}

// The advance of a character not met before, or of one of no script of its
// own; moves `i` past it.
qreal TranscriptLayout::advance(QStringView text, qsizetype& i, QChar::Script& run)
{
    const char16_t unit = text[i].unicode();
    const qsizetype at = i++;
    char32_t code = unit;
    if (QChar::isHighSurrogate(code) && i < text.size() && text[i].isLowSurrogate())
        code = QChar::surrogateToUcs4(text[at], text[i++]);
    const QChar::Script script = QChar::script(code);
    if (script > QChar::Script_Common) {
        run = script;
        const qreal advance = QFontMetricsF(m_font).horizontalAdvance(text.sliced(at, i - at).toString());
        if (code <= 0xFFFF) {
            m_advances[unit] = float(advance);
            m_scripts[unit] = quint8(script);
            if (!m_samples.contains(script))
                m_samples.insert(script, QString(QChar(unit)));
        }
        return advance;
    }
    const auto key = (quint64(run) << 32) | code;
    if (const auto found = m_inRun.constFind(key); found != m_inRun.cend())
        return *found;
    const QString c = text.sliced(at, i - at).toString();
    const QFontMetricsF metrics(m_font);
    const QString sample = m_samples.value(run);
    return m_inRun[key] = metrics.horizontalAdvance(sample + c) - metrics.horizontalAdvance(sample);
}

// A line is measured the first time Qt asks where it is (to draw it, to fill the
// view at the bottom, to reach the caret), as Qt lays a line out only then: the
// range is the widest of the lines looked at, and a flood is never measured whole.
void TranscriptLayout::measure(const QTextBlock& block)
{
    auto* data = static_cast<Width*>(block.userData());
    if (data && data->width >= 0)
        return;
    const QString text = block.text();
    QChar::Script run = QChar::Script_Common;
    const int width = int(std::lround(widthOf(text, 0, text.size(), run) * 64)); // Qt measures in 64ths of a pixel
    if (data)
        data->set(width);
    else
        QTextBlock(block).setUserData(new Width(m_widths, width)); // the document owns it from now on
    reportWidth();
}

// Not from inside a paint: the scroll bars follow when the loop runs.
void TranscriptLayout::reportWidth()
{
    if (documentSize().width() == m_reportedWidth || std::exchange(m_reportPending, true))
        return;
    QMetaObject::invokeMethod(this, [this] {
        m_reportPending = false;
        m_reportedWidth = documentSize().width();
        emit documentSizeChanged(documentSize());
    }, Qt::QueuedConnection);
}

QRectF TranscriptLayout::blockBoundingRect(const QTextBlock& block) const
{
    auto* self = const_cast<TranscriptLayout*>(this);
    if (block.isValid())
        self->measure(block);
    const bool lazy = isDrawnLazily(block);
    if (lazy && m_eager > 0) { // opened, its shaped text kept for what the user does next
        block.layout()->setCacheEnabled(true);
        self->m_opened.emplace_back(block);
    } else if (lazy) {
        if (!block.isVisible())
            return QRectF();
        // Empty: QPlainTextEdit brings the caret into view through the first row of
        // its line's layout, and leaves a line with an empty rectangle alone. The
        // caret is in such a line only at its start, where the insertion rule puts it.
        QRectF r(0, 0, 0, m_lineHeight);
        if (!block.next().isValid())
            r.adjust(0, 0, 0, document()->documentMargin());
        return r;
    }
    return QPlainTextDocumentLayout::blockBoundingRect(block);
}

QSizeF TranscriptLayout::documentSize() const
{
    // Qt's own width counts only the lines it has laid out, and keeps that of
    // lines long gone; this one is the widest line there is.
    QSizeF size = QPlainTextDocumentLayout::documentSize();
    const int widest = m_widths->empty() ? 0 : m_widths->rbegin()->first;
    size.setWidth(widest / 64.0 + 2 * document()->documentMargin());
    return size;
}

void TranscriptLayout::release(const QTextCursor& keep)
{
    const QTextBlock caret = keep.block();
    const QTextBlock anchor = document()->findBlock(keep.anchor());
    // To place the caret, Qt analyses the whole of its line, drawn lazily or
    // not, and keeps that (a copy of the text and more, over ten bytes a
    // character) until the line changes: it goes like an opened line's layout.
    if (isDrawnLazily(caret) && std::none_of(m_opened.cbegin(), m_opened.cend(),
                                             [&](const QTextCursor& c) { return c.block() == caret; }))
        m_opened.emplace_back(caret);
    std::erase_if(m_opened, [&](const QTextCursor& c) {
        QTextBlock block = c.block();
        if (block == caret || block == anchor)
            return false;
        if (isLong(block)) // no layout, and the analysed text let go with it
            block.layout()->setText(QString()); // a line's layout takes its text from the line
        return true;
    });
}

void TranscriptLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    followFont();
    // The lines changed are measured again. Lines put in front of a line leave
    // its width with the first of them (a split line's data stays with its
    // first part): it goes back to the line, unchanged.
    QTextDocument* doc = document();
    const QTextBlock first = doc->findBlock(from);
    QTextBlock last = doc->findBlock(from + charsAdded);
    auto* moved = static_cast<Width*>(first.userData());
    if (charsRemoved == 0 && first.position() == from && last.position() == from + charsAdded && last != first
        && moved && moved->width >= 0 && !last.userData()) {
        last.setUserData(new Width(m_widths, moved->width));
        last = last.previous();
    }
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        if (auto* data = static_cast<Width*>(b.userData()))
            data->set(-1);
        if (b == last)
            break;
    }
    const bool wasLazy = isDrawnLazily(first);
    QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
    if (wasLazy && !isDrawnLazily(first))
        m_opened.emplace_back(first); // an edit inside a long line: Qt laid it out
    reportWidth();
}

} // namespace vesk
