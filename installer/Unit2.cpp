#include "Unit2.h"

#include "CurrentDirectory.h"
#include "DefinitionLoading.h"
#include "Drives.h"
#include "ErrorReport.h"
#include "Errors.h"
#include "Unit1.h"
#include "Unit3.h"
#include "Unit4.h"

#include <QAbstractItemView>
#include <QEvent>

TForm2* Form2 = nullptr;

namespace {

const QColor FigureGrey(128, 128, 128);
const QColor FigureRed(255, 0, 0);

// The list and the drive box in the colours of the dark window.
void darken(QWidget* control)
{
    QPalette p = control->palette();
    for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        p.setColor(group, QPalette::Base, QColor(16, 16, 16));
        p.setColor(group, QPalette::AlternateBase, QColor(16, 16, 16));
        p.setColor(group, QPalette::Window, QColor(16, 16, 16));
        p.setColor(group, QPalette::Button, QColor(40, 40, 40));
        p.setColor(group, QPalette::Text, QColor(192, 192, 192));
        p.setColor(group, QPalette::WindowText, QColor(192, 192, 192));
        p.setColor(group, QPalette::ButtonText, QColor(192, 192, 192));
        p.setColor(group, QPalette::Highlight, QColor(128, 0, 0));
        p.setColor(group, QPalette::HighlightedText, Qt::white);
        p.setColor(group, QPalette::Light, QColor(96, 96, 96));
        p.setColor(group, QPalette::Midlight, QColor(72, 72, 72));
        p.setColor(group, QPalette::Mid, QColor(64, 64, 64));
        p.setColor(group, QPalette::Dark, QColor(48, 48, 48));
        p.setColor(group, QPalette::Shadow, Qt::black);
    }
    control->setPalette(p);
    // A drop-down list is a window of its own and inherits nothing.
    if (auto* box = qobject_cast<QComboBox*>(control)) {
        box->view()->setPalette(p);
        box->view()->window()->setPalette(p);
    }
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(11);
    control->setFont(f);
}

}

TForm2::TForm2(QWidget* parent)
    : TForm(Frame::None, QSize(252, 314), parent)
    , m_freeSpace(&Drives::freeBytes)
{
    {
        DefinitionLoading loading;
        setupUi(this);
        setObjectName(QStringLiteral("Form2"));
        Image1->setPicture(TImage::artwork(QStringLiteral("chooser_title")));
        Image2->setPicture(TImage::artwork(QStringLiteral("chooser_footer")));
        darken(DriveComboBox1);
        darken(DirectoryListBox1);
        DirectoryListBox1->setDrives(DriveComboBox1->drives());
        for (TLabel* label : { Label4, Label5, Label7, Label1, Label3, Label2 })
            label->adjustSize();
        alignFigures();
        loading.finish();
    }

    connect(DriveComboBox1, &TDriveComboBox::changed, this, [this] { ErrorReport::guarded([this] { DriveComboBox1Change(); }); });
    // The list can walk onto another mount ("/", then "media", ...): the
    // drive box then follows, as if the user had picked that drive, so that
    // the free figure and its colour are those of the mount the list is on.
    connect(DirectoryListBox1, &TDirectoryListBox::changed, this, [this] {
        const QString drive = DirectoryListBox1->Drive();
        if (drive != DriveComboBox1->Drive())
            DriveComboBox1->setDrive(drive);
    });
    connect(Label1, &TLabel::clicked, this, [this] { ErrorReport::guarded([this] { Label1Click(); }); });
    connect(Label2, &TLabel::clicked, this, [this] { ErrorReport::guarded([this] { Label2Click(); }); });
    connect(Label3, &TLabel::clicked, this, [this] { ErrorReport::guarded([this] { Label3Click(); }); });
}

TForm2::~TForm2() = default;

void TForm2::DriveComboBox1Change()
{
    const int required = StrToInt(Form1->Label10->text().toStdString());
    DirectoryListBox1->setDrive(DriveComboBox1->Drive());
    // 64 bits: free bytes of a large disk overflow 32; a failed query (-1)
    // truncates to 0 megabytes.
    const int64_t free = m_freeSpace(CurrentDirectory::get()) / 1000000;
    Label6->setColor(required > free ? FigureRed : FigureGrey);
    Label6->setText(QString::number(free) + QStringLiteral(" Mb."));
    alignFigures();
}

void TForm2::Label1Click()
{
    Form4->showInFront();
    hide();
}

void TForm2::Label2Click()
{
    Form1->setEnabled(true);
    hide();
}

void TForm2::Label3Click()
{
    hide();
    Form3->showInFront();
}

void TForm2::alignFigures()
{
    for (TLabel* figure : { Label6, Label8 }) {
        figure->adjustSize();
        figure->move(FigureRightEdge - figure->width(), figure->y());
    }
}

void TForm2::showEvent(QShowEvent* event)
{
    alignFigures();
    TForm::showEvent(event);
}

bool TForm2::event(QEvent* event)
{
    // A label whose text changes asks its parent to lay out again; the two
    // figures then size themselves to the new text and keep their right edge.
    if (event->type() == QEvent::LayoutRequest)
        alignFigures();
    return TForm::event(event);
}
