#include "conversation/frmVesk.h"

#include "conversation/MessageRules.h"
#include "conversation/TranscriptBox.h"
#include "platform/desktop/ArrivalNotice.h"
#include "platform/error/VeskError.h"
#include "platform/forms/CommandButton.h"
#include "platform/forms/ErrorReport.h"
#include "platform/forms/Placement.h"
#include "platform/udp/Winsock.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <limits>

using vesk::place;
using vesk::twips;

frmVesk::frmVesk(vesk::Role role, QWidget* parent) : QWidget(parent), m_role(role)
{
    const vesk::RoleRow& r = row();
    setObjectName(QString::fromLatin1(r.window));
    setWindowTitle(QString::fromUtf8(r.caption));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(twips(5025), twips(3540));

    lblSend = place(new QLabel(QStringLiteral("送信メッセージ"), this), r.lblSend, 120, 120, 1335, 255);
    txtSend = place(new QLineEdit(this), r.txtSend, 240, 360, 3735, 270);
    txtSend->setMaxLength(std::numeric_limits<int>::max()); // no length limit
    cmdSend = place(new vesk::CommandButton(QStringLiteral("送信(&S)"), this), r.cmdSend, 4080, 315, 855, 375);
    lblRecive = place(new QLabel(QStringLiteral("送受信メッセージ"), this), r.lblRecive, 120, 720, 1455, 255);
    txtReceive = place(new vesk::TranscriptBox(this), r.txtReceive, 240, 960, 3735, 2415);
    cmdEnd = place(new vesk::CommandButton(QStringLiteral("終了(&X)"), this), r.cmdEnd, 4080, 960, 855, 375);
    // What a screen reader says, the same for both roles. The captions hold no
    // "&", so the labels' buddies bring no access keys.
    setAccessibleDescription(
        QStringLiteral("相手とメッセージをやり取りします。送信は Alt+S、終了は Alt+X"));
    txtSend->setAccessibleName(QStringLiteral("送信するメッセージ"));
    txtReceive->setAccessibleName(QStringLiteral("送受信メッセージ（会話、新しい行が先頭）"));
    lblSend->setBuddy(txtSend);
    lblRecive->setBuddy(txtReceive);
    // No button is the default: Enter in the input box sends nothing.

    Winsock1 = new vesk::Winsock(this);
    Winsock1->setObjectName(QString::fromLatin1(r.socket));

    setTabOrder(txtSend, cmdSend);
    setTabOrder(cmdSend, txtReceive);
    setTabOrder(txtReceive, cmdEnd);

    connect(cmdSend, &QPushButton::clicked, this, [this] { vesk::guarded(this, [this] { cmdSend_Click(); }); });
    connect(cmdEnd, &QPushButton::clicked, this, [this] { vesk::guarded(this, [this] { cmdEnd_Click(); }); });
    // The partner's computer answered that nothing listens at the port: said
    // beside the window, the transcript untouched, as the socket sends it once
    // for a run of such answers.
    connect(Winsock1, &vesk::Winsock::PartnerUnreachable, this, [this] {
        vesk::showNotice(this, QStringLiteral("partnerAbsentNotice"),
                         QStringLiteral("相手のプログラムは動いていないようです。"),
                         QStringLiteral("最後のメッセージが着いたとき、相手のコンピューターは「ポート %1 で受け取る"
                                        "プログラムがない」と答えました。そのメッセージは表示されていないかもしれません。"
                                        "相手が Vesk を %2 の役で開いているか確かめてください。")
                             .arg(row().remotePort)
                             .arg(m_role == vesk::Role::Server ? QStringLiteral("Client") : QStringLiteral("Server")));
    });
    connect(Winsock1, &vesk::Winsock::DataArrival, this,
            [this](qint32 n) { vesk::guarded(this, [this, n] { Winsock1_DataArrival(n); }); });
    // The lines of one turn of the event loop go into the transcript as one edit.
    connect(Winsock1, &vesk::Winsock::ArrivalBatchStarted, this, [this] {
        m_linesArrived.clear();
        txtReceive->beginBatch();
    });
    auto* notice = new vesk::ArrivalNotice(this, txtReceive);
    connect(Winsock1, &vesk::Winsock::ArrivalBatchFinished, this, [this, notice] {
        vesk::guarded(this, [this] { txtReceive->endBatch(); });
        notice->linesArrived(m_linesArrived);
    });
}

frmVesk::~frmVesk() = default;

void frmVesk::Show(const AddressBoxes& txtIP)
{
    Form_Load(txtIP);
    show();
    txtSend->setFocus();
}

void frmVesk::Form_Load(const AddressBoxes& txtIP)
{
    const vesk::RoleRow& r = row();
    Winsock1->setProtocol(vesk::Winsock::sckUDPProtocol);
    // The address goes in exactly as typed; the socket refuses it when sending
    // if it is not a dotted IPv4 address.
    const QString host = txtIP[0] + u'.' + txtIP[1] + u'.' + txtIP[2] + u'.' + txtIP[3];
    Winsock1->setRemoteHost(host);
    Winsock1->setRemotePort(r.remotePort);
    Winsock1->Bind(r.localPort);
}

void frmVesk::cmdSend_Click()
{
    DataSend();
}

void frmVesk::DataSend()
{
    const QString text = txtSend->text();
    // The own line shows what the partner's transcript will: characters the
    // code page cannot carry as they arrive, control characters gone. The
    // datagram still carries the text as typed; the partner filters it itself.
    const auto line = vesk::ownLine(text);
    const QString failed = QStringLiteral("メッセージを送信できませんでした");
    if (!line) {
        // Every partner program drops such a message unseen: saying "sent"
        // would be a lie, so it stays in the box.
        vesk::reportError(this, failed,
                          QStringLiteral("「0.0.0.0」を含むメッセージは、相手のプログラムが表示せずに捨てるため、"
                                         "送りませんでした（タブや改行などの制御文字を除くと「0.0.0.0」になる場合も同じです）。"));
        return;
    }
    try {
        Winsock1->SendData(text);
    } catch (const vesk::Error& e) {
        // Not sent: no line of ours, and the text stays in the box to try again.
        vesk::reportError(this, failed, e.reason());
        return;
    }
    txtReceive->insertLine(*line);
    txtSend->clear();
    txtSend->setFocus();
}

void frmVesk::Winsock1_DataArrival(qint32 /*bytesTotal*/)
{
    QString message;
    Winsock1->GetData(message);
    if (const auto line = vesk::receivedLine(message)) {
        txtReceive->insertLine(*line);
        m_linesArrived << *line;
    }
}

void frmVesk::cmdEnd_Click()
{
    // The fresh start window comes up before this one goes, so the program never
    // sees a moment without a window and keeps running.
    releaseSocket();
    emit Ended();
    close();
}

void frmVesk::closeEvent(QCloseEvent* event)
{
    // Whichever way the window goes, its port is free at once.
    releaseSocket();
    event->accept();
}

void frmVesk::releaseSocket()
{
    delete Winsock1;
    Winsock1 = nullptr;
}
