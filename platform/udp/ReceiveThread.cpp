#include "platform/udp/ReceiveThread.h"

#include "platform/udp/SocketErrors.h"

#include <algorithm>
#include <memory>
#include <new>
#include <system_error>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#endif
#ifdef Q_OS_LINUX
#include <netinet/in.h>
#endif

namespace vesk {

namespace {

// Read and handed over to the window's thread this many at a time, so that
// the lock is taken once per batch on this side.
constexpr std::size_t BatchSize = 64;
// Room for the largest IPv4 datagram.
constexpr int ReadSize = 65536;

#ifdef Q_OS_WIN
bool interrupted(int error) { return error == WSAEINTR; }
#else
bool interrupted(int error) { return error == EINTR; }
#endif

} // namespace

ReceiveThread::ReceiveThread(qintptr descriptor, std::function<void()> arrived,
                             std::function<void(quint32, quint16)> unreachable)
    : m_socket(descriptor), m_arrived(std::move(arrived)), m_unreachable(std::move(unreachable))
{
#ifdef Q_OS_LINUX
    // Linux tells an unconnected socket of an ICMP error only through its error
    // queue, and only when asked; read below, with the destination it concerns.
    const int on = 1;
    ::setsockopt(int(descriptor), SOL_IP, IP_RECVERR, &on, sizeof on);
#endif
    if (!openWakeUp())
        throw std::system_error(socketerrors::lastSystemError(), std::system_category(), "wake-up channel");
    m_thread = std::thread([this] { run(); });
}

ReceiveThread::~ReceiveThread()
{
    m_stop.store(true);
    wakeUp();
    m_thread.join();
    closeWakeUp();
}

bool ReceiveThread::takeInto(std::deque<QByteArray>& to)
{
    if (m_taken.empty()) {
        // A batch at a time under the lock, so that the two threads meet on
        // it once per batch, not once per datagram.
        bool resume = false;
        {
            const std::lock_guard guard(m_lock);
            if (m_queue.empty()) {
                m_announced = false; // the next datagram queued calls `arrived` again
                return false;
            }
            const auto n = std::min(m_queue.size(), BatchSize);
            for (std::size_t i = 0; i < n; ++i) {
                m_taken.push_back(std::move(m_queue.front())); // out of memory: left in the queue
                m_charged -= charge(m_taken.back().size());
                m_queue.pop_front();
            }
            resume = m_full && m_charged < ResumeBelow;
            m_full = m_full && !resume;
        }
        if (resume)
            wakeUp();
    }
    // Out of memory here, the datagram stays first.
    to.push_back(std::move(m_taken.front()));
    m_taken.pop_front();
    return true;
}

bool ReceiveThread::queue(std::deque<QByteArray>& batch)
{
    if (batch.empty())
        return true;
    bool announce = false;
    bool room = true;
    {
        const std::lock_guard guard(m_lock);
        for (QByteArray& datagram : batch) {
            const qint64 cost = charge(datagram.size());
            if (m_full || m_charged + cost > Bound) {
                m_full = true; // the rest of the batch goes too: no gaps within
                m_dropped.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            try {
                m_queue.push_back(std::move(datagram));
                m_charged += cost;
            } catch (const std::bad_alloc&) {
                m_dropped.fetch_add(1, std::memory_order_relaxed);
            }
        }
        announce = !m_announced && !m_queue.empty();
        m_announced = m_announced || announce;
        room = !m_full;
    }
    batch.clear();
    if (announce)
        m_arrived();
    return room;
}

void ReceiveThread::run()
{
#ifdef Q_OS_LINUX
    // Many datagrams per system call: a burst from a fast sender has to be
    // emptied faster than it comes, through a buffer of a few hundred KiB.
    std::unique_ptr<char[]> slab(new char[std::size_t(BatchSize) * ReadSize]);
    mmsghdr messages[BatchSize];
    iovec parts[BatchSize];
    for (std::size_t i = 0; i < BatchSize; ++i) {
        parts[i] = {slab.get() + i * ReadSize, ReadSize};
        messages[i] = {};
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
#else
    std::unique_ptr<char[]> buffer(new char[ReadSize]);
#endif
    std::deque<QByteArray> batch;
    const auto keep = [&](const char* data, qsizetype size) {
        try {
            batch.emplace_back(data, size);
        } catch (const std::bad_alloc&) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
        }
    };
    for (;;) {
        bool full = false;
        {
            const std::lock_guard guard(m_lock);
            full = m_full;
        }
        // While full only the wake-up is waited for: the socket's first.
#ifdef Q_OS_WIN
        WSAPOLLFD fds[2] = {{SOCKET(m_wakeRead), POLLRDNORM, 0}, {SOCKET(m_socket), POLLRDNORM, 0}};
        const int ready = WSAPoll(fds, full ? 1 : 2, -1);
#else
        pollfd fds[2] = {{int(m_wakeRead), POLLIN, 0}, {int(m_socket), POLLIN, 0}};
        const int ready = ::poll(fds, full ? 1 : 2, -1);
#endif
        if (m_stop.load())
            return;
        if (fds[0].revents != 0)
            drainWakeUp();
        if (ready < 0 || full)
            continue; // interrupted, or woken to look again
        if (fds[1].revents & POLLERR)
            readErrors();
        // Everything the system holds, handed over a batch at a time; an
        // error (one reported for an earlier send) ends the round like an
        // empty buffer does, and the wait starts again.
        for (;;) {
#ifdef Q_OS_LINUX
            const int got = ::recvmmsg(int(m_socket), messages, BatchSize, MSG_DONTWAIT, nullptr);
            if (got < 0 && interrupted(socketerrors::lastSystemError()))
                continue;
            for (int i = 0; i < got; ++i)
                keep(slab.get() + std::size_t(i) * ReadSize, qsizetype(messages[i].msg_len));
            if ((got > 0 && !queue(batch)) || got < int(BatchSize))
                break;
#else
#ifdef Q_OS_WIN
            const int got = ::recv(SOCKET(m_socket), buffer.get(), ReadSize, 0);
#else
            const auto got = ::recv(int(m_socket), buffer.get(), ReadSize, MSG_DONTWAIT);
#endif
            if (got < 0) {
                const int error = socketerrors::lastSystemError();
                if (interrupted(error))
                    continue;
#ifdef Q_OS_WIN
                // Windows reports an earlier datagram's "port unreachable" so.
                if (error == WSAECONNRESET) {
                    m_unreachable(0, 0);
                    continue;
                }
#endif
                break;
            }
            keep(buffer.get(), qsizetype(got));
            if (batch.size() >= BatchSize && !queue(batch))
                break;
#endif
            if (m_stop.load())
                return;
        }
        queue(batch);
    }
}

} // namespace vesk
