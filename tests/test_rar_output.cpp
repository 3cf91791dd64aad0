// The RAR library's output: every entry lands inside the destination, links
// included, whatever was already there; a failed entry leaves nothing; a
// process ended by a signal leaves no temporary part. Driven directly in a
// sandbox whose destination is a subdirectory; everything around it is
// listed (times included) before and after each case.
#include "Midas.h"
#include "RarCodes.h"
#include "RarOutput.h"
#include "TestSupport.h"

#include <QDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <linux/openat2.h>
#include <map>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using RarOutput::Components;

namespace {

// One line per thing under `root` (links not followed), with its kind,
// mode, size, times and content or target; `skip` and what is under it
// are left out.
std::map<std::string, std::string> listing(const fs::path& root, const fs::path& skip)
{
    std::map<std::string, std::string> lines;
    auto describe = [&](const fs::path& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            return std::string("unreadable");
        std::string line = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " "
            + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " "
            + std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec) + " "
            + std::to_string(st.st_ino) + " " + std::to_string(st.st_nlink);
        if (S_ISLNK(st.st_mode))
            line += " -> " + fs::read_symlink(path).string();
        else if (S_ISREG(st.st_mode))
            line += " " + TestSupport::readFile(QString::fromStdString(path.string())).toHex().toStdString();
        return line;
    };
    lines["."] = describe(root);
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path() == skip) {
            lines[it->path().lexically_relative(root).string()] = "(destination)";
            it.disable_recursion_pending();
            continue;
        }
        lines[it->path().lexically_relative(root).string()] = describe(it->path());
    }
    return lines;
}

// Links under `destination` that lead out of it: judged by the kernel for
// those that resolve, and by the standard library's reading of the rest.
QStringList linksLeadingOut(const fs::path& destination)
{
    QStringList out;
    const fs::path top = fs::canonical(destination);
    const int root = ::open(destination.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (auto it = fs::recursive_directory_iterator(destination); it != fs::recursive_directory_iterator(); ++it) {
        if (!it->is_symlink())
            continue;
        const std::string relative = it->path().lexically_relative(destination).string();
        open_how how {};
        how.flags = O_PATH | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH;
        const long fd = ::syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how);
        if (fd >= 0)
            ::close(int(fd));
        const bool escapes = fd < 0 && errno == EXDEV;
        // Dangling ones too: their text from their directory, through
        // whatever exists of it.
        std::error_code ec;
        const fs::path reached = fs::weakly_canonical(fs::canonical(it->path().parent_path()) / fs::read_symlink(it->path()), ec);
        const auto [end, ignored] = std::mismatch(top.begin(), top.end(), reached.begin(), reached.end());
        if (escapes || ec || end != top.end())
            out << QString::fromStdString(relative);
    }
    ::close(root);
    return out;
}

QStringList everythingUnder(const fs::path& root)
{
    QStringList names;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        names << QString::fromStdString(it->path().lexically_relative(root).string());
    names.sort();
    return names;
}

Components parts(const std::string& name)
{
    Components out;
    if (!RarOutput::safeComponents(name, out))
        out.clear();
    return out;
}

bool isLink(const fs::path& path)
{
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

}

class TestRarOutput : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_sandbox;
    std::unique_ptr<TestSupport::CurrentDirectoryGuard> m_cwd;
    fs::path m_dest;
    fs::path m_outside;
    std::map<std::string, std::string> m_before;

    fs::path dest(const std::string& name) const { return m_dest / name; }

    int symlink(const std::string& name, const std::string& target)
    {
        return RarOutput::makeSymlink(parts(name), target, nullptr);
    }
    int file(const std::string& name, const QByteArray& data = "data")
    {
        RarOutput::Entry entry;
        if (const int result = entry.createFile(parts(name), 0644))
            return result;
        if (!entry.write(data.constData(), size_t(data.size())))
            return ERAR_EWRITE;
        if (const int result = entry.finishFile(nullptr))
            return result;
        return entry.commit();
    }
    // The state of things the test made in the destination itself, so that
    // the listing after a case can tell them from what the case made.
    void settle() { m_before = listing(m_sandbox->path().toStdString(), m_dest); }

