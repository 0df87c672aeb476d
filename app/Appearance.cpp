#include "app/Appearance.h"

#include "platform/forms/Accessible.h"

#include <QApplication>
#include <qdrawutil.h>
#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QImageReader>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleOption>

namespace vesk {

namespace {

// Reads a PNG resource as PNG outright: left to guess the format, Qt loads every
// image format plugin (the SVG one with its whole library among them) just to
// ask each of them about the file.
QPixmap readPng(const QString& path)
{
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

// Fusion draws the frame of a group box from a PNG it loads that way, so the
// start window would pay for all the image plugins; draw the same picture here.
class FusionGroupBoxFrame : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (element != PE_FrameGroupBox) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        static const QPixmap frame =
            readPng(QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png"));
        // Fusion's own geometry: the frame starts below the title.
        constexpr int kGroupBoxTopMargin = 3;
        const auto* box = qobject_cast<const QGroupBox*>(widget);
        int top = kGroupBoxTopMargin;
        if (!box || box->isCheckable() || !box->title().isEmpty())
            top += qMax(pixelMetric(PM_ExclusiveIndicatorHeight, option, widget),
                        option->fontMetrics.height());
        qDrawBorderPixmap(painter, option->rect.adjusted(0, top, 0, 0), QMargins(6, 6, 6, 6), frame);
    }
};

} // namespace

void applyAppearance(QApplication& app)
{
    QApplication::setApplicationName(QStringLiteral("Vesk"));
    QApplication::setDesktopFileName(QStringLiteral("vesk"));
    installAccessibleForms();
    QApplication::setWindowIcon(QIcon(readPng(QStringLiteral(":/vesk/vesk-64.png"))));
    if (QApplication::style()->name() == QLatin1String("fusion"))
        QApplication::setStyle(new FusionGroupBoxFrame(QStringLiteral("fusion")));

    // A proportional Japanese Gothic; the first one present wins.
    QFont font = app.font();
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                      QStringLiteral("Noto Sans CJK JP"), QStringLiteral("MS UI Gothic"),
                      QStringLiteral("Yu Gothic UI"), QStringLiteral("Meiryo UI")});
    font.setPixelSize(11);
    // The font's own hints: crisp small captions, and about 1 MiB less memory
    // than FreeType's light auto-hinting, which reads far more of the font.
    font.setHintingPreference(QFont::PreferFullHinting);
    QApplication::setFont(font);
}

} // namespace vesk
