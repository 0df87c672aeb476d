#pragma once

#include <QPlainTextEdit>
#include <QStringList>

namespace vesk {

// The transcript: an ordinary editable multi-line box, newest line on top.
// Positions and the text are seen as a Windows edit control shows them, with CR LF
// line breaks counting as two code units, because that is how the caret rule of
// the transcript is stated.
class TranscriptBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TranscriptBox(QWidget* parent = nullptr);

    // Puts `line` (which ends in CR LF) in front of the whole text and leaves the
    // caret right after it, as replacing the text of an edit control (caret back
    // to 0) and then moving the caret on by the line's length does.
    // Throws vesk::Error when that caret sum overflows a signed 32-bit integer.
    void insertLine(const QString& line);

    // Between these, insertLine only collects its lines; the last endBatch puts
    // them in as one edit of the document. What shows is the same as inserting
    // them one by one, at a fraction of the cost for a burst.
    void beginBatch();
    void endBatch();

    QString windowsText() const;
    qint32 caretPosition() const;          // in Windows units
    void setCaretPosition(qint32 position); // in Windows units

private:
    void insertNow(const QStringList& lines); // oldest first

    int m_batchDepth = 0;
    QStringList m_pending;
};

} // namespace vesk
