// The .lnk writer's bytes, walked field by field as the documented format
// lays them out, and where Save writes (and refuses to write).
#include "LinkWriter.h"
#include "ShellFolders.h"
#include "TestSupport.h"

#include <QtTest>

namespace {

// The parts of a shortcut file, read independently of the writer.
struct ParsedLink {
    quint32 flags = 0;
    quint32 attributes = 0;
    quint64 created = 0, accessed = 0, written = 0;
    quint32 fileSize = 0;
    qint32 iconIndex = 0;
    quint32 showCommand = 0;
    quint16 hotKey = 0;
    quint32 infoHeaderSize = 0;
    QByteArray localPath; // 8-bit form
    QString localPathUnicode;
    QStringList strings; // in the order present
    bool terminated = false;
};

class Reader {
public:
    explicit Reader(const QByteArray& bytes)
        : m_bytes(bytes)
    {
    }
    bool has(qsizetype n) const { return m_pos + n <= m_bytes.size(); }
    quint16 u16()
    {
        const quint16 v = has(2) ? qFromLittleEndian<quint16>(m_bytes.constData() + m_pos) : 0;
        m_pos += 2;
        return v;
    }
    quint32 u32()
    {
        const quint32 v = has(4) ? qFromLittleEndian<quint32>(m_bytes.constData() + m_pos) : 0;
        m_pos += 4;
        return v;
    }
    quint64 u64()
    {
        const quint64 low = u32();
        return low | (quint64(u32()) << 32);
    }
    QByteArray take(qsizetype n)
    {
        const QByteArray part = m_bytes.mid(m_pos, n);
        m_pos += n;
        return part;
    }
    qsizetype pos() const { return m_pos; }
    void seek(qsizetype pos) { m_pos = pos; }
    const QByteArray& bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    qsizetype m_pos = 0;
};

QByteArray cString(const QByteArray& bytes, qsizetype at)
{
    const qsizetype end = bytes.indexOf('\0', at);
    return end < 0 ? QByteArray() : bytes.mid(at, end - at);
}

QString utf16String(const QByteArray& bytes, qsizetype at)
{
    QString text;
    for (qsizetype i = at; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = qFromLittleEndian<quint16>(bytes.constData() + i);
        if (!unit)
            break;
        text += QChar(unit);
    }
    return text;
}

std::optional<ParsedLink> parse(const QByteArray& bytes)
{
    static const QByteArray clsid = QByteArray::fromHex("0114020000000000c000000000000046");
    Reader r(bytes);
    ParsedLink link;
    if (r.u32() != 0x4C || r.take(16) != clsid)
        return std::nullopt;
    link.flags = r.u32();
    link.attributes = r.u32();
    link.created = r.u64();
    link.accessed = r.u64();
    link.written = r.u64();
    link.fileSize = r.u32();
    link.iconIndex = qint32(r.u32());
    link.showCommand = r.u32();
    link.hotKey = r.u16();
    if (r.u16() != 0 || r.u32() != 0 || r.u32() != 0)
        return std::nullopt;
    if (link.flags & 0x01) // no ID list is written
        return std::nullopt;
    if (link.flags & 0x02) {
        const qsizetype start = r.pos();
        const quint32 size = r.u32();
        link.infoHeaderSize = r.u32();
        const quint32 infoFlags = r.u32();
        const quint32 volumeOffset = r.u32();
        const quint32 baseOffset = r.u32();
        const quint32 networkOffset = r.u32();
        const quint32 suffixOffset = r.u32();
        if (infoFlags != 1 || networkOffset != 0)
            return std::nullopt;
        const QByteArray info = bytes.mid(start, size);
        if (qFromLittleEndian<quint32>(info.constData() + volumeOffset + 4) != 3) // fixed drive
            return std::nullopt;
        link.localPath = cString(info, baseOffset);
        if (!cString(info, suffixOffset).isEmpty())
            return std::nullopt;
        if (link.infoHeaderSize >= 0x24) {
            const quint32 baseUnicode = r.u32();
            const quint32 suffixUnicode = r.u32();
            link.localPathUnicode = utf16String(info, baseUnicode);
            if (!utf16String(info, suffixUnicode).isEmpty())
                return std::nullopt;
        }
        r.seek(start + size);
    }
    for (quint32 flag : { 0x04u, 0x08u, 0x10u, 0x20u, 0x40u }) {
        if (!(link.flags & flag))
            continue;
        const quint16 count = r.u16();
        const QByteArray units = r.take(2 * count);
        QString text;
        for (int i = 0; i + 1 < units.size(); i += 2)
            text += QChar(qFromLittleEndian<quint16>(units.constData() + i));
        link.strings << text;
    }
    link.terminated = r.u32() == 0 && r.pos() == bytes.size();
    return link;
}

quint64 fileTime(const QDateTime& time)
{
    return quint64(time.toMSecsSinceEpoch() + 11644473600000LL) * 10000;
}

}

