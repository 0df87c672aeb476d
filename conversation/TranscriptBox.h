#pragma once

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

namespace vesk {

class TranscriptLayout;

// The transcript: an ordinary editable multi-line box, newest line on top.
// Positions and the text are seen as a Windows edit control shows them, with CR LF
// line breaks counting as two code units, because that is how the caret rule of
// the transcript is stated.
class TranscriptBox : public QPlainTextEdit {
    Q_OBJECT
public:
    // The most the transcript keeps, in those units: ten million, about
    // 100,000 messages of a hundred characters. A conversation never comes near
    // it; a flood of large datagrams reaches it in seconds, and then the oldest
    // lines at the bottom go, so that memory stays bounded and positions stay
    // far from the edit control's 32-bit limit. Qt compacts the document's text
    // once its buffer is 90 % full, and grows that buffer to the next power of
    // two: at ten million the text fills 60 % of it, so compacting is rare.
    // Just below 16 Mi it would compact the whole text at every edit.
    static constexpr qint64 DefaultCapacity = 10'000'000;
    // And the most lines: each costs a few hundred bytes whatever it holds, so a
    // flood of empty messages (seven units a line) would otherwise keep 1.4
    // million of them. Twice the lines of the unit limit's hundred-character
    // messages: only lines shorter than fifty characters ever meet it.
    static constexpr int DefaultLineCapacity = 200'000;
    // Lines are painted at most this often, a screen's frame: a line that comes
    // sooner after the last paint is painted with the next frame.
    static constexpr qint64 FrameNs = 16'666'667;

    explicit TranscriptBox(QWidget* parent = nullptr);

    // Puts `line` (which ends in CR LF) in front of the whole text and leaves the
    // caret right after it, as replacing the text of an edit control (caret back
    // to 0) and then moving the caret on by the line's length does.
    // Throws vesk::Error when that caret sum overflows a signed 32-bit integer.
    void insertLine(const QString& line);

    // Between these, insertLine only collects its lines; the last endBatch puts
    // them in. What shows is the same as inserting them one by one, at a
    // fraction of the cost for a burst.
    void beginBatch();
    void endBatch();

    QString windowsText() const;
    qint64 windowsLength() const;
    qint32 caretPosition() const;          // in Windows units
    void setCaretPosition(qint32 position); // in Windows units

    qint64 capacity() const noexcept { return m_capacity; }
    void setCapacity(qint64 units) { m_capacity = units; }
    int lineCapacity() const noexcept { return m_lineCapacity; }
    void setLineCapacity(int lines) { m_lineCapacity = lines; }
    // The line kept at the bottom once the oldest lines have gone.
    QString droppedNotice() const;

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    void insertNow(QStringList lines); // oldest first
    // Lines that may stay, and what is about to come in on top.
    void keepWithinCapacity(int atMost, qint64 comingUnits = 0, int comingLines = 0);
    void fitVerticalRange();
    void holdRepaint();

    TranscriptLayout* m_layout;
    int m_batchDepth = 0;
    QStringList m_pending;
    qint64 m_capacity = DefaultCapacity;
    int m_lineCapacity = DefaultLineCapacity;
    bool m_trimmed = false;   // the oldest lines have gone: the notice stays at the bottom
    bool m_inserting = false; // the caret moves by the insertion rule, not by the user
    QElapsedTimer m_lastPaint;
    QTimer m_nextFrame; // the view held until then
};

} // namespace vesk
