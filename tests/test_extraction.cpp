// The extraction window, driven through its real controls over sets written
// by the mastering code, every disk prompt answered by the test.
#include "Application.h"
#include "RarWriter.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "Unit4.h"

#include <QSignalSpy>
#include <QtTest>
#include <functional>

using namespace TestSupport;

namespace {

// Records the status line each time it is painted.
class StatusRecorder : public QObject {
public:
    explicit StatusRecorder(QLabel* label)
        : m_label(label)
    {
        label->installEventFilter(this);
    }
    QStringList shown;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && (shown.isEmpty() || shown.back() != m_label->text()))
            shown << m_label->text();
        return false;
    }

private:
    QLabel* m_label;
};

// What anything that runs while the extraction holds the thread sees: the
// status line's text at every drain of the event queue (a posted event that
// posts itself again arrives once per drain), until the extraction ends.
// `atDrain` runs at each drain with its number, from 1.
class DrainRecorder : public QObject {
public:
    explicit DrainRecorder(QLabel* label)
        : m_label(label)
    {
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }
    QStringList seen; // each text once, in order
    int drains = 0;
    std::function<void(int drain)> atDrain;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        if (!Form4->extracting())
            return true;
        ++drains;
        if (seen.isEmpty() || seen.back() != m_label->text())
            seen << m_label->text();
        if (atDrain)
            atDrain(drains);
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
        return true;
    }

private:
    QLabel* m_label;
};

std::string bytesOf(int size, char seed)
{
    std::string data(size_t(size), '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char(seed + i * 7 % 251);
    return data;
}

}

class TestExtraction : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_source, m_dest;
    int m_endActions = 0;
    std::unique_ptr<DialogRecorder> m_boxes;
    std::unique_ptr<StatusRecorder> m_status;

    // A description naming `archive` in the source directory; the windows
    // created there, the destination made current as the chooser would.
    void startWith(const QString& archive)
    {
        writeFile(m_root->filePath("program/install.ini"),
            "Release title: Extraction\r\nFrom         : us\r\nDirectory    : GAME\r\nArchive      : "
                + archive.toUtf8() + "\r\nSize in MB   : 1\r\n\r\nShortcut     : Game\r\nProgram      : GAME\r\n\r\nBanner       : b\r\n");
        QDir::setCurrent(m_source);
        CreateInstallerWindows({ m_root->filePath("program") });
        Form4->setEndActions([this] { ++m_endActions; });
        QDir::setCurrent(m_dest);
        Form1->setEnabled(false);
        Form4->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form4));
        m_status = std::make_unique<StatusRecorder>(Form4->Label1);
    }

    RarWriter::Result writeSet(const std::vector<RarWriter::Entry>& entries, RarWriter::Options options = {})
    {
        return RarWriter::write((m_source + "/GAME.RAR").toStdString(), entries, options);
    }

    void clickExtract() { QTest::mouseClick(Form4->Label2, Qt::LeftButton, {}, QPoint(5, 5)); }

    void expectFailure(const QString& status)
    {
        QVERIFY(Form4->isVisible());
        QCOMPARE(Form4->Label1->text(), status);
        QVERIFY(!Form4->Label2->isEnabled());
        QVERIFY(!Form1->isEnabled());
        QCOMPARE(m_endActions, 0);
    }

