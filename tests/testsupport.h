#pragma once

// Small helpers the window tests share.

#include "app/Appearance.h"
#include "app/frmMain.h"
#include "conversation/frmVesk.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QMessageBox>
#include <QTest>
#include <QWidget>

namespace testsupport {

template <typename W>
W* findWindow(const QString& name)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible())
            if (auto* typed = qobject_cast<W*>(w))
                return typed;
    return nullptr;
}

inline QList<QMessageBox*> errorReports()
{
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::allWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            boxes.append(box);
    return boxes;
}

// Closes every window and lets the deferred deletions run, so that each test
// starts with no window and no bound port.
inline void closeEverything()
{
    for (QMessageBox* box : errorReports())
        box->close();
    for (QWidget* w : QApplication::topLevelWidgets())
        w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Fills the start window and presses Start with the mouse.
inline void startConversation(frmMain* start, const QStringList& octets, bool client)
{
    for (int i = 0; i < 4; ++i)
        QTest::keyClicks(start->txtIP[static_cast<std::size_t>(i)], octets.value(i));
    QTest::mouseClick(client ? start->optClient : start->optServer, Qt::LeftButton);
    QTest::mouseClick(start->cmdStart, Qt::LeftButton);
}

} // namespace testsupport
