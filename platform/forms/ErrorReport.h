#pragma once

#include <QString>

#include <exception>
#include <utility>

class QWidget;

namespace vesk {

// The one place where an error that no handler dealt with reaches the user: a
// message box in Japanese saying what failed and why. It does not block, so the
// program goes on running behind it.
void reportError(QWidget* near, const std::exception& error);
void reportError(QWidget* near, const QString& failed, const QString& reason);

// A notice beside the window that neither blocks it nor takes the focus from
// what the user is typing; screen readers announce it as an alert. While one of
// the same name is still open, a new one is not stacked on it.
void showNotice(QWidget* near, const QString& name, const QString& what, const QString& detail);

// Runs a handler's work and hands anything it throws to reportError, so that no
// exception ever travels into Qt's event loop.
template <typename Work>
void guarded(QWidget* near, Work&& work) noexcept
{
    try {
        std::forward<Work>(work)();
    } catch (const std::exception& e) {
        reportError(near, e);
    } catch (...) {
        reportError(near, QStringLiteral("処理を続けられませんでした"),
                    QStringLiteral("原因のわからないエラーが起きました。"));
    }
}

} // namespace vesk
