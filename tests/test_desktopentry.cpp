// The desktop entry written beside a shortcut in the applications folder:
// checked with desktop-file-validate, and its Exec line parsed by the rules
// of the freedesktop desktop entry format must give back exactly what the
// shell would start.
#include "DesktopEntry.h"
#include "LinkWriter.h"
#include "Shell.h"
#include "ShellFolders.h"
#include "ShellLnk.h"
#include "TestSupport.h"

#include <QtTest>

namespace {

// A value's general escapes undone; empty optional for an unknown escape.
std::optional<QString> unescape(const QString& value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\') {
            out += value[i];
            continue;
        }
        if (++i == value.size())
            return std::nullopt;
        switch (value[i].unicode()) {
        case 's': out += u' '; break;
        case 'n': out += u'\n'; break;
        case 't': out += u'\t'; break;
        case 'r': out += u'\r'; break;
        case '\\': out += u'\\'; break;
        default: return std::nullopt;
        }
    }
    return out;
}

// The Exec value's words: blanks separate them, double quotes group them
// (inside, a backslash escapes ", `, $ and \), reserved characters may not
// stand unquoted, and "%%" is a literal "%" (no field codes are expected).
std::optional<QStringList> execWords(const QString& exec)
{
    static const QString reserved = QStringLiteral("\t\n'\\><~|&;$*?#()`");
    QStringList words;
    QString word;
    bool inWord = false, quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == u'\\' && i + 1 < exec.size() && QStringLiteral("\"`$\\").contains(exec[i + 1]))
                word += exec[++i];
            else if (c == u'"')
                quoted = false;
            else
                word += c;
        } else if (c == u' ') {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else if (c == u'"') {
            quoted = inWord = true;
        } else if (reserved.contains(c)) {
            return std::nullopt;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inWord)
        words << word;
    for (QString& w : words) {
        QString plain;
        for (qsizetype i = 0; i < w.size(); ++i) {
            if (w[i] != u'%') {
                plain += w[i];
            } else if (i + 1 < w.size() && w[i + 1] == u'%') {
                plain += u'%';
                ++i;
            } else {
                return std::nullopt;
            }
        }
        w = plain;
    }
    return words;
}

// The [Desktop Entry] group's keys with their values unescaped.
QMap<QString, QString> readEntry(const QString& path)
{
    QMap<QString, QString> entry;
    const QStringList lines = QString::fromUtf8(TestSupport::readFile(path)).split(QLatin1Char('\n'));
    if (lines.value(0) != u"[Desktop Entry]")
        return {};
    for (const QString& line : lines.mid(1)) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (equals < 0)
            return {};
        const auto value = unescape(line.mid(equals + 1));
        if (!value)
            return {};
        entry.insert(line.left(equals), *value);
    }
    return entry;
}

void makeExecutable(const QString& path, const QByteArray& contents)
{
    TestSupport::writeFile(path, contents);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}

