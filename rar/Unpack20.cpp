#include "Unpack20.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace Rar {

namespace {

// Match lengths: base and extra bits of each length code.
constexpr uint8_t kLengthBase[28] = {0,  1,  2,  3,  4,  5,  6,   7,   8,   10,  12,  14,  16,  20,
                                     24, 28, 32, 40, 48, 56, 64,  80,  96,  112, 128, 160, 192, 224};
constexpr uint8_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                     2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};

// Distances: two codes for each count of extra bits from 1 to 15, then
// 16-bit steps up to the window's size.
struct DistanceCodes {
    uint32_t base[48];
    uint8_t bits[48];
    constexpr DistanceCodes() : base(), bits()
    {
        uint32_t next = 0;
        for (unsigned i = 0; i < 48; ++i) {
            const unsigned b = i < 4 ? 0 : i < 34 ? (i - 2) / 2 : 16;
            base[i] = next;
            bits[i] = uint8_t(b);
            next += 1u << b;
        }
    }
};
constexpr DistanceCodes kDistances;
static_assert(kDistances.base[47] + (1u << 16) == 1u << 20);

// Length-2 matches at short distances.
constexpr uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

constexpr size_t kChunk = 64 * 1024;

// The main code's symbols beyond the literals.
constexpr uint32_t kRepeatLast = 256;  // the last match again
constexpr uint32_t kOldDistance = 257; // 257..260: a recent distance with a new length
constexpr uint32_t kShortMatch = 261;  // 261..268: length 2, short distance
constexpr uint32_t kNewTables = 269;
constexpr uint32_t kMatch = 270;       // 270..297: length code, then a distance code
constexpr uint32_t kAudioNewTables = 256;

}

// --- Huffman codes -------------------------------------------------------

bool Unpack20::Huffman::valid(const uint8_t* lengths, unsigned count)
{
    unsigned counts[16] = {};
    for (unsigned i = 0; i < count; ++i)
        ++counts[lengths[i] & 15];
    int room = 1;
    for (unsigned n = 1; n < 16; ++n) {
        room = room * 2 - int(counts[n]);
        if (room < 0)
            return false;
    }
    return true;
}

void Unpack20::Huffman::build(const uint8_t* lengths, unsigned count)
{
    unsigned counts[16] = {};
    for (unsigned i = 0; i < count; ++i)
        ++counts[lengths[i] & 15];
    counts[0] = 0;

    uint32_t code = 0;
    unsigned index = 0;
    uint16_t cursor[16] = {};
    for (unsigned n = 1; n < 16; ++n) {
        m_first[n] = code << (15 - n);
        m_offset[n] = uint16_t(index);
        cursor[n] = uint16_t(index);
        code += counts[n];
        m_limit[n] = code << (15 - n);
        index += counts[n];
        code <<= 1;
    }
    for (unsigned i = 0; i < count; ++i)
        if (const unsigned n = lengths[i] & 15)
            m_symbols[cursor[n]++] = uint16_t(i);

    std::memset(m_lookup, 0, sizeof m_lookup);
    for (unsigned n = 1; n <= kLookupBits; ++n) {
        const unsigned span = 1u << (kLookupBits - n);
        uint32_t at = m_first[n] >> (15 - kLookupBits);
        for (unsigned i = m_offset[n]; i < m_offset[n] + counts[n]; ++i) {
            const uint16_t entry = uint16_t(m_symbols[i] | (n << 12));
            for (unsigned j = 0; j < span; ++j)
                m_lookup[at + j] = entry;
            at += span;
        }
    }
}

uint32_t Unpack20::Huffman::decodeLong(BitInput& in, uint32_t bits) const
{
    // Codes of kLookupBits or fewer bits all lie below m_limit[kLookupBits]
    // and are in the table; what is left is longer or no code at all.
    for (unsigned n = kLookupBits + 1; n < 16; ++n) {
        if (bits < m_limit[n]) {
            in.skip(n);
            return m_symbols[m_offset[n] + ((bits - m_first[n]) >> (15 - n))];
        }
    }
    return kInvalid;
}

// --- The decoder ---------------------------------------------------------

