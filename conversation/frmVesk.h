#pragma once

#include "conversation/RoleTable.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class frmMain;

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

    // Loads the window (its endpoint set-up reads the opener's address boxes)
    // and shows it. Throws vesk::Error when the set-up fails; nothing is shown
    // and no port is held then.
    void Show(const frmMain& opener);

    vesk::Role role() const noexcept { return m_role; }
    const vesk::RoleRow& row() const noexcept { return vesk::roleRow(m_role); }

    QLabel* lblSend;
    QLineEdit* txtSend;
    QPushButton* cmdSend;
    QLabel* lblRecive;
    vesk::TranscriptBox* txtReceive;
    QPushButton* cmdEnd;
    vesk::Winsock* Winsock1;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load(const frmMain& opener);
    void cmdSend_Click();
    void cmdEnd_Click();
    void Winsock1_DataArrival(qint32 bytesTotal);
    void DataSend();
    void releaseSocket();

    const vesk::Role m_role;
    bool m_linesArrived = false; // during one arrival batch
};
