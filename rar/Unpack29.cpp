#include "Unpack29.h"

#include "Ppmd.h"

#include <algorithm>
#include <cstring>

namespace Rar {

namespace {

constexpr unsigned kMainCodes = 299, kDistCodes = 60, kLowDistCodes = 17, kLengthCodes = 28;
constexpr unsigned kBitLengthCodes = 20;
constexpr unsigned kLowDistRepeat = 16;

constexpr uint8_t kLengthBase[kLengthCodes] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                               24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr uint8_t kLengthBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                               2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

struct DistanceSlots {
    uint32_t base[kDistCodes];
    uint8_t bits[kDistCodes];
    constexpr DistanceSlots() : base(), bits()
    {
        // How many slots have each number of extra bits.
        constexpr uint8_t kSlotsPerBits[19] = {4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 14, 0, 12};
        uint32_t dist = 0;
        unsigned slot = 0;
        for (unsigned b = 0; b < 19; ++b)
            for (unsigned j = 0; j < kSlotsPerBits[b]; ++j, ++slot) {
                base[slot] = dist;
                bits[slot] = uint8_t(b);
                dist += 1u << b;
            }
    }
};
constexpr DistanceSlots kDist;

// The filters' memory can be at most this many pending blocks and programs.
constexpr size_t kMaxPending = 8192;
constexpr size_t kMaxPrograms = 1024;

constexpr uint64_t kReady = 64 * 1024;     // hand out at least this much when the entry goes on
constexpr uint64_t kBatch = 1024 * 1024;   // decode this far ahead of what was handed out
constexpr uint64_t kMargin = 4096;         // room kept in the window for the longest match

// Bits of a filter's definition, most significant first, zeros past its end.
class CodeBits {
public:
    CodeBits(const unsigned char* data, size_t size) : m_data(data), m_size(size) {}
    uint32_t peek16() const
    {
        const size_t byte = m_pos >> 3;
        uint32_t v = 0;
        for (size_t i = 0; i < 3; ++i)
            v = (v << 8) | (byte + i < m_size ? m_data[byte + i] : 0u);
        return (v >> (8 - (m_pos & 7))) & 0xffff;
    }
    void skip(unsigned n) { m_pos += n; }
    uint32_t read(unsigned n)
    {
        const uint32_t v = peek16() >> (16 - n);
        skip(n);
        return v;
    }
    // The archivers' own reader gives up this close to 32 KiB.
    bool overflow() const { return (m_pos >> 3) + 3 >= 0x8000; }

