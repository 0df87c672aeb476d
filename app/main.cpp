#include "app/Appearance.h"
#include "app/frmMain.h"
#include "app/InputMethod.h"

#include <QApplication>

#ifdef __GLIBC__
#include <malloc.h>
#endif

int main(int argc, char* argv[])
{
#ifdef __GLIBC__
    // Qt compacts the transcript's text by copying it into a fresh buffer of
    // tens of megabytes. glibc takes buffers that large straight from the
    // kernel, which zero-fills each page on first touch: a tenth of a second
    // per compaction on a virtual machine. Served from the heap, they reuse
    // pages already there, and the copy alone is left.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);
#endif
    vesk::useDesktopInputMethod(); // Qt reads it when the application is made
    QApplication app(argc, argv);
    vesk::applyAppearance(app);
    frmMain::showFresh();
    return QApplication::exec();
}
