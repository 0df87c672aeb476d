#include "conversation/TranscriptBox.h"

#include "conversation/TranscriptLayout.h"
#include "platform/error/VeskError.h"

#include <QAccessible>
#include <QLocale>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <iterator>
#include <limits>
#include <utility>

namespace vesk {

namespace {

// A lone CR or LF is one character of the text, as in the edit control, not a
// line break: the document keeps it as the symbol that shows it.
constexpr char16_t LoneCR = u'\u240D';
constexpr char16_t LoneLF = u'\u240A';

// Appends the line as the document holds it: CR LF as its line break, a lone CR
// or LF as its symbol. Returns the line breaks in it.
int appendHeld(QString& to, const QString& line)
{
    const qsizetype cr = line.indexOf(u'\r');
    const qsizetype lf = line.indexOf(u'\n');
    if (cr == line.size() - 2 && lf == line.size() - 1) { // the usual line: one CR LF, at its end
        to.append(QStringView(line).first(line.size() - 2)).append(QChar::ParagraphSeparator);
        return 1;
    }
    int breaks = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == u'\r' && i + 1 < line.size() && line[i + 1] == u'\n') {
            to.append(QChar::ParagraphSeparator);
            ++breaks;
            ++i;
        } else {
            to.append(line[i] == u'\r' ? QChar(LoneCR) : line[i] == u'\n' ? QChar(LoneLF) : line[i]);
        }
    }
    return breaks;
}

} // namespace

TranscriptBox::TranscriptBox(QWidget* parent) : QPlainTextEdit(parent)
{
    // No kerning, as in the edit control; it also lets a long line be measured
    // a character at a time.
    QFont plain = font();
    plain.setKerning(false);
    setFont(plain);
    auto* doc = new QTextDocument(this);
    m_layout = new TranscriptLayout(doc);
    doc->setDocumentLayout(m_layout);
    doc->setDefaultFont(font());
    setDocument(doc);

    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true); // Tab moves on to End, as in the edit control

    // QPlainTextEdit counts the lines that fill the view at the bottom by
    // their layout, which a long line there shown lazily does not have: it
    // would scroll on past the end. Count them by their height instead.
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &TranscriptBox::fitVerticalRange);

    // Wherever else the caret goes (the user, a screen reader, a program), its
    // line gets Qt's layout; the line it left lets it go.
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        if (m_inserting)
            return;
        m_layout->open(textCursor().block());
        m_layout->release(textCursor());
    });
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

QString TranscriptBox::droppedNotice() const
{
    const QLocale japanese(QLocale::Japanese);
    return QStringLiteral("――これより古い行は、受信欄の上限（%1 文字、%2 行）を超えたので削除しました――")
        .arg(japanese.toString(m_capacity), japanese.toString(m_lineCapacity));
}

void TranscriptBox::insertLine(const QString& line)
{
    if (m_batchDepth > 0) {
        m_pending.append(line);
        return;
    }
    insertNow({line});
}

void TranscriptBox::beginBatch()
{
    ++m_batchDepth;
}

void TranscriptBox::endBatch()
{
    if (m_batchDepth == 0 || --m_batchDepth > 0 || m_pending.isEmpty())
        return;
    const QStringList lines = std::exchange(m_pending, {});
    insertNow(lines);
}

