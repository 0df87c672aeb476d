// Random steps on a transcript box, each checked against a model of its rule:
// a line L put in front of the text T gives the text L + T and the caret at
// length(L); the newest lines that fit both limits stay, then the notice, the
// one line at the bottom. Users type, delete, select, paste and undo between
// the lines, on short lines and long ones alike. Shared by tst_transcriptmodel
// and the fuzz target fuzz_transcript.
#pragma once

#include "conversation/MessageRules.h"
#include "conversation/TranscriptBox.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <QTextBlock>

namespace transcriptmodel {

using namespace Qt::StringLiterals;

// The bytes that choose the steps; past their end, zeros.
class Choices {
public:
    explicit Choices(QByteArrayView bytes) : m_bytes(bytes) {}
    bool done() const { return m_at >= m_bytes.size(); }
    int next(int bound) // in [0, bound)
    {
        unsigned value = 0;
        for (int b = 0; b < (bound > 256 ? 2 : 1); ++b)
            value = value << 8 | (m_at < m_bytes.size() ? quint8(m_bytes[m_at++]) : 0u);
        return int(value % unsigned(bound));
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};

// The transcript as its rule states it, in the edit control's units.
struct Model {
    QString text;
    qint32 caret = 0, anchor = 0;
    qint64 capacity = 0;
    int lineCapacity = 0;
    QString notice;
    bool trimmed = false;
    QString beforeEdit; // the text before the only edit since the last line, if one
    int edits = 0;

