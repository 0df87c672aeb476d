#include "platform/desktop/DesktopNotifications.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace vesk {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QDBusMessage call(const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kService, method);
    m.setArguments(arguments);
    return m;
}

} // namespace

DesktopNotifications::DesktopNotifications(QObject* parent) : QObject(parent) {}

void DesktopNotifications::show(const QString& summary, const QString& body)
{
    if (!QDBusConnection::sessionBus().isConnected())
        return;
    m_next = Shown{summary, body};
    m_withdrawNext = false;
    if (m_waiting)
        return; // sent once the service has answered the call before
    if (m_knowsService) {
        replied();
        return;
    }
    // Whether the body is read as markup decides whether "<" must be escaped.
    m_waiting = true;
    auto* w = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call(QStringLiteral("GetCapabilities"))), this);
    connect(w, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* watcher) {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList> reply = *watcher;
        m_markup = reply.isValid() && reply.value().contains(QStringLiteral("body-markup"));
        m_knowsService = true;
        m_waiting = false;
        replied();
    });
}

void DesktopNotifications::send(const Shown& what)
{
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QCoreApplication::applicationName().toLower()},
        {QStringLiteral("category"), QStringLiteral("im.received")},
        {QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}, // normal
    };
    m_waiting = true;
    auto* w = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call(
            QStringLiteral("Notify"),
            {QCoreApplication::applicationName(), m_id, QStringLiteral("vesk"), what.summary,
             m_markup ? what.body.toHtmlEscaped() : what.body, QStringList(), hints, -1})),
        this);
    connect(w, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* watcher) {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isValid())
            m_id = reply.value();
        m_waiting = false;
        replied();
    });
}

// What was asked while the service was busy with the call before goes now.
void DesktopNotifications::replied()
{
    if (m_withdrawNext) {
        m_withdrawNext = false;
        withdraw();
    } else if (m_next) {
        const Shown next = *m_next;
        m_next.reset();
        send(next);
    }
}

void DesktopNotifications::withdraw()
{
    m_next.reset();
    if (m_waiting) {
        m_withdrawNext = true; // the id of the one being shown is not known yet
        return;
    }
    if (m_id == 0)
        return;
    QDBusConnection::sessionBus().asyncCall(call(QStringLiteral("CloseNotification"), {m_id}));
    m_id = 0;
}

} // namespace vesk
