#include "app/frmMain.h"

#include "app/InputMethod.h"
#include "conversation/frmVesk.h"
#include "platform/forms/CommandButton.h"
#include "platform/forms/ErrorReport.h"
#include "platform/forms/Placement.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <limits>
#include <memory>

using vesk::place;
using vesk::twips;

frmMain::frmMain(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vesk -Main-"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(twips(2775), twips(1950));
    setAccessibleDescription(
        QStringLiteral("相手のIPアドレスを4つの欄に入れ、ServerかClientを選んで決定（Alt+S）を押すと会話を始めます"));

    lblIP = place(new QLabel(QStringLiteral("相手のIPアドレス："), this), "lblIP", 120, 120, 1455, 255);
    const int left[4] = {1200, 1560, 1920, 2280};
    for (int i = 0; i < 4; ++i) {
        auto* box = new QLineEdit(this);
        box->setMaxLength(std::numeric_limits<int>::max()); // no length limit
        const QByteArray name = "txtIP(" + QByteArray::number(i) + ')';
        txtIP[static_cast<std::size_t>(i)] = place(box, name.constData(), left[i], 360, 375, 270);
        // A screen reader sees four alike boxes; each says which number it holds.
        box->setAccessibleName(QStringLiteral("相手のIPアドレス %1番目の数").arg(i + 1));
    }
    lblIP->setBuddy(txtIP[0]); // no "&" in the caption, so no access key comes with it
    fraCheck = place(new QGroupBox(QStringLiteral("Client / Server"), this), "fraCheck", 120, 720, 1455, 1095);
    optServer = place(new QRadioButton(QStringLiteral("Server"), fraCheck), "optServer", 120, 360, 855, 180);
    optClient = place(new QRadioButton(QStringLiteral("Client"), fraCheck), "optClient", 120, 720, 855, 180);
    optServer->setChecked(true);
    cmdStart = place(new vesk::CommandButton(QStringLiteral("決定(&S)"), this), "cmdStart", 1800, 840, 855, 375);
    cmdEnd = place(new vesk::CommandButton(QStringLiteral("終了(&X)"), this), "cmdEnd", 1800, 1320, 855, 375);
    // The option group is one tab stop, the selected button, as on the original
    // forms; the arrow keys move the selection within it.
    const auto tabStopOnSelected = [this] {
        for (QRadioButton* o : {optServer, optClient})
            o->setFocusPolicy(o->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    };
    connect(optServer, &QRadioButton::toggled, this, tabStopOnSelected);
    tabStopOnSelected();

    // Tab order: the four boxes, then Client, Server, Start, End.
    QWidget* order[] = {txtIP[0], txtIP[1], txtIP[2], txtIP[3], optClient, optServer, cmdStart, cmdEnd};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(cmdStart, &QPushButton::clicked, this, [this] { vesk::guarded(this, [this] { cmdStart_Click(); }); });
    connect(cmdEnd, &QPushButton::clicked, this, [this] { vesk::guarded(this, [this] { cmdEnd_Click(); }); });
}

frmMain* frmMain::showFresh()
{
    auto* w = new frmMain;
    vesk::recheckInputMethodWhenGone(w);
    w->show();
    w->txtIP[0]->setFocus();
    return w;
}

void frmMain::cmdStart_Click()
{
    const vesk::Role role = optServer->isChecked() ? vesk::Role::Server : vesk::Role::Client;
    // The conversation window reads the address boxes while it loads, so this
    // window stays until that has worked; when it fails, the user keeps what was typed.
    auto conversation = std::make_unique<frmVesk>(role);
    // Leaving the conversation with End brings a fresh start window back.
    connect(conversation.get(), &frmVesk::Ended, [] { showFresh(); });
    vesk::recheckInputMethodWhenGone(conversation.get());
    conversation->Show({txtIP[0]->text(), txtIP[1]->text(), txtIP[2]->text(), txtIP[3]->text()});
    conversation.release(); // deletes itself when unloaded
    close();
}

void frmMain::cmdEnd_Click()
{
    QApplication::quit();
}
