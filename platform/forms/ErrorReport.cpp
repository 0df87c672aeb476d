#include "platform/forms/ErrorReport.h"

#include "platform/error/VeskError.h"

#include <QMessageBox>
#include <QWidget>

namespace vesk {

void reportError(QWidget* near, const QString& failed, const QString& reason)
{
    try {
        auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Vesk"),
                                    failed + QStringLiteral("。"), QMessageBox::Ok,
                                    near ? near->window() : nullptr);
        box->setObjectName(QStringLiteral("errorReport"));
        box->setInformativeText(reason);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    } catch (...) {
        // Out of memory while reporting: nothing sensible is left to do.
    }
}

void showNotice(QWidget* near, const QString& name, const QString& what, const QString& detail)
{
    QWidget* window = near->window();
    for (auto* open : window->findChildren<QMessageBox*>(name, Qt::FindDirectChildrenOnly))
        if (open->isVisible())
            return;
    auto* box = new QMessageBox(QMessageBox::Information, window->windowTitle(), what,
                                QMessageBox::Ok, window);
    box->setObjectName(name);
    box->setInformativeText(detail);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void reportError(QWidget* near, const std::exception& error)
{
    if (const auto* e = dynamic_cast<const Error*>(&error)) {
        reportError(near, e->failed(), e->reason());
        return;
    }
    reportError(near, QStringLiteral("処理を続けられませんでした"),
                QStringLiteral("予期しないエラーが起きました（%1）。")
                    .arg(QString::fromLocal8Bit(error.what())));
}

} // namespace vesk
