// The directory list on real directories: its rows, moves that change the
// process's current directory, failures that move nothing, and the last
// directory remembered per drive.
#include "DirectoryListBox.h"
#include "DriveComboBox.h"
#include "Errors.h"
#include "TestSupport.h"

#include <QtTest>

using namespace TestSupport;

namespace {

QString canonical(const QString& path)
{
    return QDir(path).canonicalPath();
}

QStringList rowTexts(const QListWidget& list)
{
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts << list.item(i)->text();
    return texts;
}

int rowOf(const QListWidget& list, const QString& text)
{
    for (int i = 0; i < list.count(); ++i)
        if (list.item(i)->text() == text)
            return i;
    return -1;
}

void doubleClickRow(TDirectoryListBox& list, int row)
{
    QVERIFY(row >= 0);
    const QRect place = list.visualItemRect(list.item(row));
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, place.center());
}

}

class TestDirectoryList : public QObject {
    Q_OBJECT
    QTemporaryDir m_tree;
    QString m_root; // canonical path of m_tree
    std::unique_ptr<CurrentDirectoryGuard> m_restore;

private slots:
    void init()
    {
        m_root = canonical(m_tree.path());
        for (const char* dir : { "alpha/inner", "Beta", "gamma", ".hidden" })
            QDir(m_root).mkpath(dir);
        writeFile(m_root + "/alpha/file.txt", "not a directory");
        m_restore = std::make_unique<CurrentDirectoryGuard>();
        QDir::setCurrent(m_root + "/alpha");
    }
    void cleanup()
    {
        m_restore.reset();
        QDir(m_root).removeRecursively();
        QDir().mkpath(m_root);
    }

    void startsOnTheCurrentDirectory()
    {
        TDirectoryListBox list;
        QCOMPARE(list.Directory(), m_root + "/alpha");
        const QStringList path = m_root.split('/', Qt::SkipEmptyParts);
        // Root, the way down, then the subdirectories one level deeper.
        QStringList expected { QString::fromStdString(Drives::driveOf(m_root.toStdString(), Drives::mounted())) };
        QCOMPARE(expected.front(), QStringLiteral("/"));
        expected << path << "alpha" << "inner";
        QCOMPARE(rowTexts(list), expected);
        QCOMPARE(list.currentRow(), expected.size() - 2);
        QCOMPARE(list.item(list.currentRow())->data(TDirectoryListBox::PathRole).toString(), m_root + "/alpha");
        QCOMPARE(list.item(list.count() - 1)->data(TDirectoryListBox::LevelRole).toInt(),
            list.item(list.currentRow())->data(TDirectoryListBox::LevelRole).toInt() + 1);
        QCOMPARE(list.sizeHintForRow(0), TDirectoryListBox::RowHeight);
    }

    void subdirectoriesSortedHiddenLeftOut()
    {
        QDir::setCurrent(m_root);
        TDirectoryListBox list;
        const QStringList rows = rowTexts(list);
        QCOMPARE(rows.mid(rows.size() - 3), QStringList({ "alpha", "Beta", "gamma" }));
        QVERIFY(!rows.contains(".hidden"));
    }

