// Background music: the music layer on its own, and the installer's start and
// stop sequence through the real main window. What plays is captured with
// SDL's file-writing audio driver; the failing resources are real resource
// files made with rcc at run time.
#include "Application.h"
#include "Midas.h"
#include "TestSupport.h"
#include "Unit1.h"

#include <SDL2/SDL.h>
#include <libopenmpt/libopenmpt.hpp>

#include <QLibraryInfo>
#include <QProcess>
#include <QResource>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <memory>

using TestSupport::DialogRecorder;
using TestSupport::readFile;
using TestSupport::writeFile;

namespace {

const QString DesignTimeInformation = QStringLiteral(
    "The INSTALL.INI File has been deleted, or hasn't been included with this release...");

constexpr int Rate = 44100; // the layer's output: 16-bit stereo at this rate
constexpr qint64 BytesPerSecond = Rate * 4;

std::vector<qint16> samplesOf(const QByteArray& raw)
{
    std::vector<qint16> samples(size_t(raw.size()) / 2);
    if (!samples.empty()) // an output file nothing was written to yet
        memcpy(samples.data(), raw.constData(), samples.size() * 2);
    return samples;
}

double rms(const std::vector<qint16>& s, size_t from, size_t count)
{
    double sum = 0;
    for (size_t i = from; i < from + count; ++i)
        sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(count));
}

double correlation(const std::vector<qint16>& s, size_t a, size_t b, size_t count)
{
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < count; ++i) {
        ab += double(s[a + i]) * s[b + i];
        aa += double(s[a + i]) * s[a + i];
        bb += double(s[b + i]) * s[b + i];
    }
    return ab / std::sqrt(aa * bb);
}

size_t firstSound(const std::vector<qint16>& s)
{
    size_t i = 0;
    while (i < s.size() && s[i] == 0)
        ++i;
    return i & ~size_t(1); // the start of that frame
}

// Whether anything but silence has been written to `file` yet.
bool hasSound(const QString& file)
{
    const auto s = samplesOf(readFile(file));
    return firstSound(s) < s.size();
}

double moduleSeconds(const QByteArray& bytes)
{
    openmpt::module module(bytes.constData(), size_t(bytes.size()));
    return module.get_duration_seconds();
}

// The files of one resource container as rcc writes them: header fields.
struct RccLayout {
    quint32 dataOffset;
};

RccLayout layoutOf(const QByteArray& rcc)
{
    const auto* p = reinterpret_cast<const uchar*>(rcc.constData());
    return { qFromBigEndian<quint32>(p + 12) };
}

}

