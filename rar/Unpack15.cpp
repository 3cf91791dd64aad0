#include "Unpack15.h"

#include <cstring>

namespace Rar {

namespace {

// The code shapes: a code of the shape is found by the first limit above
// the next 16 bits (code lengths start at `first` and grow by one per
// limit), its symbol is the base of its length plus its offset in the range.
struct Shape {
    unsigned first;
    std::array<uint32_t, 12> limits;
    std::array<uint32_t, 13> bases;
};

constexpr Shape kLength1 { 2, { 0x8000, 0xa000, 0xc000, 0xd000, 0xe000, 0xea00, 0xee00, 0xf000, 0xf200, 0xf200, 0xffff },
                           { 0, 0, 0, 2, 3, 5, 7, 11, 16, 20, 24, 32, 32 } };
constexpr Shape kLength2 { 3, { 0xa000, 0xc000, 0xd000, 0xe000, 0xea00, 0xee00, 0xf000, 0xf200, 0xf240, 0xffff },
                           { 0, 0, 0, 0, 5, 7, 9, 13, 18, 22, 26, 34, 36 } };
constexpr Shape kPlace0 { 4, { 0x8000, 0xc000, 0xe000, 0xf200, 0xf200, 0xf200, 0xf200, 0xf200, 0xffff },
                          { 0, 0, 0, 0, 0, 8, 16, 24, 33, 33, 33, 33, 33 } };
constexpr Shape kPlace1 { 5, { 0x2000, 0xc000, 0xe000, 0xf000, 0xf200, 0xf200, 0xf7e0, 0xffff },
                          { 0, 0, 0, 0, 0, 0, 4, 44, 60, 76, 80, 80, 127 } };
constexpr Shape kPlace2 { 5, { 0x1000, 0x2400, 0x8000, 0xc000, 0xfa00, 0xffff, 0xffff, 0xffff },
                          { 0, 0, 0, 0, 0, 0, 2, 7, 53, 117, 233, 0, 0 } };
constexpr Shape kPlace3 { 6, { 0x800, 0x2400, 0xee00, 0xfe80, 0xffff, 0xffff, 0xffff },
                          { 0, 0, 0, 0, 0, 0, 0, 2, 16, 218, 251, 0, 0 } };
constexpr Shape kPlace4 { 8, { 0xff00, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff },
                          { 0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0 } };

// No code is longer than 12 bits: a table on the next 12 bits decodes any
// of them at once. Entry: symbol (0 to 256) | length << 9.
using CodeTable = std::array<uint16_t, 4096>;

constexpr CodeTable makeTable(const Shape& shape)
{
    CodeTable table {};
    for (uint32_t index = 0; index < 4096; ++index) {
        const uint32_t bits = index << 4;
        unsigned i = 0;
        unsigned length = shape.first;
        // The shapes end with the limit 0xffff, above any 12-bit prefix.
        while (shape.limits[i] <= bits) {
            ++i;
            ++length;
        }
        const uint32_t symbol = ((bits - (i ? shape.limits[i - 1] : 0)) >> (16 - length)) + shape.bases[length];
        table[index] = uint16_t((symbol & 0x1ff) | length << 9);
    }
    return table;
}

constexpr CodeTable kLength1Table = makeTable(kLength1);
constexpr CodeTable kLength2Table = makeTable(kLength2);
constexpr CodeTable kPlace0Table = makeTable(kPlace0);
constexpr CodeTable kPlace1Table = makeTable(kPlace1);
constexpr CodeTable kPlace2Table = makeTable(kPlace2);
constexpr CodeTable kPlace3Table = makeTable(kPlace3);
constexpr CodeTable kPlace4Table = makeTable(kPlace4);

// The short matches' length codes: an index 0-8 is a length of 2-10, 9
// repeats the last match, 10-13 reuse an old distance, 14 is a long
// distance. Two shapes, chosen by the average length; the code of index 1
// (or 3) is one bit longer when `buf60` is set, which frees index 14.
constexpr std::array<uint8_t, 15> kShortLen1 { 1, 3, 4, 4, 5, 6, 7, 8, 8, 4, 4, 5, 6, 6, 4 };
constexpr std::array<uint8_t, 15> kShortCode1 { 0, 0xa0, 0xd0, 0xe0, 0xf0, 0xf8, 0xfc, 0xfe, 0xff, 0xc0, 0x80, 0x90, 0x98, 0x9c, 0xb0 };
constexpr std::array<uint8_t, 15> kShortLen2 { 2, 3, 3, 3, 4, 4, 5, 6, 6, 4, 4, 5, 6, 6, 4 };
constexpr std::array<uint8_t, 15> kShortCode2 { 0, 0x40, 0x60, 0xa0, 0xd0, 0xe0, 0xf0, 0xf8, 0xfc, 0xc0, 0x80, 0x90, 0x98, 0x9c, 0xb0 };

// Entry: index | length << 4, on the next 8 bits; [second shape][buf60].
using ShortTable = std::array<uint8_t, 256>;

constexpr ShortTable makeShortTable(const std::array<uint8_t, 15>& lengths, const std::array<uint8_t, 15>& codes,
                                    unsigned longerIndex, bool buf60)
{
    ShortTable table {};
    for (uint32_t bits = 0; bits < 256; ++bits) {
        // The first code that matches wins: without buf60 the shorter code
        // of the longer index shadows index 14.
        for (unsigned index = 0; index < 15; ++index) {
            const unsigned length = index == longerIndex ? 3u + buf60 : lengths[index];
            if (((bits ^ codes[index]) & ~(0xffu >> length) & 0xff) == 0) {
                table[bits] = uint8_t(index | length << 4);
                break;
            }
        }
    }
    return table;
}

constexpr ShortTable kShortTables[2][2] {
    { makeShortTable(kShortLen1, kShortCode1, 1, false), makeShortTable(kShortLen1, kShortCode1, 1, true) },
    { makeShortTable(kShortLen2, kShortCode2, 3, false), makeShortTable(kShortLen2, kShortCode2, 3, true) },
};

inline uint32_t decodeNum(BitInput& in, const CodeTable& table)
{
    const uint32_t entry = table[in.peek(12)];
    in.skip(entry >> 9);
    return entry & 0x1ff;
}

}

Unpack15::Unpack15()
    : m_window(kRingSize)
{
}

std::unique_ptr<Unpacker> makeUnpack15()
{
    return std::make_unique<Unpack15>();
}

void Unpack15::rescale(uint16_t* set, uint8_t* numToPlace)
{
    // Counts fall back to a staircase by place (7 for the first 32 places
    // down to 0 for the last), and each count's first place follows.
    for (int count = 7; count >= 0; --count)
        for (int i = 0; i < 32; ++i, ++set)
            *set = uint16_t((*set & ~0xff) | count);
    std::memset(numToPlace, 0, 256);
    for (int count = 6; count >= 0; --count)
        numToPlace[count] = uint8_t((7 - count) * 32);
}

void Unpack15::resetModel()
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

