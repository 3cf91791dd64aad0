// The RAR 1.5 decoder on the real RAR 1.5 sample, read through the volume
// stream, against unar's extraction of the same archive; then on its packed
// data damaged and cut short, where it must fail (bad data, or output whose
// CRC is wrong) and never crash, hang or run past the entry's size.
#include "RarFormat.h"
#include "RarStream.h"
#include "Unpack15.h"

#include "DecoderTesting.h"

#include <QtTest>

#include <algorithm>
#include <cstring>

using namespace DecoderTesting;

namespace {

QString samplePath()
{
    return QStringLiteral(MERIK_SHARED_FIXTURES "/rar/sharpcompress/Rar15.rar");
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

// A small RAR 1.5 writer, so that there are samples of what the archiver's
// own sample lacks: entries larger than the decoder's ring, and solid
// archives. It models the method the way the decoder does and codes
// literals, short matches (distance up to 256) and long matches (up to
// 32 KiB), choosing by a simple hash match finder; unar, which knows the
// method independently, is the judge of what it writes.
class Rar15Writer {
public:
    // An entry's packed data; with `solid` the model and window carry on
    // from the entry before, as in a solid archive.
    QByteArray entry(const QByteArray& data, bool solid)
    {
        if (!solid || !m_started)
            reset();
        m_started = true;
        m_out.clear();
        m_acc = 0;
        m_accBits = 0;
        const qsizetype start = m_history.size();
        m_history.append(data);
        parse(start);
        m_flagsCnt = 0;
        m_stMode = false;
        if (!m_ops.empty()) {
            writeFlags(lookahead(0, false));
            m_flagsCnt = 8;
        }
        for (size_t i = 0; i < m_ops.size();) {
            const Op& op = m_ops[i];
            if (m_stMode) {
                if (op.length == 0) {
                    literal(op.byte);
                    ++i;
                } else {
                    // Code 0 leaves the run of literals.
                    put(code(placeShape(), 0));
                    put({ 1, 1 });
                    m_stMode = false;
                    m_numHuf = 0;
                }
                continue;
            }
            if (--m_flagsCnt < 0) {
                writeFlags(lookahead(i, false));
                m_flagsCnt = 7;
            }
            // The op's flag bits are in the flags byte; a second bit may
            // need the next one.
            if (!firstFlag(op) && --m_flagsCnt < 0) {
                writeFlags(lookahead(i, true));
                m_flagsCnt = 7;
            }
            if (op.length == 0)
                literal(op.byte);
            else if (op.distance <= 256 && op.length <= 10)
                shortMatch(op);
            else
                longMatch(op);
            ++i;
        }
        put({ 0, 7 }); // the last byte's unused bits
        // Readers look ahead past the last code (unar by whole 32-bit
        // words, and it refuses to look past the data). An empty entry has
        // no data at all.
        if (!m_ops.empty())
            m_out.append(4, '\0');
        return m_out;
    }

private:
    struct Code {
        uint32_t bits;
        unsigned length;
    };
    struct Op {
        uint32_t length = 0; // 0: a literal
        uint32_t distance = 0;
        uint8_t byte = 0;
    };
    struct Shape {
        unsigned first;
        std::array<uint32_t, 12> limits;
        std::array<uint32_t, 13> bases;
    };
    static constexpr Shape kL1 { 2, { 0x8000, 0xa000, 0xc000, 0xd000, 0xe000, 0xea00, 0xee00, 0xf000, 0xf200, 0xf200, 0xffff }, { 0, 0, 0, 2, 3, 5, 7, 11, 16, 20, 24, 32, 32 } };
    static constexpr Shape kL2 { 3, { 0xa000, 0xc000, 0xd000, 0xe000, 0xea00, 0xee00, 0xf000, 0xf200, 0xf240, 0xffff }, { 0, 0, 0, 0, 5, 7, 9, 13, 18, 22, 26, 34, 36 } };
    static constexpr Shape kH0 { 4, { 0x8000, 0xc000, 0xe000, 0xf200, 0xf200, 0xf200, 0xf200, 0xf200, 0xffff }, { 0, 0, 0, 0, 0, 8, 16, 24, 33, 33, 33, 33, 33 } };
    static constexpr Shape kH1 { 5, { 0x2000, 0xc000, 0xe000, 0xf000, 0xf200, 0xf200, 0xf7e0, 0xffff }, { 0, 0, 0, 0, 0, 0, 4, 44, 60, 76, 80, 80, 127 } };
    static constexpr Shape kH2 { 5, { 0x1000, 0x2400, 0x8000, 0xc000, 0xfa00, 0xffff, 0xffff, 0xffff }, { 0, 0, 0, 0, 0, 0, 2, 7, 53, 117, 233, 0, 0 } };
    static constexpr Shape kH3 { 6, { 0x800, 0x2400, 0xee00, 0xfe80, 0xffff, 0xffff, 0xffff }, { 0, 0, 0, 0, 0, 0, 0, 2, 16, 218, 251, 0, 0 } };
    static constexpr Shape kH4 { 8, { 0xff00, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff }, { 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0 } };

    // The code of `symbol`: decoding every 12-bit prefix the way the
    // decoder does, the first prefix that gives the symbol.
    static Code codeOf(const Shape& shape, uint32_t symbol)
    {
        for (uint32_t index = 0; index < 4096; ++index) {
            const uint32_t bits = index << 4;
            unsigned i = 0;
            unsigned length = shape.first;
            while (shape.limits[i] <= bits) {
                ++i;
                ++length;
            }
            if (((bits - (i ? shape.limits[i - 1] : 0)) >> (16 - length)) + shape.bases[length] == symbol)
                return { index >> (12 - length), length };
        }
        return { 0, 0 }; // the length shapes have 256 symbols, the others 257
    }
    // The same, looked up.
    struct Codes {
        explicit Codes(const Shape& shape)
        {
            for (uint32_t s = 0; s < 257; ++s)
                codes[s] = codeOf(shape, s);
        }
        std::array<Code, 257> codes;
        Code operator()(uint32_t s) const { return codes[s]; }
    };
    static const Codes& codes(const Shape& shape)
    {
        static const Codes l1(kL1), l2(kL2), h0(kH0), h1(kH1), h2(kH2), h3(kH3), h4(kH4);
        const Shape* all[] = { &kL1, &kL2, &kH0, &kH1, &kH2, &kH3, &kH4 };
        const Codes* tables[] = { &l1, &l2, &h0, &h1, &h2, &h3, &h4 };
        for (int i = 0; i < 7; ++i)
            if (all[i] == &shape)
                return *tables[i];
        qFatal("unknown shape");
    }
    static Code code(const Shape& shape, uint32_t symbol)
    {
        const Code c = codes(shape)(symbol);
        if (c.length == 0)
            qFatal("no code for %u", symbol);
        return c;
    }

    void put(Code code)
    {
        for (unsigned i = code.length; i-- > 0;) {
            m_acc = m_acc << 1 | ((code.bits >> i) & 1);
            if (++m_accBits == 8) {
                m_out.append(char(m_acc));
                m_acc = 0;
                m_accBits = 0;
            }
        }
    }

    void reset()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            m_chSet[i] = m_chSetB[i] = uint16_t(i << 8);
            m_chSetA[i] = uint16_t(i);
            m_chSetC[i] = uint16_t(((0 - i) & 0xff) << 8);
        }
        m_nToPl.fill(0);
        m_nToPlB.fill(0);
        m_nToPlC.fill(0);
        rescale(m_chSetB.data(), m_nToPlB.data());
        m_avrPlcB = m_avrLn1 = m_avrLn2 = m_avrLn3 = m_numHuf = 0;
        m_avrPlc = 0x3500;
        m_maxDist3 = 0x2001;
        m_nhfb = m_nlzb = 0x80;
        m_history.clear();
        m_head.assign(1 << 16, -1);
    }

