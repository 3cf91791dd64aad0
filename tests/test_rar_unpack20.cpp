// The RAR 2.0 decoder on the real RAR 2.0 samples, read through the volume
// stream, against unar's extraction of the same archives. No sample holds a
// multimedia block, so archives with them are written here, symbol by
// symbol (random prediction errors over two to four channels, switches to
// LZ and back, a solid entry that goes on with the channels' state), and
// unar's extraction of them is the reference too. Then the packed data is
// damaged and cut short: the decoder must fail (bad data, or output whose
// CRC is wrong) and never crash, hang or run past the entry's size.
#include "RarFormat.h"
#include "RarStream.h"
#include "Unpack20.h"

#include "DecoderTesting.h"

#include <QtTest>

#include <algorithm>
#include <filesystem>
#include <random>

using namespace DecoderTesting;

namespace {

QString fixture(const char* name)
{
    return QStringLiteral(MERIK_SHARED_FIXTURES "/rar/") + QLatin1String(name);
}

QString rar2Sample() { return fixture("sharpcompress/Rar2.rar"); }
QString oldSample() { return fixture("test_read_format_rar.rar"); }

bool haveUnar() { return !QStandardPaths::findExecutable("unar").isEmpty(); }

uint32_t crcOf(const QByteArray& bytes) { return Rar::crc32(0, bytes.constData(), size_t(bytes.size())); }

struct Entry {
    QString name;
    uint64_t size = 0;
    uint32_t crc = 0;
    bool solid = false;
    QByteArray packed;
    qint64 offset = -1; // of the packed data in the archive file
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The compressed entries of an archive, with their packed data.
QList<Entry> readEntries(const QString& archive, QString* error)
{
    QList<Entry> entries;
    RarVolumeStream stream;
    if (int r = stream.open(QFile::encodeName(archive).toStdString())) {
        *error = QStringLiteral("open failed: %1").arg(r);
        return {};
    }
    const QByteArray file = readAll(archive);
    while (auto info = stream.nextEntry()) {
        const Rar::Block& h = info->header;
        if (h.directory || h.method == Rar::V4::kMethodStore)
            continue;
        Entry e;
        e.name = QString::fromStdString(Rar::utf8Name(h)).replace('\\', '/');
        e.size = h.unpackedSize;
        e.crc = info->finalCrc;
        e.solid = h.solidEntry;
        const void* b;
        ssize_t n;
        while ((n = stream.readEntryData(&b)) > 0)
            e.packed.append(static_cast<const char*>(b), qsizetype(n));
        e.offset = file.indexOf(e.packed);
        if (h.unpackVersion != 20 && h.unpackVersion != 26) {
            *error = e.name + " is not a RAR 2.0 entry";
            return {};
        }
        entries << e;
    }
    if (stream.error())
        *error = QStringLiteral("stream error %1").arg(stream.error());
    return entries;
}

// unar's files by name, or an error.
QMap<QString, QByteArray> unarExtract(const QString& archive, const QString& out, QString* error)
{
    QMap<QString, QByteArray> files;
    QProcess unar;
    unar.start("unar", { "-q", "-f", "-D", "-o", out, archive });
    if (!unar.waitForFinished(60000) || unar.exitCode() != 0) {
        *error = "unar failed on " + archive + ": " + QString::fromLocal8Bit(unar.readAllStandardError());
        return {};
    }
    QDirIterator it(out, QDir::Files | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        // A link's entry holds its target.
        const QByteArray bytes = QFileInfo(path).isSymLink()
            ? QByteArray::fromStdString(std::filesystem::read_symlink(QFile::encodeName(path).toStdString()).string())
            : readAll(path);
        files.insert(QDir(out).relativeFilePath(path), bytes);
    }
    return files;
}

// Every file entry of an archive through the volume stream, the way the
// archive layer reads it: stored ones copied, the others decoded with one
// decoder (solid entries go on from the one before). Names to bytes; the
// error names the first entry that failed or whose CRC is wrong.
QMap<QString, QByteArray> decodeArchive(const QString& archive, QString* error)
{
    QMap<QString, QByteArray> files;
    RarVolumeStream stream;
    if (int r = stream.open(QFile::encodeName(archive).toStdString())) {
        *error = QStringLiteral("open failed: %1").arg(r);
        return {};
    }
    auto decoder = Rar::makeUnpack20();
    while (auto info = stream.nextEntry()) {
        const Rar::Block& h = info->header;
        if (h.directory)
            continue;
        const QString name = QString::fromStdString(Rar::utf8Name(h)).replace('\\', '/');
        QByteArray bytes;
        if (h.method == Rar::V4::kMethodStore) {
            const void* b;
            ssize_t n;
            while ((n = stream.readEntryData(&b)) > 0)
                bytes.append(static_cast<const char*>(b), qsizetype(n));
        } else {
            RarEntrySource source(stream);
            const Decoded d = pull(*decoder, source, h.unpackedSize, h.solidEntry);
            if (d.status != Rar::UnpackStatus::End || !d.chunksSound) {
                if (error->isEmpty())
                    *error = QStringLiteral("%1: status %2").arg(name).arg(int(d.status));
                continue;
            }
            bytes = d.bytes;
        }
        if ((crcOf(bytes) != info->finalCrc || uint64_t(bytes.size()) != h.unpackedSize) && error->isEmpty())
            *error = name + ": CRC mismatch";
        files.insert(name, bytes);
    }
    if (stream.error() && error->isEmpty())
        *error = QStringLiteral("stream error %1").arg(stream.error());
    return files;
}

// --- Writing RAR 2.0 data with multimedia blocks -------------------------

class BitWriter {
public:
    void put(uint32_t value, unsigned n)
    {
        for (unsigned i = n; i-- > 0;) {
            if (m_bits % 8 == 0)
                m_bytes.append('\0');
            if ((value >> i) & 1)
                m_bytes[m_bytes.size() - 1] = char(m_bytes.back() | (0x80 >> (m_bits % 8)));
            ++m_bits;
        }
    }
    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    uint64_t m_bits = 0;
};

struct Code {
    uint32_t bits = 0;
    unsigned length = 0;
};

// The canonical code the archiver gives these lengths.
std::vector<Code> canonical(const std::vector<uint8_t>& lengths)
{
    std::vector<Code> codes(lengths.size());
    uint32_t next = 0;
    for (unsigned n = 1; n < 16; ++n) {
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] == n)
                codes[s] = { next++, n };
        next <<= 1;
    }
    return codes;
}

