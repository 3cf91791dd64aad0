#include "Unit1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("MERIK-Runner"));
    Form1 = new TForm1();
    Form1->show();
    const int result = QApplication::exec();
    delete Form1;
    return result;
}
