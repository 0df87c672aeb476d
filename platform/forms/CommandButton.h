#pragma once

#include <QPushButton>
#include <QShortcutEvent>

namespace vesk {

// A push button as the forms of the original system have them: its access key
// clicks it at once (Qt animates the press and clicks 100 ms later, long enough
// for a fast typist's next keys to land in the message being sent), and Enter
// presses it while it has the focus. It never becomes the window's default.
class CommandButton : public QPushButton {
public:
    CommandButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent)
    {
        setAutoDefault(true); // outside a dialog this only makes Enter press it
    }

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::Shortcut && !static_cast<QShortcutEvent*>(e)->isAmbiguous()) {
            if (isEnabled())
                click();
            return true;
        }
        return QPushButton::event(e);
    }
};

} // namespace vesk
