#pragma once

#include <QWidget>

namespace vesk {

// Makes a screen reader speak a text wherever the focus is, in an active
// window or not. Orca speaks inserted text only in the focused control, but
// speaks any notification that is shown; Qt 6.4 has no announcement of its
// own, so this invisible, unfocusable child is that notification, shown anew
// with each text as its name.
class LineAnnouncer : public QWidget {
    Q_OBJECT
public:
    explicit LineAnnouncer(QWidget* window);

    void announce(const QString& text);
};

} // namespace vesk