    static void rescale(uint16_t* set, uint8_t* numToPlace)
    {
        for (int count = 7; count >= 0; --count)
            for (int i = 0; i < 32; ++i, ++set)
                *set = uint16_t((*set & ~0xff) | count);
        std::memset(numToPlace, 0, 256);
        for (int count = 6; count >= 0; --count)
            numToPlace[count] = uint8_t((7 - count) * 32);
    }

    // Moves the symbol at `place` up by its new count; `limit` is the count
    // that makes the counts fall back (0 for a count that wraps).
    static void bump(uint16_t* set, uint8_t* numToPlace, uint32_t place, uint32_t limit)
    {
        uint32_t value;
        uint32_t newPlace;
        for (;;) {
            value = set[place];
            newPlace = numToPlace[value & 0xff]++;
            ++value;
            if (limit ? (value & 0xff) <= limit : (value & 0xff) != 0)
                break;
            rescale(set, numToPlace);
        }
        set[place] = set[newPlace];
        set[newPlace] = uint16_t(value);
    }

    static uint32_t placeOf(const std::array<uint16_t, 256>& set, uint32_t symbol)
    {
        for (uint32_t p = 0; p < 256; ++p)
            if (uint32_t(set[p] >> 8) == symbol)
                return p;
        qFatal("symbol %u missing", symbol);
    }

