// A flood of hostile datagrams into a conversation window: random bytes, broken
// code-page sequences, control bytes, NULs, the "0.0.0.0" marker, sizes up to the
// largest datagram. Exactly the datagrams that should show up do, in order, and
// the window still sends afterwards.
#include "testsupport.h"

#include "conversation/MessageRules.h"
#include "conversation/TranscriptBox.h"
#include "platform/udp/Winsock.h"
#include "platform/udp/cp932.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QRandomGenerator>
#include <QUdpSocket>

using namespace Qt::StringLiterals;
using namespace testsupport;

namespace {

constexpr int kDatagrams = 100'000;
constexpr int kChunk = 500; // sent back to back, then drained

QByteArray hostileDatagram(QRandomGenerator& rng)
{
    const quint32 sizeKind = rng.bounded(1000u);
    const qsizetype size = sizeKind < 900 ? rng.bounded(129)
                         : sizeKind < 995 ? 129 + rng.bounded(4000)
                                          : 4129 + rng.bounded(65507 - 4129 + 1);
    QByteArray d(size, Qt::Uninitialized);
    const quint32 contentKind = rng.bounded(4u);
    for (char& c : d) {
        switch (contentKind) {
        case 0: c = static_cast<char>(rng.bounded(256)); break;            // anything
        case 1: c = static_cast<char>(rng.bounded(2) ? rng.bounded(32) : 0x81 + rng.bounded(0x7f)); break; // controls and lead bytes
        case 2: c = "\x93\xfa\x96\x7b\x8c\xea abc\0\r\n"[rng.bounded(13)]; break; // text with NULs and breaks
        default: c = "0.\t"[rng.bounded(3)]; break;                        // near and real markers
        }
    }
    if (rng.bounded(20u) == 0 && size >= 7) // the marker somewhere
        d.replace(rng.bounded(size - 6), 7, "0.0.0.0");
    return d;
}

} // namespace

class TestFlood : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { vesk::applyAppearance(*qApp); }
    void cleanup() { closeEverything(); }
    void floodShowsExactlyWhatItShould();
};

void TestFlood::floodShowsExactlyWhatItShould()
{
    startConversation(frmMain::showFresh(), {u"127"_s, u"0"_s, u"0"_s, u"1"_s}, true);
    auto* w = findWindow<frmVesk>(u"frmVeskB"_s);
    QVERIFY(w);
    int handled = 0;
    connect(w->Winsock1, &vesk::Winsock::DataArrival, this, [&] { ++handled; });

    QElapsedTimer timer;
    timer.start();
    QRandomGenerator rng(20261207);
    QUdpSocket sender;
    QStringList expected; // oldest first
    int shown = 0;
    for (int sent = 0; sent < kDatagrams;) {
        for (int i = 0; i < kChunk; ++i, ++sent) {
            const QByteArray d = hostileDatagram(rng);
            QCOMPARE(sender.writeDatagram(d, QHostAddress::LocalHost, 1001), d.size());
            if (const auto line = vesk::receivedLine(vesk::cp932::decode(d))) {
                expected.append(*line);
                ++shown;
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(handled, sent, 30000);
    }
    QVERIFY(errorReports().isEmpty());
    QVERIFY(shown > kDatagrams / 2 && shown < kDatagrams); // both kinds were tried
    qInfo("%d datagrams, %d shown, %d suppressed by the marker rule, %lld ms",
          kDatagrams, shown, kDatagrams - shown, timer.elapsed());

    QString all;
    for (auto it = expected.crbegin(); it != expected.crend(); ++it)
        all.append(*it);
    QCOMPARE(w->txtReceive->document()->blockCount(), shown + 1);
    QVERIFY(w->txtReceive->windowsText() == all);

    // And the window still sends.
    QUdpSocket partner;
    QVERIFY(partner.bind(QHostAddress::LocalHost, 1002));
    w->txtSend->setText(u"まだ大丈夫"_s);
    QTest::mouseClick(w->cmdSend, Qt::LeftButton);
    QVERIFY(partner.waitForReadyRead(3000));
    QCOMPARE(partner.receiveDatagram().data(), vesk::cp932::encode(u"まだ大丈夫"));
    QVERIFY(w->txtReceive->windowsText().startsWith(u"自分>> まだ大丈夫\r\n"_s));
}

QTEST_MAIN(TestFlood)
#include "tst_flood.moc"