    m_avrPlcB = m_avrLn1 = m_avrLn2 = m_avrLn3 = m_numHuf = m_buf60 = 0;
    m_avrPlc = 0x3500;
    m_maxDist3 = 0x2001;
    m_nhfb = m_nlzb = 0x80;
    m_oldDist.fill(0);
    m_oldDistPtr = 0;
    m_lastDist = m_lastLength = 0;
}

void Unpack15::begin(PackedSource& source, uint64_t unpackedSize, bool solid)
{
    m_in.start(&source);
    if (!solid || !m_hasState) {
        resetModel();
        m_unpPtr = m_wrPtr = 0;
        // Distances reaching back before the first byte read zeros: the
        // only part of the ring they can reach is its last window.
        std::memset(m_window.data() + kRingSize - kWindowSize, 0, kWindowSize);
    }
    m_hasState = true;
    m_wrPtr = m_unpPtr;
    m_left = int64_t(unpackedSize);
    m_toDeliver = unpackedSize;
    m_flagBuf = 0;
    m_flagsCnt = 0;
    m_stMode = false;
    m_lCount = 0;
    m_started = false;
}

void Unpack15::copy(uint32_t distance, uint32_t length)
{
    m_left -= length;
    unsigned char* window = m_window.data();
    uint32_t dst = m_unpPtr;
    uint32_t src = (dst - distance) & kRingMask;
    if (dst + length <= kRingSize && src + length <= kRingSize && distance >= length) {
        std::memcpy(window + dst, window + src, length);
        m_unpPtr = (dst + length) & kRingMask;
        return;
    }
    while (length--) {
        window[dst] = window[src];
        dst = (dst + 1) & kRingMask;
        src = (src + 1) & kRingMask;
    }
    m_unpPtr = dst;
}

void Unpack15::readFlags()
{
    const uint32_t place = decodeNum(m_in, kPlace2Table);
    // Only 256 flag bytes: the 257th code of the shape keeps the old flags.
    if (place > 255)
        return;
    uint32_t flags;
    uint32_t newPlace;
    for (;;) {
        flags = m_chSetC[place];
        m_flagBuf = flags >> 8;
        newPlace = m_nToPlC[flags & 0xff]++;
        ++flags;
        if ((flags & 0xff) != 0)
            break;
        rescale(m_chSetC.data(), m_nToPlC.data());
    }
    m_chSetC[place] = m_chSetC[newPlace];
    m_chSetC[newPlace] = uint16_t(flags);
}

