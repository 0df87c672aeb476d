// Which input method Qt is told to load, from what the desktop announces.
#include "app/InputMethod.h"

#include <QTest>

namespace {
// Stands for a variable that is not set at all.
const QByteArray kUnset = QByteArrayLiteral("<unset>");

void setOrUnset(const char* name, const QByteArray& value)
{
    if (value == kUnset)
        qunsetenv(name);
    else
        qputenv(name, value);
}

QByteArray chosenNow()
{
    return qEnvironmentVariableIsSet("QT_IM_MODULE") ? qgetenv("QT_IM_MODULE") : kUnset;
}

// On Windows and macOS the X desktop's names mean nothing (Wine passes them
// on): only an explicit choice is left, and Windows drops an empty variable.
QByteArray expectedHere(const QByteArray& onX11, const QByteArray& explicitChoice)
{
#if !defined(Q_OS_UNIX) || defined(Q_OS_DARWIN)
    Q_UNUSED(onX11);
    return explicitChoice.isEmpty() ? kUnset : explicitChoice;
#else
    Q_UNUSED(explicitChoice);
    return onX11;
#endif
}
} // namespace

class TestInputMethod : public QObject {
    Q_OBJECT
private slots:
    void fromDesktop_data();
    void fromDesktop();
    void onGnome_data();
    void onGnome();
};

void TestInputMethod::fromDesktop_data()
{
    QTest::addColumn<QByteArray>("qtImModule");
    QTest::addColumn<QByteArray>("qtImModules");
    QTest::addColumn<QByteArray>("xmodifiers");
    QTest::addColumn<QByteArray>("gtkImModule");
    QTest::addColumn<QByteArray>("chosen"); // QT_IM_MODULE afterwards

    QTest::newRow("nothing announced") << kUnset << kUnset << kUnset << kUnset << kUnset;
    QTest::newRow("XMODIFIERS ibus") << kUnset << kUnset << QByteArray("@im=ibus") << kUnset << QByteArray("ibus");
    QTest::newRow("XMODIFIERS fcitx") << kUnset << kUnset << QByteArray("@im=fcitx") << kUnset
                                      << QByteArray("fcitx");
    QTest::newRow("XMODIFIERS fcitx5, more parts") << kUnset << kUnset << QByteArray("@im=fcitx5@foo=bar")
                                                   << kUnset << QByteArray("fcitx5");
    QTest::newRow("GTK xim over XMODIFIERS ibus") << kUnset << kUnset << QByteArray("@im=ibus") << QByteArray("xim")
                                                  << QByteArray("ibus");
    QTest::newRow("GTK fcitx wins") << kUnset << kUnset << QByteArray("@im=ibus") << QByteArray("fcitx")
                                    << QByteArray("fcitx");
    QTest::newRow("uim has no Qt 6 plugin") << kUnset << kUnset << QByteArray("@im=uim") << QByteArray("uim")
                                            << kUnset;
    QTest::newRow("XMODIFIERS none") << kUnset << kUnset << QByteArray("@im=none") << kUnset << kUnset;
    QTest::newRow("explicit QT_IM_MODULE kept") << QByteArray("compose") << kUnset << QByteArray("@im=ibus")
                                                << QByteArray("ibus") << QByteArray("compose");
    QTest::newRow("empty QT_IM_MODULE is no choice") << QByteArray() << kUnset << QByteArray("@im=ibus") << kUnset
                                                     << QByteArray("ibus");
    QTest::newRow("QT_IM_MODULES, Qt's list, kept") << kUnset << QByteArray("wayland;ibus")
                                                    << QByteArray("@im=fcitx") << kUnset << kUnset;
}

void TestInputMethod::fromDesktop()
{
    QFETCH(QByteArray, qtImModule);
    QFETCH(QByteArray, qtImModules);
    QFETCH(QByteArray, xmodifiers);
    QFETCH(QByteArray, gtkImModule);
    QFETCH(QByteArray, chosen);
    setOrUnset("QT_IM_MODULES", qtImModules);
    setOrUnset("QT_IM_MODULE", qtImModule);
    setOrUnset("XMODIFIERS", xmodifiers);
    setOrUnset("GTK_IM_MODULE", gtkImModule);
    qunsetenv("XDG_CURRENT_DESKTOP");

    vesk::useDesktopInputMethod();

    QCOMPARE(chosenNow(), expectedHere(chosen, qtImModule));
}

void TestInputMethod::onGnome_data()
{
    QTest::addColumn<QByteArray>("desktop"); // XDG_CURRENT_DESKTOP
    QTest::addColumn<QByteArray>("qtImModule");
    QTest::addColumn<QByteArray>("xmodifiers");
    QTest::addColumn<QByteArray>("chosen");

    QTest::newRow("GNOME announcing nothing") << QByteArray("GNOME") << kUnset << kUnset << QByteArray("ibus");
    QTest::newRow("GNOME among others") << QByteArray("ubuntu:GNOME") << kUnset << kUnset << QByteArray("ibus");
    QTest::newRow("GNOME announcing fcitx") << QByteArray("GNOME") << kUnset << QByteArray("@im=fcitx")
                                            << QByteArray("fcitx");
    QTest::newRow("GNOME, explicit QT_IM_MODULE") << QByteArray("GNOME") << QByteArray("compose") << kUnset
                                                  << QByteArray("compose");
    QTest::newRow("KDE announcing nothing") << QByteArray("KDE") << kUnset << kUnset << kUnset;
    QTest::newRow("a name containing gnome") << QByteArray("GNOME-Flashback-like") << kUnset << kUnset << kUnset;
}

void TestInputMethod::onGnome()
{
    QFETCH(QByteArray, desktop);
    QFETCH(QByteArray, qtImModule);
    QFETCH(QByteArray, xmodifiers);
    QFETCH(QByteArray, chosen);
    qunsetenv("QT_IM_MODULES");
    qunsetenv("GTK_IM_MODULE");
    setOrUnset("QT_IM_MODULE", qtImModule);
    setOrUnset("XMODIFIERS", xmodifiers);
    qputenv("XDG_CURRENT_DESKTOP", desktop);

    vesk::useDesktopInputMethod();

    QCOMPARE(chosenNow(), expectedHere(chosen, qtImModule));
}

QTEST_APPLESS_MAIN(TestInputMethod)
#include "tst_inputmethod.moc"