private slots:
    void init()
    {
        m_sandbox = std::make_unique<QTemporaryDir>();
        QVERIFY(m_sandbox->isValid());
        const fs::path sandbox = m_sandbox->path().toStdString();
        m_dest = sandbox / "home" / "user" / "dest";
        m_outside = sandbox / "outside";
        fs::create_directories(m_dest);
        fs::create_directories(m_outside / "deeper");
        TestSupport::writeFile(QString::fromStdString((m_outside / "secret").string()), "secret");
        TestSupport::writeFile(QString::fromStdString((sandbox / "home" / "user" / ".bashrc").string()), "shell");
        TestSupport::writeFile(QString::fromStdString((sandbox / "home" / "install.ini").string()), "ini");
        // Old times, so that any change shows.
        for (const auto& path : { sandbox / "home", sandbox / "home" / "user", m_outside, m_outside / "secret" }) {
            const timespec times[2] = { { 1000000000, 0 }, { 1000000000, 0 } };
            ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
        }
        m_cwd = std::make_unique<TestSupport::CurrentDirectoryGuard>();
        QVERIFY(QDir::setCurrent(QString::fromStdString(m_dest.string())));
        settle();
    }

    void cleanup()
    {
        // Nothing around the destination changed, and no link in it leads out.
        const auto after = listing(m_sandbox->path().toStdString(), m_dest);
        for (const auto& [name, line] : after)
            if (m_before.count(name) == 0 || m_before.at(name) != line)
                qWarning("changed outside the destination: %s: %s", name.c_str(), line.c_str());
        for (const auto& [name, line] : m_before)
            if (after.count(name) == 0)
                qWarning("gone from outside the destination: %s", name.c_str());
        const QStringList out = linksLeadingOut(m_dest);
        const bool clean = after == m_before && out.isEmpty();
        m_cwd.reset();
        m_sandbox.reset();
        QVERIFY2(out.isEmpty(), qPrintable(out.join(QLatin1Char(' '))));
        QVERIFY(clean);
    }

    // --- names ---

    void names_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QStringList>("expected"); // empty: refused
        QTest::newRow("plain") << QByteArray("a/b/c") << QStringList { "a", "b", "c" };
        QTest::newRow("backslashes") << QByteArray("a\\b\\c") << QStringList { "a", "b", "c" };
        QTest::newRow("dots and doubles") << QByteArray("./a//b/./") << QStringList { "a", "b" };
        QTest::newRow("dot dot") << QByteArray("a/../b") << QStringList {};
        QTest::newRow("dot dot backslash") << QByteArray("a\\..\\..\\b") << QStringList {};
        QTest::newRow("absolute") << QByteArray("/etc/passwd") << QStringList {};
        QTest::newRow("absolute backslash") << QByteArray("\\etc\\passwd") << QStringList {};
        QTest::newRow("drive") << QByteArray("C:\\x") << QStringList {};
        QTest::newRow("drive relative") << QByteArray("C:x") << QStringList {};
        QTest::newRow("nothing") << QByteArray("./") << QStringList {};
        QTest::newRow("NUL before dot dot") << QByteArray("..\0x/outside/F", 14) << QStringList {};
        QTest::newRow("NUL inside") << QByteArray("a\0/../../b", 10) << QStringList {};
        QTest::newRow("NUL at the end") << QByteArray("a\0", 2) << QStringList {};
    }
    void names()
    {
        QFETCH(QByteArray, name);
        QFETCH(QStringList, expected);
        Components out;
        const bool accepted = RarOutput::safeComponents(name.toStdString(), out);
        QCOMPARE(accepted, !expected.isEmpty());
        if (accepted) {
            QStringList got;
            for (const auto& part : out)
                got << QString::fromStdString(part);
            QCOMPARE(got, expected);
        }
    }

    // Components handed straight to the output are checked there too: the
    // bytes checked are the bytes the system gets.
    void componentsCheckedWhereUsed_data()
    {
        QTest::addColumn<QByteArray>("component");
        QTest::newRow("NUL") << QByteArray("..\0x", 4);
        QTest::newRow("dot dot") << QByteArray("..");
        QTest::newRow("dot") << QByteArray(".");
        QTest::newRow("slash") << QByteArray("../../.bashrc");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("too long") << QByteArray(300, 'x');
    }
    void componentsCheckedWhereUsed()
    {
        QFETCH(QByteArray, component);
        const std::string bad = component.toStdString();
        const Components file { "ok", bad, "F" };
        RarOutput::Entry entry;
        QCOMPARE(entry.createFile(file, 0644), ERAR_ECREATE);
        QCOMPARE(RarOutput::makeDirectory({ bad, "d" }, nullptr), ERAR_ECREATE);
        QCOMPARE(RarOutput::makeSymlink({ "ok", bad }, "x", nullptr), ERAR_ECREATE);
        QCOMPARE(RarOutput::makeHardLink({ "h" }, { bad }), ERAR_ECREATE);
        QCOMPARE(everythingUnder(m_dest), QStringList {});
    }

    // --- links ---

    void linkToItsParentThenThroughIt()
    {
        QCOMPARE(symlink("up", "."), 0);
        QCOMPARE(symlink("esc", "up/.."), ERAR_ECREATE);
        QCOMPARE(symlink("esc2", "up/up/up/.."), ERAR_ECREATE);
        QCOMPARE(symlink("deep/esc", "../up/.."), ERAR_ECREATE);
        QCOMPARE(everythingUnder(m_dest), QStringList { "up" });
    }

    void dotDotAfterANameNotThereYet()
    {
        // Otherwise `up` made after it would turn it into a way out.
        QCOMPARE(symlink("esc", "up/.."), ERAR_ECREATE);
        QCOMPARE(symlink("up", "."), 0);
        QCOMPARE(symlink("later", "future/names/only"), 0);
        QCOMPARE(everythingUnder(m_dest), (QStringList { "later", "up" }));
    }

    void linkToALinkNotThereYetThatLeadsOut()
    {
        QCOMPARE(symlink("l1", "l2/x"), 0);
        QCOMPARE(symlink("l2", ".."), ERAR_ECREATE);
        QCOMPARE(symlink("l2", "a/../.."), ERAR_ECREATE);
        QVERIFY(!fs::exists(fs::symlink_status(dest("l2"))));
    }

    void hardLinkToASymbolicLink()
    {
        QCOMPARE(symlink("a/b/c/d/e/up", "../../../../.."), 0);
        QCOMPARE(RarOutput::makeHardLink(parts("x/up"), parts("a/b/c/d/e/up")), ERAR_ECREATE);
        QVERIFY(!fs::exists(fs::symlink_status(dest("x"))));
        QCOMPARE(file("a/f"), 0);
        QCOMPARE(RarOutput::makeHardLink(parts("x/h"), parts("a/f")), 0);
        QCOMPARE(fs::hard_link_count(dest("a/f")), uintmax_t(2));
        QCOMPARE(RarOutput::makeHardLink(parts("dir"), parts("a/b")), ERAR_ECREATE);
        QCOMPARE(RarOutput::makeHardLink(parts("none"), parts("a/missing")), ERAR_ECREATE);
        QCOMPARE(RarOutput::makeHardLink(parts("a/f"), parts("a/f")), 0); // onto itself: nothing left over
        QCOMPARE(RarOutput::makeHardLink(parts("a/b"), parts("a/f")), ERAR_ECREATE); // a directory stays
        QCOMPARE(everythingUnder(m_dest),
            (QStringList { "a", "a/b", "a/b/c", "a/b/c/d", "a/b/c/d/e", "a/b/c/d/e/up", "a/f", "x", "x/h" }));
    }

    void targetsThatLeaveByTheirText_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("absolute") << QByteArray("/etc");
        QTest::newRow("absolute, another") << QByteArray("/tmp");
        QTest::newRow("parent") << QByteArray("../..");
        QTest::newRow("climb and back") << QByteArray("../../dest/x");
        QTest::newRow("drive") << QByteArray("C:\\Windows");
        QTest::newRow("backslash climb") << QByteArray("a\\..\\..\\x");
        QTest::newRow("backslash absolute") << QByteArray("\\etc");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("NUL") << QByteArray("x\0/../../..", 11);
    }
    void targetsThatLeaveByTheirText()
    {
        QFETCH(QByteArray, target);
        QCOMPARE(RarOutput::makeSymlink(parts("sub/l"), target.toStdString(), nullptr), ERAR_ECREATE);
        QCOMPARE(everythingUnder(m_dest), QStringList {});
    }

    // Links the destination held before: one leading out is no way for
    // anything.
    void existingLinksThatLeadOut()
    {
        fs::create_symlink("..", dest("out"));
        fs::create_symlink(m_outside, dest("abs"));
        fs::create_symlink("../../../outside", dest("rel"));
        fs::create_symlink("/proc/self/cwd", dest("magic"));
        settle();
        for (const char* via : { "out", "abs", "rel", "magic" }) {
            const std::string v = via;
            QCOMPARE(file(v + "/F"), ERAR_ECREATE);
            QCOMPARE(file(v + "/deeper/F"), ERAR_ECREATE);
            QCOMPARE(RarOutput::makeDirectory(parts(v + "/D"), nullptr), ERAR_ECREATE);
            QCOMPARE(symlink(v + "/l", "x"), ERAR_ECREATE);
            QCOMPARE(symlink("through-" + v, v + "/x"), ERAR_ECREATE);
            QCOMPARE(symlink("to-" + v, v), ERAR_ECREATE);
            QCOMPARE(RarOutput::makeHardLink(parts("h-" + v), parts(v + "/secret")), ERAR_ECREATE);
            QCOMPARE(RarOutput::makeHardLink(parts(v + "/h"), parts("nothing")), ERAR_ECREATE);
        }
        // Replacing such a link is no way to "repair" it either.
        QCOMPARE(file("out"), ERAR_ECREATE);
        QCOMPARE(everythingUnder(m_dest), (QStringList { "abs", "magic", "out", "rel" }));
        // The links themselves were there before: leave them to the oracle.
        for (const char* via : { "out", "abs", "rel", "magic" })
            fs::remove(dest(via));
    }

    void aLinkAcceptedOnceIsNeverRepointed()
    {
        fs::create_directories(dest("sub/deep"));
        QCOMPARE(symlink("d", "sub/deep"), 0);
        QCOMPARE(symlink("s", "d/../../x"), 0); // sub/deep/../.. is the top
        QCOMPARE(symlink("d", "sub"), ERAR_ECREATE); // s would lead out
        QCOMPARE(file("d"), ERAR_ECREATE);
        QCOMPARE(RarOutput::makeDirectory(parts("d"), nullptr), 0); // the directory it leads to
        QCOMPARE(symlink("d", "sub/deep"), 0);                      // the same link again
        QCOMPARE(fs::read_symlink(dest("d")).string(), std::string("sub/deep"));
    }

    void writingThroughLinksThatStayInside()
    {
        QCOMPARE(RarOutput::makeDirectory(parts("real/docs"), nullptr), 0);
        QCOMPARE(symlink("docs", "real/docs"), 0);
        QCOMPARE(symlink("real/up", ".."), 0);
        QCOMPARE(symlink("a/side", "../real"), 0);
        QCOMPARE(file("docs/readme.txt", "read me"), 0);
        QCOMPARE(file("real/up/real/docs/two.txt", "two"), 0);
        QCOMPARE(file("a/side/docs/three.txt", "three"), 0);
        QCOMPARE(RarOutput::makeDirectory(parts("docs/sub"), nullptr), 0);
        QCOMPARE(symlink("docs/sub/back", "../readme.txt"), 0);
        QCOMPARE(RarOutput::makeHardLink(parts("docs/hard"), parts("a/side/docs/readme.txt")), 0);
        QCOMPARE(TestSupport::readFile(QString::fromStdString(dest("real/docs/readme.txt").string())), QByteArray("read me"));
        QCOMPARE(TestSupport::readFile(QString::fromStdString(dest("real/docs/two.txt").string())), QByteArray("two"));
        QCOMPARE(TestSupport::readFile(QString::fromStdString(dest("real/docs/three.txt").string())), QByteArray("three"));
        QCOMPARE(TestSupport::readFile(QString::fromStdString(dest("real/docs/sub/back").string())), QByteArray("read me"));
        QCOMPARE(fs::hard_link_count(dest("real/docs/readme.txt")), uintmax_t(2));
        QVERIFY(isLink(dest("docs")));
    }

    void whatALinkMayReplace()
    {
        QCOMPARE(file("name"), 0);
        QCOMPARE(symlink("name", "other"), 0); // a file gives way
        QVERIFY(isLink(dest("name")));
        QCOMPARE(RarOutput::makeDirectory(parts("dir/inner"), nullptr), 0);
        QCOMPARE(symlink("dir", "other"), ERAR_ECREATE); // a directory does not
        QVERIFY(fs::is_directory(fs::symlink_status(dest("dir"))));
        QCOMPARE(file("dir"), ERAR_ECREATE);
        QCOMPARE(everythingUnder(m_dest), (QStringList { "dir", "dir/inner", "name" }));
    }

    // --- a failed entry leaves nothing ---

    void fileNotCommittedLeavesNothing()
    {
        fs::create_directories(dest("old"));
        {
            RarOutput::Entry entry;
            QCOMPARE(entry.createFile(parts("old/new1/new2/f"), 0644), 0);
            QVERIFY(entry.write("abc", 3));
            QCOMPARE(everythingUnder(m_dest).size(), 4); // old, new1, new2 and the part
        }
        {
            // Complete, but the entry failed after its data (a volume missing).
            RarOutput::Entry entry;
            QCOMPARE(entry.createFile(parts("n/f"), 0644), 0);
            QVERIFY(entry.write("abc", 3));
            QCOMPARE(entry.finishFile(nullptr), 0);
        }
        QCOMPARE(everythingUnder(m_dest), QStringList { "old" });
    }

    void directoriesOfOtherEntriesStay()
    {
        QCOMPARE(RarOutput::makeDirectory(parts("x/y"), nullptr), 0);
        {
            RarOutput::Entry entry;
            QCOMPARE(entry.createFile(parts("x/y/z/w/f"), 0644), 0);
            entry.rollback();
            QCOMPARE(everythingUnder(m_dest), (QStringList { "x", "x/y" }));
            // Rolled back, the entry can still make its thing afresh.
            QCOMPARE(entry.createFile(parts("x/y/z/f"), 0644), 0);
            QCOMPARE(entry.finishFile(nullptr), 0);
            QCOMPARE(entry.commit(), 0);
        }
        QCOMPARE(everythingUnder(m_dest), (QStringList { "x", "x/y", "x/y/z", "x/y/z/f" }));
    }

    void refusedLinkLeavesItsDirectoriesOut()
    {
        QCOMPARE(symlink("p/q/l", "../../.."), ERAR_ECREATE);
        QCOMPARE(RarOutput::makeHardLink(parts("p/q/h"), parts("nothing")), ERAR_ECREATE);
        fs::create_directories(dest("f"));
        QCOMPARE(file("p/q/f"), 0);
        {
            RarOutput::Entry entry;
            QCOMPARE(entry.makeSymlink(parts("p/r/s/l"), "../../q/f", nullptr), 0);
        }
        {
            RarOutput::Entry entry;
            QCOMPARE(entry.makeHardLink(parts("p/r/s/h"), parts("p/q/f")), 0);
        }
        {
            const timespec old { 1000000000, 0 };
            RarOutput::Entry entry;
            QCOMPARE(entry.makeDirectory(parts("f/g/h"), &old), 0);
        }
        QCOMPARE(everythingUnder(m_dest), (QStringList { "f", "p", "p/q", "p/q/f" }));
    }

    void directoryTimeSetWhenCommitted()
    {
        fs::create_directories(dest("d"));
        const timespec old { 1000000000, 0 };
        const auto before = fs::last_write_time(dest("d"));
        {
            RarOutput::Entry entry;
            QCOMPARE(entry.makeDirectory(parts("d"), &old), 0);
        }
        QCOMPARE(fs::last_write_time(dest("d")), before);
        RarOutput::Entry entry;
        QCOMPARE(entry.makeDirectory(parts("d"), &old), 0);
        QCOMPARE(entry.commit(), 0);
        struct stat st {};
        QCOMPARE(::stat(dest("d").c_str(), &st), 0);
        QCOMPARE(st.st_mtim.tv_sec, old.tv_sec);
    }

    void oneThingPerEntry()
    {
        RarOutput::Entry entry;
        QCOMPARE(entry.createFile(parts("a"), 0644), 0);
        QCOMPARE(entry.makeDirectory(parts("b"), nullptr), ERAR_ECREATE);
        QCOMPARE(entry.createFile(parts("c"), 0644), ERAR_ECREATE);
        QCOMPARE(entry.commit(), 0);
        QCOMPARE(everythingUnder(m_dest), QStringList { "a" });
    }

    void theOlderFileCalls()
    {
        {
            RarOutput::File file;
            QCOMPARE(file.create(parts("k/gone"), 0644), 0);
            QVERIFY(file.write("x", 1));
            file.discard();
        }
        {
            RarOutput::File file;
            QCOMPARE(file.create(parts("k/dropped"), 0644), 0);
            QVERIFY(file.write("x", 1));
        }
        QCOMPARE(everythingUnder(m_dest), QStringList {});
        RarOutput::File file;
        QCOMPARE(file.create(parts("k/kept"), 0600), 0);
        QVERIFY(file.write("kept", 4));
        const timespec old { 1000000000, 5 };
        QCOMPARE(file.commit(&old), 0);
        struct stat st {};
        QCOMPARE(::stat(dest("k/kept").c_str(), &st), 0);
        QCOMPARE(st.st_mtim.tv_sec, old.tv_sec);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
        QCOMPARE(everythingUnder(m_dest), (QStringList { "k", "k/kept" }));
    }

    // --- a process ended by a signal ---

    void signalRemovesTheParts_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("music");
        QTest::newRow("SIGTERM") << int(SIGTERM) << false;
        QTest::newRow("SIGINT") << int(SIGINT) << false;
        QTest::newRow("SIGHUP") << int(SIGHUP) << false;
        QTest::newRow("SIGTERM while music plays") << int(SIGTERM) << true;
        QTest::newRow("SIGINT while music plays") << int(SIGINT) << true;
    }
    void signalRemovesTheParts()
    {
        QFETCH(int, signal);
        QFETCH(bool, music);
        fs::create_directories(dest("existing"));
        settle();
        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // The installer's order: handlers first, then the music, then
            // an entry being written when the signal comes.
            ::close(ready[0]);
            alarm(20); // never outlive the test
            for (int plain : { SIGTERM, SIGINT, SIGHUP })
                ::signal(plain, SIG_DFL); // as a program starts, without the test runner's handlers
            RarOutput::removePartsOnSignals();
            if (music && !(MIDASstartup() && MIDASinit() && MIDASstartBackgroundPlay(0)))
                ::_exit(3);
            RarOutput::Entry entry;
            if (entry.createFile(parts("existing/new/deeper/file.bin"), 0644) != 0 || !entry.write("part", 4))
                ::_exit(4);
            RarOutput::Entry second;
            if (second.makeSymlink(parts("existing/other/link"), "../new", nullptr) != 0)
                ::_exit(5);
            if (::write(ready[1], "r", 1) != 1)
                ::_exit(6);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char byte = 0;
        const bool started = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        const QStringList during = everythingUnder(m_dest);
        ::kill(child, signal);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(started, qPrintable(QStringLiteral("child status %1").arg(status)));
        QCOMPARE(during.size(), 6); // new, deeper, other, the two parts and existing
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), signal);
        QCOMPARE(everythingUnder(m_dest), QStringList { "existing" });
    }

    // Started under nohup: SIGHUP stays ignored; the others get handlers.
    void ignoredSignalStaysIgnored()
    {
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::signal(SIGHUP, SIG_IGN);
            ::signal(SIGTERM, SIG_DFL);
            RarOutput::removePartsOnSignals();
            struct sigaction hup {}, term {};
            ::sigaction(SIGHUP, nullptr, &hup);
            ::sigaction(SIGTERM, nullptr, &term);
            ::_exit(hup.sa_handler == SIG_IGN && term.sa_handler != SIG_DFL ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }
};

QTEST_GUILESS_MAIN(TestRarOutput)
#include "test_rar_output.moc"