    const Shape& placeShape() const
    {
        return m_avrPlc > 0x75ff ? kH4 : m_avrPlc > 0x5dff ? kH3 : m_avrPlc > 0x35ff ? kH2 : m_avrPlc > 0x0dff ? kH1 : kH0;
    }

    // Greedy parse of the new data against everything before it.
    void parse(qsizetype start)
    {
        m_ops.clear();
        const auto* h = reinterpret_cast<const uint8_t*>(m_history.constData());
        const qsizetype n = m_history.size();
        auto hash = [&](qsizetype i) { return (uint32_t(h[i]) * 0x9e37u ^ uint32_t(h[i + 1]) * 0x85ebu ^ uint32_t(h[i + 2])) & 0xffff; };
        for (qsizetype i = start; i < n;) {
            Op op;
            op.byte = h[i];
            if (i + 3 <= n) {
                const qsizetype candidate = m_head[hash(i)];
                uint32_t best = 0;
                uint32_t bestDistance = 0;
                for (const qsizetype c : { candidate, i - 1, i - 4 }) {
                    if (c < 0 || c >= i || i - c > 0x2000)
                        continue;
                    uint32_t length = 0;
                    while (i + length < n && length < 260 && h[c + length] == h[i + length])
                        ++length;
                    if (length > best) {
                        best = length;
                        bestDistance = uint32_t(i - c);
                    }
                }
                // Near distances: short matches up to 10, long ones from 11.
                // Far ones stay below the model's limits for extra length
                // (0x2001 and up, see above), so that a length is the same
                // whatever the model says when the match is coded.
                const uint32_t minimum = bestDistance <= 256 ? 2 : 3;
                if (best >= minimum) {
                    op.distance = bestDistance;
                    op.length = bestDistance <= 256 ? (best <= 10 ? best : std::max<uint32_t>(11, std::min<uint32_t>(best, 266)))
                                                    : std::min<uint32_t>(best, 258);
                }
            }
            const uint32_t step = op.length ? op.length : 1;
            for (uint32_t k = 0; k < step; ++k)
                if (i + qsizetype(k) + 3 <= n)
                    m_head[hash(i + k)] = i + k;
            if (!op.length)
                op.byte = h[i];
            m_ops.push_back(op);
            i += step;
        }
    }

    int firstFlag(const Op& op) const
    {
        if (op.length == 0)
            return m_nlzb > m_nhfb ? 0 : 1;
        if (op.distance <= 256 && op.length <= 10)
            return 0;
        return m_nlzb > m_nhfb ? 1 : 0;
    }