    void arrive(const QStringList& lines) // oldest first
    {
        for (const QString& l : lines)
            text = l + text;
        caret = anchor = qint32(lines.last().size()); // 0, where replacing the text put it, + length(L)
        edits = 0;
        // The most newest lines (one at least) that fit both limits with the
        // notice below them; once lines have gone, the notice is always there.
        QStringList all = text.split(u"\r\n"_s);
        const bool noticeThere = trimmed && all.last() == notice;
        if (noticeThere)
            all.removeLast();
        const auto size = [&](qsizetype k) { return all.mid(0, k).join(u"\r\n"_s).size(); };
        if (!trimmed && text.size() <= capacity && all.size() <= lineCapacity)
            return;
        if (noticeThere && size(all.size()) + 2 + notice.size() <= capacity && all.size() + 1 <= lineCapacity)
            return;
        trimmed = true;
        qsizetype k = all.size();
        while (k > 1 && (size(k) + 2 + notice.size() > capacity || k + 1 > lineCapacity))
            --k;
        text = all.mid(0, k).join(u"\r\n"_s) + u"\r\n"_s + notice;
    }
    void replace(const QString& with) // the selection, or at the caret
    {
        beforeEdit = text;
        ++edits;
        const qint32 from = std::min(caret, anchor);
        text.replace(from, std::abs(caret - anchor), with);
        caret = anchor = from + qint32(with.size());
    }
    // One character, or a whole CR LF, before (-1) or after (+1) the caret.
    void erase(int direction)
    {
        if (caret == anchor) {
            const qint32 at = direction < 0 ? caret - 2 : caret;
            const int n = at >= 0 && text.mid(at, 2) == u"\r\n"_s ? 2 : 1;
            if (direction < 0 ? caret - n < 0 : caret + n > text.size())
                return;
            anchor = direction < 0 ? caret - n : caret + n;
        }
        replace(QString());
    }
};

inline QString letters(Choices& c, int length)
{
    static const QString alphabet = u"abcXYZ あいうアイウ漢字　>.0"_s;
    QString s;
    for (int i = 0; i < length; ++i)
        s += alphabet[c.next(int(alphabet.size()))];
    return s;
}

// Windows units to the document's, and back.
inline int inDocument(const QString& windowsText, qint32 at)
{
    return at - int(windowsText.left(at).count(u"\r\n"_s));
}
inline qint32 inWindows(const QTextDocument* doc, int at)
{
    return qint32(at + doc->findBlock(at).blockNumber());
}

// Runs the steps `choices` gives; an empty string when every one matched the model.
inline QString run(Choices& c)
{
    vesk::TranscriptBox box;
    Model m;
    m.capacity = 120 + c.next(5) * 1500;
    m.lineCapacity = 2 + c.next(12);
    box.setCapacity(m.capacity);
    box.setLineCapacity(m.lineCapacity);
    m.notice = box.droppedNotice();
    for (int step = 0; step < 40 && !c.done(); ++step) {
        QString what;
        const int kind = c.next(9);
        if (kind <= 2) { // lines arrive, one or a burst
            QStringList lines;
            for (int n = c.next(3) + 1; n > 0; --n) {
                const int sizes[] = {0, 3, 12, 995, 996, 2500};
                QString body = letters(c, sizes[c.next(6)] + c.next(3));
                if (c.next(8) == 0) // a lone CR or LF in an own line
                    body.insert(c.next(int(body.size()) + 1), c.next(2) ? u'\r' : u'\n');
                lines << vesk::transcriptLine(c.next(2) ? vesk::kOwnLabel : vesk::kPartnerLabel, body);
            }
            what = u"%1 line(s), newest %2 units"_s.arg(lines.size()).arg(lines.last().size());
            if (lines.size() > 1)
                box.beginBatch();
            for (const QString& l : lines)
                box.insertLine(l);
            if (lines.size() > 1)
                box.endBatch();
            m.arrive(lines);
        } else if (kind == 3) { // a selection, or the caret, anywhere
            const auto pick = [&] {
                qint32 at = qint32(c.next(int(m.text.size()) + 1));
                return at > 0 && m.text.mid(at - 1, 2) == u"\r\n"_s ? at - 1 : at;
            };
            m.anchor = pick();
            m.caret = c.next(2) ? pick() : m.anchor;
            QTextCursor cur(box.document());
            cur.setPosition(inDocument(m.text, m.anchor));
            cur.setPosition(inDocument(m.text, m.caret), QTextCursor::KeepAnchor);
            box.setTextCursor(cur);
            what = u"select %1..%2"_s.arg(m.anchor).arg(m.caret);
        } else if (kind == 4) {
            const QString typed = letters(c, c.next(4) + 1);
            for (const QChar ch : typed) // as a keyboard or an input method gives them
                QTest::sendKeyEvent(QTest::Click, &box, Qt::Key_A, QString(ch), Qt::NoModifier);
            m.replace(typed);
            what = u"type"_s;
        } else if (kind == 5) {
            QTest::keyClick(&box, Qt::Key_Return);
            m.replace(u"\r\n"_s);
            what = u"Enter"_s;
        } else if (kind == 6) {
            const bool back = c.next(2);
            QTest::keyClick(&box, back ? Qt::Key_Backspace : Qt::Key_Delete);
            m.erase(back ? -1 : 1);
            what = back ? u"Backspace"_s : u"Delete"_s;
        } else if (kind == 7) {
            const QString pasted = letters(c, c.next(3)) + u"\n"_s + letters(c, c.next(3));
            QGuiApplication::clipboard()->setText(pasted);
            QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
            m.replace(QString(pasted).replace(u"\n"_s, u"\r\n"_s));
            what = u"paste"_s;
        } else if (m.edits <= 1) { // undo: only the user's edits since the last line
            QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
            if (m.edits == 1)
                m.text = m.beforeEdit;
            m.edits = 0;
            m.caret = inWindows(box.document(), box.textCursor().position());
            m.anchor = inWindows(box.document(), box.textCursor().anchor());
            what = u"undo"_s;
        }
        const QString shown = box.windowsText();
        const qint32 caret = box.caretPosition();
        const qint32 anchor = inWindows(box.document(), box.textCursor().anchor());
        if (shown != m.text || caret != m.caret || anchor != m.anchor)
            return u"step %1 (%2): text %3 (%4 units, model %5), caret %6..%7, model %8..%9"_s.arg(step)
                .arg(what, shown == m.text ? u"as the model"_s : u"differs"_s)
                .arg(shown.size()).arg(m.text.size())
                .arg(anchor).arg(caret).arg(m.anchor).arg(m.caret);
    }
    return {};
}

} // namespace transcriptmodel
