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
} // namespace

class TestInputMethod : public QObject {
    Q_OBJECT
private slots:
    void fromDesktop_data();
    void fromDesktop();
};

void TestInputMethod::fromDesktop_data()
{
    QTest::addColumn<QByteArray>("qtImModule");
    QTest::addColumn<QByteArray>("xmodifiers");
    QTest::addColumn<QByteArray>("gtkImModule");
    QTest::addColumn<QByteArray>("chosen"); // QT_IM_MODULE afterwards

    QTest::newRow("nothing announced") << kUnset << kUnset << kUnset << kUnset;
    QTest::newRow("XMODIFIERS ibus") << kUnset << QByteArray("@im=ibus") << kUnset << QByteArray("ibus");
    QTest::newRow("XMODIFIERS fcitx") << kUnset << QByteArray("@im=fcitx") << kUnset << QByteArray("fcitx");
    QTest::newRow("XMODIFIERS fcitx5, more parts") << kUnset << QByteArray("@im=fcitx5@foo=bar") << kUnset
                                                   << QByteArray("fcitx5");
    QTest::newRow("GTK xim over XMODIFIERS ibus") << kUnset << QByteArray("@im=ibus") << QByteArray("xim")
                                                  << QByteArray("ibus");
    QTest::newRow("GTK fcitx wins") << kUnset << QByteArray("@im=ibus") << QByteArray("fcitx")
                                    << QByteArray("fcitx");
    QTest::newRow("uim has no Qt 6 plugin") << kUnset << QByteArray("@im=uim") << QByteArray("uim") << kUnset;
    QTest::newRow("XMODIFIERS none") << kUnset << QByteArray("@im=none") << kUnset << kUnset;
    QTest::newRow("explicit QT_IM_MODULE kept") << QByteArray("compose") << QByteArray("@im=ibus")
                                                << QByteArray("ibus") << QByteArray("compose");
    QTest::newRow("empty QT_IM_MODULE is no choice") << QByteArray() << QByteArray("@im=ibus") << kUnset
                                                     << QByteArray("ibus");
}

void TestInputMethod::fromDesktop()
{
    QFETCH(QByteArray, qtImModule);
    QFETCH(QByteArray, xmodifiers);
    QFETCH(QByteArray, gtkImModule);
    QFETCH(QByteArray, chosen);
    qunsetenv("QT_IM_MODULES");
    setOrUnset("QT_IM_MODULE", qtImModule);
    setOrUnset("XMODIFIERS", xmodifiers);
    setOrUnset("GTK_IM_MODULE", gtkImModule);

    vesk::useDesktopInputMethod();

#if !defined(Q_OS_UNIX) || defined(Q_OS_DARWIN)
    // The X desktop's names mean nothing here (Wine passes them on): only an
    // explicit choice is left, and Windows drops an empty variable.
    chosen = qtImModule.isEmpty() ? kUnset : qtImModule;
#endif

    QCOMPARE(qEnvironmentVariableIsSet("QT_IM_MODULE") ? qgetenv("QT_IM_MODULE") : kUnset, chosen);
}

QTEST_APPLESS_MAIN(TestInputMethod)
#include "tst_inputmethod.moc"
