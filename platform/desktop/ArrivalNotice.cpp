#include "platform/desktop/ArrivalNotice.h"

#include "platform/desktop/LineAnnouncer.h"
#ifdef VESK_DESKTOP_NOTIFICATIONS
#include "platform/desktop/DesktopNotifications.h"
#else
namespace vesk {
// Without D-Bus (the Windows build) there is never one; the calls still compile.
class DesktopNotifications {
public:
    void show(const QString&, const QString&) {}
    void withdraw() {}
};
} // namespace vesk
#endif

#include <QAccessible>
#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace vesk {

ArrivalNotice::ArrivalNotice(QWidget* window, QWidget* transcript)
    : QObject(window), m_window(window), m_transcript(transcript), m_announcer(new LineAnnouncer(window))
{
#ifdef VESK_DESKTOP_NOTIFICATIONS
    m_notifications = new DesktopNotifications(this);
#endif
    window->installEventFilter(this);
}

// A window that goes takes its notification with it.
ArrivalNotice::~ArrivalNotice()
{
    if (m_notifications)
        m_notifications->withdraw();
}

namespace {

QString cut(const QString& line, qsizetype most)
{
    QString text = line;
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    if (text.size() <= most)
        return text;
    qsizetype end = most - 1;
    if (text.at(end - 1).isHighSurrogate())
        --end; // never half a character
    return text.left(end) + u'…';
}

} // namespace

QString ArrivalNotice::shortened(const QString& line)
{
    return cut(line, 100); // about two lines of a notification
}

void ArrivalNotice::linesArrived(const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    const bool active = m_window->isActiveWindow();
    // Only for a listening screen reader, and never more than a few lines: a
    // flood read aloud is no use, and building it would cost every turn.
    if (QAccessible::isActive() && !(active && m_transcript->hasFocus())) {
        constexpr qsizetype MostSpoken = 10;
        QStringList spoken;
        for (qsizetype i = 0; i < qMin(lines.size(), MostSpoken); ++i)
            spoken << cut(lines[i], 1000);
        if (lines.size() > MostSpoken)
            spoken << QStringLiteral("ほか %1 行").arg(lines.size() - MostSpoken);
        m_announcer->announce(spoken.join(u'\n'));
    }
    if (active)
        return;
    QApplication::alert(m_window); // asks for attention, never takes the focus
    if (m_notifications)
        m_notifications->show(m_window->windowTitle(), shortened(lines.last()));
}

bool ArrivalNotice::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::ActivationChange && m_notifications &&
        m_window->isActiveWindow())
        m_notifications->withdraw();
    return QObject::eventFilter(watched, event);
}

} // namespace vesk
