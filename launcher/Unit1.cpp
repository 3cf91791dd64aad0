#include "Unit1.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent)
    : TForm(Frame::Tool, QSize(384, 120), parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("MERIK Game Launcher - "));
}
