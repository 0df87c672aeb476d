#include "conversation/TranscriptBox.h"

#include "conversation/TranscriptLayout.h"
#include "platform/error/VeskError.h"

#include <QAccessible>
#include <QLocale>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <limits>
#include <utility>

namespace vesk {

namespace {

// A lone CR or LF is one character of the text, as in the edit control, not a
// line break: the document keeps it as the symbol that shows it.
constexpr char16_t LoneCR = u'\u240D';
constexpr char16_t LoneLF = u'\u240A';

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
    connect(&m_nextFrame, &QTimer::timeout, this, [this] { viewport()->setUpdatesEnabled(true); });

    // Wherever else the caret goes (the user, a screen reader, a program), its
    // line gets Qt's layout; the line it left lets it go.
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        if (m_inserting)
            return;
        m_layout->open(textCursor().block());
        m_layout->release(textCursor());
    });
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
    holdRepaint();
    // Lines of a burst that could not stay even alone go before they are put
    // in, and with them all that is older: a burst larger than the transcript
    // never makes its text larger.
    qsizetype from = lines.size() - 1, units = lines.last().size();
    while (from > 0 && units + lines[from - 1].size() <= m_capacity && lines.size() - from < m_lineCapacity)
        units += lines[--from].size();
    const bool tooMany = from > 0;
    lines.remove(0, from);
    std::reverse(lines.begin(), lines.end()); // newest first, as they will read
    // The caret rule: replacing the text puts the caret at 0, and it then moves
    // on by the newest line's length, formed as a signed 32-bit sum.
    const qint32 caret = 0;
    if (lines.first().size() > std::numeric_limits<qint32>::max() - caret)
        throw Error(QStringLiteral("受信欄のカーソルを動かせませんでした"),
                    QStringLiteral("行が長すぎて位置が整数の範囲を超えました。"));

    m_inserting = true;
    // Replacing the text keeps no undo history, as in the edit control; it also
    // keeps a long transcript from holding every insertion twice.
    QTextDocument* doc = document();
    doc->setUndoRedoEnabled(false);
    // No caret while the lines go in: moving it repaints its old place, which
    // the insertion pushes down, and Qt lays out every line above that place
    // (two screens of them) only to find it.
    if (!QAccessible::isActive())
        setTextCursor(QTextCursor());
    // Room first, for at least these lines: Qt compacts its whole text when an
    // edit ends with much gone, and a cut right after would compact it again.
    if (!tooMany)
        keepWithinCapacity(std::numeric_limits<int>::max(), units,
                           int(std::count_if(lines.cbegin(), lines.cend(),
                                             [](const QString& l) { return l.endsWith(QStringLiteral("\r\n")); })));
    const int blocks = doc->blockCount();
    // All in one edit; while a screen reader listens, one edit a line, oldest
    // first, so that it hears them one by one as they came.
    const qsizetype perEdit = QAccessible::isActive() ? 1 : lines.size();
    for (qsizetype end = lines.size(); end > 0; end -= perEdit) {
        // The document holds a CR LF as its line break and a lone CR or LF as the
        // symbol that shows it; the usual line has one CR LF, at its end.
        QString text;
        text.reserve(perEdit > 1 ? units : lines[end - 1].size());
        for (const QString& line : lines.mid(end - perEdit, perEdit)) {
            if (line.indexOf(u'\r') == line.size() - 2 && line.indexOf(u'\n') == line.size() - 1)
                text.append(QStringView(line).chopped(2)).append(QChar::ParagraphSeparator);
            else
                text.append(QString(line).replace(QStringLiteral("\r\n"), QString(QChar::ParagraphSeparator))
                                .replace(u'\r', LoneCR).replace(u'\n', LoneLF));
        }
        // The last line break first, then the text in front of it: Qt keeps
        // less memory and time that way than with the break inserted last.
        QTextCursor at(doc);
        at.beginEditBlock();
        if (text.endsWith(QChar::ParagraphSeparator)) {
            text.chop(1);
            at.insertBlock();
            at.setPosition(0);
        }
        at.insertText(text);
        at.endEditBlock();
    }
    keepWithinCapacity(tooMany ? doc->blockCount() - blocks : std::numeric_limits<int>::max());
    doc->setUndoRedoEnabled(true);

    // The view goes back to the top, where the new line is, as it does when an
    // edit control's text is replaced; the caret lands right after the new line.
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    setCaretPosition(caret + qint32(lines.first().size()));
    m_layout->release(textCursor());
    m_inserting = false;
}

// Newest lines first, as many as fit with the notice, then the notice: once the
// oldest lines have gone it is always the one line at the bottom, whatever the
// user did around it.
void TranscriptBox::keepWithinCapacity(int atMost, qint64 comingUnits, int comingLines)
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
        // In the edit control's units, less the break above the first line to go.
        units = doc->findBlockByNumber(atMost).position() + atMost - 2;
        end = atMost;
    }
    const auto fits = [&] {
        const qint64 room = m_capacity - comingUnits;
        const int lineRoom = m_lineCapacity - comingLines;
        return m_trimmed ? units + 2 + notice.size() <= room && end + 1 <= lineRoom
                         : units <= room && end <= lineRoom;
    };
    if (fits() && (!m_trimmed || noticeThere) && !burst)
        return;
    m_trimmed = true;
    while (!fits() && end > 1) // the newest line always stays
        units -= doc->findBlockByNumber(--end).length() - 1 + 2;
    const QTextBlock first = doc->findBlockByNumber(end); // the first line to go, if any
    QTextCursor cut(doc);
    if (noticeThere) { // the notice stays as it is
        cut.setPosition(first.position());
        cut.setPosition(last.position(), QTextCursor::KeepAnchor);
        cut.removeSelectedText();
        return;
    }
    cut.beginEditBlock();
    cut.movePosition(QTextCursor::End);
    if (first.isValid())
        cut.setPosition(first.position(), QTextCursor::KeepAnchor);
    else
        cut.insertBlock();
    cut.insertText(notice);
    cut.endEditBlock();
}

QString TranscriptBox::windowsText() const
{
    return document()->toRawText().replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"))
        .replace(QChar(LoneCR), u'\r').replace(QChar(LoneLF), u'\n');
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