    // The next eight flag bits from op `i` on (the second bit of op `i` first
    // when `second`): they follow from the kinds of the ops alone.
    uint32_t lookahead(size_t i, bool second) const
    {
        uint32_t nhfb = m_nhfb;
        uint32_t nlzb = m_nlzb;
        uint32_t bits = 0;
        unsigned count = 0;
        auto add = [&](uint32_t bit) {
            if (count < 8) {
                bits = bits << 1 | bit;
                ++count;
            }
        };
        auto advance = [&](const Op& op) {
            if (op.length == 0) {
                nhfb += 16;
                if (nhfb > 0xff) {
                    nhfb = 0x90;
                    nlzb >>= 1;
                }
            } else if (op.distance > 256 || op.length > 10) {
                nlzb += 16;
                if (nlzb > 0xff) {
                    nlzb = 0x90;
                    nhfb >>= 1;
                }
            }
        };
        if (second) {
            const Op& op = m_ops[i++];
            add(op.length == 0 || op.distance > 256 || op.length > 10 ? 1 : 0);
            advance(op);
        }
        for (; count < 8 && i < m_ops.size(); ++i) {
            const Op& op = m_ops[i];
            const bool isLiteral = op.length == 0;
            const bool isShort = !isLiteral && op.distance <= 256 && op.length <= 10;
            const bool literalFirst = nlzb <= nhfb;
            if (isShort) {
                add(0);
                add(0);
            } else if (isLiteral == literalFirst) {
                add(1);
            } else {
                add(0);
                add(1);
            }
            advance(op);
        }
        while (count < 8)
            add(1);
        return bits;
    }

    void writeFlags(uint32_t flags)
    {
        const uint32_t place = placeOf(m_chSetC, flags);
        put(code(kH2, place));
        bump(m_chSetC.data(), m_nToPlC.data(), place, 0);
    }

    void literal(uint8_t byte)
    {
        const uint32_t place = placeOf(m_chSet, byte);
        put(code(placeShape(), m_stMode ? place + 1 : place));
        if (!m_stMode && m_numHuf++ >= 16 && m_flagsCnt == 0)
            m_stMode = true;
        m_avrPlc += place;
        m_avrPlc -= m_avrPlc >> 8;
        m_nhfb += 16;
        if (m_nhfb > 0xff) {
            m_nhfb = 0x90;
            m_nlzb >>= 1;
        }
        bump(m_chSet.data(), m_nToPl.data(), place, 0xa1);
    }

    void shortMatch(const Op& op)
    {
        static constexpr uint8_t len1[] { 1, 3, 4, 4, 5, 6, 7, 8, 8 };
        static constexpr uint8_t code1[] { 0, 0xa0, 0xd0, 0xe0, 0xf0, 0xf8, 0xfc, 0xfe, 0xff };
        static constexpr uint8_t len2[] { 2, 3, 3, 3, 4, 4, 5, 6, 6 };
        static constexpr uint8_t code2[] { 0, 0x40, 0x60, 0xa0, 0xd0, 0xe0, 0xf0, 0xf8, 0xfc };
        m_numHuf = 0;
        const uint32_t index = op.length - 2;
        const bool second = m_avrLn1 >= 37;
        unsigned length = second ? len2[index] : len1[index];
        if (index == (second ? 3u : 1u))
            length = 3 + m_buf60;
        put({ uint32_t(second ? code2[index] : code1[index]) >> (8 - length), length });
        m_avrLn1 += index;
        m_avrLn1 -= m_avrLn1 >> 4;
        // Short distances are kept as plain values, not with a count.
        const uint32_t place = uint32_t(std::find(m_chSetA.begin(), m_chSetA.end(), op.distance - 1) - m_chSetA.begin());
        put(code(kH2, place));
        if (place > 0)
            std::swap(m_chSetA[place], m_chSetA[place - 1]);
    }

    void longMatch(const Op& op)
    {
        m_numHuf = 0;
        m_nlzb += 16;
        if (m_nlzb > 0xff) {
            m_nlzb = 0x90;
            m_nhfb >>= 1;
        }
        const uint32_t oldAvr2 = m_avrLn2;
        const uint32_t adjust = 3 + (op.distance >= m_maxDist3 ? 1 : 0) + (op.distance <= 256 ? 8 : 0);
        if (op.length < adjust || op.length - adjust > 255)
            qFatal("long match of %u at %u cannot be coded", op.length, op.distance);
        const uint32_t length = op.length - adjust;
        if (m_avrLn2 >= 122)
            put(code(kL2, length));
        else if (m_avrLn2 >= 64)
            put(code(kL1, length));
        else if (length < 8)
            put({ 1, length + 1 });
        else
            put({ length, 16 });
        m_avrLn2 += length;
        m_avrLn2 -= m_avrLn2 >> 5;

        const uint32_t place = placeOf(m_chSetB, op.distance >> 7);
        put(code(m_avrPlcB > 0x28ff ? kH2 : m_avrPlcB > 0x6ff ? kH1 : kH0, place));
        m_avrPlcB += place;
        m_avrPlcB -= m_avrPlcB >> 8;
        bump(m_chSetB.data(), m_nToPlB.data(), place, 0);
        put({ op.distance & 0x7f, 7 });

        const uint32_t oldAvr3 = m_avrLn3;
        if (length != 1 && length != 4) {
            if (length == 0 && op.distance <= m_maxDist3) {
                ++m_avrLn3;
                m_avrLn3 -= m_avrLn3 >> 8;
            } else if (m_avrLn3 > 0) {
                --m_avrLn3;
            }
        }
        m_maxDist3 = oldAvr3 > 0xb0 || (m_avrPlc >= 0x2a00 && oldAvr2 < 0x40) ? 0x7f00 : 0x2001;
    }