Unpack20::Unpack20()
    : m_window(kWindowSize)
{
}

void Unpack20::reset()
{
    // The window keeps its old bytes: nothing reads before m_start.
    m_start = m_pos;
    m_tablesRead = false;
    std::memset(m_oldLengths, 0, sizeof m_oldLengths);
    m_audio = false;
    m_channels = 1;
    m_channel = 0;
    m_channelDelta = 0;
    for (Channel& c : m_audioState)
        c = Channel();
    std::memset(m_oldDist, 0, sizeof m_oldDist);
    m_oldDistPtr = 0;
    m_lastDist = 0;
    m_lastLength = 0;
    m_broken = false;
}

void Unpack20::begin(PackedSource& source, uint64_t unpackedSize, bool solid)
{
    m_in.start(&source);
    if (!solid)
        reset();
    m_done = m_pos;
    m_end = m_pos + unpackedSize;
    // A solid entry goes on with the tables in force; new ones, when the
    // archiver wanted them, were announced at the end of the entry before.
    m_needTables = !m_tablesRead;
    m_finished = false;
}

UnpackStatus Unpack20::fail(UnpackStatus status)
{
    m_broken = true;
    m_failure = status;
    return status;
}

Unpack20::Tables Unpack20::readTables(bool tentative)
{
    const uint32_t header = m_in.read(2);
    const bool audio = header & 2;
    const bool keep = header & 1;
    unsigned channels = m_channels;
    unsigned size = kMainCodes + kDistCodes + kLengthCodes;
    if (audio) {
        channels = m_in.read(2) + 1;
        size = kAudioCodes * channels;
    }

    uint8_t levelLengths[kLevelCodes];
    for (uint8_t& l : levelLengths)
        l = uint8_t(m_in.read(4));
    const Tables bad = tentative ? Tables::Ignored : Tables::Bad;
    if (!Huffman::valid(levelLengths, kLevelCodes))
        return bad;
    Huffman levels;
    levels.build(levelLengths, kLevelCodes);

    uint8_t lengths[kMaxTable];
    for (unsigned i = 0; i < size;) {
        const uint32_t code = levels.decode(m_in);
        if (code < 16) {
            lengths[i] = uint8_t((code + (keep ? m_oldLengths[i] : 0)) & 15);
            ++i;
        } else if (code == 16) {
            // The length before, 3 to 6 times.
            if (i == 0)
                return bad;
            const unsigned n = std::min(size - i, m_in.read(2) + 3);
            std::memset(lengths + i, lengths[i - 1], n);
            i += n;
        } else if (code == 17 || code == 18) {
            // Unused codes: 3 to 10, or 11 to 138 of them.
            const unsigned n = std::min(size - i, code == 17 ? m_in.read(3) + 3 : m_in.read(7) + 11);
            std::memset(lengths + i, 0, n);
            i += n;
        } else {
            return bad;
        }
        if (m_in.overrun())
            return bad;
    }
    // After the entry's last byte only tables wholly inside its data count.
    if (tentative && m_in.pastEnd())
        return Tables::Ignored;

    if (audio) {
        for (unsigned c = 0; c < channels; ++c)
            if (!Huffman::valid(lengths + c * kAudioCodes, kAudioCodes))
                return bad;
        for (unsigned c = 0; c < channels; ++c)
            m_audioTables[c].build(lengths + c * kAudioCodes, kAudioCodes);
        m_channels = channels;
        if (m_channel >= channels)
            m_channel = 0;
    } else {
        if (!Huffman::valid(lengths, kMainCodes) || !Huffman::valid(lengths + kMainCodes, kDistCodes)
            || !Huffman::valid(lengths + kMainCodes + kDistCodes, kLengthCodes))
            return bad;
        m_main.build(lengths, kMainCodes);
        m_dist.build(lengths + kMainCodes, kDistCodes);
        m_length.build(lengths + kMainCodes + kDistCodes, kLengthCodes);
    }
    m_audio = audio;
    if (!keep)
        std::memset(m_oldLengths, 0, sizeof m_oldLengths);
    std::memcpy(m_oldLengths, lengths, size);
    m_tablesRead = true;
    return Tables::Ok;
}

