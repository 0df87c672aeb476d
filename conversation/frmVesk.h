#pragma once

#include "conversation/RoleTable.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vesk {
class TranscriptBox;
class Winsock;
} // namespace vesk

// The conversation window. One class serves both roles: the Server window is
// "frmVesk", the Client window "frmVeskB" with B-suffixed controls; only the
// values of the role table differ.
class frmVesk : public QWidget {
    Q_OBJECT
public:
    explicit frmVesk(vesk::Role role, QWidget* parent = nullptr);
    ~frmVesk() override;

    // The partner's address as the start window's four boxes hold it, index 0
    // the first octet, exactly as typed.
    using AddressBoxes = std::array<QString, 4>;

    // Loads the window (its endpoint set-up forms the address from the boxes)
    // and shows it. Throws vesk::Error when the set-up fails; nothing is shown
    // and no port is held then.
    void Show(const AddressBoxes& txtIP);

    vesk::Role role() const noexcept { return m_role; }
    const vesk::RoleRow& row() const noexcept { return vesk::roleRow(m_role); }

    QLabel* lblSend;
    QLineEdit* txtSend;
    QPushButton* cmdSend;
    QLabel* lblRecive;
    vesk::TranscriptBox* txtReceive;
    QPushButton* cmdEnd;
    vesk::Winsock* Winsock1;

signals:
    // End was pressed: the window has let its port go and is closing; whoever
    // opened it shows the start window.
    void Ended();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load(const AddressBoxes& txtIP);
    void cmdSend_Click();
    void cmdEnd_Click();
    void Winsock1_DataArrival(qint32 bytesTotal);
    void DataSend();
    void releaseSocket();

    const vesk::Role m_role;
    QStringList m_linesArrived; // during one arrival batch
};
