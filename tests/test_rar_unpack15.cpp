// The RAR 1.5 decoder on the real RAR 1.5 sample, read through the volume
// stream, against unar's extraction of the same archive; then on its packed
// data damaged and cut short, where it must fail (bad data, or output whose
// CRC is wrong) and never crash, hang or run past the entry's size.
#include "RarFormat.h"
#include "RarStream.h"
#include "Unpack15.h"

#include <QtTest>

#include <algorithm>
#include <cstring>

namespace {

QString samplePath()
{
    return QStringLiteral(MERIK_SHARED_FIXTURES "/rar/sharpcompress/Rar15.rar");
}

// Packed data from memory, handed out in pieces of a given size so that the
// bit reader meets piece boundaries anywhere in a code.
class MemorySource : public Rar::PackedSource {
public:
    MemorySource(const QByteArray& data, size_t piece) : m_data(data), m_piece(piece) {}
    ssize_t read(const unsigned char** data) override
    {
        const size_t left = size_t(m_data.size()) - m_pos;
        const size_t n = std::min(left, m_piece);
        *data = reinterpret_cast<const unsigned char*>(m_data.constData()) + m_pos;
        m_pos += n;
        return ssize_t(n);
    }

private:
    QByteArray m_data;
    size_t m_piece;
    size_t m_pos = 0;
};

struct Decoded {
    Rar::UnpackStatus status = Rar::UnpackStatus::End;
    QByteArray bytes;
    bool chunksSound = true; // every chunk non-empty and at most kMaxChunk
};

// Pulls an entry to its end. Every Data chunk is at least one byte, so the
// loop ends after at most `size` chunks, or the decoder broke its contract.
Decoded pull(Rar::Unpacker& decoder, Rar::PackedSource& source, uint64_t size, bool solid)
{
    Decoded out;
    decoder.begin(source, size, solid);
    for (uint64_t calls = 0; calls <= size + 1; ++calls) {
        const unsigned char* p = nullptr;
        size_t n = 0;
        out.status = decoder.next(p, n);
        if (out.status != Rar::UnpackStatus::Data)
            return out;
        if (n == 0 || n > Rar::Unpacker::kMaxChunk || uint64_t(out.bytes.size()) + n > size)
            out.chunksSound = false;
        out.bytes.append(reinterpret_cast<const char*>(p), qsizetype(std::min<size_t>(n, size + 1)));
    }
    out.chunksSound = false;
    return out;
}

uint32_t crcOf(const QByteArray& bytes)
{
    return Rar::crc32(0, bytes.constData(), size_t(bytes.size()));
}

struct Entry {
    QString name;
    uint64_t size = 0;
    uint32_t crc = 0;
    QByteArray packed;
    qint64 offset = -1; // of the packed data in the archive file
};

// The compressed entries of an archive, with their packed data.
QList<Entry> readEntries(const QString& archive, QString* error)
{
    QList<Entry> entries;
    RarVolumeStream stream;
    if (int r = stream.open(QFile::encodeName(archive).toStdString())) {
        *error = QStringLiteral("open failed: %1").arg(r);
        return {};
    }
    const QByteArray file = [&] {
        QFile f(archive);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    while (auto info = stream.nextEntry()) {
        const Rar::Block& h = info->header;
        if (h.directory || h.method == Rar::V4::kMethodStore)
            continue;
        Entry e;
        e.name = QString::fromStdString(Rar::utf8Name(h)).replace('\\', '/');
        e.size = h.unpackedSize;
        e.crc = info->finalCrc;
        const void* b;
        ssize_t n;
        while ((n = stream.readEntryData(&b)) > 0)
            e.packed.append(static_cast<const char*>(b), qsizetype(n));
        e.offset = file.indexOf(e.packed);
        if (h.unpackVersion != 15) {
            *error = e.name + " is not a RAR 1.5 entry";
            return {};
        }
        entries << e;
    }
    if (stream.error())
        *error = QStringLiteral("stream error %1").arg(stream.error());
    return entries;
}

}

class TestRarUnpack15 : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QList<Entry> m_entries;
    QMap<QString, QByteArray> m_reference; // unar's files by name

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (!QFileInfo::exists(samplePath()))
            return;
        QString error;
        m_entries = readEntries(samplePath(), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!m_entries.isEmpty());

