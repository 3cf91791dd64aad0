#include "Unit5.h"

#include "AnsiText.h"
#include "FileNames.h"
#include "ReleaseFiles.h"
#include "TextFile.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>

TForm5* Form5 = nullptr;

namespace {
constexpr int ScreenMargin = 35; // the viewer leaves this much of the screen's height free
constexpr int MemoMargin = 30;   // and this much of its own below the text
}

TForm5::TForm5(QWidget* parent)
    : TForm(Frame::Tool, QSize(652, 330), parent)
    , Memo1(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Form5"));
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(199, 185, 169));
    setPalette(background);

    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(0, 0, 651, 330);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setFrameShape(QFrame::NoFrame);
    QPalette text = Memo1->palette();
    text.setColor(QPalette::Base, Qt::white);
    text.setColor(QPalette::Text, Qt::black);
    Memo1->setPalette(text);
    // A monospaced face with box-drawing glyphs that fill the whole line
    // cell, drawn without smoothing at a whole-pixel cell width, so that the
    // information text's block art joins without seams.
    QFont terminal(QStringLiteral("DejaVu Sans Mono"));
    terminal.setStyleHint(QFont::TypeWriter);
    terminal.setStyleStrategy(QFont::NoAntialias);
    terminal.setHintingPreference(QFont::PreferFullHinting);
    terminal.setPixelSize(12);
    Memo1->setFont(terminal);
    // Tab stops every eight cells, as on a text-mode screen.
    Memo1->setTabStopDistance(8 * QFontMetrics(terminal).horizontalAdvance(QLatin1Char(' ')));
    Memo1->document()->setDocumentMargin(2);
}

void TForm5::ShowInformationText(const QString& sourceDirectory)
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    winId(); // the platform window, so that a frame already drawn is known
    move(x(), 0);
    m_outerHeight = screen->geometry().height() - ScreenMargin;
    fitOuterHeight();
    Memo1->clear();
    Memo1->resize(Memo1->width(), std::max(0, m_outerHeight - MemoMargin));

    const std::string wanted = FileNames::encode(sourceDirectory + QStringLiteral("merik.nfo"));
    if (!ReleaseFiles::isFile(wanted))
        return;
    setWindowTitle(QStringLiteral("Showing merik.nfo"));

    // The release was written on a file system that ignores case: open the
    // file the existence test found, whatever its spelling.
    TextFileReader file(ReleaseFiles::resolve(wanted));
    while (!file.atEnd()) {
        // A line feed without a carriage return does not break the line: it
        // shows as the DOS glyph for that byte, as a text-mode screen drew it.
        Memo1->appendPlainText(AnsiText::decodeCp437(file.readLine()));
    }
    // The release's logo is at the top: open there, not where appending
    // left the cursor.
    Memo1->moveCursor(QTextCursor::Start);
    Memo1->verticalScrollBar()->setValue(0);
    showInFront();
}

void TForm5::fitOuterHeight()
{
    const QMargins margins = frame();
    setFixedSize(width(), std::max(0, m_outerHeight - margins.top() - margins.bottom()));
}

void TForm5::frameKnown()
{
    // The height was given to the frame as a whole; under a window manager
    // the frame is known only now.
    fitOuterHeight();
    TForm::frameKnown();
}
