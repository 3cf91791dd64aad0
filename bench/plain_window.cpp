// bench_plain_window: the yardstick of bench_startup, a plain Qt Widgets
// window of the installer's main window's size, frameless and centred like
// it, linked with nothing but Qt Widgets.
#include <QApplication>
#include <QScreen>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.setFixedSize(452, 345);
    window.move(window.screen()->geometry().center() - window.rect().center());
    window.show();
    return QApplication::exec();
}
