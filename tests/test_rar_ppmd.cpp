// The PPMd model of the RAR 2.9 method. Through the RAR 2.9 decoder: the
// samples with PPM blocks against unar's extraction, and archives written
// here with the model's own encoder (small model memory, so that the model
// fills up and starts again many times; blocks that keep the model and
// change the escape byte) against unar and against the data they hold.
// Damaged and cut PPM data must fail (bad data, or a wrong CRC), never
// crash or hang. On the model itself: the block parameters, damage that
// stays final, and memory that stays within the model's size.
#include "Ppmd.h"
#include "RarFormat.h"
#include "RarStream.h"
#include "Unpack29.h"

#include "DecoderTesting.h"

#include <QtTest>

#include <algorithm>
#include <cstring>
#include <fstream>

using namespace DecoderTesting;

namespace {

uint32_t crcOf(const QByteArray& bytes)
{
    return Rar::crc32(0, bytes.constData(), size_t(bytes.size()));
}

// Test data: text of words and numbers, then records of slowly changing
// binary fields, from a fixed seed.
QByteArray generatedData(qsizetype size, uint32_t seed)
{
    QByteArray out;
    out.reserve(size);
    uint32_t x = seed;
    auto next = [&x] {
        x = x * 1664525u + 1013904223u;
        return x >> 8;
    };
    QList<QByteArray> words;
    for (int i = 0; i < 700; ++i) {
        QByteArray w;
        const int length = 2 + int(next() % 9);
        for (int k = 0; k < length; ++k)
            w.append(char('a' + next() % 26));
        words << w;
    }
    while (out.size() < size / 2) {
        const uint32_t r = next();
        // Frequent words far more often than rare ones.
        out.append(words[int((r % 700) * (r % 700) / 700)]);
        if (r % 13 == 0)
            out.append(QByteArray::number(int(next() % 100000)));
        out.append(r % 17 == 0 ? "\n" : (r % 11 == 0 ? ", " : " "));
    }
    uint32_t a = 0, b = 0x12345678;
    while (out.size() < size) {
        a += next() % 5;
        b ^= next() & 0x10101;
        char record[12];
        std::memcpy(record, &a, 4);
        std::memcpy(record + 4, &b, 4);
        const uint32_t c = next();
        std::memcpy(record + 8, &c, 1);
        std::memset(record + 9, 0, 3);
        out.append(record, sizeof record);
    }
    out.truncate(size);
    return out;
}

struct Config {
    unsigned order;
    unsigned memoryMB;
    qsizetype blockBytes;        // a new block keeping the model every so many bytes; 0: one block
    bool endMarker = true;       // the escape code that ends the data
};

// `data` as the packed data of one RAR 2.9 entry made of PPM blocks.
QByteArray encode(const QByteArray& data, const Config& config)
{
    Rar::PpmdHEncoder encoder;
    std::vector<uint8_t> packed;
    int escape = 2;
    if (!encoder.startBlock(packed, config.order, config.memoryMB))
        return {};
    qsizetype inBlock = 0;
    for (const char c : data) {
        if (config.blockBytes && inBlock == config.blockBytes) {
            if (!encoder.encodeChar(uint8_t(escape)) || !encoder.encodeChar(0))
                return {};
            encoder.finishBlock();
            // A new escape byte, one the data holds often.
            escape = escape == ' ' ? 'e' : ' ';
            if (!encoder.startBlock(packed, 0, 0, escape))
                return {};
            inBlock = 0;
        }
        const uint8_t byte = uint8_t(c);
        if (!encoder.encodeChar(byte) || (byte == escape && !encoder.encodeChar(1)))
            return {};
        ++inBlock;
    }
    if (config.endMarker && (!encoder.encodeChar(uint8_t(escape)) || !encoder.encodeChar(2)))
        return {};
    encoder.finishBlock();
    return QByteArray(reinterpret_cast<const char*>(packed.data()), qsizetype(packed.size()));
}

void put16(QByteArray& b, unsigned v)
{
    b.append(char(v & 0xff));
    b.append(char((v >> 8) & 0xff));
}

void put32(QByteArray& b, uint32_t v)
{
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}

void appendBlock(QByteArray& archive, const QByteArray& block)
{
    put16(archive, Rar::crc32(0, block.constData(), size_t(block.size())) & 0xffff);
    archive.append(block);
}

// A RAR 4 archive of one entry "data.bin" with the RAR 2.9 method.
QByteArray archiveOf(const QByteArray& data, const QByteArray& packed)
{
    QByteArray archive("Rar!\x1a\x07\x00", 7);
    QByteArray main;
    main.append(char(0x73));
    put16(main, 0);
    put16(main, 13);
    main.append(6, '\0');
    appendBlock(archive, main);
    const QByteArray name("data.bin");
    QByteArray file;
    file.append(char(0x74));
    put16(file, 0x8000 | 0xC0); // a 4 MB window
    put16(file, unsigned(32 + name.size()));
    put32(file, uint32_t(packed.size()));
    put32(file, uint32_t(data.size()));
    file.append(char(3)); // Unix
    put32(file, crcOf(data));
    put32(file, 0x5a210000); // 2025-01-01
    file.append(char(29));
    file.append(char(0x35));
    put16(file, unsigned(name.size()));
    put32(file, 0100644);
    file.append(name);
    appendBlock(archive, file);
    archive.append(packed);
    QByteArray end;
    end.append(char(0x7b));
    put16(end, 0x4000);
    put16(end, 7);
    appendBlock(archive, end);
    return archive;
}

bool haveUnar()
{
    return !QStandardPaths::findExecutable("unar").isEmpty();
}

// Extracts `archive` with unar into `out`.
bool unarInto(const QString& archive, const QString& out)
{
    QProcess unar;
    unar.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    unar.start("unar", { "-q", "-f", "-D", "-o", out, archive });
    return unar.waitForFinished(300000) && unar.exitStatus() == QProcess::NormalExit && unar.exitCode() == 0;
}

// Decodes every compressed entry of a set with one RAR 2.9 decoder and
// compares it, chunk after chunk, with unar's file of the same name.
void compareSetWithUnar(const QString& firstVolume, const QString& referenceDir, int* compared)
{
    RarVolumeStream stream;
    QCOMPARE(stream.open(QFile::encodeName(firstVolume).toStdString()), 0);
    Rar::Unpack29 decoder;
    while (auto info = stream.nextEntry()) {
        const Rar::Block& h = info->header;
        if (h.directory || h.method == Rar::V4::kMethodStore)
            continue;
        const QString name = QString::fromStdString(Rar::utf8Name(h)).replace('\\', '/');
        QVERIFY2(h.unpackVersion == 29, qPrintable(name));
        QFile reference(referenceDir + "/" + name);
        QVERIFY2(reference.open(QIODevice::ReadOnly), qPrintable(name));
        QCOMPARE(uint64_t(reference.size()), h.unpackedSize);
        RarEntrySource source(stream);
        decoder.begin(source, h.unpackedSize, h.solidEntry);
        uint64_t total = 0;
        uint32_t crc = 0;
        for (uint64_t calls = 0;; ++calls) {
            QVERIFY(calls <= h.unpackedSize + 1);
            const unsigned char* p = nullptr;
            size_t n = 0;
            const Rar::UnpackStatus st = decoder.next(p, n);
            if (st == Rar::UnpackStatus::End)
                break;
            QVERIFY2(st == Rar::UnpackStatus::Data, qPrintable(name));
            QVERIFY(n > 0 && n <= Rar::Unpacker::kMaxChunk);
            const QByteArray expected = reference.read(qint64(n));
            QVERIFY2(expected.size() == qsizetype(n)
                         && std::memcmp(expected.constData(), p, n) == 0,
                     qPrintable(QStringLiteral("%1 differs in bytes %2 to %3").arg(name).arg(total).arg(total + n)));
            crc = Rar::crc32(crc, p, n);
            total += n;
        }
        QCOMPARE(total, h.unpackedSize);
        QCOMPARE(crc, info->finalCrc);
        ++*compared;
    }
    QCOMPARE(stream.error(), 0);
}

QByteArray rawBlock(std::initializer_list<int> bytes)
{
    QByteArray b;
    for (int v : bytes)
        b.append(char(v));
    return b;
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

}

class TestRarPpmd : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void samplesMatchUnar_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::newRow("best") << "test_read_format_rar_compress_best.rar";
        QTest::newRow("ppmd-lz") << "test_read_format_rar_ppmd_lzss_conversion.rar";
        QTest::newRow("volumes") << "test_read_format_rar_multivolume.part0001.rar";
    }
    void samplesMatchUnar()
    {
        QFETCH(QString, archive);
        const QString path = QStringLiteral(MERIK_SHARED_FIXTURES "/rar/") + archive;
        if (!QFileInfo::exists(path))
            QSKIP("the sample is not there (" MERIK_SHARED_FIXTURES "/rar)");
        if (!haveUnar())
            QSKIP("unar is not installed");
        const QString out = m_dir.filePath(QFileInfo(archive).baseName());
        QVERIFY(unarInto(path, out));
        int compared = 0;
        compareSetWithUnar(path, out, &compared);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(compared > 0);
        QDir(out).removeRecursively();
    }

    // The model filling its memory and starting again, gluing free blocks,
    // every order class, kept models across blocks, escape bytes the data
    // holds: unar reads what the encoder wrote, and so does our decoder.
    void writtenArchivesMatchUnar_data()
    {
        QTest::addColumn<unsigned>("order");
        QTest::addColumn<unsigned>("memoryMB");
        QTest::addColumn<qsizetype>("blockBytes");
        QTest::addColumn<qsizetype>("size");
        QTest::newRow("order 8, 1 MB") << 8u << 1u << qsizetype(0) << qsizetype(3 << 20);
        QTest::newRow("order 64, 1 MB, blocks") << 64u << 1u << qsizetype(300001) << qsizetype(2 << 20);
        QTest::newRow("order 2, 2 MB") << 2u << 2u << qsizetype(0) << qsizetype(2 << 20);
        QTest::newRow("order 22, 1 MB, blocks") << 22u << 1u << qsizetype(77777) << qsizetype(1 << 20);
        QTest::newRow("order 16, 8 MB") << 16u << 8u << qsizetype(0) << qsizetype(1 << 20);
    }
    void writtenArchivesMatchUnar()
    {
        QFETCH(unsigned, order);
        QFETCH(unsigned, memoryMB);
        QFETCH(qsizetype, blockBytes);
        QFETCH(qsizetype, size);
        const QByteArray data = generatedData(size, order * 1000 + memoryMB);
        const QByteArray packed = encode(data, { order, memoryMB, blockBytes });
        QVERIFY(!packed.isEmpty());
        QVERIFY(packed.size() < data.size() / 2);
        const QString archive = m_dir.filePath(QStringLiteral("written-%1-%2.rar").arg(order).arg(memoryMB));
        {
            QFile f(archive);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(archiveOf(data, packed)), qint64(packed.size() + 7 + 13 + 40 + 7));
        }

        // Our decoder, through the volume stream.
        RarVolumeStream stream;
        QCOMPARE(stream.open(QFile::encodeName(archive).toStdString()), 0);
        auto info = stream.nextEntry();
        QVERIFY(info);
        RarEntrySource source(stream);
        Rar::Unpack29 decoder;
        const Decoded d = pull(decoder, source, uint64_t(data.size()), false);
        QCOMPARE(d.status, Rar::UnpackStatus::End);
        QVERIFY(d.chunksSound);
        QVERIFY(d.bytes == data);
        QCOMPARE(crcOf(d.bytes), info->finalCrc);

        if (!haveUnar())
            QSKIP("unar is not installed");
        const QString out = m_dir.filePath("unar-written");
        QDir(out).removeRecursively();
        QVERIFY(unarInto(archive, out));
        QFile extracted(out + "/data.bin");
        QVERIFY(extracted.open(QIODevice::ReadOnly));
        QVERIFY(extracted.readAll() == data);
        QFile::remove(archive);
    }

    // One byte changed anywhere in the PPM data: bad data or a wrong CRC,
    // within the entry's size; cut short likewise.
    void damagedData()
    {
        const QByteArray data = generatedData(400000, 7);
        const QByteArray packed = encode(data, { 8, 1, 0 });
        QVERIFY(!packed.isEmpty());
        const uint32_t crc = crcOf(data);
        Rar::Unpack29 decoder;
        int badData = 0;
        const int trials = 150;
        for (int i = 0; i < trials; ++i) {
            QByteArray damaged = packed;
            // Past the block header, short of the end marker and the
            // coder's last bytes, which decoding the data may not need.
            const qsizetype at = 2 + qsizetype((packed.size() - 18) * i / trials);
            damaged[at] = char(damaged[at] ^ (1 << (i % 8)));
            MemorySource source(damaged, 1000 + size_t(i) * 37);
            const Decoded d = pull(decoder, source, uint64_t(data.size()), false);
            QVERIFY(d.chunksSound);
            QVERIFY2(d.status == Rar::UnpackStatus::BadData
                         || (d.status == Rar::UnpackStatus::End && crcOf(d.bytes) != crc),
                     qPrintable(QStringLiteral("byte %1 changed went unnoticed").arg(at)));
            badData += d.status == Rar::UnpackStatus::BadData;
        }
        QVERIFY(badData > 0);

        for (const qsizetype cut : { qsizetype(1), qsizetype(4), packed.size() / 3, packed.size() - 100 }) {
            MemorySource source(packed.left(cut), 4096);
            const Decoded d = pull(decoder, source, uint64_t(data.size()), false);
            QVERIFY(d.chunksSound);
            QVERIFY(d.status == Rar::UnpackStatus::BadData
                    || (d.status == Rar::UnpackStatus::End && crcOf(d.bytes) != crc));
        }
        // Still sound afterwards.
        MemorySource source(packed, 65536);
        const Decoded d = pull(decoder, source, uint64_t(data.size()), false);
        QCOMPARE(d.status, Rar::UnpackStatus::End);
        QVERIFY(d.bytes == data);
    }

    void blockParameters()
    {
        Rar::PpmdH ppm;
        Rar::BitInput in;
        int escape = 2;
        // A block keeping a model that does not exist.
        MemorySource kept(rawBlock({ 0x87, 0, 0, 0, 0 }), 64);
        in.start(&kept);
        QVERIFY(!ppm.startBlock(in, escape));
        // Order 1 is no PPM order.
        MemorySource order1(rawBlock({ 0xA0, 0, 0, 0, 0, 0 }), 64);
        in.start(&order1);
        QVERIFY(!ppm.startBlock(in, escape));
        // A new model with a new escape byte.
        MemorySource fresh(rawBlock({ 0xE7, 0, 0x55, 0, 0, 0, 0 }), 64);
        in.start(&fresh);
        QVERIFY(ppm.startBlock(in, escape));
        QCOMPARE(escape, 0x55);
        QVERIFY(ppm.decodeChar() >= 0);
        // Kept: the same model goes on; forgotten: none to keep.
        MemorySource again(rawBlock({ 0x87, 0, 0, 0, 0 }), 64);
        in.start(&again);
        QVERIFY(ppm.startBlock(in, escape));
        QCOMPARE(escape, 0x55);
        ppm.reset();
        MemorySource afterReset(rawBlock({ 0x87, 0, 0, 0, 0 }), 64);
        in.start(&afterReset);
        QVERIFY(!ppm.startBlock(in, escape));
        QCOMPARE(ppm.decodeChar(), -1);
        // The largest model the header can ask for.
        MemorySource largest(rawBlock({ 0xA7, 0xFF, 0, 0, 0, 0 }), 64);
        in.start(&largest);
        QVERIFY(ppm.startBlock(in, escape));
        // A header and nothing after it: the data ran out.
        MemorySource cut(rawBlock({ 0xA7 }), 64);
        in.start(&cut);
        if (ppm.startBlock(in, escape)) {
            int calls = 0;
            while (calls < 10000000 && ppm.decodeChar() >= 0)
                ++calls;
            QVERIFY(calls < 10000000);
        }
    }

    // Noise is damaged data: it ends in -1 soon, each call returns, and the
    // model stays broken until a block starts a new one.
    void noiseFailsAndStaysFailed()
    {
        uint32_t x = 99;
        for (int round = 0; round < 20; ++round) {
            QByteArray noise;
            for (int i = 0; i < 300000; ++i) {
                x = x * 1103515245u + 12345u;
                noise.append(char(x >> 23));
            }
            noise[0] = char(0xA0 | (round + 1)); // orders 2 to 16, then 19, 22, ...
            noise[1] = char(round % 3);
            MemorySource source(noise, 777);
            Rar::BitInput in;
            in.start(&source);
            Rar::PpmdH ppm;
            int escape = 2;
            QVERIFY(ppm.startBlock(in, escape));
            int calls = 0;
            int c = 0;
            while (calls < 10000000 && (c = ppm.decodeChar()) >= 0) {
                QVERIFY(c < 256);
                ++calls;
            }
            QCOMPARE(c, -1);
            QCOMPARE(ppm.decodeChar(), -1);
        }
    }

    // A long stream through a 1 MB model: decoded right, and the process
    // does not grow by more than the model (it starts again instead).
    void memoryStaysWithinModel()
    {
        const QByteArray data = generatedData(6 << 20, 3);
        const QByteArray packed = encode(data, { 6, 1, 0, false });
        QVERIFY(!packed.isEmpty());
        MemorySource source(packed, 65536);
        Rar::BitInput in;
        in.start(&source);
        Rar::PpmdH ppm;
        int escape = 2;
        const long before = residentKiB();
        QVERIFY(ppm.startBlock(in, escape));
        qsizetype i = 0;
        for (; i < data.size(); ++i) {
            int c = ppm.decodeChar();
            if (c == escape) {
                QCOMPARE(ppm.decodeChar(), 1);
            }
            if (c != uint8_t(data[i]))
                break;
        }
        QCOMPARE(i, data.size());
        const long after = residentKiB();
        QVERIFY(before > 0 && after > 0);
        QVERIFY2(after - before < 4096, qPrintable(QStringLiteral("grew by %1 KiB").arg(after - before)));
    }
};

QTEST_GUILESS_MAIN(TestRarPpmd)
#include "test_rar_ppmd.moc"
