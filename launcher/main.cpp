#include "Unit1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The application title names the program and captions its error boxes.
    // Set as the application name (which the display name falls back to), it
    // is not appended to the window's own caption as a display name would be.
    QApplication::setApplicationName(QStringLiteral("MERIK-Runner"));
    Form1 = new TForm1();
    Form1->show();
    const int result = QApplication::exec();
    delete Form1;
    return result;
}
