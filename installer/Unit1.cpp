#include "Unit1.h"

#include "Application.h"
#include "BitmapFont.h"
#include "CurrentDirectory.h"
#include "DefinitionLoading.h"
#include "ErrorReport.h"
#include "FileNames.h"
#include "InstallDescription.h"
#include "Music.h"
#include "Unit2.h"
#include "Unit5.h"
#include "Unit6.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent)
    : TForm(Frame::None, QSize(452, 345), parent)
{
    // The window's own font is that of its texts, and so is the
    // application's while the controls are made: an edit box lays out its
    // text as it is made, in the application's font, before it takes the
    // font it inherits. In any other font the hidden edit box would load two
    // faces that the window never shows.
    QFont texts(QStringLiteral("Arial"));
    texts.setPixelSize(11);
    setFont(texts);
    {
        DefinitionLoading loading;
        const QFont applicationFont = QApplication::font();
        QApplication::setFont(texts);
        setupUi(this);
        QApplication::setFont(applicationFont);
        // Set in the order a stored definition loads them: the file name is
        // normalised first, then re-based onto the folder.
        KvShellLink1 = new TKvShellLink(this);
        KvShellLink1->setObjectName(QStringLiteral("KvShellLink1"));
        KvShellLink1->setDescription(QStringLiteral("This rules"));
        KvShellLink1->fileIcon()->setIconIndex(0);
        KvShellLink1->setHotKey(0);
        KvShellLink1->setFileName(QStringLiteral("C:\\WINDOWS\\Menu D\u00e9marrer\\Programmes\\"));
        KvShellLink1->setLanguage(lgEnglish);
        KvShellLink1->setWindowState(wsNormal);
        KvShellLink1->setShellFolder(sfPrograms);
        // A start directory removed a moment before has no name any more:
        // the report says so, and the window still appears.
        ErrorReport::guarded([this] { m_sourceDirectory = FileNames::decode(CurrentDirectory::get()); });
        Image1->setPicture(TImage::artwork(QStringLiteral("background")));
        Image2->setPicture(TImage::artwork(QStringLiteral("row1")));
        Image3->setPicture(TImage::artwork(QStringLiteral("row2")));
        Image4->setPicture(TImage::artwork(QStringLiteral("row3")));
        Image5->setPicture(TImage::artwork(QStringLiteral("row1lit")));
        Image6->setPicture(TImage::artwork(QStringLiteral("row2lit")));
        Image7->setPicture(TImage::artwork(QStringLiteral("row3lit")));
        imgsource->setPicture(TImage::artwork(QStringLiteral("glyphs")));
        LabelFrom->adjustSize();
        loading.finish();
    }

    connect(Image1, &TImage::mouseMoved, this, [this] { Image1MouseMove(); });
    connect(Image2, &TImage::mouseMoved, this, [this] { Image2MouseMove(); });
    connect(Image3, &TImage::mouseMoved, this, [this] { Image3MouseMove(); });
    connect(Image4, &TImage::mouseMoved, this, [this] { Image4MouseMove(); });
    connect(Image5, &TImage::clicked, this, [this] { ErrorReport::guarded([this] { Image5Click(); }); });
    connect(Image6, &TImage::clicked, this, [this] { ErrorReport::guarded([this] { Image6Click(); }); });
    connect(Image7, &TImage::clicked, this, [this] { ErrorReport::guarded([this] { Image7Click(); }); });

    ErrorReport::guarded([this] { FormCreate(); });
}

TForm1::~TForm1() = default;

void TForm1::FormCreate()
{
    if (!StartMusic(CurrentSetup().musicResource))
        return;
    CurrentDirectory::set(FileNames::encode(CurrentSetup().programFolder));
    ReadInstallDescription(*this);
}

void TForm1::DrawBitmapText(const QString& text)
{
    QImage title = imgdest->picture();
    if (title.size() != imgdest->size()) {
        title = QImage(imgdest->size(), QImage::Format_RGB32);
        title.fill(Qt::black);
    }
    BitmapFont::DrawBitmapText(imgsource->picture(), title, text);
    imgdest->setPicture(title);
}

void TForm1::lightRow(int row)
{
    Image5->setVisible(row == 1);
    Image6->setVisible(row == 2);
    Image7->setVisible(row == 3);
}

void TForm1::Image1MouseMove()
{
    lightRow(0);
}

void TForm1::Image2MouseMove()
{
    lightRow(1);
}

void TForm1::Image3MouseMove()
{
    lightRow(2);
}

void TForm1::Image4MouseMove()
{
    lightRow(3);
}

void TForm1::Image5Click()
{
    Form2->showInFront();
    Form2->Label8->setText(Label10->text() + QStringLiteral(" Mb."));
    setEnabled(false);
}

void TForm1::Image6Click()
{
    Form5->ShowInformationText(Label9->text());
}

void TForm1::Image7Click()
{
    Form6->AskToQuit();
}

void TForm1::FormClose()
{
    StopMusic();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
    // Closing the main window ends the program, whatever else is shown.
    QCoreApplication::quit();
}
