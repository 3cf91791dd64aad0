#include "Unit3.h"

TForm3* Form3 = nullptr;

TForm3::TForm3(QWidget* parent)
    : TForm(Frame::None, QSize(252, 314), parent)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("MERIK Installer"));
}
