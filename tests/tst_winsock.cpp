// The socket component's set-up: UDP only, an exclusive bind that lets go at
// once, and what it says when a port cannot be had.
#include "winsocksupport.h"

#include "platform/udp/LowPortAdvice.h"
#include "platform/udp/SocketErrors.h"

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
Q_DECLARE_METATYPE(vesk::socketerrors::LowPortFacts)

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
    void lowPortAdvice_data();
    void lowPortAdvice();
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
void tst_Winsock::lowPortAdvice_data()
{
    using vesk::socketerrors::LowPortFacts;
    QTest::addColumn<int>("port");
    QTest::addColumn<LowPortFacts>("facts");
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<QString>("notSays");

    LowPortFacts plain;
    plain.program = QStringLiteral("/usr/bin/vesk");
    // Started through authbind by alice, where the package's grant is the group's.
    LowPortFacts member;
    member.throughAuthbind = member.grantExists = member.holdsGroup = member.listedInGroup = true;
    member.grantGroup = QStringLiteral("vesk");
    member.user = QStringLiteral("alice");
    auto outsider = member;
    outsider.holdsGroup = outsider.listedInGroup = false;
    auto otherGroup = outsider;
    otherGroup.grantGroup = QStringLiteral("lab");
    auto joinedLater = member;
    joinedLater.holdsGroup = false;
    auto noNewPrivileges = outsider;
    noNewPrivileges.noNewPrivileges = true;
    auto noSuid = outsider;
    noSuid.helperOnNoSuid = true;
    auto deleted = member;
    deleted.grantExists = false;
    deleted.grantGroup.clear();

    // authbind names the files of ports 512 to 1023 with "!", lower ones without.
    QTest::newRow("not through authbind") << 1002 << plain
        << QStringList{QStringLiteral("authbind /usr/bin/vesk"), QStringLiteral(" /etc/authbind/byport/!1002")}
        << QStringLiteral("adduser");
    QTest::newRow("port 512") << 512 << plain << QStringList{QStringLiteral(" /etc/authbind/byport/!512 ")}
                              << QString();
    QTest::newRow("port 511") << 511 << plain << QStringList{QStringLiteral(" /etc/authbind/byport/511 ")}
                              << QStringLiteral("!511");
    QTest::newRow("not a member") << 1001 << outsider
        << QStringList{QStringLiteral("「vesk」"), QStringLiteral("sudo adduser alice vesk"),
                       QStringLiteral("ログインし直して")}
        << QString();
    QTest::newRow("the file's group is named") << 1001 << otherGroup
        << QStringList{QStringLiteral("sudo adduser alice lab")} << QStringLiteral("vesk");
    QTest::newRow("joined after logging in") << 1002 << joinedLater
        << QStringList{QStringLiteral("「vesk」"), QStringLiteral("ログインし直して")}
        << QStringLiteral("adduser");
    QTest::newRow("no new privileges") << 1001 << noNewPrivileges
        << QStringList{QStringLiteral("no_new_privs")} << QStringLiteral("adduser");
    QTest::newRow("helper on a nosuid mount") << 1001 << noSuid
        << QStringList{QStringLiteral("/usr/lib/authbind/helper"), QStringLiteral("nosuid")}
        << QStringLiteral("adduser");
    QTest::newRow("grant deleted") << 1001 << deleted
        << QStringList{QStringLiteral("/etc/authbind/byport/!1001 がありません")} << QStringLiteral("adduser");
    QTest::newRow("a member still refused") << 1001 << member
        << QStringList{QStringLiteral("/etc/authbind/byport/!1001 は")} << QStringLiteral("adduser");
}

void tst_Winsock::lowPortAdvice()
{
    QFETCH(int, port);
    QFETCH(vesk::socketerrors::LowPortFacts, facts);
    QFETCH(QStringList, says);
    QFETCH(QString, notSays);
    const QString text = vesk::socketerrors::lowPortAdvice(port, facts);
    for (const QString& part : says)
        QVERIFY2(text.contains(part), qPrintable(text));
    if (!notSays.isEmpty())
        QVERIFY2(!text.contains(notSays), qPrintable(text));
}

QTEST_GUILESS_MAIN(tst_Winsock)
#include "tst_winsock.moc"