class TestDesktopEntry : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;
    QString m_validator;
    QString m_rc;
    QString m_linker;
    QString m_tools; // PATH: the helper tools and stand-ins for wine and xdg-open
    QString m_bareTools; // PATH: no wine, xdg-open, or icoutils

    QString applications() const { return m_root.filePath(QStringLiteral("data/applications")); }

    // Validator complaints that are errors (warnings and hints are allowed).
    QStringList validationErrors(const QString& path)
    {
        QProcess validator;
        validator.start(m_validator, { path });
        if (!validator.waitForFinished(30000))
            return { QStringLiteral("desktop-file-validate did not finish") };
        QStringList errors;
        for (const QString& line : QString::fromUtf8(validator.readAllStandardOutput() + validator.readAllStandardError()).split(QLatin1Char('\n'))) {
            if (line.contains(QStringLiteral("error:")))
                errors << line;
        }
        if (validator.exitCode() != 0 && errors.isEmpty())
            errors << QStringLiteral("exit code %1").arg(validator.exitCode());
        return errors;
    }

    // Installs a shortcut the way the installer does and returns the entry.
    QString install(const QString& name, const QString& target, const QString& arguments, const QString& description)
    {
        TKvShellLink link;
        link.setLanguage(lgEnglish);
        link.setShellFolder(sfPrograms);
        link.setDescription(description);
        link.setWorkingDir(QFileInfo(target).absolutePath());
        link.setTarget(target);
        link.setArguments(arguments);
        link.fileIcon()->setFileName(target);
        link.setFileName(name + QStringLiteral(".lnk"));
        link.CreateLink();
        return applications() + QLatin1Char('/') + name + QStringLiteral(".desktop");
    }

    void usePath(const QString& path) { qputenv("PATH", QFile::encodeName(path)); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        QVERIFY2(!m_validator.isEmpty(), "desktop-file-validate (desktop-file-utils) is needed");
        m_rc = QStandardPaths::findExecutable(QStringLiteral("llvm-rc"));
        m_linker = QStandardPaths::findExecutable(QStringLiteral("lld-link"));

        m_tools = m_root.filePath(QStringLiteral("bin"));
        m_bareTools = m_root.filePath(QStringLiteral("bare-bin"));
        QDir().mkpath(m_bareTools);
        for (const char* tool : { "wrestool", "icotool", "update-desktop-database" }) {
            const QString found = QStandardPaths::findExecutable(QString::fromLatin1(tool));
            if (!found.isEmpty()) {
                QDir().mkpath(m_tools);
                QFile::link(found, m_tools + QLatin1Char('/') + QString::fromLatin1(tool));
            }
        }
        makeExecutable(m_tools + QStringLiteral("/wine"), "#!/bin/sh\nexit 0\n");
        makeExecutable(m_tools + QStringLiteral("/xdg-open"), "#!/bin/sh\nexit 0\n");

        qputenv("HOME", QFile::encodeName(m_root.filePath(QStringLiteral("home"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("config"))));
        usePath(m_tools);
    }

    void init() { usePath(m_tools); }

    void entries_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("description");
        QTest::newRow("blanks") << "Le Jeu" << "Mes Jeux" << "Le Jeu.exe" << "-fullscreen  -level 2" << "This rules";
        QTest::newRow("quotes") << "Say \"hi\"" << "it's here" << "say \"hi\" 'now'.exe" << "--name \"Jean Pierre\" 'x y'" << "a \"quoted\" text";
        QTest::newRow("percent") << "100% fun" << "100%" << "100% fun.exe" << "%1 %% 50% %f" << "100% sure";
        QTest::newRow("backslashes") << "Back slash" << "back slash" << "run.exe" << "C:\\Games\\x \"a\\b\" \\\\server" << "a \\ b \\\\ c";
        QTest::newRow("non-ASCII") << "Été 日本" << "Jeux vidéo" << "Été 日本.exe" << "-nom Élodie -x ß" << "Jeu d'été — ok";
        QTest::newRow("shell specials") << "a;b&c" << "$HOME `x` a;b&c|d<e>f~g*h?i#j(k)l" << "game=1.exe" << "$PATH `id` a|b" << "x = y";
        QTest::newRow("executable") << "Run me" << "scripts dir" << "run me.sh" << "a \"b c\"" << "";
        QTest::newRow("document") << "Notes" << "docs" << "notes 100%.txt" << "" << "Read me";
        QTest::newRow("leading blank") << " Spaced" << " lead" << " game.exe" << "" << " leading";
    }
    void entries()
    {
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QFETCH(QString, file);
        QFETCH(QString, arguments);
        QFETCH(QString, description);
        const QString target = m_root.filePath(QStringLiteral("targets/") + folder + QLatin1Char('/') + file);
        makeExecutable(target, file.endsWith(u".sh") ? "#!/bin/sh\n" : "MZ");
        const QString entryPath = install(name, target, arguments, description);

        const QStringList errors = validationErrors(entryPath);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
        const auto entry = readEntry(entryPath);
        QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
        QCOMPARE(entry.value(QStringLiteral("Name")), name);
        QCOMPARE(entry.value(QStringLiteral("Comment")), description);
        QCOMPARE(entry.value(QStringLiteral("Path")), QFileInfo(target).absolutePath());
        QVERIFY(!entry.contains(QStringLiteral("TryExec")));

        const Shell::Command command = Shell::resolve(target, arguments);
        QVERIFY(!command.program.isEmpty());
        const auto words = execWords(entry.value(QStringLiteral("Exec")));
        QVERIFY2(words, qPrintable(entry.value(QStringLiteral("Exec"))));
        QCOMPARE(*words, QStringList { command.program } + command.arguments);
        // Not a Windows program with an icon: a standard icon.
        QCOMPARE(entry.value(QStringLiteral("Icon")), QStringLiteral("application-x-executable"));
    }

    void withoutWineTheEntryWaitsForIt()
    {
        usePath(m_bareTools);
        const QString target = m_root.filePath(QStringLiteral("targets/nowine/Game.exe"));
        TestSupport::writeFile(target, "MZ");
        QVERIFY(Shell::resolve(target, QStringLiteral("-x")).program.isEmpty());
        const QString entryPath = install(QStringLiteral("No Wine"), target, QStringLiteral("-x"), QStringLiteral("d"));
        QCOMPARE(validationErrors(entryPath), QStringList());
        const auto entry = readEntry(entryPath);
        QCOMPARE(entry.value(QStringLiteral("TryExec")), QStringLiteral("wine"));
        QCOMPARE(*execWords(entry.value(QStringLiteral("Exec"))), QStringList({ "wine", target, "-x" }));
        QCOMPARE(entry.value(QStringLiteral("Icon")), QStringLiteral("application-x-executable"));
    }

    void windowsProgramIcon_data()
    {
        QTest::addColumn<bool>("icoutils");
        QTest::newRow("icoutils installed") << true;
        QTest::newRow("without icoutils") << false;
    }
    void windowsProgramIcon()
    {
        QFETCH(bool, icoutils);
        if (m_rc.isEmpty() || m_linker.isEmpty())
            QSKIP("llvm-rc and lld-link (Debian packages llvm and lld) are needed to build a Windows program with icons");
        if (icoutils && !QFileInfo::exists(m_tools + QStringLiteral("/wrestool")))
            QSKIP("icoutils (wrestool, icotool) is not installed");

        // A program with two icon groups: the first red at 16 and 32 pixels,
        // the second blue. Built from images by icotool, llvm-rc and lld-link.
        QTemporaryDir work;
        auto square = [&](const QString& name, int size, QColor colour) {
            QImage image(size, size, QImage::Format_ARGB32);
            image.fill(colour);
            QVERIFY(image.save(work.filePath(name), "PNG"));
        };
        square(QStringLiteral("red16.png"), 16, Qt::red);
        square(QStringLiteral("red32.png"), 32, Qt::red);
        square(QStringLiteral("blue48.png"), 48, Qt::blue);
        auto run = [&](const QString& program, const QStringList& arguments) {
            QProcess process;
            process.setWorkingDirectory(work.path());
            process.start(program, arguments);
            return process.waitForFinished(60000) && process.exitCode() == 0;
        };
        const QString icotool = QStandardPaths::findExecutable(QStringLiteral("icotool"), { m_tools });
        if (icotool.isEmpty())
            QSKIP("icotool is needed to build the icons");
        QVERIFY(run(icotool, { "-c", "-o", "first.ico", "red16.png", "red32.png" }));
        QVERIFY(run(icotool, { "-c", "-o", "second.ico", "blue48.png" }));
        TestSupport::writeFile(work.filePath(QStringLiteral("app.rc")), "1 ICON \"first.ico\"\n2 ICON \"second.ico\"\n");
        QVERIFY(run(m_rc, { "/fo", "app.res", "app.rc" }));
        const QString target = m_root.filePath(QStringLiteral("targets/icon game/Ic\u00f4ne.exe"));
        QDir().mkpath(QFileInfo(target).absolutePath());
        QVERIFY(run(m_linker, { "/dll", "/noentry", "/machine:x86", "app.res", "/out:" + target }));

        if (!icoutils)
            usePath(m_bareTools);
        const QString entryPath = install(QStringLiteral("Icon Game"), target, QString(), QStringLiteral("With an icon"));
        QCOMPARE(validationErrors(entryPath), QStringList());
        const QString icon = readEntry(entryPath).value(QStringLiteral("Icon"));
        if (!icoutils) {
            QCOMPARE(icon, QStringLiteral("application-x-executable"));
            return;
        }
        QVERIFY2(icon.startsWith(m_root.filePath(QStringLiteral("data/icons/hicolor/32x32/apps/"))), qPrintable(icon));
        QVERIFY(icon.endsWith(QStringLiteral(".png")));
        const QImage picture(icon, "PNG");
        QCOMPARE(picture.size(), QSize(32, 32));
        QCOMPARE(picture.pixelColor(16, 16), QColor(Qt::red));

        // A second installation rewrites the entry and the same icon file.
        QFile::remove(icon);
        const QString again = install(QStringLiteral("Icon Game"), target, QStringLiteral("-second"), QStringLiteral("Again"));
        QCOMPARE(readEntry(again).value(QStringLiteral("Icon")), icon);
        QCOMPARE(readEntry(again).value(QStringLiteral("Comment")), QStringLiteral("Again"));
        QVERIFY(QFileInfo::exists(icon));
    }

    void secondInstallationRewrites()
    {
        const QString target = m_root.filePath(QStringLiteral("targets/twice/run.sh"));
        makeExecutable(target, "#!/bin/sh\n");
        install(QStringLiteral("Twice"), target, QStringLiteral("one"), QStringLiteral("first"));
        const QString entryPath = install(QStringLiteral("Twice"), target, QStringLiteral("two"), QStringLiteral("second"));
        const auto entry = readEntry(entryPath);
        QCOMPARE(entry.value(QStringLiteral("Comment")), QStringLiteral("second"));
        QCOMPARE(*execWords(entry.value(QStringLiteral("Exec"))), QStringList({ target, "two" }));
        // Nothing half-written or temporary stays behind.
        for (const QString& name : QDir(applications()).entryList(QDir::Files | QDir::Hidden))
            QVERIFY2(name.endsWith(u".lnk") || name.endsWith(u".desktop") || name == u"mimeinfo.cache", qPrintable(name));
        if (QFileInfo::exists(m_tools + QStringLiteral("/update-desktop-database")))
            QVERIFY(QFileInfo::exists(applications() + QStringLiteral("/mimeinfo.cache")));
    }

    // The entry is ours, not the shortcut's: when it cannot be written the
    // shortcut stands, whole, and no error is raised.
    void failuresLeaveTheShortcutStanding_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        QTest::newRow("entry path taken by a folder") << "Blocked" << "d";
        QTest::newRow("control character the format cannot carry") << "Bell" << "ring \x07 bell";
    }
    void failuresLeaveTheShortcutStanding()
    {
        QFETCH(QString, name);
        QFETCH(QString, description);
        QDir().mkpath(applications() + QStringLiteral("/Blocked.desktop/inside"));
        const QString target = m_root.filePath(QStringLiteral("targets/fail/run.sh"));
        makeExecutable(target, "#!/bin/sh\n");
        try {
            install(name, target, QString(), description);
        } catch (const EKvShellLink& error) {
            QFAIL(error.what());
        }
        QVERIFY(!QFileInfo(applications() + QLatin1Char('/') + name + QStringLiteral(".desktop")).isFile());
        // (lnkinfo is off this test's PATH: the shortcut is checked against
        // the link object's own bytes.)
        auto expected = LinkWriter::create();
        expected->SetDescription(description);
        expected->SetPath(target);
        expected->SetWorkingDirectory(QFileInfo(target).absolutePath());
        expected->SetShowCmd(0);
        expected->SetIconLocation(target, 0);
        QCOMPARE(TestSupport::readFile(applications() + QLatin1Char('/') + name + QStringLiteral(".lnk")), expected->bytes());
    }

    void otherFoldersGetNoEntry()
    {
        const QString target = m_root.filePath(QStringLiteral("targets/other/run.sh"));
        makeExecutable(target, "#!/bin/sh\n");
        for (TShellFolder folder : { sfDesktop, sfStartup, sfFonts, sfNone }) {
            QTemporaryDir free;
            TKvShellLink link;
            link.setFileName(free.filePath(QStringLiteral("Other")));
            link.setShellFolder(folder);
            link.setTarget(target);
            QDir().mkpath(QFileInfo(link.fileName()).absolutePath());
            link.CreateLink();
            QVERIFY(QFileInfo::exists(link.fileName()));
            QVERIFY(!QFileInfo::exists(QFileInfo(link.fileName()).absolutePath() + QStringLiteral("/Other.desktop")));
        }
        QVERIFY(!QFileInfo::exists(applications() + QStringLiteral("/Other.desktop")));
    }

    void execQuoting_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/wine" << QStringList { "/g/GAME.EXE", "-x" } << "/usr/bin/wine /g/GAME.EXE -x";
        QTest::newRow("blank") << "/a b/c" << QStringList {} << "\"/a b/c\"";
        QTest::newRow("empty argument") << "/bin/x" << QStringList { "" } << "/bin/x \"\"";
        QTest::newRow("escapes in quotes") << "/bin/x" << QStringList { "a\"b`c$d\\e" } << "/bin/x \"a\\\"b\\`c\\$d\\\\e\"";
        QTest::newRow("percent") << "/bin/x" << QStringList { "50%", "%f" } << "/bin/x 50%% %%f";
        QTest::newRow("non-ASCII unquoted") << "/jeux/\u00e9t\u00e9" << QStringList { "\u65e5\u672c" } << "/jeux/\u00e9t\u00e9 \u65e5\u672c";
    }
    void execQuoting()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, exec);
        QCOMPARE(DesktopEntry::execValue(program, arguments), exec);
        QCOMPARE(*execWords(exec), QStringList { program } + arguments);
    }
};

QTEST_GUILESS_MAIN(TestDesktopEntry)
#include "test_desktopentry.moc"