// A stream of RAR 2.0 blocks, written the way the archiver lays them out.
class Rar2Writer {
public:
    explicit Rar2Writer(unsigned seed) : m_random(seed) {}

    void audioTables(unsigned channels, bool keep)
    {
        m_out.put(1, 1);
        m_out.put(keep, 1);
        m_out.put(channels - 1, 2);
        // 255 prediction errors of 8 bits and two codes of 9 (one of
        // them the switch back), in a different order for each channel.
        std::vector<uint8_t> lengths;
        for (unsigned c = 0; c < channels; ++c) {
            std::vector<uint8_t> l(255, 8);
            l.push_back(9);
            l.push_back(9);
            std::shuffle(l.begin(), l.end(), m_random);
            lengths.insert(lengths.end(), l.begin(), l.end());
        }
        writeLengths(lengths, keep);
        m_channelCodes.clear();
        for (unsigned c = 0; c < channels; ++c)
            m_channelCodes.push_back(canonical({ lengths.begin() + c * 257, lengths.begin() + (c + 1) * 257 }));
        m_channel = m_channel < channels ? m_channel : 0;
        m_audio = true;
    }

    // Literals only, with the switch to new tables. With `repeatShortest`,
    // half the literals and the repeat of the last match, whose code is the
    // single bit 0 (the bits read past the end of the data).
    void lzTables(bool keep, bool repeatShortest = false)
    {
        m_out.put(0, 1);
        m_out.put(keep, 1);
        std::vector<uint8_t> lengths(298 + 48 + 28, 0);
        if (repeatShortest) {
            std::fill(lengths.begin(), lengths.begin() + 128, 8);
            lengths[256] = 1;
        } else {
            std::fill(lengths.begin(), lengths.begin() + 253, 8);
            std::fill(lengths.begin() + 253, lengths.begin() + 256, 9);
            lengths[269] = 9;
        }
        writeLengths(lengths, keep);
        m_lzCodes = canonical({ lengths.begin(), lengths.begin() + 298 });
        m_audio = false;
    }

    // `count` samples: small prediction errors, or any byte.
    void samples(unsigned count, bool small)
    {
        std::uniform_int_distribution<int> smallError(-6, 6), anyError(0, 255);
        for (unsigned i = 0; i < count; ++i) {
            const unsigned e = unsigned(small ? smallError(m_random) : anyError(m_random)) & 0xff;
            put(m_channelCodes[m_channel][e]);
            m_channel = (m_channel + 1) % unsigned(m_channelCodes.size());
        }
        m_size += count;
    }
    void literals(unsigned count)
    {
        std::uniform_int_distribution<int> any(0, 255);
        for (unsigned i = 0; i < count; ++i)
            put(m_lzCodes[size_t(any(m_random))]);
        m_size += count;
    }
    // The code that new tables follow.
    void switchTables() { put(m_audio ? m_channelCodes[m_channel][256] : m_lzCodes[269]); }

