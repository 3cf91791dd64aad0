// The RAR 2.9 decoder on the real samples of that method (LZ, PPMd, both in
// one entry, filters, solid, volume sets, the 241 MB PPMd entry), read
// through the volume stream, against unar's extraction of the same sets;
// then on packed data damaged and cut short, where it must fail (bad data,
// or output whose CRC is wrong) and never crash, hang or run past the
// entry's size; and on streams written here whose filter program is none of
// the standard ones, which must be refused, not run.
#include "RarFormat.h"
#include "RarStream.h"
#include "Unpack29.h"

#include "DecoderTesting.h"

#include <QtTest>

#include <algorithm>
#include <cstring>

using DecoderTesting::MemorySource;

namespace {

QString fixture(const QString& name)
{
    return QStringLiteral(MERIK_SHARED_FIXTURES "/rar/") + name;
}

// The RAR 2.9 sets: the first volume of each.
const QStringList kSets = {
    "sharpcompress/Rar.rar",
    "sharpcompress/Rar.solid.rar",
    "sharpcompress/Rar4.multi.part01.rar",
    "sharpcompress/Rar.Audio_program.rar",
    "test_read_format_rar_filter.rar",
    "test_read_format_rar_multi_lzss_blocks.rar",
    "test_read_format_rar_compress_normal.rar",
    "test_read_format_rar_compress_best.rar",
    "test_read_format_rar_multivolume.part0001.rar",
    "test_read_format_rar_ppmd_lzss_conversion.rar",
    "test_read_format_rar_binary_data.rar",
};

bool isRar29(const Rar::Block& h)
{
    return !h.directory && h.method != Rar::V4::kMethodStore && (h.unpackVersion == 29 || h.unpackVersion == 36);
}

QString nameOf(const Rar::Block& h)
{
    return QString::fromStdString(Rar::utf8Name(h)).replace('\\', '/');
}

struct Decoded {
    Rar::UnpackStatus status = Rar::UnpackStatus::End;
    QByteArray bytes;       // kept only when asked for
    uint64_t total = 0;
    uint32_t crc = 0;
    bool chunksSound = true; // every chunk non-empty, at most kMaxChunk, never past the size
    bool matches = true;     // equal to the reference file, when one was given
};

// Pulls an entry to its end, comparing it with `reference` as it comes.
// Every Data chunk is at least one byte, so the loop ends after at most
// `size` chunks, or the decoder broke its contract.
Decoded pullAgainst(Rar::Unpacker& decoder, Rar::PackedSource& source, uint64_t size, bool solid,
             QIODevice* reference = nullptr, bool keep = true)
{
    Decoded out;
    decoder.begin(source, size, solid);
    QByteArray expected;
    for (uint64_t calls = 0; calls <= size + 1; ++calls) {
        const unsigned char* p = nullptr;
        size_t n = 0;
        out.status = decoder.next(p, n);
        if (out.status != Rar::UnpackStatus::Data) {
            if (reference && !reference->atEnd())
                out.matches = false;
            return out;
        }
        if (n == 0 || n > Rar::Unpacker::kMaxChunk || out.total + n > size) {
            out.chunksSound = false;
            return out;
        }
        out.total += n;
        out.crc = Rar::crc32(out.crc, p, n);
        if (keep)
            out.bytes.append(reinterpret_cast<const char*>(p), qsizetype(n));
        if (reference) {
            expected = reference->read(qint64(n));
            if (size_t(expected.size()) != n || std::memcmp(expected.constData(), p, n) != 0)
                out.matches = false;
        }
    }
    out.chunksSound = false;
    return out;
}

struct Entry {
    QString set;
    QString name;
    uint64_t size = 0;
    uint32_t crc = 0;
    bool solid = false;
    QByteArray packed;
};

// The RAR 2.9 entries of a set, with their packed data.
QList<Entry> readEntries(const QString& set, QString* error)
{
    QList<Entry> entries;
    RarVolumeStream stream;
    if (int r = stream.open(QFile::encodeName(fixture(set)).toStdString())) {
        *error = QStringLiteral("%1: open failed: %2").arg(set).arg(r);
        return {};
    }
    while (auto info = stream.nextEntry()) {
        const Rar::Block& h = info->header;
        if (!isRar29(h))
            continue;
        Entry e;
        e.set = set;
        e.name = nameOf(h);
        e.size = h.unpackedSize;
        e.solid = h.solidEntry;
        const void* b;
        ssize_t n;
        while ((n = stream.readEntryData(&b)) > 0)
            e.packed.append(static_cast<const char*>(b), qsizetype(n));
        e.crc = info->finalCrc;
        entries << e;
    }
    if (stream.error())
        *error = QStringLiteral("%1: stream error %2").arg(set).arg(stream.error());
    return entries;
}

// Writes bits most significant first, as the decoder reads them.
class BitWriter {
public:
    void put(uint32_t value, unsigned bits)
    {
        for (unsigned i = bits; i-- > 0;) {
            m_acc = (m_acc << 1) | ((value >> i) & 1);
            if (++m_count == 8) {
                m_bytes.append(char(m_acc));
                m_acc = 0;
                m_count = 0;
            }
        }
    }
    QByteArray bytes() const
    {
        QByteArray out = m_bytes;
        if (m_count)
            out.append(char(m_acc << (8 - m_count)));
        return out;
    }

private:
    QByteArray m_bytes;
    uint32_t m_acc = 0;
    unsigned m_count = 0;
};

// An LZ block whose codes are all of one length per table, so that a
// symbol's code is its number: main symbols take 9 bits.
void writeTables(BitWriter& w)
{
    w.put(0, 2);                  // LZ, tables not kept
    for (int i = 0; i < 20; ++i)  // every length code 5 bits long: code = number
        w.put(5, 4);
    const struct { int count, length; } tables[] = { { 299, 9 }, { 60, 6 }, { 17, 5 }, { 28, 5 } };
    for (const auto& t : tables)
        for (int i = 0; i < t.count; ++i)
            w.put(uint32_t(t.length), 5);
}

// A definition of a new filter (number 0, so the filters start afresh) over
// `length` bytes from the current position, whose program is `program`
// with its check byte put in front.
void writeFilter(BitWriter& w, QByteArray program, uint32_t length, bool goodCheck = true)
{
    char check = 0;
    for (char c : program)
        check = char(check ^ c);
    program.prepend(goodCheck ? check : char(check ^ 0x55));

    BitWriter def; // the definition's own bits
    def.put(0, 2), def.put(0, 4);                 // filter number 0
    def.put(0, 2), def.put(0, 4);                 // block starts here
    def.put(2, 2), def.put(length, 16);           // block length
    def.put(2, 2), def.put(uint32_t(program.size()), 16);
    for (char c : program)
        def.put(uchar(c), 8);
    const QByteArray code = def.bytes();

    w.put(257, 9);
    w.put(0x80 | 0x20 | 7, 8);                    // number and length given; 16-bit size
    w.put(uint32_t(code.size()), 16);
    for (char c : code)
        w.put(uchar(c), 8);
}

}