class TestLinkWriter : public QObject {
    Q_OBJECT
    QTemporaryDir m_root;

    QString applications() const { return m_root.filePath(QStringLiteral("data/applications")); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        qputenv("HOME", QFile::encodeName(m_root.filePath(QStringLiteral("home"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("config"))));
        QCOMPARE(ShellFolders::path(QStringLiteral("Programs")), applications());
        QVERIFY(QDir().mkpath(applications()));
    }

    void headerAndStrings()
    {
        const QString target = m_root.filePath(QStringLiteral("GAME.EXE"));
        TestSupport::writeFile(target, QByteArray(1234, 'x'));
        auto link = LinkWriter::create();
        QVERIFY(link);
        link->SetDescription(QStringLiteral("This rules"));
        link->SetPath(target);
        link->SetWorkingDirectory(m_root.path());
        link->SetArguments(QStringLiteral("-x \"a b\""));
        link->SetShowCmd(7);
        link->SetHotkey(0x0674);
        link->SetIconLocation(target, -3);

        const auto parsed = parse(link->bytes());
        QVERIFY(parsed);
        QCOMPARE(parsed->flags, 0xFEu);
        QCOMPARE(parsed->attributes, 0x20u);
        QCOMPARE(parsed->fileSize, 1234u);
        QCOMPARE(parsed->written, fileTime(QFileInfo(target).lastModified()));
        QVERIFY(parsed->created != 0 && parsed->accessed != 0);
        QCOMPARE(parsed->iconIndex, -3);
        QCOMPARE(parsed->showCommand, 7u);
        QCOMPARE(parsed->hotKey, quint16(0x0674));
        QCOMPARE(parsed->infoHeaderSize, 0x1Cu);
        QString windows = QStringLiteral("Z:") + target;
        windows.replace(QLatin1Char('/'), QLatin1Char('\\'));
        QCOMPARE(QString::fromLatin1(parsed->localPath), windows);
        QCOMPARE(parsed->strings, QStringList({ "This rules", target, m_root.path(), "-x \"a b\"", target }));
        QVERIFY(parsed->terminated);
    }

    void emptyLink()
    {
        auto link = LinkWriter::create();
        const auto parsed = parse(link->bytes());
        QVERIFY(parsed);
        QCOMPARE(parsed->flags, 0x80u); // Unicode strings, none present
        QCOMPARE(parsed->attributes, 0u);
        QCOMPARE(parsed->written, 0u);
        QCOMPARE(parsed->showCommand, 0u);
        QVERIFY(parsed->strings.isEmpty());
        QVERIFY(parsed->terminated);
    }

    void targetLocation_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("localPath"); // empty: no link info
        QTest::addColumn<QByteArray>("ansiPath"); // the 8-bit form beside a Unicode one
        QTest::newRow("path of this system") << "/opt/game/GAME.EXE" << "Z:\\opt\\game\\GAME.EXE" << QByteArray();
        QTest::newRow("cleaned") << "/opt//game/./x/../GAME.EXE" << "Z:\\opt\\game\\GAME.EXE" << QByteArray();
        QTest::newRow("drive root") << "E:\\GAME.EXE" << "E:\\GAME.EXE" << QByteArray();
        QTest::newRow("drive with slashes") << "e:/jeux/GAME.EXE" << "e:\\jeux\\GAME.EXE" << QByteArray();
        QTest::newRow("Latin-1") << "/opt/d\u00e9mo/GAME.EXE" << "Z:\\opt\\d\u00e9mo\\GAME.EXE" << QByteArray("Z:\\opt\\d\xe9mo\\GAME.EXE");
        QTest::newRow("beyond Latin-1") << "/opt/\u65e5\u672c/\U0001F3AE.exe" << "Z:\\opt\\\u65e5\u672c\\\U0001F3AE.exe" << QByteArray("Z:\\opt\\??\\?.exe");
        QTest::newRow("relative") << "GAME.EXE" << "" << QByteArray();
        QTest::newRow("empty") << "" << "" << QByteArray();
    }
    void targetLocation()
    {
        QFETCH(QString, target);
        QFETCH(QString, localPath);
        QFETCH(QByteArray, ansiPath);
        auto link = LinkWriter::create();
        link->SetPath(target);
        const auto parsed = parse(link->bytes());
        QVERIFY(parsed);
        QCOMPARE(bool(parsed->flags & 0x02), !localPath.isEmpty());
        QCOMPARE(bool(parsed->flags & 0x08), !target.isEmpty());
        QCOMPARE(parsed->strings, target.isEmpty() ? QStringList() : QStringList { target });
        QVERIFY(parsed->terminated);
        if (localPath.isEmpty())
            return;
        if (ansiPath.isEmpty()) {
            QCOMPARE(parsed->infoHeaderSize, 0x1Cu);
            QCOMPARE(QString::fromLatin1(parsed->localPath), localPath);
        } else {
            QCOMPARE(parsed->infoHeaderSize, 0x24u);
            QCOMPARE(parsed->localPathUnicode, localPath);
            QCOMPARE(parsed->localPath, ansiPath);
        }
    }

