#include "Unit4.h"

#include "AnsiText.h"
#include "DefinitionLoading.h"
#include "Dialogs.h"
#include "EndActions.h"
#include "ErrorReport.h"
#include "FileNames.h"
#include "Unit1.h"
#include "Unit2.h"

#include <QCoreApplication>
#include <QFile>
#include <QScreen>
#include <cmath>
#include <memory>
#include <vector>

TForm4* Form4 = nullptr;

namespace {

constexpr unsigned CommentBufferSize = 16384;

QString fromLocal(const char* bytes)
{
    return QFile::decodeName(QByteArray(bytes));
}

// Control characters and blanks around a stored name are not shown.
QString trimmedName(const char* name)
{
    QByteArray bytes(name);
    qsizetype begin = 0, end = bytes.size();
    while (begin < end && static_cast<unsigned char>(bytes[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(bytes[end - 1]) <= 32)
        --end;
    return QFile::decodeName(bytes.mid(begin, end - begin));
}

QString fileNamePart(const QString& path)
{
    const qsizetype cut = std::max({ path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')),
        path.lastIndexOf(QLatin1Char(':')) });
    return path.mid(cut + 1);
}

struct ArchiveCloser {
    void operator()(RARArchive* archive) const { RARCloseArchive(archive); }
};
using ArchiveHandle = std::unique_ptr<RARArchive, ArchiveCloser>;

}

TForm4::TForm4(QWidget* parent)
    : TForm(Frame::None, QSize(349, 124), parent)
    , m_endActions(RunEndActions)
{
    {
        DefinitionLoading loading;
        setupUi(this);
        Image1->setPicture(TImage::artwork(QStringLiteral("extract_title")));
        Image2->setPicture(TImage::artwork(QStringLiteral("extract_footer")));
        Label3->adjustSize();
        Label2->adjustSize();
        ProgressBar1->setStyleSheet(QStringLiteral(
            "QProgressBar { border: 1px solid rgb(128, 128, 128); background: rgb(28, 8, 12); }"
            "QProgressBar::chunk { background: rgb(255, 0, 128); }"));
        Label4->adjustSize();
        loading.finish();
    }
    m_statusFrame.setSingleShot(true);
    m_statusFrame.setTimerType(Qt::PreciseTimer);
    connect(&m_statusFrame, &QTimer::timeout, this, [this] { paintStatusNow(); });
    connect(Label2, &TLabel::clicked, this, [this] { ErrorReport::guarded([this] { Label2Click(); }); });
    connect(Label4, &TLabel::clicked, this, [this] { ErrorReport::guarded([this] { Label4Click(); }); });
    ErrorReport::guarded([this] { FormCreate(); });
}

void TForm4::FormCreate()
{
    Image3->setPicture(Form2->Image3->picture());
}

void TForm4::Label2Click()
{
    Label2->setEnabled(false);
    repaint();
    const QString path = AnsiText::releasePath(Form1->Label8->text());
    ExtractArchive(FileNames::encode(path));
}

void TForm4::Label4Click()
{
    // A running extraction stops at its next chunk instead of going on
    // under a directory the user may be changing meanwhile.
    if (m_extracting)
        m_cancelled = true;
    hide();
    Form1->setEnabled(true);
    Form1->showInFront();
}

void TForm4::ShowStatus(const QString& text)
{
    Label1->setText(text);
    if (m_statusHeld)
        paintStatusSoon();
    else
        Label1->repaint();
}

// On X11 every immediate paint of the line costs a round trip to the server
// (Qt waits until the server has read the shared image before painting into
// it again): some 60 to 100 us, three times what a small entry's own
// extraction takes. So while an extraction runs, every status and bar
// position is still set as it comes, but the two reach the screen at most
// once per display frame: a change one frame or more after the last paint is
// painted at once, an earlier one when that frame is over.
void TForm4::holdStatusPaints(bool hold)
{
    if (hold == m_statusHeld)
        return;
    m_statusHeld = hold;
    if (hold) {
        const qreal rate = screen() ? screen()->refreshRate() : 0;
        m_frameNanoseconds = qint64(1e9 / (rate >= 20 && rate <= 500 ? rate : 60));
        m_sinceStatusPaint.invalidate();
    } else {
        m_statusFrame.stop();
    }
    // Updates off: QLabel::setText and QProgressBar::setValue schedule or
    // force no paint; turning them on again schedules one.
    Label1->setUpdatesEnabled(!hold);
    ProgressBar1->setUpdatesEnabled(!hold);
}

void TForm4::paintStatusSoon()
{
    if (!m_sinceStatusPaint.isValid() || m_sinceStatusPaint.nsecsElapsed() >= m_frameNanoseconds) {
        paintStatusNow();
        return;
    }
    if (!m_statusFrame.isActive()) {
        const qint64 left = m_frameNanoseconds - m_sinceStatusPaint.nsecsElapsed();
        m_statusFrame.start(int((left + 999999) / 1000000));
    }
}

void TForm4::paintStatusNow()
{
    m_statusFrame.stop();
    if (!m_statusHeld)
        return;
    Label1->setUpdatesEnabled(true);
    ProgressBar1->setUpdatesEnabled(true);
    // Both in one paint of the window, so one flush to the screen.
    repaint(QRegion(Label1->geometry()) | ProgressBar1->geometry());
    Label1->setUpdatesEnabled(false);
    ProgressBar1->setUpdatesEnabled(false);
    m_sinceStatusPaint.start();
}

void TForm4::ReportOpenError(int code, const QString& path)
{
    switch (code) {
    case ERAR_NO_MEMORY: ShowStatus(QStringLiteral("Not enough memory")); break;
    case ERAR_BAD_DATA: ShowStatus(QStringLiteral("Archive header broken:") + path); break;
    case ERAR_BAD_ARCHIVE: ShowStatus(QStringLiteral("Is not RAR archive:") + path); break;
    case ERAR_EOPEN: ShowStatus(QStringLiteral("Cannot open ") + path); break;
    default: break;
    }
}

void TForm4::ReportProcessError(int code)
{
    switch (code) {
    case ERAR_BAD_DATA: ShowStatus(QStringLiteral("CRC error")); break;
    case ERAR_BAD_ARCHIVE: ShowStatus(QStringLiteral("Bad Volume")); break;
    case ERAR_UNKNOWN_FORMAT: ShowStatus(QStringLiteral("Unknown Archive Format")); break;
    case ERAR_EOPEN: ShowStatus(QStringLiteral("Volume open error - Disk missing!")); break;
    case ERAR_ECREATE: ShowStatus(QStringLiteral("File create error - Bad format!")); break;
    case ERAR_ECLOSE: ShowStatus(QStringLiteral("File close error")); break;
    case ERAR_EREAD: ShowStatus(QStringLiteral("Read error")); break;
    case ERAR_EWRITE: ShowStatus(QStringLiteral("Write error")); break;
    default: break;
    }
}

void TForm4::ExtractArchive(const std::string& path)
{
    std::vector<char> comment(CommentBufferSize, '\0');
    RAROpenArchiveData open;
    open.ArcName = path.c_str();
    open.OpenMode = RAR_OM_EXTRACT;
    open.CmtBuf = comment.data();
    open.CmtBufSize = CommentBufferSize;
    ArchiveHandle archive(RAROpenArchive(&open));
    if (open.OpenResult != 0 || !archive) {
        ReportOpenError(int(open.OpenResult), FileNames::decode(path));
        return;
    }
    if (open.CmtState == 1)
        ShowStatus(QStringLiteral("Comment:") + AnsiText::decode(comment.data()));

    RARSetChangeVolProc(archive.get(), [this](char* volume, int mode) { return ChangeVolumeCallback(volume, mode); });
    RARSetProcessDataProc(archive.get(), [this](unsigned char* data, int size) { return ProcessDataCallback(data, size); });

    m_extracting = true;
    m_cancelled = false;
    struct ExtractingFlag {
        TForm4& window;
        ~ExtractingFlag()
        {
            window.m_extracting = false;
            window.holdStatusPaints(false);
        }
    } extractingFlag { *this };
    holdStatusPaints(true);

    RARHeaderData header;
    header.CmtBuf = nullptr;
    auto readHeader = [&] {
        const int result = RARReadHeader(archive.get(), &header);
        Progress = 0;
        EntrySize = int64_t(uint64_t(header.UnpSizeHigh) << 32 | header.UnpSize);
        ProgressBar1->setValue(0);
        return result;
    };

    int headerResult = readHeader();
    while (headerResult == 0) {
        if (m_cancelled)
            return;
        ShowStatus(QStringLiteral("Extracting:") + trimmedName(header.FileName));
        const int result = RARProcessFile(archive.get(), RAR_EXTRACT, nullptr, nullptr);
        if (m_cancelled)
            return;
        if (result != 0 && EntrySize != 0) {
            ReportProcessError(result);
            return;
        }
        headerResult = readHeader();
    }
    // Only the archive's regular end completes the installation: a damaged
    // header or a volume that fails between two entries leaves entries
    // behind it unwritten, so the window stays with the failure, as after
    // any other failure, and the end actions do not run.
    if (headerResult != ERAR_END_ARCHIVE) {
        if (headerResult == ERAR_BAD_DATA)
            ShowStatus(QStringLiteral("File header broken"));
        else
            ReportProcessError(headerResult);
        return;
    }
    archive.reset();
    holdStatusPaints(false);
    hide();
    Form1->setEnabled(true);
    m_extracting = false;
    if (m_endActions)
        m_endActions();
}

int TForm4::ProcessDataCallback(unsigned char*, int size)
{
    if (m_cancelled)
        return 0;
    if (EntrySize == 0)
        EntrySize = 1;
    Progress += double(size) / double(EntrySize) * 100.0;
    ProgressBar1->setValue(int(std::nearbyint(Progress))); // halves to even
    paintStatusSoon();
    QCoreApplication::processEvents();
    return m_cancelled ? 0 : 1;
}

int TForm4::ChangeVolumeCallback(char* volumePath, int mode)
{
    if (mode == RAR_VOL_ASK) {
        const Dialogs::Answer answer = Dialogs::show({ QStringLiteral("Confirm"),
            QStringLiteral("Insert disk ") + fromLocal(volumePath), Dialogs::Icon::Question, Dialogs::Buttons::OkCancel });
        return answer == Dialogs::Answer::Ok ? 1 : 0;
    }
    Label3->setText(QStringLiteral("Installing ") + fileNamePart(fromLocal(volumePath)));
    Label3->adjustSize();
    return 1;
}
