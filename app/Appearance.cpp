#include "app/Appearance.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

namespace vesk {

void applyAppearance(QApplication& app)
{
    QApplication::setApplicationName(QStringLiteral("Vesk"));
    QApplication::setApplicationDisplayName(QString());
    QApplication::setDesktopFileName(QStringLiteral("vesk"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vesk/vesk.svg")));

    // A proportional Japanese Gothic; the first one present wins.
    QFont font = app.font();
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                      QStringLiteral("Noto Sans CJK JP"), QStringLiteral("MS UI Gothic"),
                      QStringLiteral("Yu Gothic UI"), QStringLiteral("Meiryo UI")});
    font.setPixelSize(11);
    QApplication::setFont(font);
}

} // namespace vesk
