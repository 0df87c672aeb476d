#include "app/InputMethod.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QInputMethod>
#include <QList>
#include <QtGlobal>

namespace vesk {

// Only X11 and Wayland desktops name their input method this way. Elsewhere
// Qt talks to the system's own input method, and QT_IM_MODULE would
// replace it: Wine hands a Windows program the X desktop's XMODIFIERS, and a
// missing "ibus" plugin there leaves Qt switching the window's IME off.
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)

namespace {

// The input methods with a Qt 6 plugin under the names their desktops use; a
// missing plugin costs nothing, as Qt then falls back to compose by itself.
// Anything else (xim, uim, none) has no Qt 6 plugin and is left to Qt.
bool hasQtPlugin(const QByteArray& name)
{
    return name == "ibus" || name == "fcitx" || name == "fcitx5";
}

// XMODIFIERS reads "@im=<name>", possibly followed by other "@key=value" parts.
QByteArray fromXModifiers(const QByteArray& modifiers)
{
    const qsizetype at = modifiers.indexOf("@im=");
    if (at < 0)
        return {};
    const qsizetype from = at + 4;
    const qsizetype end = modifiers.indexOf('@', from);
    return modifiers.mid(from, end < 0 ? -1 : end - from).trimmed();
}

// GNOME's input sources are IBus engines, but on Wayland it tells programs of
// none: it offers its input method only through text-input-v3, which Qt 6.4's
// Wayland plugin lacks. XDG_CURRENT_DESKTOP may list several names ("ubuntu:GNOME").
bool onGnome()
{
    const QList<QByteArray> desktops = qgetenv("XDG_CURRENT_DESKTOP").toLower().split(':');
    return desktops.contains("gnome");
}

} // namespace

void useDesktopInputMethod()
{
    if (!qEnvironmentVariableIsEmpty("QT_IM_MODULE") || !qEnvironmentVariableIsEmpty("QT_IM_MODULES"))
        return;
    // GTK_IM_MODULE is the toolkit-level choice; XMODIFIERS is what GTK_IM_MODULE=xim
    // connects to, so it still counts when GTK's module is one Qt has not got.
    for (const QByteArray& name : {qgetenv("GTK_IM_MODULE").trimmed(), fromXModifiers(qgetenv("XMODIFIERS"))}) {
        if (hasQtPlugin(name)) {
            qputenv("QT_IM_MODULE", name);
            return;
        }
    }
    if (onGnome())
        qputenv("QT_IM_MODULE", "ibus");
}

#else

void useDesktopInputMethod() {}

#endif

void recheckInputMethodWhenGone(QObject* window)
{
    // A widget says it is destroyed before its boxes go: look once they have.
    QObject::connect(
        window, &QObject::destroyed, qApp,
        [] {
            if (!QCoreApplication::closingDown()) // nothing to look at as the program ends
                QGuiApplication::inputMethod()->update(Qt::ImEnabled);
        },
        Qt::QueuedConnection);
}

} // namespace vesk
