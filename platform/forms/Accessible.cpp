#include "platform/forms/Accessible.h"

#include "platform/forms/CommandButton.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace vesk {

namespace {

// What Qt's own button interface gives a screen reader, with the access key taken
// from the caption rather than from the shortcut QAbstractButton no longer holds.
class AccessibleCommandButton : public QAccessibleWidget {
public:
    explicit AccessibleCommandButton(CommandButton* b) : QAccessibleWidget(b, QAccessible::Button)
    {
        addControllingSignal(QStringLiteral("clicked()"));
    }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            if (button()->accessibleName().isEmpty())
                return QString(button()->text()).remove(u'&');
            break;
        case QAccessible::Accelerator:
            return button()->accessKey().toString(QKeySequence::NativeText);
        default:
            break;
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.pressed = button()->isDown();
        s.defaultButton = button()->isDefault();
        return s;
    }

    QStringList actionNames() const override
    {
        QStringList names;
        if (button()->isEnabled())
            names << pressAction();
        return names << QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override
    {
        if (action != pressAction())
            QAccessibleWidget::doAction(action);
        else if (button()->isEnabled())
            button()->click();
    }

    QStringList keyBindingsForAction(const QString& action) const override
    {
        if (action == pressAction())
            return {text(QAccessible::Accelerator)};
        return QAccessibleWidget::keyBindingsForAction(action);
    }

private:
    CommandButton* button() const { return static_cast<CommandButton*>(widget()); }
};

// Asked from the most derived class up, before Qt's own widget interfaces. A
// top-level plain QWidget would otherwise be a bare panel ("filler").
QAccessibleInterface* formsFactory(const QString& className, QObject* object)
{
    auto* w = qobject_cast<QWidget*>(object);
    if (!w)
        return nullptr;
    if (className == u"QPushButton")
        if (auto* b = dynamic_cast<CommandButton*>(w))
            return new AccessibleCommandButton(b);
    if (className == u"QWidget" && w->isWindow())
        return new QAccessibleWidget(w, QAccessible::Window);
    return nullptr;
}

} // namespace

void installAccessibleForms()
{
    static const bool installed = [] {
        QAccessible::installFactory(formsFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace vesk