void Unpack15::literal()
{
    const CodeTable& table = m_avrPlc > 0x75ff ? kPlace4Table
        : m_avrPlc > 0x5dff ? kPlace3Table
        : m_avrPlc > 0x35ff ? kPlace2Table
        : m_avrPlc > 0x0dff ? kPlace1Table
        : kPlace0Table;
    uint32_t place = decodeNum(m_in, table);
    if (m_stMode) {
        // In a run of literals code 0 escapes (to leave the run, or for a
        // short match), and the others stand one place higher.
        if (place == 0) {
            if (m_in.read(1)) {
                m_numHuf = 0;
                m_stMode = false;
                return;
            }
            const uint32_t length = m_in.read(1) ? 4 : 3;
            const uint32_t distance = decodeNum(m_in, kPlace2Table) << 5 | m_in.read(5);
            copy(distance, length);
            return;
        }
        --place;
    } else {
        place &= 0xff;
        if (m_numHuf++ >= 16 && m_flagsCnt == 0)
            m_stMode = true;
    }
    m_avrPlc += place;
    m_avrPlc -= m_avrPlc >> 8;
    m_nhfb += 16;
    if (m_nhfb > 0xff) {
        m_nhfb = 0x90;
        m_nlzb >>= 1;
    }

    m_window[m_unpPtr] = uint8_t(m_chSet[place] >> 8);
    m_unpPtr = (m_unpPtr + 1) & kRingMask;
    --m_left;

    uint32_t current;
    uint32_t newPlace;
    for (;;) {
        current = m_chSet[place];
        newPlace = m_nToPl[current & 0xff]++;
        ++current;
        if ((current & 0xff) <= 0xa1)
            break;
        rescale(m_chSet.data(), m_nToPl.data());
    }
    m_chSet[place] = m_chSet[newPlace];
    m_chSet[newPlace] = uint16_t(current);
}

void Unpack15::shortMatch()
{
    m_numHuf = 0;
    if (m_lCount == 2) {
        if (m_in.read(1)) {
            copy(m_lastDist, m_lastLength);
            return;
        }
        m_lCount = 0;
    }

    const uint8_t code = kShortTables[m_avrLn1 >= 37][m_buf60][m_in.peek(8)];
    m_in.skip(code >> 4);
    uint32_t length = code & 0x0f;

    if (length >= 9) {
        if (length == 9) {
            ++m_lCount;
            copy(m_lastDist, m_lastLength);
            return;
        }
        m_lCount = 0;
        if (length == 14) {
            length = decodeNum(m_in, kLength2Table) + 5;
            const uint32_t distance = m_in.read(15) | 0x8000;
            m_lastLength = length;
            m_lastDist = distance;
            copy(distance, length);
            return;
        }
        const uint32_t saved = length;
        const uint32_t distance = m_oldDist[(m_oldDistPtr - (length - 9)) & 3];
        length = decodeNum(m_in, kLength1Table) + 2;
        if (length == 0x101 && saved == 10) {
            m_buf60 ^= 1;
            return;
        }
        if (distance > 256)
            ++length;
        if (distance >= m_maxDist3)
            ++length;
        m_oldDist[m_oldDistPtr++] = distance;
        m_oldDistPtr &= 3;
        m_lastLength = length;
        m_lastDist = distance;
        copy(distance, length);
        return;
    }

    m_lCount = 0;
    m_avrLn1 += length;
    m_avrLn1 -= m_avrLn1 >> 4;

    // Short distances move one place towards the front each time they are used.
    const uint32_t place = decodeNum(m_in, kPlace2Table) & 0xff;
    uint32_t distance = m_chSetA[place];
    if (place > 0) {
        m_chSetA[place] = m_chSetA[place - 1];
        m_chSetA[place - 1] = uint16_t(distance);
    }
    length += 2;
    ++distance;
    m_oldDist[m_oldDistPtr++] = distance;
    m_oldDistPtr &= 3;
    m_lastLength = length;
    m_lastDist = distance;
    copy(distance, length);
}

