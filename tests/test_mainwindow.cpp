// The installer's main window: start-up from a release folder, the install
// description's values in their holders, the title, the menu rows.
#include "Application.h"
#include "Image.h"
#include "StoredPixels.h"
#include "FileNames.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "Unit5.h"
#include "Unit6.h"

#include <QResource>
#include <QtTest>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

QByteArray lines(const QStringList& values)
{
    QByteArray bytes;
    for (const QString& v : values)
        bytes += v.toUtf8() + "\r\n";
    return bytes;
}

const QStringList CompleteFile = {
    "Release title: Space Game",
    "From         : the Space Team",
    "Directory    : SPACEGAME",
    "Archive      : GAME.RAR",
    "Size in MB   : 120 ",
    "Registry file: SPACE.REG",
    "Shortcut     : Space Game",
    "Program      : SPACE.EXE",
    "Information  : A small game about space.",
    "Banner       : Welcome to Space Game, have fun!",
    "Eleventh     : ignored",
};

}

class TestMainWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_program; // the installer's own folder
    QTemporaryDir m_elsewhere;

    void start(const QByteArray* installIni)
    {
        QFile::remove(m_program.filePath("install.ini"));
        if (installIni)
            writeFile(m_program.filePath("install.ini"), *installIni);
        CreateInstallerWindows({ m_program.path() });
    }

