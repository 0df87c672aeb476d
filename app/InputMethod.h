#pragma once

class QObject;

namespace vesk {

// Qt 6 on X11 reads only QT_IM_MODULE, while desktops often announce their input
// method only as XMODIFIERS=@im=... or GTK_IM_MODULE=...; left alone, Qt then
// takes the compose plugin and Japanese cannot be typed. This names ibus or fcitx
// for Qt when the desktop does, IBus on GNOME (which announces nothing on
// Wayland), and leaves an explicit QT_IM_MODULE(S) alone. Only on X11 and
// Wayland desktops: Windows and macOS keep their own input method.
// Call before the QApplication is made.
void useDesktopInputMethod();

// Qt 6.4 keeps listening to a window that had the focus when it was closed: as
// its boxes are deleted, it tells the input method that nothing takes text, and
// Windows' input method is switched off for the window that has the focus (a
// commit from it is then dropped). Once `window` is gone, this has Qt look at
// the focused box again. For a window that closes as another one opens.
void recheckInputMethodWhenGone(QObject* window);

} // namespace vesk
