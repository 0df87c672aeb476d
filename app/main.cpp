#include "app/Appearance.h"
#include "app/frmMain.h"
#include "app/InputMethod.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    vesk::useDesktopInputMethod(); // Qt reads it when the application is made
    QApplication app(argc, argv);
    vesk::applyAppearance(app);
    frmMain::showFresh();
    return QApplication::exec();
}
