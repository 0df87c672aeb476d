// The reference program for start-up time and memory: the least a Qt Widgets
// program with one window, a line edit and a button can do.
#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("minimal"));
    auto* layout = new QHBoxLayout(&window);
    layout->addWidget(new QLineEdit(&window));
    layout->addWidget(new QPushButton(QStringLiteral("OK"), &window));
    window.show();
    return QApplication::exec();
}
