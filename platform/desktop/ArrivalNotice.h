#pragma once

#include <QObject>
#include <QStringList>

class QWidget;

namespace vesk {

class DesktopNotifications;
class LineAnnouncer;

// Tells the user of lines that arrived. A screen reader hears each one; while
// the window is not active the taskbar is asked for attention (where the
// platform does that: not on Wayland) and a desktop notification shows the
// newest line, replaced by the next one and withdrawn when the window becomes
// active again.
class ArrivalNotice : public QObject {
    Q_OBJECT
public:
    // `transcript` is where the lines go: a reader already speaks what is
    // inserted there while it has the focus.
    ArrivalNotice(QWidget* window, QWidget* transcript);
    ~ArrivalNotice() override;

    // The lines of one arrival, oldest first, as the transcript shows them.
    void linesArrived(const QStringList& lines);

    // A notification's body: the line without its line break, cut short
    // enough to read at a glance.
    static QString shortened(const QString& line);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    QWidget* m_transcript;
    LineAnnouncer* m_announcer;
    DesktopNotifications* m_notifications = nullptr;
};

} // namespace vesk
