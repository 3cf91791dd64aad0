// The shell link component: its setters' effects, the installer's
// configuration sequence, and the shortcut files it writes, read back with
// the independent parser lnkinfo.
#include "FileIcon.h"
#include "LinkWriter.h"
#include "ShellFolders.h"
#include "ShellLnk.h"
#include "TestSupport.h"

#include <QtTest>
#include <csignal>
#include <sys/resource.h>

Q_DECLARE_METATYPE(TShellFolder)
Q_DECLARE_METATYPE(TWindowState)

using TestSupport::lnkinfo;

namespace {

quint32 le32(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

quint16 le16(const QByteArray& bytes, int offset)
{
    return qFromLittleEndian<quint16>(bytes.constData() + offset);
}

QString repeated(const QString& piece, int units)
{
    QString text;
    while (text.size() < units)
        text += piece;
    return text.left(units);
}

// Limits the size of files this process writes for its lifetime.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved {};
    void (*m_previousHandler)(int) = nullptr;
};

}

class TestShellLink : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;
    QString m_home;

    QString applications() const { return m_root.filePath(QStringLiteral("data/applications")); }
    QString desktop() const { return m_home + QStringLiteral("/Bureau"); }

    // Points the user's data folder somewhere else (the folder "moved").
    void setDataHome(const QString& path) { qputenv("XDG_DATA_HOME", QFile::encodeName(path)); }

    // The exception's message, or "" when none was raised.
    template<typename E>
    static QString raised(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const E& error) {
            return QString::fromUtf8(error.what());
        }
        return {};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_home = m_root.filePath(QStringLiteral("home"));
        QDir().mkpath(m_home + QStringLiteral("/Bureau"));
        qputenv("HOME", QFile::encodeName(m_home));
        setDataHome(m_root.filePath(QStringLiteral("data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("config"))));
        TestSupport::writeFile(m_root.filePath(QStringLiteral("config/user-dirs.dirs")),
            "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n"
            "XDG_DOCUMENTS_DIR=\"$HOME/Mes documents\"\n"
            "XDG_TEMPLATES_DIR=\"$HOME/Mod\xc3\xa8les\"\n");
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("lnkinfo")).isEmpty(), "lnkinfo (liblnk-utils) is needed");
    }

    void init() { setDataHome(m_root.filePath(QStringLiteral("data"))); }

    void shellFolders_data()
    {
        QTest::addColumn<QString>("valueName");
        QTest::addColumn<QString>("expected"); // relative to the temporary root
        QTest::newRow("Desktop") << "Desktop" << "home/Bureau";
        QTest::newRow("Personal") << "Personal" << "home/Mes documents";
        QTest::newRow("Programs") << "Programs" << "data/applications";
        QTest::newRow("Start Menu") << "Start Menu" << "data/applications";
        QTest::newRow("Fonts") << "Fonts" << "data/fonts";
        QTest::newRow("Startup") << "Startup" << "config/autostart";
        QTest::newRow("Templates") << "Templates" << "home/Mod\u00e8les";
        QTest::newRow("Favorites") << "Favorites" << "";
        QTest::newRow("Recent") << "Recent" << "";
        QTest::newRow("SendTo") << "SendTo" << "";
        QTest::newRow("unknown") << "AppData" << "";
    }
    void shellFolders()
    {
        QFETCH(QString, valueName);
        QFETCH(QString, expected);
        // A fresh account: none of the user's own folders exist yet.
        setDataHome(m_root.filePath(QStringLiteral("fresh/data")));
        QDir(m_root.filePath(QStringLiteral("config/autostart"))).removeRecursively();
        const QString fresh = QString(expected).replace(QStringLiteral("data/"), QStringLiteral("fresh/data/"));
        const QString folder = ShellFolders::path(valueName);
        QCOMPARE(folder, expected.isEmpty() ? QString() : m_root.filePath(fresh));
        // Looking a folder up creates nothing.
        QVERIFY(folder.isEmpty() || !QFileInfo::exists(folder) || expected.startsWith(u"home/Bureau"));
        // Only the folders a shortcut can go into unasked are created, and
        // only when a file is about to be written there.
        const bool own = valueName == u"Programs" || valueName == u"Start Menu" || valueName == u"Startup"
            || valueName == u"Fonts";
        if (own)
            QVERIFY(ShellFolders::create(valueName) && QFileInfo(folder).isDir());
        if (valueName == u"Templates" || valueName == u"Personal")
            QVERIFY(!ShellFolders::create(valueName) && !QFileInfo::exists(folder));
        QDir(m_root.filePath(QStringLiteral("fresh"))).removeRecursively();
        QDir(m_root.filePath(QStringLiteral("config/autostart"))).removeRecursively();
    }

    // The Programs folder of a fresh account appears with the first
    // shortcut written into it.
    void folderCreatedWhenTheShortcutIsWritten()
    {
        const QString data = m_root.filePath(QStringLiteral("fresh-account"));
        setDataHome(data);
        TKvShellLink link;
        link.setShellFolder(sfPrograms);
        link.setFileName(QStringLiteral("Game"));
        QVERIFY(!QFileInfo::exists(data));
        link.CreateLink();
        QVERIFY(QFileInfo(data + QStringLiteral("/applications/Game.lnk")).isFile());
        QDir(data).removeRecursively();
    }

    // The desktop entry beside a shortcut in the menu's folder is ours: when
    // it cannot be written, the shortcut still stands and no error is raised.
    void desktopEntryThatCannotBeWritten_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("entryFolder");
        QTest::newRow("control character") << QStringLiteral("Space\u0001Game") << false;
        QTest::newRow("escape character") << QStringLiteral("Space\u001bGame") << false;
        QTest::newRow("folder named like the entry") << QStringLiteral("Space Game") << true;
    }
    void desktopEntryThatCannotBeWritten()
    {
        QFETCH(QString, name);
        QFETCH(bool, entryFolder);
        QDir().mkpath(applications());
        const QString entry = applications() + QLatin1Char('/') + name + QStringLiteral(".desktop");
        if (entryFolder)
            QVERIFY(QDir().mkpath(entry));
        const QString target = m_root.filePath(QStringLiteral("PLAY.SH"));
        TestSupport::writeFile(target, "#!/bin/sh\n");
        QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner);
        TKvShellLink link;
        link.setLanguage(lgEnglish);
        link.setShellFolder(sfPrograms);
        link.setTarget(target);
        link.setFileName(name);
        QCOMPARE(raised<EKvShellLink>([&] { link.CreateLink(); }), QString());
        QCOMPARE(lnkinfo(link.fileName()).value(QStringLiteral("Relative path")), target);
        QCOMPARE(QFileInfo(entry).isFile(), false);
        QFile::remove(link.fileName());
        QDir(entry).removeRecursively();
    }

    void fileIconAssignment()
    {
        TFileIcon icon;
        icon.setFileName(QStringLiteral("/opt/game/GAME.EXE"));
        icon.setIconIndex(3);
        TFileIcon copy;
        copy.Assign(&icon);
        QCOMPARE(copy.fileName(), icon.fileName());
        QCOMPARE(copy.iconIndex(), 3);

        TKvShellLink link;
        link.setFileIcon(&icon);
        QCOMPARE(link.fileIcon()->fileName(), QStringLiteral("/opt/game/GAME.EXE"));
        QCOMPARE(link.fileIcon()->iconIndex(), 3);
        QVERIFY(link.fileIcon() != &icon); // copied into the owned one
        QCOMPARE(link.fileIcon()->parent(), &link);

        // Another kind of object is an invalid cast, and nothing is copied.
        QObject other;
        for (const QObject* source : { static_cast<const QObject*>(&other), static_cast<const QObject*>(&link), static_cast<const QObject*>(nullptr) }) {
            QCOMPARE(raised<EInvalidCast>([&] { copy.Assign(source); }), QStringLiteral("Invalid class typecast"));
            QCOMPARE(copy.fileName(), QStringLiteral("/opt/game/GAME.EXE"));
            QCOMPARE(copy.iconIndex(), 3);
        }
    }

    void newComponent()
    {
        TKvShellLink link;
        QCOMPARE(link.fileName(), QString());
        QCOMPARE(link.target(), QString());
        QCOMPARE(link.workingDir(), QString());
        QCOMPARE(link.description(), QString());
        QCOMPARE(link.arguments(), QString());
        QCOMPARE(link.fileIcon()->fileName(), QString());
        QCOMPARE(link.fileIcon()->iconIndex(), 0);
        QCOMPARE(link.shellFolder(), sfNone);
        QCOMPARE(link.language(), lgFrench);
        QCOMPARE(link.showCommand(), 0);
        QCOMPARE(link.windowState(), wsNormal);
        QCOMPARE(link.hotKey(), TShortCut(0));
        QCOMPARE(link.hotKeyWord(), quint16(0));
    }

    void nameWithoutFolder_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("bare name") << "Foo" << "Foo.lnk";
        QTest::newRow("other extension") << "Foo.txt" << "Foo.txt.lnk";
        QTest::newRow("upper-case extension") << "Foo.LNK" << "Foo.LNK";
        QTest::newRow("mixed-case extension") << "foo.Lnk" << "foo.Lnk";
        QTest::newRow("backslash-ended path") << "C:\\dir\\" << "";
        QTest::newRow("slash-ended path") << "/home/me/dir/" << "";
        QTest::newRow("bare .lnk") << ".lnk" << "";
        QTest::newRow("bare .LNK in a folder") << "/tmp/.LNK" << "";
        QTest::newRow("drive alone") << "C:" << "";
        QTest::newRow("full path kept") << "/tmp/x/Game" << "/tmp/x/Game.lnk";
        QTest::newRow("dot in a directory only") << "/tmp/a.lnk/Game" << "/tmp/a.lnk/Game.lnk";
        QTest::newRow("dot after a colon") << "C:a.lnk" << "C:a.lnk";
        QTest::newRow("installer's folder") << "C:\\WINDOWS\\Menu D\u00e9marrer\\Programmes\\" << "";
        QTest::newRow("non-ASCII name") << "Jeu \u00e9t\u00e9" << "Jeu \u00e9t\u00e9.lnk";
        QTest::newRow("only a-z are folded") << "x.\u0131nk" << "x.\u0131nk.lnk";
    }
    void nameWithoutFolder()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        TKvShellLink link;
        link.setFileName(value);
        QCOMPARE(link.fileName(), expected);
    }

    void nameInAFolder_data()
    {
        QTest::addColumn<TShellFolder>("folder");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected"); // after the folder path
        QTest::newRow("path with a drive") << sfPrograms << "C:\\x\\Game.lnk" << "/Game.lnk";
        QTest::newRow("bare name") << sfPrograms << "Game" << "/Game.lnk";
        QTest::newRow("path of this system") << sfPrograms << "/opt/x/Game.LNK" << "/Game.LNK";
        QTest::newRow("other extension") << sfPrograms << "readme.txt" << "/readme.txt.lnk";
        QTest::newRow("bare .lnk") << sfPrograms << ".lnk" << "";
        QTest::newRow("folder path alone") << sfPrograms << "C:\\dir\\" << "";
        QTest::newRow("start menu") << sfStartMenu << "Game" << "/Game.lnk";
        QTest::newRow("desktop") << sfDesktop << "a\\b\\Game" << "/Game.lnk";
        QTest::newRow("startup") << sfStartup << "Game.lnk" << "/Game.lnk";
        QTest::newRow("favorites: no folder") << sfFavorites << "C:\\x\\Game.lnk" << "/Game.lnk";
        QTest::newRow("send to: no folder") << sfSendTo << "Game" << "/Game.lnk";
    }
    void nameInAFolder()
    {
        QFETCH(TShellFolder, folder);
        QFETCH(QString, value);
        QFETCH(QString, expected);
        static const char* const names[] = { nullptr, "Desktop", "Favorites", "Fonts", "Personal", "Programs",
                                             "Recent", "SendTo", "Start Menu", "Startup", "Templates" };
        TKvShellLink link;
        link.setShellFolder(folder);
        link.setFileName(value);
        QCOMPARE(link.fileName(), expected.isEmpty() ? QString() : ShellFolders::path(QString::fromLatin1(names[folder])) + expected);
    }

    void unchangedValueIsANoOpEvenAfterTheFolderMoved()
    {
        TKvShellLink link;
        link.setShellFolder(sfPrograms);
        link.setFileName(QStringLiteral("Game"));
        const QString first = applications() + QStringLiteral("/Game.lnk");
        QCOMPARE(link.fileName(), first);

        setDataHome(m_root.filePath(QStringLiteral("moved")));
        link.setFileName(first);
        QCOMPARE(link.fileName(), first);
        // Any other value reads the folder anew.
        link.setFileName(QStringLiteral("Game"));
        QCOMPARE(link.fileName(), m_root.filePath(QStringLiteral("moved/applications/Game.lnk")));
    }

    void folderChangeRebasesTheName()
    {
        TKvShellLink link;
        link.setFileName(QStringLiteral("C:\\a\\b.lnk"));
        QCOMPARE(link.fileName(), QStringLiteral("C:\\a\\b.lnk"));
        link.setShellFolder(sfDesktop);
        QCOMPARE(link.fileName(), desktop() + QStringLiteral("/b.lnk"));
        link.setShellFolder(sfNone);
        QCOMPARE(link.fileName(), desktop() + QStringLiteral("/b.lnk"));

        // Re-basing adds no extension and keeps an empty name empty.
        TKvShellLink plain;
        plain.setFileName(QStringLiteral("/x/notes.LNK"));
        plain.setShellFolder(sfPrograms);
        QCOMPARE(plain.fileName(), applications() + QStringLiteral("/notes.LNK"));
        TKvShellLink empty;
        empty.setShellFolder(sfFavorites);
        QCOMPARE(empty.fileName(), QStringLiteral("/"));

        // The same folder again does nothing, though it moved.
        setDataHome(m_root.filePath(QStringLiteral("moved")));
        plain.setShellFolder(sfPrograms);
        QCOMPARE(plain.fileName(), applications() + QStringLiteral("/notes.LNK"));
        plain.setShellFolder(sfStartMenu);
        QCOMPARE(plain.fileName(), m_root.filePath(QStringLiteral("moved/applications/notes.LNK")));
    }

    // The main window's KvShellLink1, set in the order its definition stores.
    void mainWindowConfiguration()
    {
        TKvShellLink other;
        other.setLanguage(lgFrench);
        QObject owner;
        auto* link = new TKvShellLink(&owner);
        link->setObjectName(QStringLiteral("KvShellLink1"));
        link->setDescription(QStringLiteral("This rules"));
        link->fileIcon()->setIconIndex(0);
        link->setHotKey(0);
        link->setFileName(QStringLiteral("C:\\WINDOWS\\Menu D\u00e9marrer\\Programmes\\"));
        QCOMPARE(link->fileName(), QString());
        link->setLanguage(lgEnglish);
        link->setWindowState(wsNormal);
        link->setShellFolder(sfPrograms);

        QCOMPARE(owner.findChild<TKvShellLink*>(QStringLiteral("KvShellLink1")), link);
        QCOMPARE(link->fileName(), applications() + QLatin1Char('/'));
        QCOMPARE(link->showCommand(), 1);
        QCOMPARE(link->hotKeyWord(), quint16(0));
        QCOMPARE(QString::fromUtf8(TKvShellLink::messages().writeError), QStringLiteral("Write error."));

        // The end of an installation fills it in and writes the shortcut.
        const QString destination = m_root.filePath(QStringLiteral("Jeux/Game"));
        QDir().mkpath(destination);
        TestSupport::writeFile(destination + QStringLiteral("/GAME.EXE"), "MZ");
        link->setWorkingDir(destination);
        link->setTarget(destination + QStringLiteral("/GAME.EXE"));
        link->fileIcon()->setFileName(link->target());
        link->fileIcon()->setIconIndex(0);
        link->setFileName(QStringLiteral("Merik Game.lnk"));
        QCOMPARE(link->fileName(), applications() + QStringLiteral("/Merik Game.lnk"));
        link->CreateLink();
        // A second installation rewrites it.
        link->CreateLink();

        const auto info = lnkinfo(link->fileName());
        QCOMPARE(info.value(QStringLiteral("Description")), QStringLiteral("This rules"));
        QCOMPARE(info.value(QStringLiteral("Relative path")), destination + QStringLiteral("/GAME.EXE"));
        QCOMPARE(info.value(QStringLiteral("Working directory")), destination);
        QCOMPARE(info.value(QStringLiteral("Icon location")), destination + QStringLiteral("/GAME.EXE"));
        QCOMPARE(info.value(QStringLiteral("Icon index")), QStringLiteral("0"));
        QVERIFY(!info.contains(QStringLiteral("Command line arguments")));
        const QByteArray bytes = TestSupport::readFile(link->fileName());
        QCOMPARE(le32(bytes, LinkWriter::ShowCommandOffset), 1u);
        QCOMPARE(le16(bytes, LinkWriter::HotKeyOffset), quint16(0));
        QVERIFY(QFileInfo::exists(applications() + QStringLiteral("/Merik Game.desktop")));
    }

    void hotKey_data()
    {
        QTest::addColumn<int>("shortCut");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("readBack");
        QTest::newRow("Ctrl+Alt+F5") << 0xC074 << 0x0674 << 0xC074;
        QTest::newRow("Shift+A") << 0x2041 << 0x0141 << 0x2041;
        QTest::newRow("Shift+Ctrl+Alt+Home") << 0xE024 << 0x0724 << 0xE024;
        QTest::newRow("none") << 0 << 0 << 0;
        QTest::newRow("key high byte adds to the modifiers") << 0x0170 << 0x0170 << 0x2070;
        QTest::newRow("other modifier bits ignored") << 0x1874 << 0x1874 << 0x0074;
    }
    void hotKey()
    {
        QFETCH(int, shortCut);
        QFETCH(int, stored);
        QFETCH(int, readBack);
        TKvShellLink link;
        link.setHotKey(TShortCut(shortCut));
        QCOMPARE(int(link.hotKeyWord()), stored);
        QCOMPARE(int(link.hotKey()), readBack);

        link.setFileName(m_root.filePath(QStringLiteral("hotkey.lnk")));
        link.CreateLink();
        QCOMPARE(int(le16(TestSupport::readFile(link.fileName()), LinkWriter::HotKeyOffset)), stored);
    }

    void windowState_data()
    {
        QTest::addColumn<TWindowState>("state");
        QTest::addColumn<int>("showCommand");
        QTest::newRow("normal") << wsNormal << 1;
        QTest::newRow("minimized") << wsMinimized << 7;
        QTest::newRow("maximized") << wsMaximized << 3;
    }
    void windowState()
    {
        QFETCH(TWindowState, state);
        QFETCH(int, showCommand);
        TKvShellLink link;
        link.setWindowState(state);
        QCOMPARE(link.showCommand(), showCommand);
        QCOMPARE(link.windowState(), state);
        QCOMPARE(link.property("WindowState").value<TWindowState>(), state);
        link.setFileName(m_root.filePath(QStringLiteral("state.lnk")));
        link.CreateLink();
        QCOMPARE(int(le32(TestSupport::readFile(link.fileName()), LinkWriter::ShowCommandOffset)), showCommand);
    }

    void showCommandZeroIsWrittenAsZero()
    {
        TKvShellLink link;
        QCOMPARE(link.windowState(), wsNormal);
        link.setFileName(m_root.filePath(QStringLiteral("zero.lnk")));
        link.CreateLink();
        QCOMPARE(le32(TestSupport::readFile(link.fileName()), LinkWriter::ShowCommandOffset), 0u);
    }

    void messageSets()
    {
        TKvShellLink first;
        QCOMPARE(QString::fromUtf8(TKvShellLink::messages().linkObjectFailed), QStringLiteral("\"CoCreateInstance\" a \u00e9chou\u00e9."));
        QCOMPARE(QString::fromUtf8(TKvShellLink::messages().persistFileFailed), QStringLiteral("\"PersistFile QueryInterface\" a \u00e9chou\u00e9."));
        QCOMPARE(QString::fromUtf8(TKvShellLink::messages().writeError), QStringLiteral("Erreur en \u00e9criture."));
        first.setLanguage(lgEnglish);
        QCOMPARE(QString::fromUtf8(TKvShellLink::messages().linkObjectFailed), QStringLiteral("\"CoCreateInstance\" failed."));
        QCOMPARE(QString::fromUtf8(TKvShellLink::messages().persistFileFailed), QStringLiteral("\"PersistFile QueryInterface\" failed."));
        QCOMPARE(QString::fromUtf8(TKvShellLink::messages().writeError), QStringLiteral("Write error."));

        // The set is the process's: the first component fails in English...
        first.setFileName(QStringLiteral(".lnk"));
        QCOMPARE(raised<EKvShellLink>([&] { first.CreateLink(); }), QStringLiteral("Write error."));
        // ...until a new component selects French for everyone.
        TKvShellLink second;
        QCOMPARE(first.language(), lgEnglish);
        QCOMPARE(raised<EKvShellLink>([&] { first.CreateLink(); }), QStringLiteral("Erreur en \u00e9criture."));
    }

    void writeFailures_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("empty name") << ".lnk";
        QTest::newRow("missing folder") << "%1/nowhere/Game.lnk";
        QTest::newRow("folder is a file") << "%1/plain-file/Game.lnk";
        QTest::newRow("no permission") << "/proc/merik-Game.lnk";
        QTest::newRow("name is a folder") << "%1/folder.lnk";
        QTest::newRow("path over 259 characters") << "%1/" + QString(300, QLatin1Char('x')) + ".lnk";
    }
    void writeFailures()
    {
        QFETCH(QString, fileName);
        QTemporaryDir dir;
        TestSupport::writeFile(dir.filePath(QStringLiteral("plain-file")), "x");
        QDir().mkpath(dir.filePath(QStringLiteral("folder.lnk")));
        TKvShellLink link;
        link.setLanguage(lgEnglish);
        link.setDescription(QStringLiteral("kept"));
        link.setFileName(fileName.contains(u"%1") ? fileName.arg(dir.path()) : fileName);
        const QString before = link.fileName();
        QCOMPARE(raised<EKvShellLink>([&] { link.CreateLink(); }), QStringLiteral("Write error."));
        QCOMPARE(link.fileName(), before);
        QCOMPARE(link.description(), QStringLiteral("kept"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList({ QStringLiteral("folder.lnk"), QStringLiteral("plain-file") }));
    }

    void failedRewriteKeepsTheOldShortcut()
    {
        QTemporaryDir dir;
        TKvShellLink link;
        link.setFileName(dir.filePath(QStringLiteral("Game.lnk")));
        link.setDescription(QStringLiteral("first"));
        link.CreateLink();
        const QByteArray first = TestSupport::readFile(link.fileName());

        link.setDescription(repeated(QStringLiteral("long "), 255));
        {
            // The new file cannot grow past the old one's size.
            FileSizeLimit limit(rlim_t(first.size()));
            QCOMPARE(raised<EKvShellLink>([&] { link.CreateLink(); }), QStringLiteral("Erreur en \u00e9criture."));
        }
        QCOMPARE(TestSupport::readFile(link.fileName()), first);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("Game.lnk") });

        link.CreateLink();
        QCOMPARE(lnkinfo(link.fileName()).value(QStringLiteral("Description")), link.description());
    }

    void valuesReadBackByLnkinfo_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("iconIndex");
        QTest::newRow("ASCII") << "Game launcher" << "Game launcher" << 0;
        QTest::newRow("blanks and quotes") << "a \"b\" 'c' %d%" << "a \"b\" 'c' %d%" << 5;
        // (Debian 12's lnkinfo decodes characters outside the basic plane
        // wrongly; test_linkwriter checks those in the bytes.)
        QTest::newRow("non-ASCII") << "Jeu \u00e9t\u00e9 \u00df\u20ac \u0416 \u03a9 \u65e5\u672c" << "Jeu \u00e9t\u00e9 \u00df\u20ac \u0416 \u03a9 \u65e5\u672c" << -2;
        const QString limit = repeated(QStringLiteral("abcdefghij"), 255);
        QTest::newRow("at the limit") << limit << limit << 1;
        QTest::newRow("over the limit") << limit + QStringLiteral("KLMNOPQ") << limit << 2;
        const QString accented = repeated(QStringLiteral("\u00e9"), 255);
        QTest::newRow("non-ASCII over the limit") << accented + QStringLiteral("\u00e8") << accented << 3;
        // A character outside the basic plane is two units: never half of it.
        const QString pairs = repeated(QStringLiteral("x"), 254) + QStringLiteral("\U0001F3AE");
        QTest::newRow("surrogate pair across the limit") << pairs << pairs.left(254) << 4;
    }
    void valuesReadBackByLnkinfo()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QFETCH(int, iconIndex);
        QTemporaryDir dir;
        TKvShellLink link;
        link.setDescription(text);
        link.setTarget(QStringLiteral("/T/") + text);
        link.setWorkingDir(QStringLiteral("/W/") + text);
        link.setArguments(QStringLiteral("-a ") + text);
        link.fileIcon()->setFileName(QStringLiteral("/I/") + text);
        link.fileIcon()->setIconIndex(iconIndex);
        link.setFileName(dir.filePath(QStringLiteral("values")));
        link.CreateLink();
        QCOMPARE(link.description(), text); // the properties keep their full values

        const auto info = lnkinfo(dir.filePath(QStringLiteral("values.lnk")));
        auto cut = [](const QString& value) {
            if (value.size() <= 255)
                return value;
            return value.left(value.at(254).isHighSurrogate() ? 254 : 255);
        };
        QCOMPARE(info.value(QStringLiteral("Description")), expected);
        QCOMPARE(info.value(QStringLiteral("Relative path")), cut(QStringLiteral("/T/") + text));
        QCOMPARE(info.value(QStringLiteral("Working directory")), cut(QStringLiteral("/W/") + text));
        QCOMPARE(info.value(QStringLiteral("Command line arguments")), cut(QStringLiteral("-a ") + text));
        QCOMPARE(info.value(QStringLiteral("Icon location")), cut(QStringLiteral("/I/") + text));
        QCOMPARE(info.value(QStringLiteral("Icon index")), QString::number(iconIndex));
        QString local = QStringLiteral("Z:") + cut(QStringLiteral("/T/") + text);
        local.replace(QLatin1Char('/'), QLatin1Char('\\'));
        QCOMPARE(info.value(QStringLiteral("Local path")), local);
    }

    void pathLimit()
    {
        QTemporaryDir dir;
        TKvShellLink link;
        const QString prefix = dir.path() + QLatin1Char('/');
        const QString atLimit = prefix + QString(259 - prefix.size() - 4, QLatin1Char('n')) + QStringLiteral(".lnk");
        QCOMPARE(atLimit.size(), 259);
        link.setFileName(atLimit);
        link.CreateLink();
        QVERIFY(QFileInfo::exists(atLimit));
        link.setFileName(prefix + QLatin1Char('m') + atLimit.mid(prefix.size()));
        QCOMPARE(raised<EKvShellLink>([&] { link.CreateLink(); }), QStringLiteral("Erreur en \u00e9criture."));
    }

    void propertiesInStoredOrder()
    {
        const QMetaObject& meta = TKvShellLink::staticMetaObject;
        QStringList names;
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
            names << QString::fromLatin1(meta.property(i).name());
        QCOMPARE(names, QStringList({ "Arguments", "Description", "FileIcon", "HotKey", "FileName", "Language",
                                      "Target", "WindowState", "WorkingDir", "ShellFolder" }));
        TKvShellLink link;
        QVERIFY(link.setProperty("FileName", QStringLiteral("Foo")));
        QCOMPARE(link.fileName(), QStringLiteral("Foo.lnk"));
        QVERIFY(link.setProperty("HotKey", QVariant::fromValue(quint16(0xC074))));
        QCOMPARE(link.hotKeyWord(), quint16(0x0674));
    }
};

QTEST_GUILESS_MAIN(TestShellLink)
#include "test_shelllink.moc"