void TranscriptBox::insertNow(QStringList lines)
{
    // Lines of a burst that could not stay even alone go before they are put
    // in, and with them all that is older: a burst larger than the transcript
    // never makes its text larger.
    qsizetype from = lines.size() - 1, units = lines.last().size();
    while (from > 0 && units + lines[from - 1].size() <= m_capacity && lines.size() - from < m_lineCapacity)
        units += lines[--from].size();
    const bool tooMany = from > 0;
    lines.remove(0, from);
    const QString& newest = lines.constLast();
    // The caret rule: replacing the text puts the caret at 0, and it then moves
    // on by the newest line's length, formed as a signed 32-bit sum.
    const qint32 caret = 0;
    if (newest.size() > std::numeric_limits<qint32>::max() - caret)
        throw Error(QStringLiteral("受信欄のカーソルを動かせませんでした"),
                    QStringLiteral("行が長すぎて位置が整数の範囲を超えました。"));

    m_inserting = true;
    // Replacing the text keeps no undo history, as in the edit control; it also
    // keeps a long transcript from holding every insertion twice.
    QTextDocument* doc = document();
    doc->setUndoRedoEnabled(false);
    QTextCursor at(doc);
    // No caret while the lines go in: moving it repaints its old place, which
    // the insertion pushes down, and Qt lays out every line above that place
    // (two screens of them) only to find it.
    if (!QAccessible::isActive())
        setTextCursor(QTextCursor());

    int breaks = 0;   // in the newest line
    int inserted = 0; // lines put in
    if (QAccessible::isActive()) {
        // A screen reader hears each insertion as one: the lines one by one,
        // oldest first, as they came.
        for (const QString& line : lines) {
            QString text;
            breaks = appendHeld(text, line);
            inserted += breaks;
            at.setPosition(0);
            at.insertText(text);
        }
    } else {
        // Newest first, as they will read, in one edit.
        qsizetype total = 0;
        for (const QString& line : lines)
            total += line.size();
        QString text;
        text.reserve(total);
        breaks = appendHeld(text, newest);
        inserted = breaks;
        for (auto it = std::next(lines.crbegin()); it != lines.crend(); ++it)
            inserted += appendHeld(text, *it);
        // The last line break first, then the text in front of it: Qt keeps
        // less memory and time that way than with the break inserted last.
        at.beginEditBlock();
        if (text.endsWith(QChar::ParagraphSeparator)) {
            text.chop(1);
            at.insertBlock();
            at.setPosition(0);
        }
        at.insertText(text);
        at.endEditBlock();
    }
    keepWithinCapacity(tooMany ? inserted : std::numeric_limits<int>::max());
    doc->setUndoRedoEnabled(true);

    // The view goes back to the top, where the new line is, as it does when an
    // edit control's text is replaced; the caret lands right after the new line.
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    QTextCursor after(doc);
    const QTextBlock next = doc->findBlockByNumber(breaks);
    after.setPosition(next.isValid() ? next.position() : doc->characterCount() - 1);
    setTextCursor(after);
    m_layout->release(after);
    m_inserting = false;
}

// Newest lines first, as many as fit with the notice, then the notice: once the
// oldest lines have gone it is always the one line at the bottom, whatever the
// user did around it.
void TranscriptBox::keepWithinCapacity(int atMost)
{
    QTextDocument* doc = document();
    const QString notice = droppedNotice();
    const QTextBlock last = doc->lastBlock();
    const bool noticeThere = m_trimmed && last.length() - 1 == notice.size() && last.text() == notice;
    // Lines [0, end) stay; `units` is what they take, their breaks included.
    int end = doc->blockCount() - (noticeThere ? 1 : 0);
    qint64 units = windowsLength() - (noticeThere ? notice.size() + 2 : 0);
    const bool burst = end > atMost;
    if (burst) { // a burst larger than the transcript: only its own lines may stay
        m_trimmed = true;
        const QTextBlock kept = doc->findBlockByNumber(atMost);
        units = kept.position() + atMost - 2; // in the edit control's units, less the break above it
        end = atMost;
    }
    const auto fits = [&] {
        return m_trimmed ? units + 2 + notice.size() <= m_capacity && end + 1 <= m_lineCapacity
                         : units <= m_capacity && end <= m_lineCapacity;
    };
    if (fits() && (!m_trimmed || noticeThere) && !burst)
        return;
    m_trimmed = true;
    QTextBlock first = doc->findBlockByNumber(end); // the first line to go, if any
    while (!fits() && end > 1) { // the newest line always stays
        first = first.isValid() ? first.previous() : doc->findBlockByNumber(end - 1);
        --end;
        units -= first.length() - 1 + 2;
    }
    QTextCursor cut(doc);
    if (noticeThere) { // the notice stays as it is
        cut.setPosition(first.position());
        cut.setPosition(last.position(), QTextCursor::KeepAnchor);
        cut.removeSelectedText();
        return;
    }
    cut.beginEditBlock();
    if (first.isValid()) {
        cut.setPosition(first.position());
        cut.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    } else {
        cut.movePosition(QTextCursor::End);
        cut.insertBlock();
    }
    cut.insertText(notice);
    cut.endEditBlock();
}

QString TranscriptBox::windowsText() const
{
    QString text = document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    text.replace(QChar(LoneCR), u'\r');
    text.replace(QChar(LoneLF), u'\n');
    return text;
}

qint64 TranscriptBox::windowsLength() const
{
    // Every block break is two units there (CR LF); the document counts a
    // final separator that the text does not hold.
    const QTextDocument* doc = document();
    return qint64(doc->characterCount()) - 1 + doc->blockCount() - 1;
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