        if (QStandardPaths::findExecutable("unar").isEmpty())
            return;
        const QString out = m_dir.filePath("unar");
        QProcess unar;
        unar.start("unar", { "-q", "-f", "-D", "-o", out, samplePath() });
        QVERIFY(unar.waitForFinished(60000));
        QCOMPARE(unar.exitCode(), 0);
        QDirIterator it(out, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            m_reference.insert(QDir(out).relativeFilePath(path), f.readAll());
        }
    }

    // Through the volume stream, as the archive layer reads it.
    void sampleMatchesUnar()
    {
        if (!QFileInfo::exists(samplePath()))
            QSKIP("the RAR 1.5 sample is not there (" MERIK_SHARED_FIXTURES "/rar/sharpcompress)");
        if (m_reference.isEmpty())
            QSKIP("unar is not installed");
        RarVolumeStream stream;
        QCOMPARE(stream.open(QFile::encodeName(samplePath()).toStdString()), 0);
        Rar::Unpack15 decoder;
        QStringList done;
        while (auto info = stream.nextEntry()) {
            const Rar::Block& h = info->header;
            if (h.directory)
                continue;
            const QString name = QString::fromStdString(Rar::utf8Name(h)).replace('\\', '/');
            QCOMPARE(int(h.unpackVersion), 15);
            RarEntrySource source(stream);
            // RAR 1.5 marks solid archives, not entries.
            const Decoded d = pull(decoder, source, h.unpackedSize, stream.solid());
            QCOMPARE(d.status, Rar::UnpackStatus::End);
            QVERIFY(d.chunksSound);
            QVERIFY2(m_reference.contains(name), qPrintable(name));
            QVERIFY2(d.bytes == m_reference.value(name), qPrintable(name));
            QCOMPARE(crcOf(d.bytes), info->finalCrc);
            done << name;
        }
        QCOMPARE(stream.error(), 0);
        done.sort();
        QStringList expected = m_reference.keys();
        expected.sort();
        QCOMPARE(done, expected);
    }

    // One decoder for entries in any order, starting each afresh: nothing of
    // one entry leaks into the next; a first entry marked solid starts fresh
    // too. Packed data comes in small, odd pieces.
    void entriesInAnyOrder()
    {
        if (m_entries.isEmpty())
            QSKIP("the RAR 1.5 sample is not there");
        {
            Rar::Unpack15 fresh;
            MemorySource source(m_entries.first().packed, 4096);
            const Decoded d = pull(fresh, source, m_entries.first().size, true);
            QCOMPARE(d.status, Rar::UnpackStatus::End);
            QCOMPARE(crcOf(d.bytes), m_entries.first().crc);
        }
        Rar::Unpack15 decoder;
        QList<int> order;
        for (int i = int(m_entries.size()) - 1; i >= 0; --i)
            order << i << i;
        for (int i = 0; i < m_entries.size(); ++i)
            order << i;
        for (int i : order) {
            const Entry& e = m_entries[i];
            MemorySource source(e.packed, 1 + 997 * size_t(i));
            const Decoded d = pull(decoder, source, e.size, false);
            QCOMPARE(d.status, Rar::UnpackStatus::End);
            QVERIFY(d.chunksSound);
            QVERIFY2(crcOf(d.bytes) == e.crc, qPrintable(e.name));
        }
    }

    // Bytes of the packed data changed: every change before the last few
    // bytes (whose bits a decoder may never need) is noticed, as bad data
    // or as a wrong CRC.
    void damagedDataFails()
    {
        if (m_entries.isEmpty())
            QSKIP("the RAR 1.5 sample is not there");
        Rar::Unpack15 decoder;
        int badData = 0;
        int wrongCrc = 0;
        for (const Entry& e : m_entries) {
            const qsizetype size = e.packed.size();
            for (qsizetype pos = 0; pos + 8 < size; pos += std::max<qsizetype>(1, size / 61)) {
                for (const char mask : { char(0xff), char(0x01), char(0x80), char(0x24) }) {
                    QByteArray packed = e.packed;
                    packed[pos] = char(packed[pos] ^ mask);
                    MemorySource source(packed, 65536);
                    const Decoded d = pull(decoder, source, e.size, false);
                    QVERIFY(d.chunksSound);
                    QVERIFY(uint64_t(d.bytes.size()) <= e.size);
                    if (d.status == Rar::UnpackStatus::BadData) {
                        ++badData;
                        continue;
                    }
                    QCOMPARE(d.status, Rar::UnpackStatus::End);
                    QVERIFY2(crcOf(d.bytes) != e.crc,
                             qPrintable(QStringLiteral("%1: byte %2 ^ %3 went unnoticed").arg(e.name).arg(pos).arg(int(uchar(mask)))));
                    ++wrongCrc;
                }
            }
        }
        qInfo("damaged: %d bad data, %d wrong CRC", badData, wrongCrc);
        QVERIFY(badData > 0);
    }

    // Packed data cut short, and packed data of garbage: the decoder stops
    // with bad data (or a wrong CRC) in bounded time.
    void truncatedDataFails()
    {
        if (m_entries.isEmpty())
            QSKIP("the RAR 1.5 sample is not there");
        Rar::Unpack15 decoder;
        for (const Entry& e : m_entries) {
            const qsizetype size = e.packed.size();
            for (const qsizetype cut : { qsizetype(0), qsizetype(1), size / 7, size / 2, size - 200, size - 80 }) {
                MemorySource source(e.packed.left(cut), 65536);
                const Decoded d = pull(decoder, source, e.size, false);
                QVERIFY(d.chunksSound);
                QVERIFY2(d.status == Rar::UnpackStatus::BadData
                             || (d.status == Rar::UnpackStatus::End && crcOf(d.bytes) != e.crc),
                         qPrintable(QStringLiteral("%1 cut to %2").arg(e.name).arg(cut)));
            }
        }
        // The same data for an entry announced far larger than it is: the
        // data runs out and says so, before the size is reached.
        const Entry& e = m_entries.first();
        MemorySource source(e.packed, 65536);
        const Decoded d = pull(decoder, source, 64 * 1024 * 1024, false);
        QCOMPARE(d.status, Rar::UnpackStatus::BadData);
        QVERIFY(d.chunksSound);
    }

    // Damage in a copy of the archive itself, read through the volume
    // stream: the damaged entry fails, the others (not solid) still come out.
    void damagedArchiveThroughStream()
    {
        if (m_entries.isEmpty())
            QSKIP("the RAR 1.5 sample is not there");
        QFile original(samplePath());
        QVERIFY(original.open(QIODevice::ReadOnly));
        QByteArray bytes = original.readAll();
        const Entry& victim = m_entries[m_entries.size() / 2];
        QVERIFY(victim.offset > 0);
        bytes[victim.offset + victim.packed.size() / 3] = char(bytes[victim.offset + victim.packed.size() / 3] ^ 0x5a);
        const QString copy = m_dir.filePath("damaged.rar");
        QFile out(copy);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write(bytes), bytes.size());
        out.close();

        RarVolumeStream stream;
        QCOMPARE(stream.open(QFile::encodeName(copy).toStdString()), 0);
        Rar::Unpack15 decoder;
        int good = 0;
        int failed = 0;
        while (auto info = stream.nextEntry()) {
            if (info->header.directory)
                continue;
            const QString name = QString::fromStdString(Rar::utf8Name(info->header)).replace('\\', '/');
            RarEntrySource source(stream);
            const Decoded d = pull(decoder, source, info->header.unpackedSize, stream.solid());
            const bool ok = d.status == Rar::UnpackStatus::End && crcOf(d.bytes) == info->finalCrc;
            QCOMPARE(ok, name != victim.name);
            ok ? ++good : ++failed;
        }
        QCOMPARE(stream.error(), 0);
        QCOMPARE(failed, 1);
        QCOMPARE(good, int(m_entries.size()) - 1);
    }
};

QTEST_GUILESS_MAIN(TestRarUnpack15)
#include "test_rar_unpack15.moc"
