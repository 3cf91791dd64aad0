#include "Filters29.h"

#include "RarFormat.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace Rar {

namespace {

struct Signature {
    uint32_t length;
    uint32_t crc;
    Filter29 type;
};

// The programs archivers emit, by length and CRC32 of their byte-code.
constexpr Signature kStandard[] = {
    {53, 0xad576887, Filter29::E8},
    {57, 0x3cd7e57e, Filter29::E8E9},
    {120, 0x3769893f, Filter29::Itanium},
    {29, 0x0e06077d, Filter29::Delta},
    {149, 0x1c2c5dc8, Filter29::Rgb},
    {216, 0xbc85e701, Filter29::Audio},
};

uint32_t load32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void store32(unsigned char* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// x86 CALL (and JMP) targets were made relative to absolute; back again.
void x86(unsigned char* data, uint32_t length, uint32_t fileOffset, bool jumpsToo)
{
    constexpr uint32_t kFileSize = 0x1000000;
    const unsigned char second = jumpsToo ? 0xe9 : 0xe8;
    for (uint32_t pos = 0; pos + 4 < length;) {
        const unsigned char byte = data[pos++];
        if (byte != 0xe8 && byte != second)
            continue;
        const uint32_t offset = pos + fileOffset;
        const uint32_t addr = load32(data + pos);
        if (addr & 0x80000000u) {
            if (((addr + offset) & 0x80000000u) == 0)
                store32(data + pos, addr + kFileSize);
        } else if ((addr - kFileSize) & 0x80000000u) {
            store32(data + pos, addr - offset);
        }
        pos += 4;
    }
}

uint32_t itaniumBits(const unsigned char* data, unsigned bitPos, unsigned count)
{
    const uint32_t field = load32(data + bitPos / 8) >> (bitPos & 7);
    return field & (0xffffffffu >> (32 - count));
}

void setItaniumBits(unsigned char* data, uint32_t value, unsigned bitPos, unsigned count)
{
    unsigned char* p = data + bitPos / 8;
    const unsigned shift = bitPos & 7;
    uint32_t keep = ~((0xffffffffu >> (32 - count)) << shift);
    value <<= shift;
    for (int i = 0; i < 4; ++i) {
        p[i] = uint8_t((p[i] & keep) | value);
        keep = (keep >> 8) | 0xff000000u;
        value >>= 8;
    }
}

// IA-64 bundles: the branch targets of the slots the template marks.
void itanium(unsigned char* data, uint32_t length, uint32_t fileOffset)
{
    static constexpr unsigned char kMasks[16] = {4, 4, 6, 6, 0, 0, 7, 7, 4, 4, 0, 0, 4, 4, 0, 0};
    fileOffset >>= 4;
    for (uint32_t pos = 0; pos + 21 < length; pos += 16, data += 16, ++fileOffset) {
        const int templ = (data[0] & 0x1f) - 0x10;
        if (templ < 0)
            continue;
        const unsigned mask = kMasks[templ];
        for (unsigned slot = 0; slot < 3; ++slot) {
            if (!(mask & (1u << slot)))
                continue;
            const unsigned start = slot * 41 + 5;
            if (itaniumBits(data, start + 37, 4) != 5)
                continue;
            const uint32_t target = itaniumBits(data, start + 13, 20);
            setItaniumBits(data, (target - fileOffset) & 0xfffff, start + 13, 20);
        }
    }
}

// Bytes were stored channel after channel, each as differences.
void delta(unsigned char* memory, uint32_t length, uint32_t channels)
{
    unsigned char* out = memory + length;
    const unsigned char* in = memory;
    channels = std::min(channels, length);
    for (uint32_t c = 0; c < channels; ++c) {
        unsigned char prev = 0;
        for (uint32_t i = c; i < length; i += channels)
            out[i] = prev = uint8_t(prev - *in++);
    }
}

void rgb(unsigned char* memory, uint32_t length, uint32_t width, uint32_t posR)
{
    const unsigned char* in = memory;
    unsigned char* out = memory + length;
    for (uint32_t c = 0; c < 3; ++c) {
        unsigned prev = 0;
        for (uint32_t i = c; i < length; i += 3) {
            unsigned predicted = prev;
            if (i >= width + 3) {
                const unsigned char* upper = out + (i - width);
                const int up = upper[0], upLeft = upper[-3];
                const int guess = int(prev) + up - upLeft;
                const int pa = std::abs(guess - int(prev));
                const int pb = std::abs(guess - up);
                const int pc = std::abs(guess - upLeft);
                predicted = pa <= pb && pa <= pc ? prev : pb <= pc ? unsigned(up) : unsigned(upLeft);
            }
            out[i] = uint8_t(predicted - *in++);
            prev = out[i];
        }
    }
    for (uint32_t i = posR; i + 2 < length; i += 3) {
        const unsigned char g = out[i + 1];
        out[i] = uint8_t(out[i] + g);
        out[i + 2] = uint8_t(out[i + 2] + g);
    }
}

// Sound samples: an adaptive linear predictor per channel.
void audio(unsigned char* memory, uint32_t length, uint32_t channels)
{
    const unsigned char* in = memory;
    unsigned char* out = memory + length;
    channels = std::min(channels, length);
    for (uint32_t c = 0; c < channels; ++c) {
        uint32_t prevByte = 0, prevDelta = 0, dif[7] = {};
        int32_t d1 = 0, d2 = 0, d3 = 0;
        int32_t k1 = 0, k2 = 0, k3 = 0;
        uint32_t count = 0;
        for (uint32_t i = c; i < length; i += channels, ++count) {
            d3 = d2;
            d2 = int32_t(prevDelta - uint32_t(d1));
            d1 = int32_t(prevDelta);
            uint32_t predicted = 8 * prevByte + uint32_t(k1 * d1) + uint32_t(k2 * d2) + uint32_t(k3 * d3);
            predicted = (predicted >> 3) & 0xff;
            const uint32_t cur = *in++;
            predicted -= cur;
            out[i] = uint8_t(predicted);
            prevDelta = uint32_t(int32_t(int8_t(uint8_t(predicted - prevByte))));
            prevByte = uint8_t(predicted);

            const int32_t d = int32_t(int8_t(uint8_t(cur))) * 8;
            dif[0] += uint32_t(std::abs(d));
            dif[1] += uint32_t(std::abs(d - d1));
            dif[2] += uint32_t(std::abs(d + d1));
            dif[3] += uint32_t(std::abs(d - d2));
            dif[4] += uint32_t(std::abs(d + d2));
            dif[5] += uint32_t(std::abs(d - d3));
            dif[6] += uint32_t(std::abs(d + d3));
            if ((count & 0x1f) == 0) {
                uint32_t minDif = dif[0], best = 0;
                dif[0] = 0;
                for (uint32_t j = 1; j < 7; ++j) {
                    if (dif[j] < minDif) {
                        minDif = dif[j];
                        best = j;
                    }
                    dif[j] = 0;
                }
                switch (best) {
                case 1: if (k1 >= -16) --k1; break;
                case 2: if (k1 < 16) ++k1; break;
                case 3: if (k2 >= -16) --k2; break;
                case 4: if (k2 < 16) ++k2; break;
                case 5: if (k3 >= -16) --k3; break;
                case 6: if (k3 < 16) ++k3; break;
                default: break;
                }
            }
        }
    }
}


}

Filter29 identifyFilter29(const unsigned char* code, size_t size)
{
    const uint32_t crc = crc32(0, code, size);
    for (const Signature& s : kStandard)
        if (s.length == size && s.crc == crc)
            return s.type;
    return Filter29::Unknown;
}

bool runFilter29(Filter29 type, unsigned char* memory, uint32_t length, const uint32_t r[7],
                 uint32_t& outPos, uint32_t& outSize)
{
    outPos = 0;
    outSize = length;
    switch (type) {
    case Filter29::E8:
    case Filter29::E8E9:
        if (length >= kFilter29MaxBlock)
            return false;
        if (length >= 4)
            x86(memory, length, r[6], type == Filter29::E8E9);
        return true;
    case Filter29::Itanium:
        if (length >= kFilter29MaxBlock)
            return false;
        if (length >= 21)
            itanium(memory, length, r[6]);
        return true;
    case Filter29::Delta:
        if (length >= kFilter29MaxBlock / 2 || (r[0] == 0 && length > 0))
            return false;
        delta(memory, length, r[0]);
        outPos = length;
        return true;
    case Filter29::Rgb: {
        // r[0] is the width of a line in bytes, r[1] where red is.
        if (length >= kFilter29MaxBlock / 2 || length < 3 || r[0] < 3 || r[0] - 3 > length || r[1] > 2)
            return false;
        rgb(memory, length, r[0] - 3, r[1]);
        outPos = length;
        return true;
    }
    case Filter29::Audio:
        if (length >= kFilter29MaxBlock / 2 || (r[0] == 0 && length > 0))
            return false;
        audio(memory, length, r[0]);
        outPos = length;
        return true;
    case Filter29::Unknown:
        break;
    }
    return false;
}

}