    // A number in the filters' variable-length encoding.
    uint32_t readNumber()
    {
        uint32_t v = peek16();
        switch (v & 0xc000) {
        case 0:
            skip(6);
            return (v >> 10) & 0xf;
        case 0x4000:
            if ((v & 0x3c00) == 0) {
                skip(14);
                return 0xffffff00u | ((v >> 2) & 0xff);
            }
            skip(10);
            return (v >> 6) & 0xff;
        case 0x8000:
            skip(2);
            v = peek16();
            skip(16);
            return v;
        default:
            skip(2);
            v = peek16() << 16;
            skip(16);
            v |= peek16();
            skip(16);
            return v;
        }
    }

private:
    const unsigned char* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Copies a match inside the window; the window's end is never overrun, and
// bytes past the match are never touched (a later match may reach back a
// whole window to them).
inline void copyMatch(unsigned char* win, uint32_t dst, uint32_t length, uint32_t distance, uint32_t mask,
                      uint32_t size)
{
    const uint32_t src = (dst - distance) & mask;
    if (dst + length <= size && src + length <= size && (distance >= 8 || src > dst)) {
        unsigned char* d = win + dst;
        const unsigned char* s = win + src;
        uint32_t i = 0;
        for (; i + 8 <= length; i += 8) {
            uint64_t chunk;
            std::memcpy(&chunk, s + i, 8);
            std::memcpy(d + i, &chunk, 8);
        }
        for (; i < length; ++i)
            d[i] = s[i];
        return;
    }
    for (uint32_t i = 0; i < length; ++i)
        win[(dst + i) & mask] = win[(src + i) & mask];
}

}

bool Unpack29::Huffman::build(const uint8_t* lengths, unsigned count)
{
    uint32_t counts[17] = {};
    for (unsigned i = 0; i < count; ++i)
        ++counts[lengths[i] & 15];
    counts[0] = 0;
    uint32_t code = 0, index = 0;
    for (unsigned len = 1; len <= 15; ++len) {
        start[len] = code;
        first[len] = uint16_t(index);
        code += counts[len] << (16 - len);
        limit[len] = code;
        index += counts[len];
    }
    if (code > 0x10000)
        return false; // more codes than there is room for
    limit[16] = start[16] = code;
    uint16_t next[17];
    std::memcpy(next, first, sizeof next);
    for (unsigned i = 0; i < count; ++i)
        if (const unsigned len = lengths[i] & 15)
            symbols[next[len]++] = uint16_t(i);

    std::memset(fast, 0, sizeof fast);
    for (unsigned len = 1; len <= kFastBits; ++len) {
        const unsigned span = 1u << (kFastBits - len);
        for (uint32_t k = 0; k < counts[len]; ++k) {
            const uint32_t at = (start[len] + (k << (16 - len))) >> (16 - kFastBits);
            const uint16_t entry = uint16_t(len << 9 | symbols[first[len] + k]);
            for (unsigned j = 0; j < span; ++j)
                fast[at + j] = entry;
        }
    }
    return true;
}

unsigned Unpack29::Huffman::decodeSlow(BitInput& in, uint32_t bits) const
{
    for (unsigned len = kFastBits + 1; len <= 15; ++len)
        if (bits < limit[len]) {
            in.skip(len);
            return symbols[first[len] + ((bits - start[len]) >> (16 - len))];
        }
    // A code the table does not have: damaged data, read as something harmless.
    in.skip(16);
    return 0;
}

Unpack29::Unpack29()
    : m_window(kWindowSize)
{
}

Unpack29::~Unpack29() = default;

void Unpack29::reset()
{
    m_unpPtr = m_wrPtr = 0;
    m_tablesRead = false;
    m_ppmBlock = false;
    std::memset(m_oldTable, 0, sizeof m_oldTable);
    std::memset(m_oldDist, 0, sizeof m_oldDist);
    m_lastDist = m_lastLength = 0;
    m_prevLowDist = 0;
    m_lowDistRepeat = 0;
    m_escape = 2;
    if (m_ppm)
        m_ppm->reset();
    m_programs.clear();
    m_pending.clear();
    m_lastFilter = 0;
    m_broken = false;
}

void Unpack29::begin(PackedSource& source, uint64_t unpackedSize, bool solid)
{
    // An entry left before its end leaves the stream somewhere in between.
    if (m_started && (m_status == UnpackStatus::Data || m_status == UnpackStatus::SourceFailed))
        m_broken = true;
    if (m_status == UnpackStatus::BadData || m_status == UnpackStatus::Unsupported)
        m_broken = true;
    if (!solid || !m_started)
        reset();
    m_started = true;
    m_in.start(&source);
    m_entryStart = m_unpPtr;
    m_entryEnd = m_entryStart + unpackedSize;
    m_stopped = false;
    m_out = nullptr;
    m_outLeft = 0;
    m_needTables = !solid || !m_tablesRead;
    m_status = m_broken ? UnpackStatus::BadData : unpackedSize == 0 ? UnpackStatus::End : UnpackStatus::Data;
}

bool Unpack29::readTables()
{
    m_in.alignToByte();
    if (m_in.overrun())
        return false;
    const uint32_t head = m_in.peek(16);
    if (head & 0x8000) {
        if (!m_ppm)
            m_ppm = std::make_unique<PpmdH>();
        if (!m_ppm->startBlock(m_in, m_escape))
            return false;
        m_ppmBlock = true;
        return true;
    }
    m_ppmBlock = false;
    m_prevLowDist = 0;
    m_lowDistRepeat = 0;
    if (!(head & 0x4000))
        std::memset(m_oldTable, 0, sizeof m_oldTable);
    m_in.skip(2);

    uint8_t bitLengths[kBitLengthCodes];
    for (unsigned i = 0; i < kBitLengthCodes;) {
        const unsigned len = m_in.read(4);
        if (len == 15) {
            unsigned zeros = m_in.read(4);
            if (zeros == 0) {
                bitLengths[i++] = 15;
            } else {
                for (zeros += 2; zeros > 0 && i < kBitLengthCodes; --zeros)
                    bitLengths[i++] = 0;
            }
        } else {
            bitLengths[i++] = uint8_t(len);
        }
    }
    Huffman lengthCode;
    if (!lengthCode.build(bitLengths, kBitLengthCodes))
        return false;

    uint8_t table[kTableSize];
    for (unsigned i = 0; i < kTableSize;) {
        if (m_in.overrun())
            return false;
        const unsigned n = lengthCode.decode(m_in);
        if (n < 16) {
            table[i] = uint8_t((n + m_oldTable[i]) & 15);
            ++i;
        } else if (n < 18) {
            unsigned repeat = n == 16 ? m_in.read(3) + 3 : m_in.read(7) + 11;
            if (i == 0)
                return false;
            for (; repeat > 0 && i < kTableSize; --repeat, ++i)
                table[i] = table[i - 1];
        } else {
            unsigned repeat = n == 18 ? m_in.read(3) + 3 : m_in.read(7) + 11;
            for (; repeat > 0 && i < kTableSize; --repeat)
                table[i++] = 0;
        }
    }
    if (m_in.overrun())
        return false;
    if (!m_main.build(table, kMainCodes) || !m_dist.build(table + kMainCodes, kDistCodes)
        || !m_lowDist.build(table + kMainCodes + kDistCodes, kLowDistCodes)
        || !m_rep.build(table + kMainCodes + kDistCodes + kLowDistCodes, kLengthCodes))
        return false;
    std::memcpy(m_oldTable, table, sizeof table);
    m_tablesRead = true;
    return true;
}

bool Unpack29::readEndOfBlock(bool& newFile)
{
    const uint32_t bits = m_in.peek(2);
    bool newTable;
    if (bits & 2) {
        newTable = true;
        newFile = false;
        m_in.skip(1);
    } else {
        newFile = true;
        newTable = bits & 1;
        m_in.skip(2);
    }
    m_tablesRead = !newTable;
    if (newFile)
        return true;
    return !newTable || readTables();
}

UnpackStatus Unpack29::readFilterLz()
{
    const unsigned first = m_in.read(8);
    unsigned length = (first & 7) + 1;
    if (length == 7)
        length = m_in.read(8) + 7;
    else if (length == 8)
        length = m_in.read(16);
    m_code.resize(length);
    for (unsigned i = 0; i < length; ++i)
        m_code[i] = uint8_t(m_in.read(8));
    if (m_in.overrun())
        return UnpackStatus::BadData;
    return addFilter(m_code.data(), length, first);
}

UnpackStatus Unpack29::readFilterPpm()
{
    const int first = m_ppm->decodeChar();
    if (first < 0)
        return UnpackStatus::BadData;
    unsigned length = (unsigned(first) & 7) + 1;
    if (length == 7) {
        const int b = m_ppm->decodeChar();
        if (b < 0)
            return UnpackStatus::BadData;
        length = unsigned(b) + 7;
    } else if (length == 8) {
        const int b1 = m_ppm->decodeChar();
        const int b2 = b1 < 0 ? -1 : m_ppm->decodeChar();
        if (b2 < 0)
            return UnpackStatus::BadData;
        length = unsigned(b1) << 8 | unsigned(b2);
    }
    m_code.resize(length);
    for (unsigned i = 0; i < length; ++i) {
        const int b = m_ppm->decodeChar();
        if (b < 0)
            return UnpackStatus::BadData;
        m_code[i] = uint8_t(b);
    }
    return addFilter(m_code.data(), length, unsigned(first));
}

UnpackStatus Unpack29::addFilter(const unsigned char* code, size_t size, unsigned first)
{
    CodeBits in(code, size);
    size_t number = m_lastFilter;
    if (first & 0x80) {
        const uint32_t n = in.readNumber();
        if (n == 0) {
            // Number 0 starts the filters afresh.
            m_programs.clear();
            m_pending.clear();
            m_lastFilter = 0;
            number = 0;
        } else {
            number = n - 1;
        }
    }
    if (number > m_programs.size() || m_pending.size() >= kMaxPending)
        return UnpackStatus::BadData;
    m_lastFilter = number;
    const bool isNew = number == m_programs.size();
    if (isNew) {
        if (number > kMaxPrograms)
            return UnpackStatus::BadData;
        m_programs.push_back({});
    } else {
        ++m_programs[number].execCount;
    }
    FilterProgram& program = m_programs[number];

    PendingFilter filter{};
    uint32_t blockStart = in.readNumber();
    if (first & 0x40)
        blockStart += 258;
    filter.start = m_unpPtr + blockStart;
    filter.length = (first & 0x20) ? in.readNumber() : program.lastLength;
    program.lastLength = filter.length;
    filter.r[3] = kFilter29MaxBlock; // where the program's global data would lie
    filter.r[4] = filter.length;
    filter.r[5] = program.execCount;
    if (first & 0x10) {
        const unsigned mask = in.read(7);
        for (unsigned i = 0; i < 7; ++i)
            if (mask & (1u << i))
                filter.r[i] = in.readNumber();
    }
    if (isNew) {
        const uint32_t codeSize = in.readNumber();
        if (codeSize == 0 || codeSize >= 0x10000)
            return UnpackStatus::BadData;
        std::vector<unsigned char> program_code(codeSize);
        unsigned char check = 0;
        for (uint32_t i = 0; i < codeSize; ++i) {
            if (in.overflow())
                return UnpackStatus::BadData;
            program_code[i] = uint8_t(in.read(8));
            if (i > 0)
                check ^= program_code[i];
        }
        // The first byte is a check over the others.
        if (check != program_code[0])
            return UnpackStatus::BadData;
        program.type = identifyFilter29(program_code.data(), codeSize);
        if (program.type == Filter29::Unknown)
            return UnpackStatus::Unsupported;
    }
    filter.type = program.type;
    if (first & 8) {
        // Data for the program; none of the standard ones reads it.
        if (in.overflow())
            return UnpackStatus::BadData;
        const uint32_t dataSize = in.readNumber();
        if (dataSize > 0x2000 - 0x40)
            return UnpackStatus::BadData;
        for (uint32_t i = 0; i < dataSize; ++i) {
            if (in.overflow())
                return UnpackStatus::BadData;
            in.skip(8);
        }
    }
    m_pending.push_back(filter);
    return UnpackStatus::Data;
}

UnpackStatus Unpack29::decodeLz(uint64_t target)
{
    unsigned char* const win = m_window.data();
    const uint64_t end = m_entryEnd;
    uint64_t pos = m_unpPtr;
    BitInput& in = m_in;
    auto match = [&](uint32_t length, uint32_t distance) {
        if (length > end - pos)
            length = uint32_t(end - pos);
        copyMatch(win, uint32_t(pos) & kWindowMask, length, distance, kWindowMask, kWindowSize);
        pos += length;
    };

    while (pos < target) {
        if (in.overrun()) {
            m_unpPtr = pos;
            return UnpackStatus::BadData;
        }
        const unsigned sym = m_main.decode(in);
        if (sym < 256) {
            win[pos & kWindowMask] = uint8_t(sym);
            ++pos;
            continue;
        }
        if (sym >= 271) {
            const unsigned lc = sym - 271;
            uint32_t length = kLengthBase[lc] + 3u;
            if (const unsigned b = kLengthBits[lc])
                length += in.read(b);
            const unsigned dc = m_dist.decode(in);
            uint32_t distance = kDist.base[dc] + 1;
            const unsigned b = kDist.bits[dc];
            if (dc > 9) {
                if (b > 4)
                    distance += in.read(b - 4) << 4;
                if (m_lowDistRepeat > 0) {
                    --m_lowDistRepeat;
                    distance += m_prevLowDist;
                } else {
                    const unsigned low = m_lowDist.decode(in);
                    if (low == 16) {
                        m_lowDistRepeat = kLowDistRepeat - 1;
                        distance += m_prevLowDist;
                    } else {
                        distance += low;
                        m_prevLowDist = low;
                    }
                }
            } else if (b > 0) {
                distance += in.read(b);
            }
            if (distance >= 0x2000) {
                ++length;
                if (distance >= 0x40000)
                    ++length;
            }
            m_oldDist[3] = m_oldDist[2];
            m_oldDist[2] = m_oldDist[1];
            m_oldDist[1] = m_oldDist[0];
            m_oldDist[0] = distance;
            m_lastLength = length;
            m_lastDist = distance;
            match(length, distance);
            continue;
        }
        if (sym == 256) {
            m_unpPtr = pos;
            bool newFile = false;
            if (!readEndOfBlock(newFile))
                return UnpackStatus::BadData;
            if (newFile) {
                m_stopped = true;
                return UnpackStatus::Data;
            }
            if (m_ppmBlock)
                return UnpackStatus::Data;
            continue;
        }
        if (sym == 257) {
            m_unpPtr = pos;
            const UnpackStatus st = readFilterLz();
            if (st != UnpackStatus::Data)
                return st;
            continue;
        }
        if (sym == 258) {
            if (m_lastLength != 0)
                match(m_lastLength, m_lastDist);
            continue;
        }
        if (sym < 263) {
            const unsigned n = sym - 259;
            const uint32_t distance = m_oldDist[n];
            for (unsigned i = n; i > 0; --i)
                m_oldDist[i] = m_oldDist[i - 1];
            m_oldDist[0] = distance;
            const unsigned lc = m_rep.decode(in);
            uint32_t length = kLengthBase[lc] + 2u;
            if (const unsigned b = kLengthBits[lc])
                length += in.read(b);
            m_lastLength = length;
            m_lastDist = distance;
            match(length, distance);
            continue;
        }
        {
            const unsigned sc = sym - 263;
            uint32_t distance = kShortBase[sc] + 1u + in.read(kShortBits[sc]);
            m_oldDist[3] = m_oldDist[2];
            m_oldDist[2] = m_oldDist[1];
            m_oldDist[1] = m_oldDist[0];
            m_oldDist[0] = distance;
            m_lastLength = 2;
            m_lastDist = distance;
            match(2, distance);
        }
    }
    m_unpPtr = pos;
    return UnpackStatus::Data;
}

UnpackStatus Unpack29::decodePpm(uint64_t target)
{
    PpmdH& ppm = *m_ppm;
    unsigned char* const win = m_window.data();
    const uint64_t end = m_entryEnd;
    uint64_t pos = m_unpPtr;
    unsigned idle = 0; // definitions in a row without a byte of output
    auto match = [&](uint32_t length, uint32_t distance) {
        if (length > end - pos)
            length = uint32_t(end - pos);
        copyMatch(win, uint32_t(pos) & kWindowMask, length, distance, kWindowMask, kWindowSize);
        pos += length;
    };

    while (pos < target) {
        if (m_in.overrun()) {
            m_unpPtr = pos;
            return UnpackStatus::BadData;
        }
        const int ch = ppm.decodeChar();
        if (ch < 0) {
            m_unpPtr = pos;
            return UnpackStatus::BadData;
        }
        if (ch == m_escape) {
            const int code = ppm.decodeChar();
            if (code < 0) {
                m_unpPtr = pos;
                return UnpackStatus::BadData;
            }
            if (code == 0) {
                m_unpPtr = pos;
                if (!readTables())
                    return UnpackStatus::BadData;
                if (!m_ppmBlock)
                    return UnpackStatus::Data;
                continue;
            }
            if (code == 2) {
                m_unpPtr = pos;
                m_stopped = true;
                return UnpackStatus::Data;
            }
            if (code == 3) {
                m_unpPtr = pos;
                const UnpackStatus st = readFilterPpm();
                if (st != UnpackStatus::Data)
                    return st;
                if (++idle > 65536)
                    return UnpackStatus::BadData;
                continue;
            }
            if (code == 4) {
                uint32_t distance = 0, length = 0;
                for (int i = 0; i < 4; ++i) {
                    const int b = ppm.decodeChar();
                    if (b < 0) {
                        m_unpPtr = pos;
                        return UnpackStatus::BadData;
                    }
                    if (i == 3)
                        length = uint32_t(b);
                    else
                        distance = distance << 8 | uint32_t(b);
                }
                match(length + 32, distance + 2);
                idle = 0;
                continue;
            }
            if (code == 5) {
                const int length = ppm.decodeChar();
                if (length < 0) {
                    m_unpPtr = pos;
                    return UnpackStatus::BadData;
                }
                match(uint32_t(length) + 4, 1);
                idle = 0;
                continue;
            }
            // Any other code: the escape byte itself.
        }
        win[pos & kWindowMask] = uint8_t(ch);
        ++pos;
        idle = 0;
    }
    m_unpPtr = pos;
    return UnpackStatus::Data;
}

void Unpack29::drain()
{
    // The archiver ends an entry of a solid stream with a marker that may
    // say the next entry starts with new tables; read it, so that the next
    // entry is read the way it was written.
    for (int guard = 0; guard < 16 && !m_in.pastEnd() && !m_in.overrun(); ++guard) {
        if (m_ppmBlock) {
            if (m_ppm->decodeChar() != m_escape)
                return;
            const int code = m_ppm->decodeChar();
            if (code != 0)
                return;
            if (!readTables()) {
                m_broken = true;
                return;
            }
            continue;
        }
        if (!m_tablesRead)
            return;
        const unsigned sym = m_main.decode(m_in);
        if (sym == 256) {
            bool newFile = false;
            if (!readEndOfBlock(newFile)) {
                m_broken = true;
                return;
            }
            if (newFile)
                return;
        } else if (sym == 257) {
            if (readFilterLz() != UnpackStatus::Data) {
                m_broken = true;
                return;
            }
        } else {
            return;
        }
    }
}

UnpackStatus Unpack29::decode(uint64_t target)
{
    if (m_needTables) {
        m_needTables = false;
        if (!readTables())
            return UnpackStatus::BadData;
    }
    while (m_unpPtr < target && !m_stopped) {
        if (m_in.sourceFailed())
            return UnpackStatus::SourceFailed;
        const UnpackStatus st = m_ppmBlock ? decodePpm(target) : decodeLz(target);
        if (st != UnpackStatus::Data)
            return m_in.sourceFailed() ? UnpackStatus::SourceFailed : st;
    }
    if (m_in.sourceFailed())
        return UnpackStatus::SourceFailed;
    if (m_unpPtr >= m_entryEnd && !m_stopped) {
        drain();
        m_stopped = true;
    }
    return UnpackStatus::Data;
}

UnpackStatus Unpack29::runFilters()
{
    const PendingFilter filter = m_pending.front();
    m_pending.pop_front();
    if (filter.length > kFilter29MaxBlock)
        return UnpackStatus::BadData;
    if (m_filterMemory.empty())
        m_filterMemory.resize(kFilter29Memory + 4);
    unsigned char* mem = m_filterMemory.data();
    const uint32_t at = uint32_t(filter.start) & kWindowMask;
    const uint32_t firstPart = std::min(filter.length, kWindowSize - at);
    std::memcpy(mem, m_window.data() + at, firstPart);
    std::memcpy(mem + firstPart, m_window.data(), filter.length - firstPart);

    uint32_t r[7];
    std::memcpy(r, filter.r, sizeof r);
    r[6] = uint32_t(filter.start - m_entryStart); // where the block lies in the entry
    uint32_t outPos = 0, outSize = 0;
    if (!runFilter29(filter.type, mem, filter.length, r, outPos, outSize))
        return UnpackStatus::BadData;
    // Further filters over the same block take this one's output.
    while (!m_pending.empty() && m_pending.front().start == filter.start && m_pending.front().length == outSize) {
        const PendingFilter more = m_pending.front();
        m_pending.pop_front();
        std::memmove(mem, mem + outPos, outSize);
        std::memcpy(r, more.r, sizeof r);
        r[6] = uint32_t(filter.start - m_entryStart);
        if (!runFilter29(more.type, mem, more.length, r, outPos, outSize))
            return UnpackStatus::BadData;
    }
    m_out = mem + outPos;
    m_outLeft = outSize;
    m_wrPtr = filter.start + filter.length;
    return UnpackStatus::Data;
}

UnpackStatus Unpack29::next(const unsigned char*& data, size_t& size)
{
    if (m_status != UnpackStatus::Data)
        return m_status;
    for (;;) {
        if (m_outLeft > 0) {
            const size_t n = std::min(m_outLeft, kMaxChunk);
            data = m_out;
            size = n;
            m_out += n;
            m_outLeft -= n;
            return UnpackStatus::Data;
        }
        uint64_t border = std::min(m_unpPtr, m_entryEnd);
        bool waiting = false;
        if (!m_pending.empty()) {
            const PendingFilter& f = m_pending.front();
            if (f.start < m_wrPtr)
                return fail(UnpackStatus::BadData); // a block that was handed out already
            if (f.start == m_wrPtr && f.start < m_entryEnd) {
                if (m_unpPtr >= f.start + f.length) {
                    const UnpackStatus st = runFilters();
                    if (st != UnpackStatus::Data)
                        return fail(st);
                    continue;
                }
                border = m_wrPtr;
                waiting = true;
            } else if (f.start < border) {
                border = f.start;
            }
        }
        const uint64_t ready = border - m_wrPtr;
        const bool done = m_stopped;
        if (ready > 0 && (ready >= kReady || done || border < m_unpPtr)) {
            const uint32_t at = uint32_t(m_wrPtr) & kWindowMask;
            const size_t n = size_t(std::min<uint64_t>({ready, kWindowSize - at, kMaxChunk}));
            data = m_window.data() + at;
            size = n;
            m_wrPtr += n;
            return UnpackStatus::Data;
        }
        if (done) {
            if (m_wrPtr >= m_entryEnd && !waiting)
                return fail(UnpackStatus::End);
            return fail(UnpackStatus::BadData); // the data ended before the entry did
        }
        uint64_t target = std::max(m_unpPtr + kReady, m_wrPtr + kBatch);
        target = std::min({target, m_entryEnd, m_wrPtr + kWindowSize - kMargin});
        if (target <= m_unpPtr)
            return fail(UnpackStatus::BadData); // a filter's block larger than the window
        const UnpackStatus st = decode(target);
        if (st != UnpackStatus::Data)
            return fail(st);
    }
}

std::unique_ptr<Unpacker> makeUnpack29()
{
    return std::make_unique<Unpack29>();
}

}