private slots:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_source = m_root->filePath("medium");
        m_dest = m_root->filePath("dest");
        QDir().mkpath(m_source);
        QDir().mkpath(m_dest);
        m_endActions = 0;
        m_boxes = std::make_unique<DialogRecorder>();
    }
    void cleanup()
    {
        m_status.reset();
        DestroyInstallerWindows();
        m_boxes.reset();
        QDir::setCurrent(QDir::tempPath());
        m_root.reset();
    }

    void completeRun()
    {
        RarWriter::Options options;
        options.volumeSize = 40000;
        options.comment = "Have fun";
        const auto result = writeSet({ RarWriter::Entry::directory("DATA"),
                                         RarWriter::Entry::file("DATA/big.bin", bytesOf(70000, 1)),
                                         RarWriter::Entry::file("  spaced name.txt ", "blanks around"),
                                         RarWriter::Entry::file("empty.txt", "") },
            options);
        QVERIFY(result.volumes.size() >= 2);
        startWith("GAME.RAR");
        QSignalSpy progress(Form4->ProgressBar1, &QProgressBar::valueChanged);
        DrainRecorder drains(Form4->Label1);
        clickExtract();

        // The comment is painted before the first entry's status replaces it;
        // the entries' statuses are on the line while their data comes.
        QCOMPARE(m_status->shown.first(), QStringLiteral("Comment:Have fun"));
        QVERIFY(m_status->shown.size() >= 2);
        QCOMPARE(m_status->shown.at(1), QStringLiteral("Extracting:DATA"));
        QVERIFY2(drains.seen.contains(QStringLiteral("Extracting:DATA/big.bin")), qPrintable(drains.seen.join('|')));
        QVERIFY2(drains.seen.contains(QStringLiteral("Extracting:spaced name.txt")), qPrintable(drains.seen.join('|')));
        QCOMPARE(Form4->Label1->text(), QStringLiteral("Extracting:empty.txt"));
        QCOMPARE(Form4->Label3->text(),
            QStringLiteral("Installing ") + QFileInfo(QString::fromStdString(result.volumes.back().path)).fileName());

        // The bar runs 0 to 100 for the big entry and starts again at 0.
        QList<int> values;
        for (const auto& call : progress)
            values << call[0].toInt();
        const qsizetype hundred = values.indexOf(100);
        QVERIFY2(hundred > 0, qPrintable(QString("values: %1").arg(values.size())));
        QVERIFY(std::is_sorted(values.begin(), values.begin() + hundred + 1));
        QCOMPARE(values.at(hundred + 1), 0);

        QVERIFY(Form4->isHidden());
        QVERIFY(Form1->isEnabled());
        QCOMPARE(m_endActions, 1);
        QCOMPARE(readFile(m_dest + "/DATA/big.bin"), QByteArray::fromStdString(bytesOf(70000, 1)));
        QCOMPARE(readFile(m_dest + "/  spaced name.txt "), QByteArray("blanks around"));
        QVERIFY(QFileInfo(m_dest + "/empty.txt").isFile());
        QVERIFY(m_boxes->boxes().empty());

        // Shown again: the last texts, and no second extraction.
        Form4->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form4));
        QTRY_COMPARE(m_status->shown.last(), QStringLiteral("Extracting:empty.txt"));
        QVERIFY(!Form4->Label2->isEnabled());
        QCOMPARE(Form4->Label1->text(), QStringLiteral("Extracting:empty.txt"));
        clickExtract();
        QCOMPARE(m_endActions, 1);
    }

    // Hundreds of small entries: every name is on the status line while its
    // data comes, the bar runs to 100 and back to 0 for each, what reaches
    // the screen is always a status of the run in its order, and the window
    // keeps answering repaints meanwhile.
    void manySmallEntries()
    {
        std::vector<RarWriter::Entry> entries;
        QStringList names;
        for (int i = 0; i < 400; ++i) {
            const QString name = QString("D%1/F%2.DAT").arg(i / 100).arg(i, 3, 10, QLatin1Char('0'));
            entries.push_back(RarWriter::Entry::file(name.toStdString(), bytesOf(1 + i % 300, char(i))));
            names << QStringLiteral("Extracting:") + name;
            if (i % 100 == 99) {
                entries.push_back(RarWriter::Entry::directory("D" + std::to_string(i / 100)));
                names << QStringLiteral("Extracting:D") + QString::number(i / 100);
            }
        }
        RarWriter::Options options;
        options.volumeSize = 60000;
        const auto result = writeSet(entries, options);
        QVERIFY(result.volumes.size() >= 2);
        startWith("GAME.RAR");
        QSignalSpy progress(Form4->ProgressBar1, &QProgressBar::valueChanged);

        // Halfway through, part of the window is asked to repaint: it must
        // be painted while the extraction still runs.
        int cancelPaintsDuringRun = 0;
        struct PaintCounter : QObject {
            std::function<void()> onPaint;
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::Paint)
                    onPaint();
                return false;
            }
        } counter;
        bool asked = false;
        counter.onPaint = [&] {
            if (asked && Form4->extracting())
                ++cancelPaintsDuringRun;
        };
        Form4->Label4->installEventFilter(&counter);
        DrainRecorder drains(Form4->Label1);
        drains.atDrain = [&](int drain) {
            // A slow moment, longer than any display frame: on a fast disk
            // the whole run may otherwise fit in one frame, and the next
            // status must then reach the screen at once.
            if (drain == 100)
                QThread::msleep(60);
            if (drain == 200) {
                asked = true;
                Form4->Label4->update();
            }
        };
        clickExtract();
        Form4->Label4->removeEventFilter(&counter);

        QCOMPARE(m_endActions, 1);
        QVERIFY(Form4->isHidden());
        for (const auto& entry : entries)
            if (entry.kind == RarWriter::Entry::Kind::File)
                QCOMPARE(readFile(m_dest + "/" + QString::fromStdString(entry.storedName)), QByteArray::fromStdString(entry.bytes));

        // Every file's name was on the line at its data's drain, in order.
        QStringList files;
        for (const QString& name : names)
            if (name.endsWith(".DAT"))
                files << name;
        QStringList seenFiles;
        for (const QString& text : drains.seen)
            if (text.endsWith(".DAT"))
                seenFiles << text;
        QCOMPARE(seenFiles, files);
        QCOMPARE(Form4->Label1->text(), names.last());

        // What was painted is a part of the run's statuses, in their order.
        qsizetype at = 0;
        for (const QString& painted : m_status->shown.mid(1)) {
            at = names.indexOf(painted, at);
            QVERIFY2(at >= 0, qPrintable(painted));
        }
        QVERIFY(m_status->shown.size() >= 2);

        // The bar: to 100 and back to 0 for every file; directories keep 0.
        QList<int> values;
        for (const auto& call : progress)
            values << call[0].toInt();
        QCOMPARE(values.count(100), files.size());
        for (qsizetype i = 0; i + 1 < values.size(); ++i)
            if (values[i] == 100)
                QCOMPARE(values[i + 1], 0);

        QVERIFY(drains.drains >= files.size());
        QVERIFY(asked);
        QVERIFY(cancelPaintsDuringRun >= 1);
    }

    void cancelAmongManySmallEntries()
    {
        std::vector<RarWriter::Entry> entries;
        for (int i = 0; i < 300; ++i)
            entries.push_back(RarWriter::Entry::file("F" + std::to_string(i) + ".DAT", bytesOf(100, char(i))));
        writeSet(entries);
        startWith("GAME.RAR");
        DrainRecorder drains(Form4->Label1);
        drains.atDrain = [](int drain) {
            if (drain == 50)
                QTest::mouseClick(Form4->Label4, Qt::LeftButton, {}, QPoint(5, 5));
        };
        clickExtract();
        QVERIFY(Form4->isHidden());
        QVERIFY(Form1->isEnabled());
        QVERIFY(!Form4->extracting());
        QCOMPARE(m_endActions, 0);
        QVERIFY(QFileInfo::exists(m_dest + "/F0.DAT"));
        QVERIFY(!QFileInfo::exists(m_dest + "/F299.DAT"));
        QCOMPARE(drains.drains, 50);
        // Shown again, the window paints its line as usual.
        Form4->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form4));
        QTRY_COMPARE(m_status->shown.last(), Form4->Label1->text());
    }

    void openFailures_data()
    {
        QTest::addColumn<QByteArray>("firstVolume"); // empty: no file at all
        QTest::addColumn<QString>("status");
        QTest::newRow("missing") << QByteArray() << "Cannot open %1";
        QTest::newRow("not an archive") << QByteArray(4000, 'x') << "Is not RAR archive:%1";
    }
    void openFailures()
    {
        QFETCH(QByteArray, firstVolume);
        QFETCH(QString, status);
        if (!firstVolume.isEmpty())
            writeFile(m_source + "/GAME.RAR", firstVolume);
        startWith("GAME.RAR");
        clickExtract();
        expectFailure(status.arg(m_source + "/GAME.RAR"));
    }

    void damagedMainHeader()
    {
        RarWriter::Options options;
        options.damage.brokenMainHeader = true;
        writeSet({ RarWriter::Entry::file("a.txt", "a") }, options);
        startWith("GAME.RAR");
        clickExtract();
        expectFailure("Archive header broken:" + m_source + "/GAME.RAR");
    }

    void processingFailures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("status");
        QTest::newRow("wrong crc") << "crc" << "CRC error";
        QTest::newRow("outside the destination") << "traversal" << "File create error - Bad format!";
        QTest::newRow("directory in the way") << "blocked" << "File create error - Bad format!";
    }
    void processingFailures()
    {
        QFETCH(QString, fault);
        QFETCH(QString, status);
        RarWriter::Options options;
        std::vector<RarWriter::Entry> entries { RarWriter::Entry::file("first.txt", "fine") };
        if (fault == "crc") {
            entries.push_back(RarWriter::Entry::file("bad.txt", bytesOf(5000, 3)));
            options.damage.wrongCrc = "bad.txt";
        } else if (fault == "traversal") {
            entries.push_back(RarWriter::Entry::file("../escape.txt", "out"));
        } else {
            entries.push_back(RarWriter::Entry::file("first.txt/inner.txt", "in"));
        }
        entries.push_back(RarWriter::Entry::file("after.txt", "never"));
        writeSet(entries, options);
        startWith("GAME.RAR");
        clickExtract();
        expectFailure(status);
        QVERIFY(QFileInfo::exists(m_dest + "/first.txt"));
        QVERIFY(!QFileInfo::exists(m_dest + "/after.txt"));
        QVERIFY(!QFileInfo::exists(m_dest + "/bad.txt"));
        QVERIFY(!QFileInfo::exists(m_root->filePath("escape.txt")));
    }

    void zeroSizeFailureIsPassedOver()
    {
        writeSet({ RarWriter::Entry::file("../nothing.txt", ""), RarWriter::Entry::file("kept.txt", "kept") });
        startWith("GAME.RAR");
        clickExtract();
        QCOMPARE(m_endActions, 1);
        QCOMPARE(readFile(m_dest + "/kept.txt"), QByteArray("kept"));
        QVERIFY(!QFileInfo::exists(m_root->filePath("nothing.txt")));
    }

    void brokenHeaderStopsTheInstallation()
    {
        RarWriter::Options options;
        options.damage.brokenHeader = "second.txt";
        writeSet({ RarWriter::Entry::file("first.txt", "one"), RarWriter::Entry::file("second.txt", "two"),
                   RarWriter::Entry::file("third.txt", "three") },
                 options);
        startWith("GAME.RAR");
        clickExtract();
        QCOMPARE(Form4->Label1->text(), QStringLiteral("File header broken"));
        QVERIFY(Form4->isVisible());
        QVERIFY(!Form1->isEnabled());
        QCOMPARE(m_endActions, 0);
        QCOMPARE(readFile(m_dest + "/first.txt"), QByteArray("one"));
        QVERIFY(!QFileInfo::exists(m_dest + "/third.txt"));
    }

    void archiveWithoutEndBlockCompletes()
    {
        // Old archivers end an archive after its last entry, with no end block.
        RarWriter::Options options;
        options.damage.truncateVolume = 0;
        options.damage.truncateBytes = 7;
        writeSet({ RarWriter::Entry::file("first.txt", "one"), RarWriter::Entry::file("second.txt", "two") }, options);
        startWith("GAME.RAR");
        clickExtract();
        QVERIFY(Form4->isHidden());
        QCOMPARE(m_endActions, 1);
        QCOMPARE(readFile(m_dest + "/second.txt"), QByteArray("two"));
    }

    void diskPrompt_data()
    {
        QTest::addColumn<bool>("insert");
        QTest::newRow("ok after the disk is back") << true;
        QTest::newRow("cancel") << false;
    }
    void diskPrompt()
    {
        QFETCH(bool, insert);
        RarWriter::Options options;
        options.volumeSize = 20000;
        const auto result = writeSet({ RarWriter::Entry::file("whole.bin", bytesOf(50000, 9)) }, options);
        QVERIFY(result.volumes.size() >= 3);
        const QString held = QString::fromStdString(result.volumes[1].path);
        QVERIFY(QFile::rename(held, held + ".away"));
        m_boxes.reset(); // one recorder at a time: each restores what it replaced
        m_boxes = std::make_unique<DialogRecorder>(std::vector { insert ? Dialogs::Answer::Ok : Dialogs::Answer::Cancel });
        if (insert)
            m_boxes->onBox([held](const Dialogs::Box&) { QFile::rename(held + ".away", held); });
        startWith("GAME.RAR");
        clickExtract();

        QCOMPARE(m_boxes->boxes().size(), size_t(1));
        const Dialogs::Box& box = m_boxes->boxes()[0];
        QCOMPARE(box.caption, QStringLiteral("Confirm"));
        QCOMPARE(box.text, QStringLiteral("Insert disk ") + held);
        QCOMPARE(box.icon, Dialogs::Icon::Question);
        QCOMPARE(box.buttons, Dialogs::Buttons::OkCancel);
        if (insert) {
            QCOMPARE(m_endActions, 1);
            QCOMPARE(readFile(m_dest + "/whole.bin"), QByteArray::fromStdString(bytesOf(50000, 9)));
        } else {
            expectFailure("Volume open error - Disk missing!");
            QVERIFY(!QFileInfo::exists(m_dest + "/whole.bin"));
        }
    }

    void cancelStopsARunningExtraction()
    {
        writeSet({ RarWriter::Entry::file("huge.bin", bytesOf(3000000, 5)), RarWriter::Entry::file("later.txt", "later") });
        startWith("GAME.RAR");
        // The first drained event queue inside the data callback clicks cancel.
        QTimer::singleShot(0, Form4, [] { QTest::mouseClick(Form4->Label4, Qt::LeftButton, {}, QPoint(5, 5)); });
        clickExtract();
        QVERIFY(Form4->isHidden());
        QVERIFY(Form1->isEnabled());
        QVERIFY(!Form4->extracting());
        QCOMPARE(m_endActions, 0);
        QVERIFY(!QFileInfo::exists(m_dest + "/huge.bin"));
        QVERIFY(!QFileInfo::exists(m_dest + "/later.txt"));
        QCOMPARE(QDir(m_dest).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
        Form4->show();
        QVERIFY(!Form4->Label2->isEnabled());
    }

    void cancelWhileWaiting()
    {
        writeSet({ RarWriter::Entry::file("a.txt", "a") });
        startWith("GAME.RAR");
        QTest::mouseClick(Form4->Label4, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(Form4->isHidden());
        QVERIFY(Form1->isEnabled());
        QVERIFY(Form4->Label2->isEnabled());
        QCOMPARE(Form4->Label1->text(), QStringLiteral("press [extract] button when ready..."));
    }
};

QTEST_MAIN(TestExtraction)
#include "test_extraction.moc"
