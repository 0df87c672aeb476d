#pragma once

#include <QWidget>

#include <array>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The start window: the partner's IPv4 address in four boxes, one per octet, and
// the role this copy plays. Every load starts from empty boxes and "Server".
class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);

    // Loads a fresh start window and shows it; it deletes itself when unloaded.
    static frmMain* showFresh();

    QLabel* lblIP;
    std::array<QLineEdit*, 4> txtIP; // index 0 holds the first octet
    QGroupBox* fraCheck;
    QRadioButton* optServer;
    QRadioButton* optClient;
    QPushButton* cmdStart;
    QPushButton* cmdEnd;

private:
    void cmdStart_Click();
    void cmdEnd_Click();
};
