// The socket component's set-up: UDP only, an exclusive bind that lets go at
// once, and what it says when a port cannot be had.
#include "winsocksupport.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QScopeGuard>

#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

using namespace winsocktest;

namespace {

enum class Holder { Component, PlainAny, PlainAnyIPv4, PlainLoopback, PlainShared };

} // namespace

Q_DECLARE_METATYPE(Holder)

class tst_Winsock : public QObject {
    Q_OBJECT
private slots:
    void protocolOnlyUdp_data();
    void protocolOnlyUdp();
    void bindIsExclusive_data();
    void bindIsExclusive();
    void destroyReleasesPort_data();
    void destroyReleasesPort();
    void privilegedPortTellsHowToAllow();
};

void tst_Winsock::protocolOnlyUdp_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("UDP") << 1 << true;
    QTest::newRow("TCP") << 0 << false;
    QTest::newRow("unknown") << 2 << false;
    QTest::newRow("negative") << -1 << false;
}

void tst_Winsock::protocolOnlyUdp()
{
    QFETCH(int, protocol);
    QFETCH(bool, accepted);
    Winsock w;
    if (accepted) {
        w.setProtocol(protocol);
        QCOMPARE(w.Protocol(), protocol);
    } else {
        QVERIFY_THROWS_EXCEPTION(vesk::Error, w.setProtocol(protocol));
        // Still not UDP, so it refuses to open a port rather than guessing.
        QVERIFY_THROWS_EXCEPTION(vesk::Error, w.Bind(PortA));
        QVERIFY(!w.isBound());
    }
}

void tst_Winsock::bindIsExclusive_data()
{
    QTest::addColumn<Holder>("first");
    QTest::addColumn<Holder>("second");
    QTest::newRow("component, then component") << Holder::Component << Holder::Component;
    QTest::newRow("plain on Any (default flags), then component") << Holder::PlainAny << Holder::Component;
    QTest::newRow("plain on AnyIPv4, then component") << Holder::PlainAnyIPv4 << Holder::Component;
    QTest::newRow("plain on 127.0.0.1, then component") << Holder::PlainLoopback << Holder::Component;
    QTest::newRow("plain asking to share, then component") << Holder::PlainShared << Holder::Component;
    QTest::newRow("component, then plain on Any (default flags)") << Holder::Component << Holder::PlainAny;
    QTest::newRow("component, then plain on 127.0.0.1") << Holder::Component << Holder::PlainLoopback;
    QTest::newRow("component, then plain asking to share") << Holder::Component << Holder::PlainShared;
}

void tst_Winsock::bindIsExclusive()
{
    QFETCH(Holder, first);
    QFETCH(Holder, second);

    const auto plainBind = [](QUdpSocket& s, Holder h) {
        switch (h) {
        case Holder::PlainAny: return s.bind(PortA); // Qt's defaults: Any, shared on Unix
        case Holder::PlainAnyIPv4: return s.bind(QHostAddress::AnyIPv4, PortA);
        case Holder::PlainLoopback: return s.bind(QHostAddress::LocalHost, PortA);
        case Holder::PlainShared:
            return s.bind(QHostAddress::AnyIPv4, PortA, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
        case Holder::Component: break;
        }
        return false;
    };

    QUdpSocket plainFirst;
    std::unique_ptr<Winsock> componentFirst;
    if (first == Holder::Component)
        componentFirst = boundComponent(PortA);
    else
        QVERIFY(plainBind(plainFirst, first));

    if (second == Holder::Component) {
        Winsock w;
        w.setProtocol(Winsock::sckUDPProtocol);
        try {
            w.Bind(PortA);
            QFAIL("a second Bind of a held port succeeded");
        } catch (const vesk::Error& e) {
            QVERIFY2(e.failed().contains(QString::number(PortA)), qPrintable(errorText(e)));
            QVERIFY2(e.reason().contains(QStringLiteral("既に別のプログラムが使っています")), qPrintable(errorText(e)));
        }
        QVERIFY(!w.isBound());
    } else {
        QUdpSocket plainSecond;
        QVERIFY2(!plainBind(plainSecond, second), "a plain socket shares the component's port");
    }
}

void tst_Winsock::destroyReleasesPort_data()
{
    QTest::addColumn<bool>("rebindWithComponent");
    QTest::newRow("component binds again") << true;
    QTest::newRow("plain socket binds") << false;
}

void tst_Winsock::destroyReleasesPort()
{
    QFETCH(bool, rebindWithComponent);
    boundComponent(PortA).reset();
    if (rebindWithComponent) {
        auto again = boundComponent(PortA);
        QCOMPARE(again->LocalPort(), PortA);
    } else {
        QUdpSocket s;
        QVERIFY(s.bind(QHostAddress::AnyIPv4, PortA, QAbstractSocket::DontShareAddress));
    }
}

void tst_Winsock::privilegedPortTellsHowToAllow()
{
#ifdef Q_OS_LINUX
    // Drop the right to bind low ports for this thread only, as an ordinary
    // user would lack it, and give it back afterwards.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    if (syscall(SYS_capget, &header, saved) != 0)
        QSKIP("capabilities cannot be read here");
    __user_cap_data_struct lowered[2] = {saved[0], saved[1]};
    lowered[0].effective &= ~(1u << CAP_NET_BIND_SERVICE);
    if (syscall(SYS_capset, &header, lowered) != 0)
        QSKIP("capabilities cannot be changed here");
    const auto restore = qScopeGuard([&] { syscall(SYS_capset, &header, saved); });

    QUdpSocket probe;
    if (probe.bind(QHostAddress::AnyIPv4, 1002, QAbstractSocket::DontShareAddress))
        QSKIP("ports below 1024 are open to everyone on this system");
    if (probe.error() != QAbstractSocket::SocketAccessError)
        QSKIP("port 1002 is taken by something else");

    Winsock w;
    w.setProtocol(Winsock::sckUDPProtocol);
    try {
        w.Bind(1002);
        QFAIL("Bind(1002) succeeded without the capability");
    } catch (const vesk::Error& e) {
        QVERIFY2(e.failed().contains(QStringLiteral("1002")), qPrintable(errorText(e)));
        // The way to start through authbind, and the file that grants this port.
        QVERIFY2(e.reason().contains(QStringLiteral("authbind ")
                                     + QCoreApplication::applicationFilePath()),
                 qPrintable(errorText(e)));
        QVERIFY2(e.reason().contains(QStringLiteral(" /etc/authbind/byport/!1002")),
                 qPrintable(errorText(e)));
    }
#else
    QSKIP("only Linux keeps ports below 1024 for privileged programs");
#endif
}
QTEST_GUILESS_MAIN(tst_Winsock)
#include "tst_winsock.moc"
