#include "Unit2.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent)
    : TForm(Frame::None, QSize(252, 314), parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("MERIK Installer"));
    Label8 = new TLabel(this);
    Label8->setObjectName(QStringLiteral("Label8"));
}
