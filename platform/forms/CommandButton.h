#pragma once

#include <QPushButton>
#include <QShortcutEvent>

namespace vesk {

// A push button as the forms of the original system have them: its access key
// clicks it at once (Qt animates the press and clicks 100 ms later, long enough
// for a fast typist's next keys to land in the message being sent), once per key
// press however long the key is held, and Enter presses it while it has the
// focus. It never becomes the window's default.
class CommandButton : public QPushButton {
public:
    CommandButton(const QString& caption, QWidget* parent) : QPushButton(parent)
    {
        // The caption goes in only now: setting it makes Qt look up the button's
        // screen reader interface, which must find a CommandButton (Accessible.cpp).
        setText(caption);
        setAutoDefault(true); // outside a dialog this only makes Enter press it
        // QAbstractButton registers the access key with key repeats on and keeps
        // the registration to itself; register it here instead, without them.
        // (Captions are fixed: a new one would bring Qt's registration back.)
        setShortcut(QKeySequence());
        m_accessKey = grabShortcut(accessKey());
        setShortcutAutoRepeat(m_accessKey, false);
    }

    // The access key as a screen reader announces it ("Alt+S").
    QKeySequence accessKey() const { return QKeySequence::mnemonic(text()); }

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::Shortcut && static_cast<QShortcutEvent*>(e)->shortcutId() == m_accessKey) {
            if (static_cast<QShortcutEvent*>(e)->isAmbiguous())
                setFocus(Qt::ShortcutFocusReason); // shared by two controls: focus, as Qt does
            else if (isEnabled())
                click();
            return true;
        }
        return QPushButton::event(e);
    }

private:
    int m_accessKey = 0;
};

} // namespace vesk
