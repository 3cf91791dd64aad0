#include "Unit1.h"

#include "AnsiText.h"
#include "CurrentDirectory.h"
#include "ErrorReport.h"
#include "FileNames.h"
#include "ReleaseFiles.h"
#include "Shell.h"
#include "TextFile.h"

#include <QEvent>
#include <QFile>
#include <QFont>
#include <QHelpEvent>
#include <QToolTip>

TForm1* Form1 = nullptr;

namespace {

// Every line after the first carries a five-character prefix that is not
// examined; the value is the rest, unchanged.
std::string valueOf(const std::string& line)
{
    return line.size() > 5 ? line.substr(5) : std::string();
}

std::string localPath(const QString& path)
{
    return FileNames::encode(path);
}

// Pixel heights cannot be stored in the window definition's font.
void setPixelFont(QWidget* widget, const QString& family, int pixelHeight)
{
    QFont font = widget->font();
    font.setFamily(family);
    font.setPixelSize(pixelHeight);
    widget->setFont(font);
}

}

static void initLauncherArtwork()
{
    // The artwork lives in a static library; nothing else would pull it in.
    Q_INIT_RESOURCE(launcher);
}

TForm1::TForm1(const QString& programFolder, QWidget* parent)
    : TForm(Frame::Tool, QSize(384, 120), parent)
    , m_programFolder(programFolder)
{
    initLauncherArtwork();
    setPixelFont(this, QStringLiteral("MS Sans Serif"), 11);
    setupUi(this);
    setObjectName(QStringLiteral("Form1"));
    for (QPushButton* button : { Button1, quit, Button2, Button3 }) {
        setPixelFont(button, QStringLiteral("Arial"), 9);
        // Enter clicks the focused button, as Space does.
        button->setAutoDefault(true);
        button->installEventFilter(this);
    }
    Image1->setPicture(TImage::artwork(QStringLiteral("launcher_background")));
    // A tool window alone would not end the program when it closes.
    setAttribute(Qt::WA_QuitOnClose, true);

    connect(Button1, &QPushButton::clicked, this, [this] { ErrorReport::guarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { ErrorReport::guarded([this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this, [this] { ErrorReport::guarded([this] { Button3Click(); }); });
    connect(quit, &QPushButton::clicked, this, [this] { quitClick(); });

    ErrorReport::guarded([this] { FormCreate(); });
}

TForm1::~TForm1() = default;

QString TForm1::ownFolder()
{
    const QString folder = FileNames::programFolder();
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    // A tooltip is release text, shown as plain text: Qt would take one
    // that looks like markup for rich text (bold tags, local pictures).
    if (event->type() == QEvent::ToolTip) {
        auto* button = qobject_cast<QPushButton*>(watched);
        if (button && !button->toolTip().isEmpty()) {
            const QString shown = QStringLiteral("<p style=\"white-space:pre\">") + button->toolTip().toHtmlEscaped()
                + QStringLiteral("</p>");
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), shown, button);
            return true;
        }
    }
    return TForm::eventFilter(watched, event);
}

TForm1::Entry TForm1::entry(int number) const
{
    switch (number) {
    case 1: return { Button1, Label1, Label2 };
    case 2: return { Button2, Label3, Label4 };
    default: return { Button3, Label5, Label6 };
    }
}

void TForm1::FormCreate()
{
    CurrentDirectory::set(localPath(m_programFolder));
    TextFileReader file(ReleaseFiles::resolve("autoplay.ini"));
    auto next = [&file] { return valueOf(file.readLine()); };

    file.readLine();
    const QString title = AnsiText::decode(next());
    title1->setText(title);
    setWindowTitle(QStringLiteral("MERIK Game Launcher - ") + title);
    publisher->setText(AnsiText::decode(next()));

    for (int number = 1; number <= 3; ++number) {
        const Entry e = entry(number);
        QString& directory = m_directories[size_t(number - 1)];
        directory = AnsiText::releasePath(AnsiText::decode(next()));
        if (!directory.isEmpty())
            directory += QLatin1Char('/');

        const QString caption = AnsiText::decode(next());
        if (number > 1 && caption.isEmpty())
            e.button->hide();
        e.button->setText(caption);

        e.program->setText(AnsiText::decode(next()));
        e.parameters->setText(AnsiText::decode(next()));
        e.button->setToolTip(m_programFolder + directory + AnsiText::releasePath(e.program->text())
            + QLatin1Char(' ') + e.parameters->text());
    }
}

void TForm1::launch(int number)
{
    const Entry e = entry(number);
    const QString& directory = m_directories[size_t(number - 1)];
    // The directory is a release file too: found ignoring case.
    if (!directory.isEmpty())
        CurrentDirectory::set(ReleaseFiles::resolve(localPath(m_programFolder + directory)));
    Shell::ShellExecute(e.program->text(), e.parameters->text());
}

void TForm1::Button1Click() { launch(1); }
void TForm1::Button2Click() { launch(2); }
void TForm1::Button3Click() { launch(3); }

void TForm1::quitClick()
{
    close();
}