class TestRarUnpack29 : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_unar;
    QList<Entry> m_small; // entries of the small sets, for damage

    // unar's extraction of a set, done once per set.
    QString reference(const QString& set)
    {
        const QString out = m_dir.filePath("unar/" + QFileInfo(set).completeBaseName());
        if (QFileInfo::exists(out))
            return out;
        QProcess unar;
        unar.start(m_unar, { "-q", "-f", "-D", "-o", out, fixture(set) });
        if (!unar.waitForFinished(240000) || unar.exitCode() != 0)
            return {};
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_unar = QStandardPaths::findExecutable("unar");
        if (!QFileInfo::exists(fixture(kSets.first())))
            return;
        for (const char* set : { "sharpcompress/Rar.rar", "test_read_format_rar_filter.rar",
                                     "test_read_format_rar_compress_best.rar", "test_read_format_rar_binary_data.rar",
                                     "test_read_format_rar_multi_lzss_blocks.rar" }) {
            QString error;
            m_small += readEntries(set, &error);
            QVERIFY2(error.isEmpty(), qPrintable(error));
        }
        QVERIFY(!m_small.isEmpty());
    }

    void samplesMatchUnar_data()
    {
        QTest::addColumn<QString>("set");
        for (const QString& set : kSets)
            QTest::newRow(qPrintable(set)) << set;
    }

    // Every set through the volume stream, as the archive layer reads it,
    // with one decoder for the whole set (solid entries continue the one
    // before), compared with unar's files byte for byte as they come.
    void samplesMatchUnar()
    {
        QFETCH(QString, set);
        if (!QFileInfo::exists(fixture(set)))
            QSKIP("the samples are not there (" MERIK_SHARED_FIXTURES "/rar)");
        if (m_unar.isEmpty())
            QSKIP("unar is not installed");
        const QString ref = reference(set);
        QVERIFY2(!ref.isEmpty(), "unar failed");

        RarVolumeStream stream;
        QCOMPARE(stream.open(QFile::encodeName(fixture(set)).toStdString()), 0);
        Rar::Unpack29 decoder;
        int decoded = 0;
        while (auto info = stream.nextEntry()) {
            const Rar::Block& h = info->header;
            if (!isRar29(h))
                continue;
            const QString name = nameOf(h);
            QFile file(ref + "/" + name);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(name));
            RarEntrySource source(stream);
            const Decoded d = pullAgainst(decoder, source, h.unpackedSize, h.solidEntry, &file, false);
            QVERIFY2(d.status == Rar::UnpackStatus::End, qPrintable(name));
            QVERIFY(d.chunksSound);
            QCOMPARE(d.total, h.unpackedSize);
            QVERIFY2(d.matches, qPrintable(name + " differs from unar's"));
            QCOMPARE(d.crc, info->finalCrc);
            ++decoded;
        }
        QCOMPARE(stream.error(), 0);
        QVERIFY(decoded > 0);
    }

    // The solid set: every entry continues the one before; the same
    // entries started afresh fail (they need what came before), and an
    // entry whose predecessor was left unfinished fails rather than come
    // out wrong.
    void solidStream()
    {
        const QString set = "sharpcompress/Rar.solid.rar";
        if (!QFileInfo::exists(fixture(set)))
            QSKIP("the samples are not there");
        QString error;
        const QList<Entry> entries = readEntries(set, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(entries.size(), 3);
        QVERIFY(!entries[0].solid && entries[1].solid && entries[2].solid);

        Rar::Unpack29 decoder;
        for (const Entry& e : entries) {
            MemorySource source(e.packed, 777);
            const Decoded d = pullAgainst(decoder, source, e.size, e.solid);
            QCOMPARE(d.status, Rar::UnpackStatus::End);
            QCOMPARE(d.crc, e.crc);
        }

        // The second entry alone, from a fresh decoder: it reads the first
        // entry's window and tables that are not there.
        {
            Rar::Unpack29 fresh;
            MemorySource source(entries[1].packed, 65536);
            const Decoded d = pullAgainst(fresh, source, entries[1].size, true);
            QVERIFY(d.chunksSound);
            QVERIFY(d.status == Rar::UnpackStatus::BadData || d.crc != entries[1].crc);
        }
        // The first entry begun and left before its end: the next fails.
        {
            Rar::Unpack29 partial;
            MemorySource first(entries[0].packed, 65536);
            partial.begin(first, entries[0].size, false);
            const unsigned char* p;
            size_t n;
            QCOMPARE(partial.next(p, n), Rar::UnpackStatus::Data);
            MemorySource second(entries[1].packed, 65536);
            QCOMPARE(pullAgainst(partial, second, entries[1].size, true).status, Rar::UnpackStatus::BadData);
            // A fresh start (not solid) works again.
            MemorySource again(entries[0].packed, 65536);
            const Decoded d = pullAgainst(partial, again, entries[0].size, false);
            QCOMPARE(d.status, Rar::UnpackStatus::End);
            QCOMPARE(d.crc, entries[0].crc);
        }
    }

    // Entries of different sets, one decoder, each started afresh, in an
    // order unlike the sets', packed data in odd pieces: nothing of one
    // entry leaks into the next (not even a PPMd model or a filter).
    void entriesInAnyOrder()
    {
        if (m_small.isEmpty())
            QSKIP("the samples are not there");
        Rar::Unpack29 decoder;
        QList<int> order;
        for (int i = int(m_small.size()) - 1; i >= 0; --i)
            order << i << i;
        for (int i = 0; i < m_small.size(); ++i)
            order << i;
        for (int i : order) {
            const Entry& e = m_small[i];
            MemorySource source(e.packed, 1 + 997 * size_t(i));
            const Decoded d = pullAgainst(decoder, source, e.size, false);
            QVERIFY2(d.status == Rar::UnpackStatus::End, qPrintable(e.name));
            QVERIFY(d.chunksSound);
            QVERIFY2(d.crc == e.crc, qPrintable(e.name));
        }
    }

    // Bytes of the packed data changed: every change before the last few
    // bytes is noticed, as bad data
    // or as a wrong CRC.
    void damagedDataFails()
    {
        if (m_small.isEmpty())
            QSKIP("the samples are not there");
        Rar::Unpack29 decoder;
        int badData = 0;
        int wrongCrc = 0;
        for (const Entry& e : m_small) {
            const qsizetype size = e.packed.size();
            if (size < 64)
                continue;
            // The last bytes hold the end marker and the range coder's last
            // bytes, which the entry's own bytes may not need.
            for (qsizetype pos = 0; pos + 16 < size; pos += std::max<qsizetype>(1, size / 41)) {
                for (const char mask : { char(0xff), char(0x01), char(0x80), char(0x24) }) {
                    QByteArray packed = e.packed;
                    packed[pos] = char(packed[pos] ^ mask);
                    MemorySource source(packed, 65536);
                    const Decoded d = pullAgainst(decoder, source, e.size, false, nullptr, false);
                    QVERIFY(d.chunksSound);
                    QVERIFY(d.total <= e.size);
                    if (d.status == Rar::UnpackStatus::BadData) {
                        ++badData;
                        continue;
                    }
                    QVERIFY2(d.status == Rar::UnpackStatus::End,
                             qPrintable(QStringLiteral("%1: byte %2 ^ %3: status %4").arg(e.name).arg(pos).arg(int(uchar(mask))).arg(int(d.status))));
                    QVERIFY2(d.crc != e.crc,
                             qPrintable(QStringLiteral("%1: byte %2 ^ %3 went unnoticed").arg(e.name).arg(pos).arg(int(uchar(mask)))));
                    ++wrongCrc;
                }
            }
        }
        qInfo("damaged: %d bad data, %d wrong CRC", badData, wrongCrc);
        QVERIFY(badData > 0);
    }

    // Packed data cut short, and an entry announced far larger than its
    // data: the decoder stops with bad data (or a wrong CRC) in bounded time.
    void truncatedDataFails()
    {
        if (m_small.isEmpty())
            QSKIP("the samples are not there");
        Rar::Unpack29 decoder;
        for (const Entry& e : m_small) {
            const qsizetype size = e.packed.size();
            for (const qsizetype cut : { qsizetype(0), qsizetype(1), size / 7, size / 2, size - 200, size - 80 }) {
                if (cut < 0)
                    continue;
                MemorySource source(e.packed.left(cut), 65536);
                const Decoded d = pullAgainst(decoder, source, e.size, false, nullptr, false);
                QVERIFY(d.chunksSound);
                QVERIFY2(d.status == Rar::UnpackStatus::BadData
                             || (d.status == Rar::UnpackStatus::End && d.crc != e.crc),
                         qPrintable(QStringLiteral("%1 cut to %2").arg(e.name).arg(cut)));
            }
            MemorySource source(e.packed, 65536);
            const Decoded d = pullAgainst(decoder, source, e.size + 64 * 1024 * 1024, false, nullptr, false);
            QVERIFY2(d.status == Rar::UnpackStatus::BadData, qPrintable(e.name));
            QVERIFY(d.chunksSound);
        }
    }

    // Streams written here: literals, then a filter whose program is none
    // of the standard ones. The literals alone decode (the stream is
    // sound); with the filter the entry is refused as unsupported, and a
    // program whose check byte is wrong is damaged data.
    void unknownFilterIsUnsupported()
    {
        const QByteArray text = "filters ahead";
        auto stream = [&](int filter) {
            BitWriter w;
            writeTables(w);
            for (char c : text.left(6))
                w.put(uchar(c), 9);
            if (filter)
                writeFilter(w, QByteArray("\x01\x02\x03\x04\x05\x06\x07", 7), 4, filter == 1);
            for (char c : text.mid(6))
                w.put(uchar(c), 9);
            w.put(0, 32);
            return w.bytes();
        };
        Rar::Unpack29 decoder;
        {
            MemorySource source(stream(0), 5);
            const Decoded d = pullAgainst(decoder, source, uint64_t(text.size()), false);
            QCOMPARE(d.status, Rar::UnpackStatus::End);
            QCOMPARE(d.bytes, text);
        }
        {
            MemorySource source(stream(1), 5);
            const Decoded d = pullAgainst(decoder, source, uint64_t(text.size()), false);
            QCOMPARE(d.status, Rar::UnpackStatus::Unsupported);
            QVERIFY(d.bytes.size() < text.size()); // nothing filtered comes out unfiltered
            // It stays refused, and the next entry of the stream too.
            const unsigned char* p;
            size_t n;
            QCOMPARE(decoder.next(p, n), Rar::UnpackStatus::Unsupported);
            MemorySource next(stream(0), 5);
            QCOMPARE(pullAgainst(decoder, next, uint64_t(text.size()), true).status, Rar::UnpackStatus::BadData);
        }
        {
            MemorySource source(stream(2), 5);
            const Decoded d = pullAgainst(decoder, source, uint64_t(text.size()), false);
            QCOMPARE(d.status, Rar::UnpackStatus::BadData);
        }
        // And after all that, a real entry decodes as ever.
        if (!m_small.isEmpty()) {
            MemorySource source(m_small.first().packed, 65536);
            const Decoded d = pullAgainst(decoder, source, m_small.first().size, false);
            QCOMPARE(d.status, Rar::UnpackStatus::End);
            QCOMPARE(d.crc, m_small.first().crc);
        }
    }
};

QTEST_GUILESS_MAIN(TestRarUnpack29)
#include "test_rar_unpack29.moc"