uint8_t Unpack20::decodeAudio(uint32_t delta)
{
    // The sample is predicted from the channel's last one and its last
    // four differences, plus the last difference of the channel before;
    // the data holds the prediction's error. Every 32 samples the weight
    // whose change would have given the smallest errors is moved by one.
    Channel& v = m_audioState[m_channel];
    ++v.byteCount;
    v.d4 = v.d3;
    v.d3 = v.d2;
    v.d2 = v.lastDelta - v.d1;
    v.d1 = v.lastDelta;
    const int predicted = 8 * int(v.lastChar) + v.k[0] * v.d1 + v.k[1] * v.d2 + v.k[2] * v.d3 + v.k[3] * v.d4
        + v.k[4] * m_channelDelta;
    const uint32_t sample = (uint32_t(predicted >> 3) - delta) & 0xff;

    const int d = int(int8_t(uint8_t(delta))) * 8;
    v.dif[0] += uint32_t(std::abs(d));
    v.dif[1] += uint32_t(std::abs(d - v.d1));
    v.dif[2] += uint32_t(std::abs(d + v.d1));
    v.dif[3] += uint32_t(std::abs(d - v.d2));
    v.dif[4] += uint32_t(std::abs(d + v.d2));
    v.dif[5] += uint32_t(std::abs(d - v.d3));
    v.dif[6] += uint32_t(std::abs(d + v.d3));
    v.dif[7] += uint32_t(std::abs(d - v.d4));
    v.dif[8] += uint32_t(std::abs(d + v.d4));
    v.dif[9] += uint32_t(std::abs(d - m_channelDelta));
    v.dif[10] += uint32_t(std::abs(d + m_channelDelta));

    m_channelDelta = v.lastDelta = int(int8_t(uint8_t(sample - v.lastChar)));
    v.lastChar = sample;

    if ((v.byteCount & 0x1f) == 0) {
        uint32_t least = v.dif[0];
        unsigned which = 0;
        v.dif[0] = 0;
        for (unsigned i = 1; i < 11; ++i) {
            if (v.dif[i] < least) {
                least = v.dif[i];
                which = i;
            }
            v.dif[i] = 0;
        }
        if (which) {
            int& k = v.k[(which - 1) / 2];
            if (which & 1) {
                if (k >= -16)
                    --k;
            } else if (k < 16) {
                ++k;
            }
        }
    }
    return uint8_t(sample);
}