private slots:
    void init()
    {
        QDir::setCurrent(m_elsewhere.path());
    }
    void cleanup()
    {
        DestroyInstallerWindows();
    }

    // The program's start: the main window alone, on the screen, then the
    // other five made in their order.
    void mainWindowFirstThenTheOthers()
    {
        DialogRecorder boxes;
        const QByteArray file = lines(CompleteFile);
        QFile::remove(m_program.filePath("install.ini"));
        writeFile(m_program.filePath("install.ini"), file);
        CreateMainWindow({ m_program.path() });
        QVERIFY(Form1);
        QVERIFY(!Form2);
        QCOMPARE(Form1->Label14->text(), QStringLiteral("SPACE.EXE"));

        struct PaintWatch : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* e) override
            {
                paints += e->type() == QEvent::Paint;
                return false;
            }
        } watch;
        Form1->installEventFilter(&watch);
        Form1->show();
        WaitForFirstFrame(Form1);
        Form1->removeEventFilter(&watch);
        QVERIFY(watch.paints >= 1);
        QVERIFY(!Form2);
        CreateSecondaryWindows();
        QVERIFY(Form2 && Form3 && Form4 && Form5 && Form6);
        // Made after the main window's creation handler changed the current
        // directory, as when all six are made at once.
        QCOMPARE(QDir::currentPath(), m_program.path());
        QVERIFY(boxes.boxes().empty());
    }

    void valuesIntoTheirHolders()
    {
        DialogRecorder boxes;
        const QByteArray file = lines(CompleteFile);
        start(&file);
        QVERIFY(boxes.boxes().empty());
        QCOMPARE(Form1->Label2->text(), QStringLiteral("the Space Team"));
        QCOMPARE(Form1->Label7->text(), QStringLiteral("SPACEGAME"));
        QCOMPARE(Form1->Label8->text(), m_elsewhere.path() + "/GAME.RAR");
        QCOMPARE(Form1->Label9->text(), m_elsewhere.path() + "/");
        QCOMPARE(Form1->Label10->text(), QStringLiteral("120 "));
        QCOMPARE(Form1->Edit1->text(), QStringLiteral("SPACE.REG"));
        QCOMPARE(Form1->Label6->text(), QStringLiteral("Space Game.lnk"));
        QCOMPARE(Form1->Label14->text(), QStringLiteral("SPACE.EXE"));
        QCOMPARE(Form1->Label11->text(), QStringLiteral("A small game about space."));
        // The description is read from the program's folder, which is now current.
        QCOMPARE(QDir::currentPath(), m_program.path());
        QCOMPARE(Form1->sourceDirectory(), m_elsewhere.path());
    }

    void labelColumnIsFifteenCharacters()
    {
        const QByteArray file = lines({ "Release title: Space Game", "From         :the Team", "Directory    :   padded   ",
            "", "", "", "Shortcut     : Game.lnk" });
        DialogRecorder boxes;
        start(&file);
        QCOMPARE(Form1->Label2->text(), QStringLiteral("he Team"));
        QCOMPARE(Form1->Label7->text(), QStringLiteral("  padded   "));
        QCOMPARE(Form1->Label6->text(), QStringLiteral("Game.lnk.lnk"));
    }

    void fewerThanTenLines()
    {
        const QByteArray file = lines({ "Release title: X", "From         : Y" });
        DialogRecorder boxes;
        start(&file);
        QCOMPARE(Form1->Label2->text(), QStringLiteral("Y"));
        QCOMPARE(Form1->Label7->text(), QString());
        QCOMPARE(Form1->Label8->text(), m_elsewhere.path() + "/");
        QCOMPARE(Form1->Label10->text(), QString());
        QCOMPARE(Form1->Edit1->text(), QString());
        QCOMPARE(Form1->Label6->text(), QStringLiteral(".lnk"));
        QCOMPARE(Form1->Label14->text(), QString());
        QCOMPARE(Form1->Label11->text(), QString());
    }

    void lineFeedsAloneMakeOneLine()
    {
        const QByteArray file = "Release title: A\nFrom         : B\n";
        DialogRecorder boxes;
        start(&file);
        QCOMPARE(Form1->Label2->text(), QString());
        QCOMPARE(Form1->Label6->text(), QStringLiteral(".lnk"));
    }

    void endOfFileMarkInsideALine()
    {
        QByteArray file = lines(CompleteFile);
        file.replace("120 ", "12\x1a" "0 ");
        DialogRecorder boxes;
        start(&file);
        QCOMPARE(Form1->Label10->text(), QStringLiteral("12"));
        QCOMPARE(Form1->Edit1->text(), QString());
        QCOMPARE(Form1->Label11->text(), QString());
    }

    void windows1252Values()
    {
        QByteArray file = "Release title: x\r\nFrom         : caf\xe9 \x80\r\n";
        DialogRecorder boxes;
        start(&file);
        QCOMPARE(Form1->Label2->text(), QStringLiteral("caf\u00e9 \u20ac"));
    }

    void sourceDirectoryAtTheRoot()
    {
        QDir::setCurrent(QStringLiteral("/"));
        const QByteArray file = lines(CompleteFile);
        DialogRecorder boxes;
        start(&file);
        QCOMPARE(Form1->Label9->text(), QStringLiteral("/"));
        QCOMPARE(Form1->Label8->text(), QStringLiteral("/GAME.RAR"));
    }

    void missingDescription()
    {
        DialogRecorder boxes;
        start(nullptr);
        QCOMPARE(boxes.texts(), QStringList { "File not found." });
        QCOMPARE(boxes.boxes()[0].icon, Dialogs::Icon::Stop);
        QCOMPARE(Form1->Label2->text(), QStringLiteral("[oRb]"));
        QCOMPARE(Form1->Label11->text(),
            QStringLiteral("The INSTALL.INI File has been deleted, or hasn't been included with this release..."));
        for (const char* holder : { "Label6", "Label7", "Label8", "Label9", "Label10", "Label14" })
            QCOMPARE(Form1->findChild<QLabel*>(holder)->text(), QString::fromLatin1(holder));
        QCOMPARE(Form1->Edit1->text(), QStringLiteral("Edit1"));
        QVERIFY(Form1->imgdest->picture().isNull());
    }

    // Media often carry the description's name in capitals.
    void descriptionFoundIgnoringCase_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("capitals") << "INSTALL.INI";
        QTest::newRow("mixed") << "Install.Ini";
    }
    void descriptionFoundIgnoringCase()
    {
        QFETCH(QString, name);
        DialogRecorder boxes;
        writeFile(m_program.filePath(name), lines(CompleteFile));
        start(nullptr);
        QFile::remove(m_program.filePath(name));
        QCOMPARE(boxes.texts(), QStringList {});
        QCOMPARE(Form1->Label2->text(), QStringLiteral("the Space Team"));
        QCOMPARE(Form1->Label11->text(), QStringLiteral("A small game about space."));
    }

    // Folder names written with a Western code page (0xE9 for "é") are not
    // UTF-8; they must reach the system as the same bytes.
    void foldersThatAreNotUtf8()
    {
        DialogRecorder boxes;
        const std::string program = FileNames::encode(m_program.path()) + "/caf\xe9";
        const std::string source = FileNames::encode(m_elsewhere.path()) + "/d\xe9part";
        QCOMPARE(::mkdir(program.c_str(), 0700), 0);
        QCOMPARE(::mkdir(source.c_str(), 0700), 0);
        {
            std::ofstream out(program + "/install.ini", std::ios::binary);
            const QByteArray bytes = lines(CompleteFile);
            out.write(bytes.constData(), bytes.size());
        }
        QCOMPARE(::chdir(source.c_str()), 0);
        CreateInstallerWindows({ FileNames::decode(program) });
        ::unlink((program + "/install.ini").c_str());
        ::rmdir(program.c_str());
        QCOMPARE(boxes.texts(), QStringList {});
        QCOMPARE(Form1->Label2->text(), QStringLiteral("the Space Team"));
        QCOMPARE(FileNames::encode(Form1->sourceDirectory()), source);
        QCOMPARE(FileNames::encode(Form1->Label9->text()), source + "/");
        QCOMPARE(FileNames::encode(Form1->Label8->text()), source + "/GAME.RAR");
        QVERIFY(::chdir(FileNames::encode(m_elsewhere.path()).c_str()) == 0);
        ::rmdir(source.c_str());
    }

    // A start directory removed a moment before: the error goes to the
    // report and start-up carries on, so the window still appears.
    void startDirectoryRemoved()
    {
        DialogRecorder boxes;
        const QString gone = m_elsewhere.filePath("gone");
        QVERIFY(QDir().mkdir(gone));
        QVERIFY(QDir::setCurrent(gone));
        QVERIFY(QDir().rmdir(gone));
        const QByteArray file = lines(CompleteFile);
        start(&file);
        QVERIFY(Form1 && Form2);
        QCOMPARE(boxes.texts(), QStringList { "File not found." });
        QCOMPARE(Form1->Label2->text(), QStringLiteral("the Space Team"));
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
    }

    void bannerText()
    {
        const QByteArray file = lines(CompleteFile);
        DialogRecorder boxes;
        start(&file);
        QCOMPARE(Form1->Banner1->scrollText(), QStringLiteral("Welcome to Space Game, have fun!"));
        QVERIFY(Form1->Banner1->scrollEnabled());
        QCOMPARE(Form1->Banner1->geometry(), QRect(3, 323, 448, 20));
        QCOMPARE(Form1->Banner1->scrollInterval(), quint16(10));
        QCOMPARE(Form1->Banner1->scrollPixels(), quint16(3));
    }

    void missingBannerNotice()
    {
        DialogRecorder boxes;
        start(nullptr);
        QCOMPARE(Form1->Banner1->scrollText(), QStringLiteral("OoOoOps ! The INSTALL.INI file is missing !"));
        QVERIFY(Form1->Banner1->scrollEnabled());
    }

    void emptyBannerValue_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("tenth line missing") << lines(CompleteFile.mid(0, 9));
        QTest::newRow("tenth line too short") << lines(CompleteFile.mid(0, 9) << "Banner       : ");
        QTest::newRow("empty file") << QByteArray();
    }
    void emptyBannerValue()
    {
        QFETCH(QByteArray, file);
        DialogRecorder boxes;
        start(&file);
        QCOMPARE(boxes.texts(), QStringList { "Assign a bitmap or text to banner before enabling." });
        QVERIFY(!Form1->Banner1->scrollEnabled());
        if (!file.isEmpty()) // every earlier value is in place
            QCOMPARE(Form1->Label11->text(), QStringLiteral("A small game about space."));
        else
            QCOMPARE(Form1->Label6->text(), QStringLiteral(".lnk"));
        // The banner shows only its black background.
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
        const QImage shot = Form1->grab(Form1->Banner1->geometry()).toImage();
        for (int x = 0; x < shot.width(); x += 7)
            for (int y = 0; y < shot.height(); y += 3)
                QCOMPARE(shot.pixelColor(x, y), QColor(Qt::black));
    }

    void titleDrawnIntoItsStrip()
    {
        const QByteArray file = lines(CompleteFile);
        DialogRecorder boxes;
        start(&file);
        const QImage title = Form1->imgdest->picture();
        QCOMPARE(title.size(), QSize(417, 45));
        const QImage strip = Form1->imgsource->picture().convertToFormat(QImage::Format_RGB32);
        // "S" (419..434) is the first glyph, then "p" (372..387).
        for (int x = 0; x < 15; ++x)
            for (int y = 0; y < 45; y += 11) {
                QCOMPARE(title.pixel(x, y), strip.pixel(419 + x, y));
                QCOMPARE(title.pixel(15 + x, y), strip.pixel(372 + x, y));
            }
        // The blanks after the title leave the bottom-left pixel black, the
        // transparent colour.
        QCOMPARE(title.pixel(0, 44), strip.pixel(672, 44));
    }

    // The main window shows its artwork: each picture control the picture
    // of its name, the lit rows unlike the plain ones.
    void mainWindowShowsItsArtwork()
    {
        const QByteArray file = lines(CompleteFile);
        DialogRecorder boxes;
        writeFile(m_program.filePath("install.ini"), file);
        CreateInstallerWindows(InstallerSetup { m_program.path() });
        const auto art = [](const char* name) { return TImage::artwork(QLatin1String(name)); };
        QCOMPARE(Form1->Image1->picture().size(), QSize(450, 344));
        QCOMPARE(Form1->Image1->picture(), art("background"));
        QCOMPARE(Form1->imgsource->picture().size(), QSize(696, 50));
        QCOMPARE(Form1->imgsource->picture(), art("glyphs"));
        const TImage* plain[] = { Form1->Image2, Form1->Image3, Form1->Image4 };
        const TImage* lit[] = { Form1->Image5, Form1->Image6, Form1->Image7 };
        const char* plainNames[] = { "row1", "row2", "row3" };
        const char* litNames[] = { "row1lit", "row2lit", "row3lit" };
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(plain[row]->picture(), art(plainNames[row]));
            QCOMPARE(lit[row]->picture(), art(litNames[row]));
            QVERIFY(plain[row]->picture() != lit[row]->picture());
        }
    }

    // Every picture the programs compile in is its BMP pixel for pixel, and
    // is shown from the program's own bytes: no decoding, no copy.
    void artworkIsItsBmpShownInPlace()
    {
        const QDir assets(QStringLiteral(MERIK_SOURCE_DIR "/assets"));
        const QStringList pictures = assets.entryList({ QStringLiteral("*.bmp") }, QDir::Files);
        QVERIFY(pictures.size() >= 14);
        for (const QString& name : pictures) {
            const QString stem = QFileInfo(name).completeBaseName();
            if (stem == QLatin1String("launcher_background"))
                continue; // the launcher's, compiled into the launcher only
            const QImage source(assets.filePath(name), "BMP");
            QVERIFY2(!source.isNull(), qPrintable(name));
            const QImage shown = TImage::artwork(stem);
            QVERIFY2(!shown.isNull(), qPrintable(stem));
            QCOMPARE(shown.size(), source.size());
            QCOMPARE(shown, source.convertToFormat(QImage::Format_RGB32));
            const QResource stored(QStringLiteral(":/art/") + stem);
            QVERIFY2(shown.constBits() == stored.data() + StoredPixels::HeaderSize, qPrintable(stem));
        }
        QVERIFY(TImage::artwork(QStringLiteral("no-such-picture")).isNull());
    }

    // Bytes that do not hold a whole picture give none: a cut-off or
    // mislabelled resource cannot be read past its end. Bytes off the
    // 4-byte grid are copied.
    void storedPixelsRefuseWhatTheyDoNotHold()
    {
        QImage picture(3, 2, QImage::Format_RGB32);
        picture.fill(qRgb(10, 20, 30));
        picture.setPixel(2, 1, qRgb(200, 100, 0));
        const QByteArray good = StoredPixels::encode(picture);
        QCOMPARE(good.size(), StoredPixels::HeaderSize + 3 * 2 * 4);
        const auto decode = [](const QByteArray& bytes) {
            return StoredPixels::decode(reinterpret_cast<const uchar*>(bytes.constData()), bytes.size());
        };
        QCOMPARE(decode(good), picture);
        QVERIFY(decode(good.left(good.size() - 1)).isNull());
        QVERIFY(decode(good + 'x').isNull());
        QVERIFY(decode(good.left(StoredPixels::HeaderSize - 1)).isNull());
        QByteArray wrongMarker = good;
        wrongMarker[0] = 'B';
        QVERIFY(decode(wrongMarker).isNull());
        QByteArray huge = good;
        const std::uint32_t side = 0x40000000u;
        std::memcpy(huge.data() + 8, &side, sizeof side);
        QVERIFY(decode(huge).isNull());
        QVERIFY(StoredPixels::decode(nullptr, 100).isNull());

        QByteArray offGrid(1, '\0');
        offGrid += good;
        const uchar* start = reinterpret_cast<const uchar*>(offGrid.constData()) + 1;
        const QImage copied = StoredPixels::decode(start, good.size());
        QCOMPARE(copied, picture);
        QVERIFY(copied.constBits() != start + StoredPixels::HeaderSize);
    }

    void windowGeometryAndInitialState()
    {
        const QByteArray file = lines(CompleteFile);
        DialogRecorder boxes;
        start(&file);
        QCOMPARE(Form1->size(), QSize(452, 345));
        QVERIFY(Form1->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(Form1->windowTitle(), QStringLiteral("MERIK Installer"));
        QCOMPARE(Form1->imgdest->geometry(), QRect(29, 21, 417, 45));
        QCOMPARE(Form1->Label11->geometry(), QRect(192, 194, 248, 63));
        QCOMPARE(Form1->Image1->picture().size(), QSize(450, 344));
        for (QWidget* lit : { Form1->Image5, Form1->Image6, Form1->Image7 })
            QVERIFY(lit->isHidden());
        for (QWidget* other : { static_cast<QWidget*>(Form2), static_cast<QWidget*>(Form1->Edit1) })
            QVERIFY(other->isHidden());
    }

    // The main window lends the application its font while it makes its
    // controls; afterwards every other window gets the application's own.
    void applicationFontOnlyLentWhileMaking()
    {
        QFont own(QStringLiteral("Liberation Serif"));
        own.setPixelSize(17);
        QApplication::setFont(own);
        const QByteArray file = lines(CompleteFile);
        DialogRecorder boxes;
        start(&file);
        const QFont after = QApplication::font();
        QApplication::setFont(QFont());
        QCOMPARE(after, own);
        for (QWidget* text : { static_cast<QWidget*>(Form1), static_cast<QWidget*>(Form1->Edit1),
                 static_cast<QWidget*>(Form1->Label2), static_cast<QWidget*>(Form1->Label11) }) {
            QCOMPARE(text->font().family(), QStringLiteral("Arial"));
            QCOMPARE(text->font().pixelSize(), 11);
        }
        QCOMPARE(Form1->Banner1->font().pixelSize(), 13);
        QVERIFY(Form1->Banner1->font().bold());
        QCOMPARE(Form6->font(), own);
    }

    void menuRowLighting()
    {
        const QByteArray file = lines(CompleteFile);
        DialogRecorder boxes;
        start(&file);
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
        auto lit = [] { return QList<bool> { Form1->Image5->isVisible(), Form1->Image6->isVisible(), Form1->Image7->isVisible() }; };
        QTest::mouseMove(Form1->Image2, QPoint(100, 5));
        QCOMPARE(lit(), (QList<bool> { true, false, false }));
        QTest::mouseMove(Form1->Image4, QPoint(100, 5)); // straight from row 1 to row 3
        QCOMPARE(lit(), (QList<bool> { false, false, true }));
        QTest::mouseMove(Form1->Image3, QPoint(10, 5));
        QCOMPARE(lit(), (QList<bool> { false, true, false }));
        // Leaving the window does not put the light out; the background does.
        QTest::mouseMove(Form1, QPoint(-50, -50));
        QCOMPARE(lit(), (QList<bool> { false, true, false }));
        QTest::mouseMove(Form1->Image1, QPoint(200, 100));
        QCOMPARE(lit(), (QList<bool> { false, false, false }));
    }

    void installShowsTheChooser()
    {
        QByteArray file = lines(CompleteFile);
        file.replace("120 ", "12");
        DialogRecorder boxes;
        start(&file);
        Form1->show();
        Form1->Image2MouseMove();
        QTest::mouseClick(Form1->Image5, Qt::LeftButton, {}, QPoint(50, 5));
        QVERIFY(Form2->isVisible());
        QCOMPARE(Form2->Label8->text(), QStringLiteral("12 Mb."));
        QVERIFY(!Form1->isEnabled());
    }

    void plainRowsIgnoreClicks()
    {
        const QByteArray file = lines(CompleteFile);
        DialogRecorder boxes;
        start(&file);
        Form1->show();
        QTest::mouseClick(Form1->Image2, Qt::LeftButton, {}, QPoint(50, 5));
        QVERIFY(!Form2->isVisible());
        QVERIFY(Form1->isEnabled());
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