class TestMusic : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_work;
    // Start-up moves the current directory into the test's folder, which
    // goes away after the test.
    std::unique_ptr<TestSupport::CurrentDirectoryGuard> m_currentDirectory;
    QString m_programFolder;
    QString m_tmp;
    QStringList m_calls;
    QStringList m_registered;
    QByteArray m_savedTmpdir;

    void setAudio(const QByteArray& driver, const QString& file = {})
    {
        qputenv("SDL_AUDIODRIVER", driver);
        if (file.isEmpty())
            qunsetenv("SDL_DISKAUDIOFILE");
        else
            qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(file));
        // The disk driver waits this many milliseconds a buffer: faster than
        // real time, so a whole song is captured in a few seconds.
        qputenv("SDL_DISKAUDIODELAY", "3");
    }

    // Holds the layer's work, then plays the module through the disk
    // output; returns that output's file.
    QString playHeld(const QString& name)
    {
        const QString out = m_work->filePath(name + QStringLiteral(".raw"));
        setAudio("disk", out);
        const QString path = m_work->filePath(name + QStringLiteral(".mod"));
        writeFile(path, QResource(QStringLiteral(":/MODULE/MERIK")).uncompressedData());
        MIDASholdBackgroundWork();
        MIDASstartup();
        if (!MIDASinit() || !MIDASstartBackgroundPlay(0))
            return {};
        MIDASmodule handle = MIDASloadModule(QFile::encodeName(path).constData());
        if (!handle || MIDASplayModule(handle, true) == 0)
            return {};
        return out;
    }

    // A resource container holding `content` as /MODULE/MERIK, made by rcc
    // and registered under its own root; returns the resource's path.
    QString makeResource(const QString& name, const QByteArray& content, bool compress,
        const std::function<void(QByteArray&, quint32 dataOffset)>& damage = {})
    {
        const QString folder = m_work->filePath(QStringLiteral("rcc-") + name);
        writeFile(folder + QStringLiteral("/module.bin"), content);
        writeFile(folder + QStringLiteral("/test.qrc"),
            "<RCC><qresource prefix=\"/MODULE\"><file alias=\"MERIK\">module.bin</file></qresource></RCC>");
        const QString rcc = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + QStringLiteral("/rcc");
        QStringList args { QStringLiteral("--binary"), QStringLiteral("-o"), folder + QStringLiteral("/test.rcc") };
        if (compress)
            args << QStringLiteral("--compress-algo") << QStringLiteral("zlib") << QStringLiteral("--compress")
                 << QStringLiteral("9") << QStringLiteral("--threshold") << QStringLiteral("0");
        else
            args << QStringLiteral("--no-compress");
        args << folder + QStringLiteral("/test.qrc");
        QProcess process;
        process.setWorkingDirectory(folder);
        process.start(rcc, args);
        if (!process.waitForFinished() || process.exitCode() != 0)
            qFatal("rcc failed: %s", process.readAllStandardError().constData());
        if (damage) {
            QByteArray bytes = readFile(folder + QStringLiteral("/test.rcc"));
            damage(bytes, layoutOf(bytes).dataOffset);
            writeFile(folder + QStringLiteral("/test.rcc"), bytes);
        }
        const QString root = QStringLiteral("/musictest/") + name;
        if (!QResource::registerResource(folder + QStringLiteral("/test.rcc"), root))
            qFatal("cannot register %s", qPrintable(name));
        m_registered << folder + QStringLiteral("/test.rcc") << root;
        return QStringLiteral(":") + root + QStringLiteral("/MODULE/MERIK");
    }

    QStringList tmpEntries() const
    {
        return QDir(m_tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    QStringList callNames() const
    {
        QStringList names;
        for (const QString& call : m_calls)
            names << call.section(QLatin1Char('('), 0, 0);
        return names;
    }

    const QStringList StopOrder { "MIDASstopModule", "MIDASfreeModule", "MIDASstopBackgroundPlay", "MIDASclose" };

private slots:
    void initTestCase()
    {
        QGuiApplication::setApplicationDisplayName(QStringLiteral("MERIK-Installer"));
        m_savedTmpdir = qgetenv("TMPDIR");
        MIDASsetCallObserver([this](const std::string& call) { m_calls << QString::fromStdString(call); });
    }

    void cleanupTestCase()
    {
        MIDASsetCallObserver({});
    }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        m_programFolder = m_work->filePath(QStringLiteral("medium"));
        m_tmp = m_work->filePath(QStringLiteral("tmp"));
        QVERIFY(QDir().mkpath(m_tmp));
        // With install.ini beside the program, a set-up that went on past the
        // music would replace the design-time texts.
        writeFile(m_programFolder + QStringLiteral("/install.ini"),
            readFile(QStringLiteral(MERIK_SOURCE_DIR "/demo/install.ini")));
        m_currentDirectory = std::make_unique<TestSupport::CurrentDirectoryGuard>();
        QVERIFY(QDir::setCurrent(m_programFolder));
        qputenv("TMPDIR", QFile::encodeName(m_tmp));
        setAudio("dummy");
        m_calls.clear();
    }

    void cleanup()
    {
        DestroyInstallerWindows();
        MIDASclose();
        for (int i = 0; i + 1 < m_registered.size(); i += 2)
            QResource::unregisterResource(m_registered[i], m_registered[i + 1]);
        m_registered.clear();
        if (m_savedTmpdir.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_savedTmpdir);
        m_currentDirectory.reset();
        m_work.reset();
    }

    // --- the music layer ---

    void layerStopSequenceIsHarmlessUnstarted()
    {
        MIDASclose();
        QVERIFY(!MIDASstopModule(0));
        QVERIFY(!MIDASfreeModule(nullptr));
        QVERIFY(!MIDASstopBackgroundPlay());
        QVERIFY(MIDASclose());
        QCOMPARE(MIDASloadModule("/nonexistent"), nullptr);
        QCOMPARE(MIDASgetLastError(), int(MIDAS_ERR_NOT_INITIALISED));
        // Still usable afterwards.
        MIDASstartup();
        QVERIFY(MIDASinit());
        QVERIFY(MIDASstartBackgroundPlay(0));
        QVERIFY(MIDASclose());
    }

    void layerLoadFailures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "missing.mod" << QByteArray() << int(MIDAS_ERR_FILE_OPEN)
                                 << "Unable to open the module file (No such file or directory)";
        QTest::newRow("a directory") << "folder.mod" << QByteArray() << int(MIDAS_ERR_FILE_READ)
                                     << "Unable to read the module file (Is a directory)";
        QTest::newRow("empty") << "empty.mod" << QByteArray("") << int(MIDAS_ERR_INVALID_MODULE)
                               << "The file is not a music module the library can play";
        QTest::newRow("text") << "notes.mod" << QByteArray("These are not notes.\r\n").repeated(200)
                              << int(MIDAS_ERR_INVALID_MODULE) << "The file is not a music module the library can play";
    }
    void layerLoadFailures()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(int, error);
        QFETCH(QString, message);
        const QString path = m_work->filePath(name);
        if (name == QLatin1String("folder.mod"))
            QVERIFY(QDir().mkpath(path));
        else if (!content.isNull())
            writeFile(path, content);

        QVERIFY(MIDASinit());
        QCOMPARE(MIDASloadModule(QFile::encodeName(path).constData()), nullptr);
        QCOMPARE(MIDASgetLastError(), error);
        QVERIFY(QString::fromUtf8(MIDASgetErrorMessage(error)).startsWith(message));
        // Without the detail of a last failure, the plain text.
        MIDASclose();
        QCOMPARE(QString::fromUtf8(MIDASgetErrorMessage(error)), message.section(QStringLiteral(" ("), 0, 0));
    }

    void layerErrorTextsDiffer()
    {
        QSet<QString> texts;
        for (int code = MIDAS_OK; code <= MIDAS_ERR_OUT_OF_MEMORY; ++code)
            texts.insert(QString::fromUtf8(MIDASgetErrorMessage(code)));
        QCOMPARE(texts.size(), MIDAS_ERR_OUT_OF_MEMORY + 1);
        QCOMPARE(QString::fromUtf8(MIDASgetErrorMessage(99)), QStringLiteral("Unknown error 99"));
    }

    // Without the loop flag the song ends in silence after its length.
    void layerPlaysOnceWithoutLoopFlag()
    {
        const QString out = m_work->filePath(QStringLiteral("once.raw"));
        setAudio("disk", out);
        const QByteArray module = QResource(QStringLiteral(":/MODULE/MERIK")).uncompressedData();
        const QString path = m_work->filePath(QStringLiteral("once.mod"));
        writeFile(path, module);
        const double seconds = moduleSeconds(module);

        MIDASstartup();
        QVERIFY(MIDASinit());
        QVERIFY(MIDASstartBackgroundPlay(0));
        MIDASmodule handle = MIDASloadModule(QFile::encodeName(path).constData());
        QVERIFY(handle);
        const MIDASmodulePlayHandle play = MIDASplayModule(handle, false);
        QVERIFY(play != 0);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(out).size() > qint64((seconds + 4) * BytesPerSecond), 120000);
        QVERIFY(MIDASstopModule(play));
        QVERIFY(MIDASfreeModule(handle));
        QVERIFY(MIDASstopBackgroundPlay());
        QVERIFY(MIDASclose());

        const auto s = samplesOf(readFile(out));
        const size_t start = firstSound(s);
        const size_t length = size_t(seconds * Rate) * 2;
        QVERIFY(rms(s, start, length) > 500);
        QCOMPARE(rms(s, start + length + Rate * 2, Rate * 2), 0.0);
    }

    // No driver named: the sound system starts in the background, and the
    // music goes out through whatever it found (on a machine without a
    // sound device, the silent output).
    void layerStartsInTheBackgroundWithoutNamedDriver()
    {
        qunsetenv("SDL_AUDIODRIVER");
        const QByteArray module = QResource(QStringLiteral(":/MODULE/MERIK")).uncompressedData();
        const QString path = m_work->filePath(QStringLiteral("background.mod"));
        writeFile(path, module);
        MIDASstartup();
        QVERIFY(MIDASinit());
        QVERIFY(MIDASstartBackgroundPlay(0));
        MIDASmodule handle = MIDASloadModule(QFile::encodeName(path).constData());
        QVERIFY(handle);
        const MIDASmodulePlayHandle play = MIDASplayModule(handle, true);
        QVERIFY(play != 0);
        QTest::qWait(200);
        QVERIFY(MIDASstopModule(play));
        QVERIFY(MIDASfreeModule(handle));
        // Waits for the start: an output was opened and is closed now.
        QVERIFY(MIDASstopBackgroundPlay());
        QVERIFY(SDL_GetCurrentAudioDriver() != nullptr);
        QVERIFY(MIDASclose());
        QCOMPARE(SDL_GetCurrentAudioDriver(), nullptr);
    }

    // Closing at once after the start, while it still runs, is harmless.
    void layerClosesWhileStartingInTheBackground()
    {
        qunsetenv("SDL_AUDIODRIVER");
        MIDASstartup();
        QVERIFY(MIDASinit());
        QVERIFY(MIDASstartBackgroundPlay(0));
        QVERIFY(MIDASclose());
        QCOMPARE(SDL_GetCurrentAudioDriver(), nullptr);
    }

    // Held, the sound system does not start, even long after the start was
    // asked for; the release lets it.
    void layerHeldSoundSystemStartsOnRelease()
    {
        qunsetenv("SDL_AUDIODRIVER");
        MIDASholdBackgroundWork();
        MIDASstartup();
        QVERIFY(MIDASinit());
        QVERIFY(MIDASstartBackgroundPlay(0));
        QTest::qWait(300);
        QCOMPARE(SDL_WasInit(SDL_INIT_AUDIO), Uint32(0));
        MIDASreleaseBackgroundWork();
        QTRY_VERIFY_WITH_TIMEOUT(SDL_WasInit(SDL_INIT_AUDIO) != 0, 20000);
        QVERIFY(MIDASstopBackgroundPlay()); // an output was opened
        QVERIFY(MIDASclose());
    }

    // Held, a module plays silence (its decoding waits) until the release,
    // and then sounds.
    void layerHeldDecodingSoundsOnRelease()
    {
        const QString out = playHeld(QStringLiteral("held"));
        QVERIFY(!out.isEmpty());
        // The disk output runs faster than real time: well over a second of
        // audio is out before the hold's limit.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(out).size() > 2 * BytesPerSecond, 20000);
        QVERIFY(!hasSound(out));
        MIDASreleaseBackgroundWork();
        QTRY_VERIFY_WITH_TIMEOUT(hasSound(out), 20000);
        QVERIFY(MIDASclose());
    }

    // A hold nobody releases ends by itself: the music is heard.
    void layerHoldEndsByItself()
    {
        const QString out = playHeld(QStringLiteral("unreleased"));
        QVERIFY(!out.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(hasSound(out), 20000);
        QVERIFY(MIDASclose());
    }

    // No sound device to be had: the music goes to SDL's silent output.
    void layerFallsBackToSilentOutput()
    {
        const QString unwritable = m_work->filePath(QStringLiteral("no-such-folder/out.raw"));
        setAudio("disk", unwritable);
        MIDASstartup();
        QVERIFY(MIDASinit());
        QVERIFY(MIDASstartBackgroundPlay(0));
        QCOMPARE(QString::fromLatin1(SDL_GetCurrentAudioDriver()), QStringLiteral("dummy"));
        QVERIFY(!QFileInfo::exists(unwritable));
        QVERIFY(MIDASclose());
        QCOMPARE(SDL_GetCurrentAudioDriver(), nullptr);
    }

    // The program must still end on SIGINT and SIGTERM while music plays
    // (SDL would turn them into events nobody reads).
    void layerLeavesSignalsAlone()
    {
        struct sigaction plain {}, savedInt {}, savedTerm {}, now {};
        plain.sa_handler = SIG_DFL;
        sigaction(SIGINT, &plain, &savedInt);
        sigaction(SIGTERM, &plain, &savedTerm);
        MIDASstartup();
        const bool started = MIDASinit() && MIDASstartBackgroundPlay(0);
        sigaction(SIGINT, nullptr, &now);
        const bool intPlain = now.sa_handler == SIG_DFL;
        sigaction(SIGTERM, nullptr, &now);
        const bool termPlain = now.sa_handler == SIG_DFL;
        MIDASclose();
        sigaction(SIGINT, &savedInt, nullptr);
        sigaction(SIGTERM, &savedTerm, nullptr);
        QVERIFY(started);
        QVERIFY(intPlain);
        QVERIFY(termPlain);
    }

    // --- the installer's start and stop ---

    void normalStartPlaysLoopsAndStops()
    {
        const QString out = m_work->filePath(QStringLiteral("music.raw"));
        setAudio("disk", out);
        DialogRecorder boxes;
        CreateInstallerWindows({ m_programFolder });

        QVERIFY(!InstallerTerminated());
        QVERIFY(boxes.texts().isEmpty());
        QCOMPARE(callNames(), (QStringList { "MIDASstartup", "MIDASinit", "MIDASstartBackgroundPlay", "MIDASloadModule", "MIDASplayModule" }));
        QCOMPARE(m_calls[2], QStringLiteral("MIDASstartBackgroundPlay(0)"));
        QVERIFY(m_calls[4].endsWith(QStringLiteral(", 1)")));
        // The copy was a private file in the user's temporary folder, and is
        // gone once the window is up.
        const QString copy = m_calls[3].mid(16).chopped(1);
        QCOMPARE(QFileInfo(copy).absolutePath(), QFileInfo(m_tmp).absoluteFilePath());
        QVERIFY(tmpEntries().isEmpty());
        QVERIFY(Form1->Label11->text() != DesignTimeInformation);

        const QByteArray module = readFile(QStringLiteral(":/MODULE/MERIK"));
        const double seconds = moduleSeconds(module);
        QVERIFY(seconds > 5);
        Form1->show();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(out).size() > qint64((seconds + 4) * BytesPerSecond), 120000);

        m_calls.clear();
        QVERIFY(Form1->close());
        QCOMPARE(callNames(), StopOrder);
        QVERIFY(m_calls[0] != QStringLiteral("MIDASstopModule(0)"));
        // Stopped: nothing more is written.
        const qint64 stopped = QFileInfo(out).size();
        QTest::qWait(300);
        QCOMPARE(QFileInfo(out).size(), stopped);

        const auto s = samplesOf(readFile(out));
        const size_t start = firstSound(s);
        const size_t length = size_t(std::llround(seconds * Rate)) * 2;
        const size_t window = size_t(3 * Rate) * 2;
        QVERIFY(s.size() > start + length + window);
        QVERIFY(rms(s, start, length) > 500);
        // Past the song's length it plays on, from its beginning again.
        QVERIFY(rms(s, start + length, window) > 500);
        QVERIFY2(correlation(s, start, start + length, window) > 0.9,
            qPrintable(QString::number(correlation(s, start, start + length, window))));
    }

    void resourceFailures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("notice");
        QTest::newRow("not found") << "missing" << "Could not find the resource";
        QTest::newRow("size 0") << "empty" << "Nothing to load - size = 0";
        QTest::newRow("damaged data") << "damaged" << "Resource Load Failure";
        QTest::newRow("size disagrees") << "short" << "Resource Lock Failure";
    }
    void resourceFailures()
    {
        QFETCH(QString, kind);
        QFETCH(QString, notice);
        const QByteArray packable = QByteArray("MERIK music ").repeated(400);
        QString resource;
        if (kind == QLatin1String("missing")) {
            resource = QStringLiteral(":/MODULE/NOSUCH");
        } else if (kind == QLatin1String("empty")) {
            resource = makeResource(kind, QByteArray(""), false);
        } else if (kind == QLatin1String("damaged")) {
            // Byte 0 of a zlib stream names its method; 0 is no method at all.
            resource = makeResource(kind, packable, true, [](QByteArray& rcc, quint32 data) { rcc[data + 8] = 0; });
        } else {
            // The packed data says it unpacks to more bytes than it holds.
            resource = makeResource(kind, packable, true, [&](QByteArray& rcc, quint32 data) {
                qToBigEndian<quint32>(quint32(packable.size() + 100), rcc.data() + data + 4);
            });
        }
        if (kind == QLatin1String("damaged") || kind == QLatin1String("short"))
            QCOMPARE(QResource(resource).compressionAlgorithm(), QResource::ZlibCompression);

        DialogRecorder boxes;
        CreateInstallerWindows({ m_programFolder, resource });
        QCOMPARE(boxes.boxes().size(), size_t(1));
        const Dialogs::Box& box = boxes.boxes()[0];
        QCOMPARE(box.text, notice);
        QCOMPARE(box.caption, QStringLiteral("MERIK-Installer"));
        QCOMPARE(box.icon, Dialogs::Icon::None);
        QCOMPARE(box.buttons, Dialogs::Buttons::Ok);

        // The set-up ended there: design-time texts, no music, no copy.
        QVERIFY(!InstallerTerminated());
        QCOMPARE(Form1->Label11->text(), DesignTimeInformation);
        QCOMPARE(Form1->Label2->text(), QStringLiteral("[oRb]"));
        QVERIFY(m_calls.isEmpty());
        QVERIFY(tmpEntries().isEmpty());

        Form1->show();
        QTest::qWait(50);
        QVERIFY(Form1->close());
        QCOMPARE(m_calls, (QStringList { "MIDASstopModule(0)", "MIDASfreeModule(0)", "MIDASstopBackgroundPlay()", "MIDASclose()" }));
        QCOMPARE(boxes.boxes().size(), size_t(1));
    }

    void fileStepFailure_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing folder") << "gone" << "File not found.";
        QTest::newRow("a file in its place") << "plain-file" << "I/O error 20.";
    }
    void fileStepFailure()
    {
        QFETCH(QString, folder);
        QFETCH(QString, message);
        const QString tmp = m_work->filePath(folder);
        if (folder == QLatin1String("plain-file"))
            writeFile(tmp, "not a folder");
        qputenv("TMPDIR", QFile::encodeName(tmp));

        DialogRecorder boxes;
        CreateInstallerWindows({ m_programFolder });
        QCOMPARE(boxes.boxes().size(), size_t(1));
        QCOMPARE(boxes.boxes()[0].text, message);
        QCOMPARE(boxes.boxes()[0].icon, Dialogs::Icon::Stop);
        QCOMPARE(boxes.boxes()[0].caption, QStringLiteral("MERIK-Installer"));
        QVERIFY(!InstallerTerminated());
        QCOMPARE(Form1->Label11->text(), DesignTimeInformation);
        QVERIFY(m_calls.isEmpty()); // no music
        QVERIFY(Form1->close());
        QCOMPARE(callNames(), StopOrder);
    }

    void libraryFailure_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("failingCall");
        QTest::addColumn<QString>("text");
        QTest::newRow("not a module") << "junk" << "MIDASloadModule"
                                      << "MIDAS error: The file is not a music module the library can play";
        QTest::newRow("sound system") << "driver" << "MIDASinit"
                                      << "MIDAS error: Unable to start the sound system (Audio target 'no-such-driver' not available)";
    }
    void libraryFailure()
    {
        QFETCH(QString, kind);
        QFETCH(QString, failingCall);
        QFETCH(QString, text);
        QString resource = QStringLiteral(":/MODULE/MERIK");
        if (kind == QLatin1String("junk"))
            resource = makeResource(kind, QByteArray("Just some bytes, no music.\n").repeated(300), false);
        else
            setAudio("no-such-driver"); // a driver named outright is not replaced

        DialogRecorder boxes;
        boxes.onBox([this](const Dialogs::Box&) { m_calls << QStringLiteral("box"); });
        CreateInstallerWindows({ m_programFolder, resource });

        QCOMPARE(boxes.boxes().size(), size_t(1));
        const Dialogs::Box& box = boxes.boxes()[0];
        QVERIFY2(box.text.startsWith(text), qPrintable(box.text));
        QCOMPARE(box.caption, QStringLiteral("Information"));
        QCOMPARE(box.icon, Dialogs::Icon::Information);
        QVERIFY(InstallerTerminated());
        QVERIFY(!Form1->isVisible());

        const QStringList names = callNames();
        const qsizetype failed = names.indexOf(failingCall);
        QVERIFY(failed > 0);
        QCOMPARE(names.mid(failed + 1), (QStringList { "MIDASgetLastError", "MIDASgetErrorMessage", "box", "MIDASclose" }));
        // On this path the copy stays where it was written.
        QCOMPARE(tmpEntries().size(), 1);
    }
};

QTEST_MAIN(TestMusic)
#include "test_music.moc"
