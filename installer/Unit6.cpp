#include "Unit6.h"

TForm6* Form6 = nullptr;

TForm6::TForm6(QWidget* parent)
    : TForm(Frame::None, QSize(252, 314), parent)
{
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("MERIK Installer"));
}
