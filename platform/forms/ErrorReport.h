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
