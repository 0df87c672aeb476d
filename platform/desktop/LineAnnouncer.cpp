#include "platform/desktop/LineAnnouncer.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace vesk {

namespace {

QAccessibleInterface* announcerFactory(const QString& className, QObject* object)
{
    if (className == u"vesk::LineAnnouncer")
        if (auto* w = qobject_cast<LineAnnouncer*>(object))
            return new QAccessibleWidget(w, QAccessible::Notification);
    return nullptr;
}

} // namespace

LineAnnouncer::LineAnnouncer(QWidget* window) : QWidget(window)
{
    static const bool installed = [] {
        QAccessible::installFactory(announcerFactory);
        return true;
    }();
    Q_UNUSED(installed);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 0, 0);
    hide();
}

void LineAnnouncer::announce(const QString& text)
{
    // The reader speaks a notification when it starts showing, with its name.
    hide();
    setAccessibleName(text);
    show();
}

} // namespace vesk
