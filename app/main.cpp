#include "app/Appearance.h"
#include "app/frmMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    vesk::applyAppearance(app);
    frmMain::showFresh();
    return QApplication::exec();
}
