#pragma once

#include <QObject>
#include <QString>

#include <optional>

namespace vesk {

// One desktop notification of ours at a time (org.freedesktop.Notifications on
// the session bus): showing again replaces it, withdraw() takes it away. Every
// call is asynchronous, so a slow or missing service never holds up the window,
// and where there is none nothing happens at all.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifications(QObject* parent = nullptr);

    void show(const QString& summary, const QString& body);
    void withdraw();

private:
    struct Shown {
        QString summary;
        QString body;
    };
    void send(const Shown& what);
    void replied();

    uint m_id = 0;               // the service's id of the one on screen, 0 for none
    bool m_waiting = false;      // for the service's answer to our last call
    bool m_markup = false;       // the service reads the body as markup
    bool m_knowsService = false; // its capabilities have been asked
    std::optional<Shown> m_next; // to show once the service has answered
    bool m_withdrawNext = false;
};

} // namespace vesk
