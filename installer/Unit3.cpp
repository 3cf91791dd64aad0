#include "Unit3.h"

#include "DefinitionLoading.h"
#include "ErrorReport.h"
#include "FileNames.h"
#include "Unit1.h"
#include "Unit2.h"

#include <sys/stat.h>

TForm3* Form3 = nullptr;

TForm3::TForm3(QWidget* parent)
    : TForm(Frame::None, QSize(253, 126), parent)
{
    {
        DefinitionLoading loading;
        setupUi(this);
        setObjectName(QStringLiteral("Form3"));
        Image2->setPicture(TImage::artwork(QStringLiteral("prompt_footer")));
        for (TLabel* label : { Label1, Label2, Label3 })
            label->adjustSize();
        loading.finish();
    }

    connect(Label2, &TLabel::clicked, this, [this] { ErrorReport::guarded([this] { Label2Click(); }); });
    connect(Label3, &TLabel::clicked, this, [this] { ErrorReport::guarded([this] { Label3Click(); }); });

    ErrorReport::guarded([this] { FormCreate(); });
}

TForm3::~TForm3() = default;

QString TForm3::NewDirectoryPath(const QString& directory, const QString& name)
{
    if (directory.endsWith(QLatin1Char('/')))
        return directory + name;
    return directory + QLatin1Char('/') + name;
}

void TForm3::FormCreate()
{
    Edit1->setText(Form1->Label7->text());
    Image1->setPicture(Form2->Image1->picture());
    image3->setPicture(Form2->Image3->picture());
}

void TForm3::Label2Click()
{
    const QString path = NewDirectoryPath(Form2->DirectoryListBox1->Directory(), Edit1->text());
    // An existing directory is simply reused, and one that cannot be made
    // shows up as the move into it failing, which keeps the prompt open.
    ::mkdir(FileNames::encode(path).c_str(), 0777);
    Form2->DirectoryListBox1->setDirectory(path);
    hide();
    Form2->showInFront();
}

void TForm3::Label3Click()
{
    hide();
    Form2->showInFront();
}
