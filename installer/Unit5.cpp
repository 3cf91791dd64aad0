#include "Unit5.h"

TForm5* Form5 = nullptr;

TForm5::TForm5(QWidget* parent)
    : TForm(Frame::None, QSize(252, 314), parent)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("MERIK Installer"));
}