    QByteArray m_out;
    uint32_t m_acc = 0;
    unsigned m_accBits = 0;
    bool m_started = false;
    QByteArray m_history;
    std::vector<qsizetype> m_head;
    std::vector<Op> m_ops;
    std::array<uint16_t, 256> m_chSet {}, m_chSetA {}, m_chSetB {}, m_chSetC {};
    std::array<uint8_t, 256> m_nToPl {}, m_nToPlB {}, m_nToPlC {};
    uint32_t m_avrPlc = 0, m_avrPlcB = 0, m_avrLn1 = 0, m_avrLn2 = 0, m_avrLn3 = 0;
    uint32_t m_buf60 = 0, m_numHuf = 0, m_nhfb = 0, m_nlzb = 0, m_maxDist3 = 0;
    int m_flagsCnt = 0;
    bool m_stMode = false;
};


void put16(QByteArray& b, uint32_t v)
{
    b.append(char(v & 0xff));
    b.append(char((v >> 8) & 0xff));
}
void put32(QByteArray& b, uint32_t v)
{
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}
// A header's CRC: the low half of the CRC32 of all its bytes after the CRC field.
void sealHeader(QByteArray& header)
{
    const uint32_t crc = Rar::crc32(0, header.constData() + 2, size_t(header.size() - 2)) & 0xffff;
    header[0] = char(crc & 0xff);
    header[1] = char(crc >> 8);
}

struct Plain {
    QString name;
    QByteArray data;
};

// A RAR 4 archive of RAR 1.5 entries written by Rar15Writer; with `solid`
// the archive is marked solid and each entry continues the one before.
QByteArray rar15Archive(const QList<Plain>& files, bool solid)
{
    QByteArray out("Rar!\x1a\x07\x00", 7);
    QByteArray main;
    put16(main, 0);
    main.append(char(Rar::V4::kMain));
    put16(main, solid ? Rar::V4::kMainSolid : 0);
    put16(main, 13);
    put16(main, 0);
    put32(main, 0);
    sealHeader(main);
    out += main;
    Rar15Writer writer;
    for (const Plain& f : files) {
        const QByteArray packed = writer.entry(f.data, solid);
        const QByteArray name = f.name.toLatin1().replace('/', '\\');
        QByteArray h;
        put16(h, 0);
        h.append(char(Rar::V4::kFile));
        put16(h, Rar::V4::kLongBlock);
        put16(h, uint32_t(32 + name.size()));
        put32(h, uint32_t(packed.size()));
        put32(h, uint32_t(f.data.size()));
        h.append(char(Rar::V4::kHostMsDos));
        put32(h, crcOf(f.data));
        put32(h, 0x5a210000); // 2025-01-01
        h.append(char(15));
        // An empty file is stored, as the archiver does (unar would trip
        // over an empty compressed entry in a solid stream).
        h.append(char(f.data.isEmpty() ? Rar::V4::kMethodStore : 0x33));
        put16(h, uint32_t(name.size()));
        put32(h, 0x20);
        h += name;
        sealHeader(h);
        out += h;
        out += packed;
    }
    out += QByteArray("\xc4\x3d\x7b\x00\x40\x07\x00", 7);
    return out;
}

