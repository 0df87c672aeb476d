// How long a message takes to be seen: from the moment a plain socket in
// another process sends the datagram to the moment the window has painted the
// line at the top of its transcript, over 1,000 messages, quiet and under a
// background flood of 100-byte datagrams at 10,000 a second. Beside it, the same
// datagrams' one-way time into a plain socket in this process.
// Usage: bench_latency <udp_sender>. Binds port 1002: never run it beside the tests.
#include "app/Appearance.h"
#include "conversation/TranscriptBox.h"
#include "conversation/frmVesk.h"
#include "platform/error/VeskError.h"

#include <QApplication>
#include <QProcess>
#include <QTextBlock>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <unordered_set>
#include <vector>

#include <time.h>

namespace {

constexpr int kMessages = 1000;
constexpr int kIntervalUs = 3000; // each message on its own, not batched with the last
constexpr int kFloodPerSecond = 10'000;

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "bench_latency: %s\n", qPrintable(what));
    std::exit(1);
}

long long nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::size_t(p * double(v.size() - 1) + 0.5)];
}

// "timed <n> <ns> ..." anywhere in `text`: the message's number and send time.
bool parseTimed(QStringView text, int* n, long long* sentNs)
{
    const qsizetype at = text.indexOf(u"timed ");
    if (at < 0)
        return false;
    const auto parts = text.sliced(at).split(u' ');
    if (parts.size() < 3)
        return false;
    bool ok1 = false, ok2 = false;
    *n = parts[1].toInt(&ok1);
    *sentNs = parts[2].toLongLong(&ok2);
    return ok1 && ok2;
}

QProcess* startSender(const QString& sender, const QStringList& args)
{
    auto* p = new QProcess;
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(sender, args);
    if (!p->waitForStarted())
        fail(QStringLiteral("cannot start ") + sender);
    return p;
}

void waitFor(QProcess* p)
{
    while (p->state() != QProcess::NotRunning)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    delete p;
}

// Times the painting of the transcript: the line counts as seen when a paint
// of the view that shows it is done.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(vesk::TranscriptBox* box) : m_box(box) { box->viewport()->installEventFilter(this); }
    std::vector<double> latenciesMs;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        // Let the paint happen first, then look at what it showed.
        watched->removeEventFilter(this);
        QCoreApplication::sendEvent(watched, event);
        watched->installEventFilter(this);
        const long long painted = nowNs();
        const QTextBlock first = m_box->cursorForPosition(QPoint(2, 2)).block();
        int shown = 0;
        for (QTextBlock b = first; b.isValid() && shown < 12; b = b.next(), ++shown) {
            int n = 0;
            long long sent = 0;
            if (parseTimed(b.text(), &n, &sent) && m_seen.insert(n).second)
                latenciesMs.push_back(double(painted - sent) / 1e6);
        }
        return true;
    }

private:
    vesk::TranscriptBox* m_box;
    std::unordered_set<int> m_seen;
};

struct Figures {
    double p50 = 0, p99 = 0;
    std::size_t count = 0;
};

Figures measureWindow(const QString& sender, bool flood)
{
    auto* w = new frmVesk(vesk::Role::Server);
    try {
        w->Show({QStringLiteral("127"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("1")});
    } catch (const vesk::Error& e) {
        fail(QStringLiteral("cannot open the window: ") + e.reason());
    }
    PaintWatch watch(w->txtReceive);
    const double seconds = kMessages * kIntervalUs / 1e6 + 2;
    QProcess* background = flood ? startSender(sender, {QStringLiteral("flood"), QStringLiteral("1002"),
                                                        QStringLiteral("100"), QString::number(kFloodPerSecond),
                                                        QString::number(seconds)})
                                 : nullptr;
    QProcess* timed = startSender(sender, {QStringLiteral("timed"), QStringLiteral("1002"),
                                           QString::number(kMessages), QString::number(kIntervalUs)});
    waitFor(timed);
    if (background)
        waitFor(background);
    QCoreApplication::processEvents();
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return {percentile(watch.latenciesMs, 0.5), percentile(watch.latenciesMs, 0.99), watch.latenciesMs.size()};
}

Figures measurePlain(const QString& sender)
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::AnyIPv4, 1002))
        fail(QStringLiteral("a plain socket cannot bind port 1002: ") + socket.errorString());
    std::vector<double> ms;
    QObject::connect(&socket, &QUdpSocket::readyRead, [&] {
        QByteArray d;
        while (socket.hasPendingDatagrams()) {
            d.resize(qsizetype(socket.pendingDatagramSize()));
            socket.readDatagram(d.data(), d.size());
            int n = 0;
            long long sent = 0;
            if (parseTimed(QString::fromLatin1(d), &n, &sent))
                ms.push_back(double(nowNs() - sent) / 1e6);
        }
    });
    waitFor(startSender(sender, {QStringLiteral("timed"), QStringLiteral("1002"), QString::number(kMessages),
                                 QString::number(kIntervalUs)}));
    QCoreApplication::processEvents();
    return {percentile(ms, 0.5), percentile(ms, 0.99), ms.size()};
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vesk::applyAppearance(app);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <udp_sender>\n", argv[0]);
        return 2;
    }
    const QString sender = QString::fromLocal8Bit(argv[1]);
    const Figures plain = measurePlain(sender);
    const Figures quiet = measureWindow(sender, false);
    const Figures flooded = measureWindow(sender, true);
    std::printf("plain socket: %zu of %d timed datagrams; window: %zu seen quiet, %zu under the flood\n", plain.count,
                kMessages, quiet.count, flooded.count);
    // Under the flood a message can be pushed out of view by newer lines
    // before any paint; those are never seen, and give no figure.
    if (quiet.count < std::size_t(kMessages) * 9 / 10 || flooded.count < std::size_t(kMessages) / 4)
        fail(QStringLiteral("too few messages were seen to give a figure"));
    const char* frame = "one 60 Hz frame; plain socket one-way p99";
    std::printf("RESULT | datagram from another process to its line painted on top, p50 | %.3f | %.3f | plain QUdpSocket one-way p50 | ms | -\n",
                quiet.p50, plain.p50);
    std::printf("RESULT | datagram from another process to its line painted on top, p99 | %.3f | 16.667 | %s %.3f ms | ms | <=1\n",
                quiet.p99, frame, plain.p99);
    std::printf("RESULT | the same under 100 B at 10,000/s, p50 | %.3f | %.3f | plain QUdpSocket one-way p50 | ms | -\n",
                flooded.p50, plain.p50);
    std::printf("RESULT | the same under 100 B at 10,000/s, p99 | %.3f | 16.667 | %s %.3f ms | ms | <=1\n",
                flooded.p99, frame, plain.p99);
    return 0;
}