    // Ends the current entry's data; the next entry's starts afresh.
    void endEntry()
    {
        m_entries.push_back({ m_out.bytes(), m_size });
        m_out = BitWriter();
        m_size = 0;
    }
    struct Data {
        QByteArray packed;
        uint64_t size;
    };
    const std::vector<Data>& entries() const { return m_entries; }

private:
    void put(const Code& c) { m_out.put(c.bits, c.length); }
    void writeLengths(const std::vector<uint8_t>& lengths, bool keep)
    {
        if (!keep)
            std::fill(std::begin(m_old), std::end(m_old), 0);
        // Level codes 0..15 (differences) of 4 bits each; no runs.
        std::vector<uint8_t> levels(19, 0);
        std::fill(levels.begin(), levels.begin() + 16, 4);
        for (uint8_t l : levels)
            m_out.put(l, 4);
        const std::vector<Code> levelCodes = canonical(levels);
        for (size_t i = 0; i < lengths.size(); ++i)
            put(levelCodes[(lengths[i] - m_old[i]) & 15]);
        std::copy(lengths.begin(), lengths.end(), m_old);
    }

    std::mt19937 m_random;
    BitWriter m_out;
    uint64_t m_size = 0;
    std::vector<Data> m_entries;
    uint8_t m_old[257 * 4] = {};
    std::vector<std::vector<Code>> m_channelCodes;
    std::vector<Code> m_lzCodes;
    unsigned m_channel = 0;
    bool m_audio = false;
};

// Entries of multimedia data; with `announce` the first entry ends with the
// switch to the second entry's tables, after its last byte (as the archiver
// does in a solid archive); with `joined` both are one entry.
std::vector<Rar2Writer::Data> audioEntries(unsigned seed, bool announce, bool joined)
{
    Rar2Writer w(seed);
    w.audioTables(2, false);
    w.samples(3000, true);
    w.samples(500, false);
    w.switchTables();
    w.lzTables(true); // differences against the channels' lengths
    w.literals(700);
    w.switchTables();
    w.audioTables(4, true);
    w.samples(4001, true);
    if (announce) {
        w.switchTables();
        w.audioTables(3, false);
    }
    if (!joined)
        w.endEntry();
    w.samples(5000, true);
    w.samples(77, false);
    w.endEntry();
    return w.entries();
}