// Test data of a kind the method meets: words (text with repeats near and
// far), runs, and stretches of noise that stay literals.
QByteArray mixedData(int size, uint32_t seed)
{
    static const char* const words[] = { "setup", "the ", "data", "file ", "window", "install", "RAR", "\r\n", "    ", "0123456789" };
    QByteArray out;
    uint32_t x = seed;
    auto next = [&] {
        x = x * 1103515245u + 12345u;
        return x >> 8;
    };
    while (out.size() < size) {
        const uint32_t r = next() % 100;
        if (r < 60)
            out += words[next() % 10];
        else if (r < 70)
            out += QByteArray(int(next() % 300) + 1, char(next()));
        else if (r < 85)
            for (int i = int(next() % 64); i >= 0; --i)
                out += char(next());
        else if (out.size() > 9000)
            out += out.mid(out.size() - 8192 + qsizetype(next() % 8000), qsizetype(next() % 200) + 3);
    }
    out.truncate(size);
    return out;
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

    // Archives of our own RAR 1.5 writer: entries far larger than the
    // decoder's ring, delivered in chunks that stop at its end, and solid
    // archives whose entries continue each other. unar reads them first:
    // what it extracts must be the data written, so the archives are sound.
    void writtenArchivesMatchUnar_data()
    {
        QTest::addColumn<bool>("solid");
        QTest::addColumn<QList<int>>("sizes");
        QTest::newRow("one large entry") << false << QList<int> { 900000 };
        QTest::newRow("several entries") << false << QList<int> { 70000, 1, 0, 300000, 5000 };
        // (No empty entry in the solid row: unar fails the entry after an
        // empty one in a solid RAR 1.5 stream, whether stored or not.)
        QTest::newRow("solid") << true << QList<int> { 150000, 3000, 1, 5, 400000, 65536, 200000 };
    }
    void writtenArchivesMatchUnar()
    {
        QFETCH(bool, solid);
        QFETCH(QList<int>, sizes);
        QList<Plain> files;
        for (int i = 0; i < sizes.size(); ++i)
            files << Plain { QStringLiteral("DIR/F%1.DAT").arg(i), mixedData(sizes[i], uint32_t(i * 7 + sizes[i])) };
        const QString archive = m_dir.filePath(QStringLiteral("written-%1.rar").arg(QTest::currentDataTag()).replace(' ', '-'));
        {
            QFile f(archive);
            QVERIFY(f.open(QIODevice::WriteOnly));
            const QByteArray bytes = rar15Archive(files, solid);
            QCOMPARE(f.write(bytes), bytes.size());
        }

        if (!QStandardPaths::findExecutable("unar").isEmpty()) {
            const QString out = archive + ".unar";
            QProcess unar;
            unar.start("unar", { "-q", "-f", "-D", "-o", out, archive });
            QVERIFY(unar.waitForFinished(60000));
            QCOMPARE(unar.exitCode(), 0);
            for (const Plain& f : files) {
                QFile extracted(out + "/" + f.name);
                QVERIFY2(extracted.open(QIODevice::ReadOnly), qPrintable(f.name));
                QVERIFY2(extracted.readAll() == f.data, qPrintable("unar: " + f.name));
            }
        } else {
            qInfo("unar is not installed: the written archives are not checked independently");
        }

        RarVolumeStream stream;
        QCOMPARE(stream.open(QFile::encodeName(archive).toStdString()), 0);
        QCOMPARE(stream.solid(), solid);
        Rar::Unpack15 decoder;
        int i = 0;
        while (auto info = stream.nextEntry()) {
            QVERIFY(i < files.size());
            if (info->header.method == Rar::V4::kMethodStore) {
                QCOMPARE(info->header.unpackedSize, 0u);
                ++i;
                continue;
            }
            RarEntrySource source(stream);
            const Decoded d = pull(decoder, source, info->header.unpackedSize, stream.solid());
            QCOMPARE(d.status, Rar::UnpackStatus::End);
            QVERIFY(d.chunksSound);
            QVERIFY2(d.bytes == files[i].data, qPrintable(files[i].name));
            QCOMPARE(crcOf(d.bytes), info->finalCrc);
            ++i;
        }
        QCOMPARE(stream.error(), 0);
        QCOMPARE(i, int(files.size()));
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