    void movesChangeTheCurrentDirectory_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("expected");
        QTest::newRow("double click into a subdirectory") << "click" << "inner" << "/alpha/inner";
        QTest::newRow("enter on a subdirectory") << "enter" << "inner" << "/alpha/inner";
        QTest::newRow("double click up the path") << "click" << QString() << "";
        QTest::newRow("set by program") << "set" << "../gamma" << "/gamma";
    }
    void movesChangeTheCurrentDirectory()
    {
        QFETCH(QString, how);
        QFETCH(QString, entry);
        QFETCH(QString, expected);
        TDirectoryListBox list;
        list.resize(241, 176);
        list.show();
        QSignalSpy changes(&list, &TDirectoryListBox::changed);
        DialogRecorder boxes;
        const QString up = QFileInfo(m_root).fileName(); // the path row of the tree itself
        if (how == "click") {
            doubleClickRow(list, rowOf(list, entry.isEmpty() ? up : entry));
        } else if (how == "enter") {
            list.setCurrentRow(rowOf(list, entry));
            QTest::keyClick(&list, Qt::Key_Return);
        } else {
            list.setDirectory(entry);
        }
        QVERIFY(boxes.boxes().empty());
        QCOMPARE(changes.count(), 1);
        QCOMPARE(QDir::currentPath(), m_root + expected);
        QCOMPARE(list.Directory(), m_root + expected);
        QCOMPARE(list.item(list.currentRow())->data(TDirectoryListBox::PathRole).toString(), m_root + expected);
    }

    void theSystemsFormIsKept()
    {
        // A way through a link is read back as the directory the system reports.
        QVERIFY(QFile::link(m_root + "/gamma", m_root + "/shortcut"));
        TDirectoryListBox list;
        list.setDirectory(m_root + "/shortcut/");
        QCOMPARE(list.Directory(), m_root + "/gamma");
        list.setDirectory(QStringLiteral("/"));
        QCOMPARE(list.Directory(), QStringLiteral("/"));
        QCOMPARE(list.item(list.currentRow())->text(), QStringLiteral("/"));
    }

    void removedMeanwhileMovesNothing()
    {
        TDirectoryListBox list;
        list.resize(241, 176);
        list.show();
        QSignalSpy changes(&list, &TDirectoryListBox::changed);
        const QStringList before = rowTexts(list);
        QVERIFY(QDir(m_root + "/alpha/inner").removeRecursively());
        DialogRecorder boxes;
        doubleClickRow(list, rowOf(list, "inner"));
        QCOMPARE(boxes.texts(), QStringList({ "File not found." }));
        QCOMPARE(boxes.boxes().front().icon, Dialogs::Icon::Stop);
        QCOMPARE(changes.count(), 0);
        QCOMPARE(QDir::currentPath(), m_root + "/alpha");
        QCOMPARE(list.Directory(), m_root + "/alpha");
        QCOMPARE(rowTexts(list), before);
    }

    void setDirectoryRaisesTheIoError_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("code");
        QTest::newRow("missing") << "nowhere" << 2;
        QTest::newRow("through a file") << "file.txt/below" << int(ENOTDIR);
        QTest::newRow("a file") << "file.txt" << int(ENOTDIR);
    }
    void setDirectoryRaisesTheIoError()
    {
        QFETCH(QString, target);
        QFETCH(int, code);
        TDirectoryListBox list;
        try {
            list.setDirectory(target);
            QFAIL("no error raised");
        } catch (const EInOutError& error) {
            QCOMPARE(error.code(), code);
        }
        QCOMPARE(list.Directory(), m_root + "/alpha");
        QCOMPARE(QDir::currentPath(), m_root + "/alpha");
    }

    void remembersTheLastDirectoryOfEachDrive()
    {
        // Two directories of the tree stand in for two more mounted drives.
        const std::vector<Drives::Drive> drives { { "/", "system" }, { (m_root + "/alpha").toStdString(), "A" },
            { (m_root + "/gamma").toStdString(), "G" } };
        TDirectoryListBox list;
        list.setDrives(drives);
        list.setDirectory(QStringLiteral("inner"));
        QCOMPARE(list.Drive(), m_root + "/alpha");
        QCOMPARE(list.item(0)->text(), m_root + "/alpha"); // the drive's root heads the list

        list.setDrive(m_root + "/gamma"); // not visited yet: its root
        QCOMPARE(list.Directory(), m_root + "/gamma");
        QDir(m_root).mkpath("gamma/saves");
        list.setDirectory(QStringLiteral("saves"));

        list.setDrive(m_root + "/alpha");
        QCOMPARE(list.Directory(), m_root + "/alpha/inner");
        QCOMPARE(QDir::currentPath(), m_root + "/alpha/inner");
        list.setDrive(m_root + "/gamma");
        QCOMPARE(list.Directory(), m_root + "/gamma/saves");

        // The same drive again moves nothing.
        QDir::setCurrent(m_root);
        QSignalSpy changes(&list, &TDirectoryListBox::changed);
        list.setDrive(m_root + "/gamma");
        QCOMPARE(changes.count(), 0);
        QCOMPARE(QDir::currentPath(), m_root);

        // A remembered directory removed meanwhile: the error, and nothing moves.
        QDir::setCurrent(m_root + "/gamma/saves");
        QVERIFY(QDir(m_root + "/alpha/inner").removeRecursively());
        try {
            list.setDrive(m_root + "/alpha");
            QFAIL("no error raised");
        } catch (const EInOutError& error) {
            QCOMPARE(error.code(), 2);
        }
        QCOMPARE(list.Directory(), m_root + "/gamma/saves");
        QCOMPARE(QDir::currentPath(), m_root + "/gamma/saves");
    }

    void driveBoxStartsOnTheDriveOfTheCurrentDirectory()
    {
        TDriveComboBox box;
        QVERIFY(box.count() >= 1);
        QCOMPARE(box.itemData(0).toString(), QStringLiteral("/"));
        QVERIFY(box.itemText(0).startsWith(QStringLiteral("/  [")));
        QCOMPARE(box.Drive(), QString::fromStdString(Drives::driveOf(m_root.toStdString(), box.drives())));

        const std::vector<Drives::Drive> drives { { "/", "system" }, { (m_root + "/alpha").toStdString(), "A" } };
        QSignalSpy changes(&box, &TDriveComboBox::changed);
        box.setDrives(drives);
        QCOMPARE(box.Drive(), m_root + "/alpha");
        QCOMPARE(box.itemText(1), m_root + "/alpha  [A]");
        QCOMPARE(changes.count(), 0);
        box.setDrive(QStringLiteral("/"));
        QCOMPARE(changes.count(), 1);
        box.setDrive(QStringLiteral("/"));
        QCOMPARE(changes.count(), 1);
    }

    void driveBoxReportsItsDriveOnceWhenFirstShown()
    {
        QWidget window;
        auto* box = new TDriveComboBox(&window);
        QSignalSpy changes(box, &TDriveComboBox::changed);
        QCOMPARE(changes.count(), 0);
        window.show();
        QCOMPARE(changes.count(), 1);
        window.hide();
        window.show();
        QCOMPARE(changes.count(), 1);
    }
};

QTEST_MAIN(TestDirectoryList)
#include "test_directorylist.moc"
