#pragma once

class QApplication;

namespace vesk {

// Font and names shared by every window. The control rectangles are fixed in
// twips, so the font is chosen to fit the captions inside them.
void applyAppearance(QApplication& app);

// Twips (1/1440 inch) to device-independent pixels: 15 twips a pixel at 96 dpi.
constexpr int twips(int t) noexcept { return (t + 7) / 15; }

} // namespace vesk