bool Unpack20::decode(uint64_t stop)
{
    uint8_t* const window = m_window.data();
    uint64_t pos = m_pos;
    bool ok = true;
    while (pos < stop) {
        // Past the end only zero bits are read, and some symbols (a repeat
        // of a match of length 0, new tables) take no bytes of output: a
        // damaged stream would loop here for ever.
        if (m_in.overrun()) {
            ok = false;
            break;
        }
        if (m_audio) {
            const uint32_t symbol = m_audioTables[m_channel].decode(m_in);
            if (symbol < kAudioNewTables) {
                window[pos++ & kWindowMask] = decodeAudio(symbol);
                if (++m_channel == m_channels)
                    m_channel = 0;
                continue;
            }
            if (symbol == kAudioNewTables && readTables(false) == Tables::Ok)
                continue;
            ok = false;
            break;
        }

        const uint32_t symbol = m_main.decode(m_in);
        if (symbol < 256) {
            window[pos++ & kWindowMask] = uint8_t(symbol);
            continue;
        }
        uint32_t length;
        uint32_t distance;
        if (symbol >= kMatch) {
            const uint32_t l = symbol - kMatch;
            if (l >= kLengthCodes) {
                ok = false;
                break;
            }
            length = kLengthBase[l] + 3;
            if (const unsigned bits = kLengthBits[l])
                length += m_in.read(bits);
            const uint32_t d = m_dist.decode(m_in);
            if (d >= kDistCodes) {
                ok = false;
                break;
            }
            distance = kDistances.base[d] + 1;
            if (const unsigned bits = kDistances.bits[d])
                distance += m_in.read(bits);
            if (distance >= 0x2000) {
                ++length;
                if (distance >= 0x40000)
                    ++length;
            }
        } else if (symbol == kNewTables) {
            if (readTables(false) != Tables::Ok) {
                ok = false;
                break;
            }
            continue;
        } else if (symbol == kRepeatLast) {
            length = m_lastLength;
            distance = m_lastDist;
        } else if (symbol < kShortMatch) {
            distance = m_oldDist[(m_oldDistPtr - (symbol - kOldDistance + 1)) & 3];
            const uint32_t l = m_length.decode(m_in);
            if (l >= kLengthCodes) {
                ok = false;
                break;
            }
            length = kLengthBase[l] + 2;
            if (const unsigned bits = kLengthBits[l])
                length += m_in.read(bits);
            if (distance >= 0x101) {
                ++length;
                if (distance >= 0x2000) {
                    ++length;
                    if (distance >= 0x40000)
                        ++length;
                }
            }
        } else {
            const uint32_t s = symbol - kShortMatch;
            distance = kShortBase[s] + 1 + m_in.read(kShortBits[s]);
            length = 2;
        }

        m_oldDist[m_oldDistPtr++ & 3] = distance;
        m_lastDist = distance;
        m_lastLength = length;
        if (length == 0)
            continue;
        // Never before the stream's first byte (nor, in a damaged stream,
        // at distance 0): the window's older bytes belong to no entry here.
        if (distance == 0 || distance > pos - m_start) {
            ok = false;
            break;
        }
        // The entry ends exactly at its size.
        const uint32_t n = uint32_t(std::min<uint64_t>(length, m_end - pos));
        const uint32_t to = uint32_t(pos & kWindowMask);
        const uint32_t from = uint32_t((pos - distance) & kWindowMask);
        if (to + n <= kWindowSize && from + n <= kWindowSize) {
            uint8_t* d = window + to;
            const uint8_t* s = window + from;
            if (distance >= n) {
                std::memmove(d, s, n); // the same bytes at a distance of the whole window
            } else {
                for (uint32_t i = 0; i < n; ++i)
                    d[i] = s[i];
            }
        } else {
            for (uint32_t i = 0; i < n; ++i)
                window[(to + i) & kWindowMask] = window[(from + i) & kWindowMask];
        }
        pos += n;
    }
    m_pos = pos;
    return ok;
}

UnpackStatus Unpack20::next(const unsigned char*& data, size_t& size)
{
    if (m_broken)
        return m_failure;

    if (m_needTables) {
        m_needTables = false;
        if (m_pos == m_end) {
            // An empty entry may have no data at all.
            readTables(true);
        } else if (readTables(false) != Tables::Ok) {
            return fail(m_in.sourceFailed() ? UnpackStatus::SourceFailed : UnpackStatus::BadData);
        }
    }

    if (m_pos < m_end && m_pos - m_done < kChunk) {
        const uint64_t stop = std::min(m_end, m_done + kChunk);
        const bool ok = decode(stop);
        if (m_in.sourceFailed())
            return fail(UnpackStatus::SourceFailed);
        if (!ok || m_in.overrun())
            return fail(UnpackStatus::BadData);
    }

    if (m_pos == m_end && !m_finished) {
        m_finished = true;
        // The archiver announces the next solid entry's new tables right
        // after this entry's last byte, inside this entry's data.
        if (m_tablesRead) {
            const uint32_t symbol = m_audio ? m_audioTables[m_channel].decode(m_in) : m_main.decode(m_in);
            if (symbol == (m_audio ? kAudioNewTables : kNewTables) && !m_in.pastEnd())
                readTables(true);
        }
    }

    if (m_done == m_pos)
        return UnpackStatus::End;
    const uint32_t at = uint32_t(m_done & kWindowMask);
    const uint64_t n = std::min<uint64_t>(m_pos - m_done, kWindowSize - at);
    data = m_window.data() + at;
    size = size_t(n);
    m_done += n;
    return UnpackStatus::Data;
}

std::unique_ptr<Unpacker> makeUnpack20()
{
    return std::make_unique<Unpack20>();
}

}
