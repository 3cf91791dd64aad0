#include "Unit6.h"

#include "DefinitionLoading.h"
#include "ErrorReport.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"

TForm6* Form6 = nullptr;

TForm6::TForm6(QWidget* parent)
    : TForm(Frame::None, QSize(253, 123), parent)
{
    {
        DefinitionLoading loading;
        setupUi(this);
        loading.finish();
    }
    connect(Label4, &TLabel::clicked, this, [this] { ErrorReport::guarded([this] { Label4Click(); }); });
    connect(Label1, &TLabel::clicked, this, [this] { ErrorReport::guarded([this] { Label1Click(); }); });
    ErrorReport::guarded([this] { FormCreate(); });
}

void TForm6::FormCreate()
{
    Image1->setPicture(Form2->Image1->picture());
    Image2->setPicture(Form3->Image2->picture());
    Image3->setPicture(Form2->Image3->picture());
}

void TForm6::AskToQuit()
{
    Form1->setEnabled(false);
    showInFront();
}

void TForm6::Label4Click()
{
    Form1->close();
}

void TForm6::Label1Click()
{
    hide();
    Form1->setEnabled(true);
    Form1->showInFront();
}