    void stringsCutToTheFormatsLimit_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kept");
        QTest::newRow("at the limit") << QString(0xFFFF, QLatin1Char('a')) << 0xFFFF;
        QTest::newRow("over the limit") << QString(0x10005, QLatin1Char('b')) << 0xFFFF;
        QTest::newRow("pair across the limit") << QString(0xFFFE, QLatin1Char('c')) + QStringLiteral("\U0001F3AE") << 0xFFFE;
        QTest::newRow("pair kept whole") << QStringLiteral("\U0001F3AE\u00e9") << 3;
    }
    void stringsCutToTheFormatsLimit()
    {
        QFETCH(QString, text);
        QFETCH(int, kept);
        auto link = LinkWriter::create();
        link->SetDescription(text);
        link->SetArguments(QStringLiteral("after"));
        const auto parsed = parse(link->bytes());
        QVERIFY(parsed);
        QCOMPARE(parsed->strings.size(), 2);
        QCOMPARE(parsed->strings[0], text.left(kept));
        QCOMPARE(parsed->strings[1], QStringLiteral("after"));
        QVERIFY(parsed->terminated);
    }

    void directoryTarget()
    {
        auto link = LinkWriter::create();
        link->SetPath(m_root.path());
        const auto parsed = parse(link->bytes());
        QVERIFY(parsed);
        QCOMPARE(parsed->attributes, 0x10u);
        QCOMPARE(parsed->fileSize, 0u);
    }

    void saveReplacesAndNeedsAFolder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Game.lnk"));
        TestSupport::writeFile(path, QByteArray(5000, 'z'));
        auto link = LinkWriter::create();
        link->SetDescription(QStringLiteral("again"));
        QVERIFY(link->Save(path));
        QCOMPARE(TestSupport::readFile(path), link->bytes());
        QVERIFY(!link->Save(QString()));
        QVERIFY(!link->Save(dir.filePath(QStringLiteral("missing/Game.lnk"))));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList { "Game.lnk" });
    }

    void desktopEntryOnlyInTheApplicationsFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("entry");
        QTest::newRow("applications") << "data/applications" << true;
        QTest::newRow("applications, unclean path") << "data/./applications/../applications" << true;
        QTest::newRow("below applications") << "data/applications/sub" << false;
        QTest::newRow("desktop") << "home/Desktop" << false;
        QTest::newRow("autostart") << "config/autostart" << false;
        QTest::newRow("elsewhere") << "elsewhere" << false;
    }
    void desktopEntryOnlyInTheApplicationsFolder()
    {
        QFETCH(QString, folder);
        QFETCH(bool, entry);
        QDir().mkpath(m_root.filePath(folder));
        const QString target = m_root.filePath(QStringLiteral("tool.sh"));
        TestSupport::writeFile(target, "#!/bin/sh\n");
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        auto link = LinkWriter::create();
        link->SetPath(target);
        const QString lnk = m_root.filePath(folder + QStringLiteral("/Tool.lnk"));
        QVERIFY(link->Save(lnk));
        const QString desktop = QFileInfo(lnk).absolutePath() + QStringLiteral("/Tool.desktop");
        QCOMPARE(QFileInfo::exists(desktop), entry);
        QFile::remove(desktop);
        QFile::remove(lnk);
    }

    void failedDesktopEntryLeavesTheShortcutStanding()
    {
        QDir().mkpath(applications() + QStringLiteral("/Blocked.desktop/inside"));
        auto link = LinkWriter::create();
        link->SetPath(QStringLiteral("/bin/true"));
        QVERIFY(link->Save(applications() + QStringLiteral("/Blocked.lnk")));
        // The shortcut itself is whole.
        QCOMPARE(TestSupport::readFile(applications() + QStringLiteral("/Blocked.lnk")), link->bytes());
    }
};

QTEST_GUILESS_MAIN(TestLinkWriter)
#include "test_linkwriter.moc"
