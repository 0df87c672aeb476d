// A conversation window under a burst, beside a plain QUdpSocket measured in the
// same run: 10,000 datagrams of 100 bytes sent back to back into a Server
// window, lines shown and lines per second, against a socket that only counts.
// Binds the fixed ports 1001/1002: never run it beside the test suite.
#include "app/Appearance.h"
#include "conversation/MessageRules.h"
#include "conversation/TranscriptBox.h"
#include "conversation/frmVesk.h"
#include "platform/error/VeskError.h"
#include "platform/udp/Winsock.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QUdpSocket>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBurst = 10'000;
constexpr int kDatagramBytes = 100;
constexpr int kBurstRounds = 5;

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[i];
}

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "bench_conversation: %s\n", qPrintable(what));
    std::exit(1);
}

// Spins the event loop, blocking while nothing happens, until `done` or the
// deadline. A slow timer keeps the wait from blocking past the deadline.
bool spinUntil(const std::function<bool()>& done, Clock::duration limit)
{
    QTimer wake;
    wake.start(50);
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QByteArray burstPayload(int i)
{
    QByteArray p = QByteArray::number(i).rightJustified(5, '0').prepend("burst ").append(' ');
    p.append(kDatagramBytes - p.size(), 'x');
    return p;
}

// Sends the burst from its own thread with a plain socket, back to back.
class BurstSender {
public:
    explicit BurstSender(quint16 port)
        : m_thread([this, port] {
              QUdpSocket socket;
              std::vector<QByteArray> payloads;
              for (int i = 0; i < kBurst; ++i)
                  payloads.push_back(burstPayload(i));
              m_ready = true;
              while (!m_go)
                  std::this_thread::yield();
              for (int i = 0; i < kBurst; ++i) {
                  // A full send buffer is no loss: wait for room and go on.
                  while (socket.writeDatagram(payloads[std::size_t(i)], QHostAddress::LocalHost, port) < 0)
                      std::this_thread::yield();
              }
          })
    {
        while (!m_ready)
            std::this_thread::yield();
    }
    ~BurstSender() { m_thread.join(); }
    void go() { m_go = true; }

private:
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_go{false};
    std::thread m_thread;
};

struct BurstFigure {
    int received = 0;
    double seconds = 0;
    double rate() const { return seconds > 0 ? received / seconds : 0; }
};

// Runs one burst; `count` says how many have arrived so far. The time runs from
// the go to the last arrival seen.
BurstFigure runBurst(quint16 port, const std::function<int()>& count)
{
    BurstSender sender(port);
    const auto start = Clock::now();
    auto last = start;
    int seen = 0;
    sender.go();
    spinUntil(
        [&] {
            const int now = count();
            if (now != seen) {
                seen = now;
                last = Clock::now();
            }
            // Stop at the full count, or once nothing has come for a while.
            return seen >= kBurst || Clock::now() - last > std::chrono::seconds(2);
        },
        std::chrono::seconds(60));
    return {seen, std::chrono::duration<double>(last - start).count()};
}

// The reference receiver: drains and counts, with the receive buffer the
// window's socket asks for, so neither loses datagrams to a smaller buffer.
BurstFigure plainBurst()
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::AnyIPv4, 0))
        fail(QStringLiteral("a plain socket cannot bind: ") + socket.errorString());
    const int size = 16 * 1024 * 1024;
    ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    int count = 0;
    char buffer[65536];
    QObject::connect(&socket, &QUdpSocket::readyRead, [&] {
        while (socket.hasPendingDatagrams())
            if (socket.readDatagram(buffer, sizeof buffer) >= 0)
                ++count;
    });
    return runBurst(socket.localPort(), [&] { return count; });
}

const frmVesk::AddressBoxes kLoopback127{QStringLiteral("127"), QStringLiteral("0"), QStringLiteral("0"),
                                         QStringLiteral("1")};

frmVesk* openWindow(vesk::Role role, const frmVesk::AddressBoxes& opener)
{
    auto* w = new frmVesk(role);
    try {
        w->Show(opener);
    } catch (const vesk::Error& e) {
        fail(QStringLiteral("cannot open the window: ") + e.reason());
    }
    QApplication::processEvents();
    return w;
}

void closeWindow(frmVesk* w)
{
    w->close(); // deletes itself
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

// The window must show what line-by-line insertion shows: every message newest
// on top, the caret right after the top line.
void checkBurstTranscript(const vesk::TranscriptBox* box, int shown)
{
    QString expected;
    for (int i = shown - 1; i >= 0; --i)
        expected += vesk::transcriptLine(vesk::kPartnerLabel, QString::fromLatin1(burstPayload(i)));
    if (box->windowsText() != expected)
        fail(QStringLiteral("the burst's transcript is not the messages newest on top"));
    const auto topLength = vesk::transcriptLine(vesk::kPartnerLabel, QString::fromLatin1(burstPayload(shown - 1))).size();
    if (box->caretPosition() != topLength)
        fail(QStringLiteral("after the burst the caret is not right after the top line"));
}

BurstFigure windowBurst(const frmVesk::AddressBoxes& opener)
{
    frmVesk* w = openWindow(vesk::Role::Server, opener);
    const QTextDocument* doc = w->txtReceive->document();
    const BurstFigure f = runBurst(w->row().localPort, [doc] { return doc->blockCount() - 1; });
    if (f.received < kBurst) {
        // Tells a stall (datagrams left unread in the socket) from a loss.
        const auto* socket = w->Winsock1->findChild<QUdpSocket*>();
        std::printf("note: the window stopped at %d lines; datagrams still unread in its socket: %s\n", f.received,
                    socket && socket->hasPendingDatagrams() ? "yes" : "no");
    }
    // Only a complete, in-order burst can be checked line for line.
    if (f.received == kBurst)
        checkBurstTranscript(w->txtReceive, f.received);
    closeWindow(w);
    return f;
}

void burst(const frmVesk::AddressBoxes& opener)
{
    std::vector<double> oursRate, plainRate;
    int fewestShown = kBurst, fewestCounted = kBurst;
    for (int round = 0; round < kBurstRounds; ++round) {
        const BurstFigure plain = plainBurst();
        const BurstFigure ours = windowBurst(opener);
        std::printf("burst round %d: plain socket %5d in %7.1f ms (%8.0f/s), window %5d lines in %7.1f ms (%8.0f/s)\n",
                    round + 1, plain.received, plain.seconds * 1e3, plain.rate(), ours.received, ours.seconds * 1e3,
                    ours.rate());
        std::fflush(stdout);
        plainRate.push_back(plain.rate());
        oursRate.push_back(ours.rate());
        fewestShown = std::min(fewestShown, ours.received);
        fewestCounted = std::min(fewestCounted, plain.received);
    }
    if (fewestCounted < kBurst)
        std::printf("note: the plain socket lost datagrams (fewest counted %d)\n", fewestCounted);
    std::printf("RESULT | burst of 10,000 x 100 B into a window: lines shown (fewest of %d) | %d | %d | datagrams sent | lines | >=1\n",
                kBurstRounds, fewestShown, kBurst);
    std::printf("RESULT | burst of 10,000 x 100 B into a window: lines per second | %.0f | %.0f | plain QUdpSocket counting | lines/s | >=0.5\n",
                percentile(oursRate, 0.5), percentile(plainRate, 0.5));
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vesk::applyAppearance(app);
    burst(kLoopback127);
    return 0;
}
