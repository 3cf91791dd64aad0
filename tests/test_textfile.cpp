// The shared line reader and the error texts, on real files.
#include "Errors.h"
#include "TestSupport.h"
#include "TextFile.h"

#include <QtTest>

using TestSupport::writeFile;

class TestTextFile : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    std::vector<std::string> readLines(const QByteArray& bytes, int count)
    {
        const QString path = m_dir.filePath(QStringLiteral("lines.txt"));
        writeFile(path, bytes);
        TextFileReader reader(path.toStdString());
        std::vector<std::string> lines;
        for (int i = 0; i < count; ++i)
            lines.push_back(reader.readLine());
        return lines;
    }

private slots:
    void lineRules_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("crlf") << QByteArray("one\r\ntwo\r\n") << QStringList { "one", "two", "", "" };
        QTest::newRow("cr alone") << QByteArray("one\rtwo") << QStringList { "one", "two", "", "" };
        QTest::newRow("lf alone is data") << QByteArray("one\ntwo\nthree\n") << QStringList { "one\ntwo\nthree\n", "", "", "" };
        QTest::newRow("lf after cr only once") << QByteArray("a\r\n\nb\r\n") << QStringList { "a", "\nb", "", "" };
        QTest::newRow("byte 26 ends the data") << QByteArray("a\r\nb\x1a" "c\r\nd\r\n") << QStringList { "a", "b", "", "" };
        QTest::newRow("empty file") << QByteArray() << QStringList { "", "", "", "" };
        QTest::newRow("blanks kept") << QByteArray("  x  \r\n\t\r\n") << QStringList { "  x  ", "\t", "", "" };
        QTest::newRow("empty lines") << QByteArray("\r\n\r\nz") << QStringList { "", "", "z", "" };
    }
    void lineRules()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        const auto lines = readLines(bytes, int(expected.size()));
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(QString::fromStdString(lines[size_t(i)]), expected[i]);
    }

    void longLinesAcrossChunks()
    {
        QByteArray big(200000, 'x');
        big[65535] = '\r';
        big[65536] = '\n';
        const auto lines = readLines(big + "\r\nend", 3);
        QCOMPARE(lines[0].size(), size_t(65535));
        QCOMPARE(lines[1].size(), size_t(200000 - 65537));
        QCOMPARE(lines[2], std::string("end"));
    }

    void missingFileRaisesFileNotFound()
    {
        try {
            TextFileReader reader(m_dir.filePath(QStringLiteral("absent.ini")).toStdString());
            QFAIL("no error raised");
        } catch (const EInOutError& error) {
            QCOMPARE(error.code(), 2);
            QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("File not found"));
        }
    }

    void ioErrorTexts()
    {
        QCOMPARE(ioErrorText(3), std::string("Invalid filename"));
        QCOMPARE(ioErrorText(5), std::string("File access denied"));
        QCOMPARE(ioErrorText(101), std::string("Disk full"));
        QCOMPARE(ioErrorText(21), std::string("I/O error 21"));
        QCOMPARE(ioCodeFromErrno(ENOSPC), 101);
        QCOMPARE(ioCodeFromErrno(EROFS), 5);
        QCOMPARE(ioCodeFromErrno(EISDIR), EISDIR);
    }

    void integers()
    {
        QCOMPARE(StrToInt("120"), 120);
        QCOMPARE(StrToInt(" -7"), -7);
        QCOMPARE(StrToInt("$1F"), 31);
        for (const char* bad : { "12 ", "abc", "", "99999999999", "1.5" }) {
            try {
                StrToInt(bad);
                QFAIL(bad);
            } catch (const EConvertError& error) {
                QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("'%1' is not a valid integer value").arg(bad));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestTextFile)
#include "test_textfile.moc"
