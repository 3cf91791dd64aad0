#include "Unit4.h"

TForm4* Form4 = nullptr;

TForm4::TForm4(QWidget* parent)
    : TForm(Frame::None, QSize(252, 314), parent)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("MERIK Installer"));
}
