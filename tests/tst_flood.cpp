// A flood of hostile datagrams into a conversation window: random bytes, broken
// code-page sequences, control bytes, NULs, the "0.0.0.0" marker, sizes up to the
// largest datagram, far more than the transcript keeps. What should show does, in
// order, the oldest lines go once the transcript is full (the user is told once),
// nothing piles up, and the window still sends afterwards.
#include "testsupport.h"

#include "cp932reference.h"

#include "conversation/TranscriptBox.h"
#include "platform/udp/Winsock.h"

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

// The line a datagram must show, worked out from the vendor's table and the
// rules as a user reads them, none of the product's own code: control
// characters (U+0000 to U+001F) go, a text holding "0.0.0.0" shows nothing.
std::optional<QString> expectedLine(const cp932ref::ReferenceTable& table, const QByteArray& datagram)
{
    QString text;
    for (const QChar ch : table.decode(datagram))
        if (ch.unicode() >= 0x20)
            text.append(ch);
    if (text.contains(u"0.0.0.0"_s))
        return std::nullopt;
    return u"相手>> "_s + text + u"\r\n"_s;
}

} // namespace

class TestFlood : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        vesk::applyAppearance(*qApp);
        const QString error =
            cp932ref::load(QStringLiteral(VESK_SOURCE_DIR "/platform/udp/data/bestfit932.txt"), m_table);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    void cleanup() { closeEverything(); }
    void floodShowsExactlyWhatItShould();

private:
    cp932ref::ReferenceTable m_table;
};

void TestFlood::floodShowsExactlyWhatItShould()
{
    startConversation(frmMain::showFresh(), {u"127"_s, u"0"_s, u"0"_s, u"1"_s}, true);
    auto* w = findWindow<frmVesk>(u"frmVeskB"_s);
    QVERIFY(w);
    vesk::TranscriptBox* box = w->txtReceive;
    int handled = 0;
    qsizetype mostWaiting = 0;
    connect(w->Winsock1, &vesk::Winsock::DataArrival, this, [&] {
        ++handled;
        mostWaiting = qMax(mostWaiting, w->Winsock1->waitingDatagrams());
    });

    QElapsedTimer timer;
    timer.start();
    QRandomGenerator rng(20261207);
    QUdpSocket sender;
    QStringList expected; // oldest first
    for (int sent = 0; sent < kDatagrams;) {
        for (int i = 0; i < kChunk; ++i, ++sent) {
            const QByteArray d = hostileDatagram(rng);
            QCOMPARE(sender.writeDatagram(d, QHostAddress::LocalHost, 1001), d.size());
            if (const auto line = expectedLine(m_table, d))
                expected.append(*line);
        }
        QVERIFY2(QTest::qWaitFor([&] { return handled == sent; }, 30000),
                 qPrintable(u"%1 of %2 handled"_s.arg(handled).arg(sent)));
        QVERIFY(box->windowsLength() <= box->capacity());
    }
    QVERIFY(errorReports().isEmpty());
    const qsizetype shown = expected.size();
    QVERIFY(shown > kDatagrams / 2 && shown < kDatagrams); // both kinds were tried
    // The window took each datagram as it was read: nothing piled up unread.
    QCOMPARE(mostWaiting, 0);

    // The newest lines, newest first, as many as the transcript holds, then the
    // notice that older ones went, once.
    const QString notice = box->droppedNotice();
    QString kept;
    qsizetype oldestKept = shown;
    while (oldestKept > 0 && kept.size() + expected[oldestKept - 1].size() + notice.size() <= box->capacity())
        kept.append(expected[--oldestKept]);
    QVERIFY2(oldestKept > 0, "the flood should have filled the transcript");
    qInfo("%d datagrams, %lld shown, %lld still in the transcript, %lld ms", kDatagrams, qlonglong(shown),
          qlonglong(shown - oldestKept), qlonglong(timer.elapsed()));
    const QString text = box->windowsText();
    QVERIFY2(text.startsWith(kept), "the newest lines are not all there, in order");
    QCOMPARE(text.mid(kept.size()), notice);

    // And the window still sends.
    QUdpSocket partner;
    QVERIFY(partner.bind(QHostAddress::LocalHost, 1002));
    w->txtSend->setText(u"まだ大丈夫"_s);
    QTest::mouseClick(w->cmdSend, Qt::LeftButton);
    QVERIFY(partner.waitForReadyRead(3000));
    QCOMPARE(partner.receiveDatagram().data(), QByteArray("\x82\xdc\x82\xbe\x91\xe5\x8f\xe4\x95\x76"));
    QVERIFY(box->windowsText().startsWith(u"自分>> まだ大丈夫\r\n"_s));
}

QTEST_MAIN(TestFlood)
#include "tst_flood.moc"
