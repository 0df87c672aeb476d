#pragma once

class QApplication;

namespace vesk {

// Font, icon, names and screen reader support shared by every window. The
// control rectangles are fixed in twips, so the font is chosen to fit the
// captions inside them.
void applyAppearance(QApplication& app);

} // namespace vesk
