#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <deque>
#include <memory>

class QUdpSocket;

namespace vesk {

class ReceiveThread;

// The UDP socket component a conversation window carries. Its members mirror the
// socket control the program was written against: set Protocol, RemoteHost and
// RemotePort, Bind a local port, SendData, and GetData once per DataArrival.
// A message is one datagram holding the text in code page 932, nothing else.
// Every failure is thrown as vesk::Error.
class Winsock : public QObject {
    Q_OBJECT
public:
    enum ProtocolConstants : qint32 { sckTCPProtocol = 0, sckUDPProtocol = 1 };

    // The most a UDP datagram over IPv4 can carry.
    static constexpr qsizetype MaxDatagramSize = 65507;
    // One turn of the event loop hands over datagrams until they come to this
    // many bytes (or a few milliseconds have passed): what the transcript then
    // takes in one edit.
    static constexpr qsizetype TurnBytes = 1024 * 1024;
    // How long a send must go unanswered before the next "nobody listens"
    // is told again: longer than an answer takes, short beside a user's typing.
    static constexpr std::chrono::milliseconds QuietPeriod{1000};

    explicit Winsock(QObject* parent = nullptr);
    ~Winsock() override;

    qint32 Protocol() const noexcept { return m_protocol; }
    void setProtocol(qint32 protocol);

    QString RemoteHost() const { return m_remoteHost; }
    void setRemoteHost(const QString& host);

    qint32 RemotePort() const noexcept { return m_remotePort; }
    void setRemotePort(qint32 port);

    // Receives on `localPort` on every local IPv4 interface; exclusive, so a
    // second socket cannot take the same port while this one holds it.
    void Bind(qint32 localPort);
    bool isBound() const noexcept;
    qint32 LocalPort() const noexcept;

    // Sends `text` as one datagram to RemoteHost:RemotePort.
    void SendData(const QString& text);
    // The same with the payload already encoded.
    void SendBytes(const QByteArray& payload);

    // Takes the oldest waiting datagram as text; empty when none is waiting.
    void GetData(QString& data);
    // Takes the oldest waiting datagram as raw bytes.
    QByteArray GetBytes();
    qsizetype waitingDatagrams() const noexcept { return qsizetype(m_waiting.size()); }
    // What the system granted for the receive buffer of the bound socket, in
    // bytes as it reports it (Linux reports twice the size it was asked for).
    qint64 receiveBufferSize() const;
    // Datagrams the component's own buffer let go because it was full.
    qint64 droppedDatagrams() const;

signals:
    // Once per arrived datagram, carrying its size in bytes; the receiver takes
    // it with GetData before the next one is read.
    void DataArrival(qint32 bytesTotal);
    // Around the DataArrival signals of one turn of the event loop (a few
    // milliseconds' worth at most), so that a receiver can group the work.
    void ArrivalBatchStarted();
    void ArrivalBatchFinished();
    // The partner's computer answered a message with "nobody listens at this
    // port": the datagram reached it, but no program has RemotePort open.
    // Once for a run of such answers; again only after a send that drew none
    // for QuietPeriod. The send itself had succeeded and stays so.
    void PartnerUnreachable();

private:
    void readPending();
    void bindSocket(qint32 localPort);
    void nobodyListens(quint32 host, quint16 port, std::chrono::steady_clock::time_point at);

    QUdpSocket* m_socket = nullptr;
    // Reads the socket as fast as datagrams come; its queue is bounded.
    std::unique_ptr<ReceiveThread> m_reader;
    qint32 m_protocol = sckTCPProtocol;
    QString m_remoteHost;
    qint32 m_remotePort = 0;
    std::deque<QByteArray> m_waiting;
    // How many of the newest waiting datagrams have had no DataArrival yet.
    qsizetype m_unannounced = 0;
    // Depth of delivery on the stack; a nested call leaves the reading to it.
    int m_delivering = 0;
    QTimer m_relook; // the next turn, after the event loop has had its own
    // What ArrivalBatchFinished took of late, per datagram of its batch.
    double m_finishNsPerDatagram = 0;
    // The run of "nobody listens" answers: told once, until a quiet send.
    bool m_unreachableTold = false;
    std::chrono::steady_clock::time_point m_lastSend;
    std::chrono::steady_clock::time_point m_lastUnreachable;
};

} // namespace vesk
