#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vesk {

// Drains a bound UDP socket on a thread of its own, as fast as datagrams come,
// into a queue of bounded size. A burst then waits in the program's memory
// instead of overflowing the system's receive buffer, which an ordinary user
// cannot enlarge. The window's thread takes the datagrams, in order.
// When the queue is full the newest are dropped: the thread stops reading
// until the window has taken a sixteenth of it, and the system drops what comes
// meanwhile. Under a flood the thread then takes no more of the processor than
// the window's own pace, which a window sharing it with a flood needs.
class ReceiveThread {
public:
    // What the queue may hold: above the transcript's ten million units in
    // code page 932 (at most 20 MB of text), so a burst can fill the window's
    // whole transcript. Each datagram is charged its size plus PerDatagramCost,
    // the allocation and bookkeeping around it, so that a flood of tiny
    // datagrams is bounded by memory too, not only by bytes.
    static constexpr qint64 Bound = 32 * 1024 * 1024;
    // Small steps: each resumption reads a short while, so that it holds up
    // the window's thread, sharing the processor, only briefly.
    static constexpr qint64 ResumeBelow = Bound / 16 * 15;
    static constexpr qint64 PerDatagramCost = 64;
    static constexpr qint64 charge(qsizetype size) { return qint64(size) + PerDatagramCost; }

    // Starts reading `descriptor`, which must stay open until this is
    // destroyed. `arrived` runs on the reading thread whenever a datagram is
    // queued after take() has found the queue empty, once until then.
    // `unreachable` runs there when a computer answers a datagram sent from
    // the socket with "nobody listens at this port", with the datagram's
    // destination (IPv4 address and port, host order; 0 and 0 where the
    // system does not say, as on Windows).
    ReceiveThread(qintptr descriptor, std::function<void()> arrived,
                  std::function<void(quint32 host, quint16 port)> unreachable);
    // Stops the thread and waits for it; the socket is left open.
    ~ReceiveThread();
    ReceiveThread(const ReceiveThread&) = delete;
    ReceiveThread& operator=(const ReceiveThread&) = delete;

    // Moves the oldest datagram to the end of `to`; false when none waits.
    bool takeInto(std::deque<QByteArray>& to);
    // Datagrams dropped so far because the queue was full (the newest go; the
    // system drops more while the thread waits, which this does not count).
    qint64 dropped() const noexcept { return m_dropped.load(std::memory_order_relaxed); }

private:
    void run();
    // Hands the batch over; false when the queue is full.
    bool queue(std::deque<QByteArray>& batch);
    // The wake-up channel and the error queue (ReceiveThreadChannels.cpp).
    bool openWakeUp();
    void closeWakeUp();
    void wakeUp();
    void drainWakeUp();
    void readErrors();

    const qintptr m_socket;
    const std::function<void()> m_arrived;
    const std::function<void(quint32, quint16)> m_unreachable;

    std::mutex m_lock;
    std::deque<QByteArray> m_queue; // guarded by m_lock
    qint64 m_charged = 0;           // guarded by m_lock
    bool m_announced = false;       // guarded by m_lock: `arrived` ran since the last empty take
    bool m_full = false;            // guarded by m_lock: no reading until below ResumeBelow
    std::atomic<qint64> m_dropped{0};
    // Taken from the queue by the window's thread, a batch at a time; its own.
    std::deque<QByteArray> m_taken;

    // Wakes the thread out of its wait when it is to stop or to read again: a pipe on Unix, a
    // loopback datagram socket connected to itself on Windows.
    qintptr m_wakeRead = -1;
    qintptr m_wakeWrite = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace vesk
