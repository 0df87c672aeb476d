// The receiving half of the socket component: a turn's worth of datagrams at a
// time, each announced by DataArrival and taken by GetData.
#include "platform/udp/Winsock.h"

#include "platform/udp/Payload.h"

#include <QPointer>
#include <QScopeGuard>
#include <QUdpSocket>

#include <chrono>
#include <new>

namespace vesk {

namespace {

// A read that keeps failing must not hold the event loop; what is left is
// picked up on the next turn.
constexpr int MaxFailedReadsPerTurn = 8;

// The most one turn of the event loop reads and hands over before the window
// gets to paint and to take the user's input again. The time bounds many small
// datagrams, the bytes bound what the transcript then takes in one edit.
constexpr std::chrono::milliseconds TurnTime{4};
constexpr qsizetype TurnBytes = 1024 * 1024;

} // namespace

void Winsock::GetData(QString& data)
{
    data = payload::toText(GetBytes());
}

QByteArray Winsock::GetBytes()
{
    if (m_waiting.empty())
        return {};
    QByteArray datagram = std::move(m_waiting.front());
    m_waiting.pop_front();
    // Taken before its DataArrival: it is not announced any more.
    m_unannounced = qMin(m_unannounced, qsizetype(m_waiting.size()));
    return datagram;
}

bool Winsock::readOne(QUdpSocket& socket)
{
    if (m_held < 0) {
        m_held = socket.readDatagram(m_buffer.data(), m_buffer.size());
        if (m_held < 0)
            return false;
    }
    // Out of memory here, the datagram stays held in the buffer for the next turn.
    m_waiting.emplace_back(m_buffer.constData(), qsizetype(m_held));
    m_held = -1;
    ++m_unannounced;
    return true;
}

void Winsock::readPending()
{
    // A slot that spins a nested event loop can bring us back here; the turn
    // that is running reads on, in order, once the slot returns.
    if (m_delivering > 0 || !m_socket)
        return;

    QUdpSocket* const socket = m_socket;
    const QPointer<Winsock> self(this);
    ++m_delivering;
    const auto leave = qScopeGuard([this, &self] {
        if (self)
            --m_delivering;
    });
    // The window was closed from a slot: the socket is still inside its own
    // readyRead, so its deletion is posted to run after that has returned.
    const auto gone = [&self, socket] {
        if (self)
            return false;
        socket->deleteLater();
        return true;
    };

    // One turn's worth, then back to the event loop: what a flood leaves
    // waits in the system's receive buffer, which is what overflows, and the
    // window keeps answering keys and clicks in between.
    const auto started = std::chrono::steady_clock::now();
    qsizetype bytes = 0;
    int failedReads = 0;
    bool readOnce = false;
    bool batchOpen = false;
    for (;;) {
        if (m_unannounced == 0) {
            // Reads until the system has nothing more, rather than asking first:
            // one call a datagram instead of two. There is always at least one
            // read, which is also what clears Qt's "readyRead already signalled"
            // mark; left set, Qt turns the notifier off at the next datagram.
            if (readOnce && (bytes >= TurnBytes || std::chrono::steady_clock::now() - started >= TurnTime))
                break;
            readOnce = true;
            try {
                if (!readOne(*socket)) {
                    if (socket->error() == QAbstractSocket::TemporaryError)
                        break; // nothing waits
                    // Unreadable (on Windows an ICMP port-unreachable shows up
                    // so): skip it, but never spin on it.
                    if (++failedReads >= MaxFailedReadsPerTurn)
                        break;
                    continue;
                }
            } catch (const std::bad_alloc&) {
                break; // the rest waits for the next turn, the system holding it
            }
        }
        if (!batchOpen) {
            emit ArrivalBatchStarted();
            if (gone())
                return;
            batchOpen = true;
        }
        const QByteArray& next = m_waiting[m_waiting.size() - std::size_t(m_unannounced)];
        const auto size = qint32(next.size());
        bytes += size;
        --m_unannounced;
        emit DataArrival(size);
        if (gone())
            return;
    }
    if (batchOpen) {
        emit ArrivalBatchFinished();
        if (gone())
            return;
    }
    // What is left comes with the next turn. And a slot may have run a nested
    // loop: Qt then swallows the readyRead of what came in meanwhile and never
    // repeats it, so look again from the loop; likewise for a held datagram.
    if ((batchOpen || m_held >= 0) && !m_relook.isActive())
        m_relook.start();
}

} // namespace vesk