// A RAR 2.0 archive of these entries; solid when there are several. Each
// entry's CRC is what our decoder makes of it: unar's extraction is then
// compared byte for byte, and would fail on any difference.
QByteArray archiveOf(const std::vector<Rar2Writer::Data>& entries)
{
    QByteArray out("Rar!\x1a\x07\x00", 7);
    auto append = [&](const std::vector<unsigned char>& v) {
        out.append(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
    };
    append(Rar::buildV4Block(Rar::V4::kMain, entries.size() > 1 ? Rar::V4::kMainSolid : 0,
                             std::vector<unsigned char>(6, 0)));
    Rar::Unpack20 decoder;
    for (size_t i = 0; i < entries.size(); ++i) {
        MemorySource source(entries[i].packed, 1000);
        const Decoded d = pull(decoder, source, entries[i].size, i > 0);
        Rar::V4FileFields f;
        f.flags = uint16_t(Rar::V4::kLongBlock | (i > 0 ? Rar::V4::kFileSolid : 0));
        f.packSize = uint64_t(entries[i].packed.size());
        f.unpackedSize = entries[i].size;
        f.crc = crcOf(d.bytes);
        f.dosTime = Rar::dosTimeFromUnix(1000000000);
        f.unpackVersion = 20;
        f.method = Rar::V4::kMethodBest;
        f.attributes = 0x20;
        f.hostOS = Rar::V4::kHostWin32;
        f.name = "sound" + std::to_string(i) + ".raw";
        append(Rar::buildV4FileHeader(f));
        out.append(entries[i].packed);
    }
    append(Rar::buildV4Block(Rar::V4::kEnd, Rar::V4::kSkipIfUnknown, {}));
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

}

class TestRarUnpack20 : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    // Our decoding of `archive` equals unar's, file for file.
    void compareWithUnar(const QString& archive, const QString& tag)
    {
        QString error;
        const QMap<QString, QByteArray> reference = unarExtract(archive, m_dir.filePath("unar-" + tag), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QMap<QString, QByteArray> ours = decodeArchive(archive, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(ours.keys(), reference.keys());
        for (auto it = reference.begin(); it != reference.end(); ++it)
            QVERIFY2(ours.value(it.key()) == it.value(), qPrintable(tag + ": " + it.key()));
    }

    // Damages the packed data of each compressed entry of `archive`, one
    // byte at a time at spread positions: every entry must fail or come out
    // exactly as before (a flip in the padding after the last code changes
    // nothing), never differ unnoticed. Most flips must be noticed.
    void damage(const QString& archive, const QString& tag)
    {
        QString error;
        const QList<Entry> entries = readEntries(archive, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QMap<QString, QByteArray> sound = decodeArchive(archive, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QByteArray file = readAll(archive);
        const QString copy = m_dir.filePath("damaged-" + tag + ".rar");
        int flips = 0, noticed = 0;
        for (const Entry& e : entries) {
            QVERIFY(e.offset > 0);
            for (int k = 0; k < 24; ++k) {
                const qint64 at = e.offset + e.packed.size() * k / 24;
                for (const char mask : { '\x01', '\x5a', '\xff' }) {
                    QByteArray damaged = file;
                    damaged[at] = char(damaged[at] ^ mask);
                    writeFile(copy, damaged);
                    QString failure;
                    const QMap<QString, QByteArray> out = decodeArchive(copy, &failure);
                    ++flips;
                    if (!failure.isEmpty()) {
                        ++noticed;
                        continue;
                    }
                    // Not noticed: then nothing may have changed.
                    for (auto it = sound.begin(); it != sound.end(); ++it)
                        QVERIFY2(out.value(it.key()) == it.value(),
                                 qPrintable(QStringLiteral("%1: byte %2 ^ %3 changed %4 unnoticed")
                                                .arg(tag).arg(at).arg(int(uchar(mask))).arg(it.key())));
                }
            }
        }
        qInfo("%s: %d of %d damaged archives failed", qPrintable(tag), noticed, flips);
        QVERIFY(noticed * 10 >= flips * 9);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void samplesMatchUnar()
    {
        if (!QFileInfo::exists(rar2Sample()))
            QSKIP("the RAR 2.0 samples are not there (" MERIK_SHARED_FIXTURES "/rar)");
        if (!haveUnar())
            QSKIP("unar is not installed");
        compareWithUnar(rar2Sample(), "rar2");
        compareWithUnar(oldSample(), "old");
    }

    // One decoder for many entries, each afresh, in odd pieces; the window
    // wraps around several times (its positions run on from entry to
    // entry), with matches across the wrap.
    void manyEntriesThroughOneDecoder()
    {
        if (!QFileInfo::exists(rar2Sample()))
            QSKIP("the RAR 2.0 sample is not there");
        QString error;
        const QList<Entry> entries = readEntries(rar2Sample(), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(entries.size(), 3);
        Rar::Unpack20 decoder;
        uint64_t total = 0;
        for (int round = 0; round < 40; ++round) {
            for (const Entry& e : entries) {
                // A first entry marked solid starts fresh too.
                MemorySource source(e.packed, size_t(1 + (round * 37) % 5000));
                const Decoded d = pull(decoder, source, e.size, round == 0 && total == 0);
                QCOMPARE(d.status, Rar::UnpackStatus::End);
                QVERIFY(d.chunksSound);
                QCOMPARE(crcOf(d.bytes), e.crc);
                total += e.size;
            }
        }
        QVERIFY(total > 3 * (1u << 20));
    }

    // Multimedia blocks over two, four and three channels, LZ between them
    // with lengths coded against the channels', and a solid second entry
    // that goes on with the predictors' state: as unar extracts them.
    void audioBlocksMatchUnar()
    {
        if (!haveUnar())
            QSKIP("unar is not installed");
        for (unsigned seed : { 1u, 2u, 3u }) {
            const QString path = m_dir.filePath(QStringLiteral("sound%1.rar").arg(seed));
            writeFile(path, archiveOf(audioEntries(seed, false, false)));
            compareWithUnar(path, QStringLiteral("sound%1").arg(seed));
        }
    }

    // New tables for the next solid entry announced after an entry's last
    // byte: the two entries come out as the one entry with the same symbols
    // does in unar (which has no such announcement itself, so it gets the
    // joined entry, where the switch lies inside the data).
    void tablesAnnouncedAtEntryEnd()
    {
        if (!haveUnar())
            QSKIP("unar is not installed");
        const QString joined = m_dir.filePath("joined.rar");
        writeFile(joined, archiveOf(audioEntries(7, true, true)));
        QString error;
        const QMap<QString, QByteArray> reference = unarExtract(joined, m_dir.filePath("unar-joined"), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(reference.size(), 1);

        const QString split = m_dir.filePath("split.rar");
        writeFile(split, archiveOf(audioEntries(7, true, false)));
        const QMap<QString, QByteArray> ours = decodeArchive(split, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(ours.size(), 2);
        QVERIFY(ours.value("sound0.raw") + ours.value("sound1.raw") == reference.first());
    }

    void damagedSamples()
    {
        if (!QFileInfo::exists(rar2Sample()))
            QSKIP("the RAR 2.0 sample is not there");
        damage(rar2Sample(), "rar2");
    }

    void damagedAudio()
    {
        const QString path = m_dir.filePath("sound-damage.rar");
        writeFile(path, archiveOf(audioEntries(11, true, false)));
        damage(path, "sound");
    }

    // Repeats of the last match before there was one (length 0) take no
    // output; past the end of the data every symbol read is one: bad data,
    // soon, rather than a loop for ever.
    void repeatsOfNothingPastTheEnd()
    {
        Rar2Writer writer(1);
        writer.lzTables(false, true);
        writer.endEntry();
        Rar::Unpack20 decoder;
        MemorySource source(writer.entries()[0].packed, 64);
        const Decoded d = pull(decoder, source, 1000, false);
        QCOMPARE(d.status, Rar::UnpackStatus::BadData);
        QVERIFY(d.bytes.isEmpty());
    }

    // Data cut short, or far too little of it for the size the header
    // claims: bad data, soon, and never more than the entry's size.
    void truncatedData()
    {
        QList<Entry> entries;
        if (QFileInfo::exists(rar2Sample())) {
            QString error;
            entries = readEntries(rar2Sample(), &error);
            QVERIFY2(error.isEmpty(), qPrintable(error));
        }
        for (const Rar2Writer::Data& d : audioEntries(5, false, true))
            entries.append({ "sound", d.size, 0, false, d.packed, -1 });
        for (const Entry& e : entries) {
            for (const qsizetype keep : { qsizetype(0), qsizetype(1), qsizetype(9), e.packed.size() / 3,
                                          e.packed.size() * 9 / 10 }) {
                Rar::Unpack20 decoder;
                MemorySource source(e.packed.left(keep), 777);
                const Decoded d = pull(decoder, source, e.size, false);
                QVERIFY(d.chunksSound);
                QVERIFY2(d.status == Rar::UnpackStatus::BadData, qPrintable(e.name));
            }
            // A size in the terabytes: the data runs out long before.
            Rar::Unpack20 decoder;
            MemorySource source(e.packed, 4096);
            const Decoded d = pull(decoder, source, uint64_t(1) << 40, false);
            QCOMPARE(d.status, Rar::UnpackStatus::BadData);
            QVERIFY(d.chunksSound);
        }
    }

    // After a failed entry the solid stream is broken: the next solid entry
    // fails too rather than coming out wrong; a fresh entry starts over.
    void failureBreaksTheSolidStream()
    {
        const std::vector<Rar2Writer::Data> entries = audioEntries(9, false, false);
        Rar::Unpack20 decoder;
        MemorySource cut(entries[0].packed.left(entries[0].packed.size() / 2), 4096);
        QCOMPARE(pull(decoder, cut, entries[0].size, false).status, Rar::UnpackStatus::BadData);
        MemorySource second(entries[1].packed, 4096);
        QCOMPARE(pull(decoder, second, entries[1].size, true).status, Rar::UnpackStatus::BadData);

        MemorySource first(entries[0].packed, 4096);
        const Decoded a = pull(decoder, first, entries[0].size, false);
        QCOMPARE(a.status, Rar::UnpackStatus::End);
        MemorySource again(entries[1].packed, 4096);
        const Decoded b = pull(decoder, again, entries[1].size, true);
        QCOMPARE(b.status, Rar::UnpackStatus::End);
        // The same as a decoder that never failed.
        Rar::Unpack20 clean;
        MemorySource c1(entries[0].packed, 100), c2(entries[1].packed, 100);
        QVERIFY(pull(clean, c1, entries[0].size, false).bytes == a.bytes);
        QVERIFY(pull(clean, c2, entries[1].size, true).bytes == b.bytes);
    }
};

QTEST_GUILESS_MAIN(TestRarUnpack20)
#include "test_rar_unpack20.moc"
