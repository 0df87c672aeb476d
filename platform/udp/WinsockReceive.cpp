// The receiving half of the socket component: a turn's worth of datagrams at a
// time, each announced by DataArrival and taken by GetData.
#include "platform/udp/Winsock.h"

#include "platform/udp/Payload.h"
#include "platform/udp/ReceiveThread.h"

#include <QPointer>
#include <QScopeGuard>

#include <algorithm>
#include <chrono>
#include <new>

namespace vesk {

namespace {

// With TurnBytes, the most one turn of the event loop hands over before the
// window gets to paint and to take the user's input again: the time bounds
// many small datagrams.
constexpr std::chrono::milliseconds TurnTime{4};

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

void Winsock::readPending()
{
    // A slot that spins a nested event loop can bring us back here; the turn
    // that is running reads on, in order, once the slot returns.
    if (m_delivering > 0 || !m_reader)
        return;

    const QPointer<Winsock> self(this);
    ++m_delivering;
    const auto leave = qScopeGuard([this, &self] {
        if (self)
            --m_delivering;
    });

    // One turn's worth, then back to the event loop: what a flood leaves
    // waits in the component's buffer, and the window keeps answering keys
    // and clicks in between. The turn's time includes what the receiver does
    // when the batch finishes (the transcript takes all its lines in one
    // edit), judged from the last turns by the datagram.
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    qsizetype bytes = 0;
    qint64 count = 0;
    bool more = false; // left waiting for the next turn
    bool batchOpen = false;
    for (;;) {
        if (m_unannounced == 0) {
            if (batchOpen) {
                const auto finishing = std::chrono::nanoseconds(qint64(m_finishNsPerDatagram * double(count)));
                if (bytes >= TurnBytes || Clock::now() - started + finishing >= TurnTime) {
                    more = true;
                    break;
                }
            }
            try {
                if (!m_reader->takeInto(m_waiting))
                    break; // nothing waits; the reader calls again when something does
            } catch (const std::bad_alloc&) {
                more = true; // the datagram stays in the reader's queue
                break;
            }
            ++m_unannounced;
        }
        if (!batchOpen) {
            emit ArrivalBatchStarted();
            if (!self)
                return;
            batchOpen = true;
            if (m_unannounced == 0)
                continue; // its slot took the datagram already
        }
        const QByteArray& next = m_waiting[m_waiting.size() - std::size_t(m_unannounced)];
        const auto size = qint32(next.size());
        bytes += size;
        ++count;
        --m_unannounced;
        emit DataArrival(size);
        if (!self)
            return;
    }
    if (batchOpen) {
        const auto finishStarted = Clock::now();
        emit ArrivalBatchFinished();
        if (!self)
            return;
        if (count > 0) {
            const double perDatagram =
                double(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - finishStarted).count())
                / double(count);
            // A costlier turn counts at once, a cheaper one slowly: the cost
            // varies with what the transcript does (making room, laying out)
            // and a turn too long is what the user feels.
            m_finishNsPerDatagram = std::max(perDatagram, (m_finishNsPerDatagram * 3 + perDatagram) / 4);
        }
    }
    if (more && !m_relook.isActive())
        m_relook.start();
}

} // namespace vesk
