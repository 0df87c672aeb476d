#pragma once

#include <QString>

namespace vesk {

// Twips (1/1440 inch) to device-independent pixels: 15 twips a pixel at 96 dpi.
constexpr int twips(int t) noexcept { return (t + 7) / 15; }

// Names a control and puts it at its rectangle, given in twips.
template <typename W>
W* place(W* w, const char* name, int left, int top, int width, int height)
{
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
    return w;
}

} // namespace vesk