void Unpack15::longMatch()
{
    m_numHuf = 0;
    m_nlzb += 16;
    if (m_nlzb > 0xff) {
        m_nlzb = 0x90;
        m_nhfb >>= 1;
    }
    const uint32_t oldAvr2 = m_avrLn2;

    uint32_t length;
    if (m_avrLn2 >= 122) {
        length = decodeNum(m_in, kLength2Table);
    } else if (m_avrLn2 >= 64) {
        length = decodeNum(m_in, kLength1Table);
    } else {
        // Unary: the count of zero bits before a one, or 8 zero bits and the length.
        const uint32_t bits = m_in.peek(16);
        if (bits < 0x100) {
            length = bits;
            m_in.skip(16);
        } else {
            length = uint32_t(__builtin_clz(bits << 16));
            m_in.skip(length + 1);
        }
    }
    m_avrLn2 += length;
    m_avrLn2 -= m_avrLn2 >> 5;

    const uint32_t place = decodeNum(m_in, m_avrPlcB > 0x28ff ? kPlace2Table
                                          : m_avrPlcB > 0x6ff ? kPlace1Table
                                          : kPlace0Table);
    m_avrPlcB += place;
    m_avrPlcB -= m_avrPlcB >> 8;

    uint32_t distance;
    uint32_t newPlace;
    for (;;) {
        distance = m_chSetB[place & 0xff];
        newPlace = m_nToPlB[distance & 0xff]++;
        ++distance;
        if ((distance & 0xff) != 0)
            break;
        rescale(m_chSetB.data(), m_nToPlB.data());
    }
    m_chSetB[place & 0xff] = m_chSetB[newPlace];
    m_chSetB[newPlace] = uint16_t(distance);

    // The ordered symbol gives the distance's high bits, 7 plain bits the rest.
    distance = ((distance & 0xff00) >> 1) | m_in.read(7);

    const uint32_t oldAvr3 = m_avrLn3;
    if (length != 1 && length != 4) {
        if (length == 0 && distance <= m_maxDist3) {
            ++m_avrLn3;
            m_avrLn3 -= m_avrLn3 >> 8;
        } else if (m_avrLn3 > 0) {
            --m_avrLn3;
        }
    }
    length += 3;
    if (distance >= m_maxDist3)
        ++length;
    if (distance <= 256)
        length += 8;
    m_maxDist3 = oldAvr3 > 0xb0 || (m_avrPlc >= 0x2a00 && oldAvr2 < 0x40) ? 0x7f00 : 0x2001;
    m_oldDist[m_oldDistPtr++] = distance;
    m_oldDistPtr &= 3;
    m_lastLength = length;
    m_lastDist = distance;
    copy(distance, length);
}

// Decodes until a chunk is ready or the entry's bytes are all there; false
// when the data ran out first.
bool Unpack15::decode()
{
    while (m_left > 0 && ((m_unpPtr - m_wrPtr) & kRingMask) < kChunk) {
        if (m_in.overrun())
            return false;
        if (m_stMode) {
            literal();
            continue;
        }
        if (--m_flagsCnt < 0) {
            readFlags();
            m_flagsCnt = 7;
        }
        // Flags 1: the more frequent of literal and long match; 01: the
        // other one; 00: a short match.
        if (m_flagBuf & 0x80) {
            m_flagBuf <<= 1;
            if (m_nlzb > m_nhfb)
                longMatch();
            else
                literal();
            continue;
        }
        m_flagBuf <<= 1;
        if (--m_flagsCnt < 0) {
            readFlags();
            m_flagsCnt = 7;
        }
        if (m_flagBuf & 0x80) {
            m_flagBuf <<= 1;
            if (m_nlzb > m_nhfb)
                literal();
            else
                longMatch();
        } else {
            m_flagBuf <<= 1;
            shortMatch();
        }
    }
    return !m_in.overrun();
}

UnpackStatus Unpack15::next(const unsigned char*& data, size_t& size)
{
    if (m_toDeliver == 0)
        return UnpackStatus::End;
    uint32_t ready = (m_unpPtr - m_wrPtr) & kRingMask;
    if (ready == 0) {
        if (!m_started) {
            readFlags();
            m_flagsCnt = 8;
            m_started = true;
        }
        const bool ok = decode();
        if (m_in.sourceFailed())
            return UnpackStatus::SourceFailed;
        if (!ok)
            return UnpackStatus::BadData;
        ready = (m_unpPtr - m_wrPtr) & kRingMask;
    }
    uint64_t n = ready;
    if (n > m_toDeliver)
        n = m_toDeliver;
    if (n > kRingSize - m_wrPtr)
        n = kRingSize - m_wrPtr;
    data = m_window.data() + m_wrPtr;
    size = size_t(n);
    m_toDeliver -= n;
    // Bytes of a last match past the entry's end stay behind as history.
    m_wrPtr = m_toDeliver == 0 ? m_unpPtr : (m_wrPtr + uint32_t(n)) & kRingMask;
    return UnpackStatus::Data;
}

}
