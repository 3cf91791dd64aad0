// libFuzzer target for the PPMd model of the RAR 2.9 method (rar/Ppmd).
// The first byte chooses:
// - even: the rest is PPM data (a block header, forced to start a model of
//   at most 8 MB, then range-coded bytes); it is decoded as the RAR 2.9
//   decoder would, blocks after blocks, up to a bounded number of bytes;
//   damaged data must end in -1 (or a refused block), within the model's
//   memory and without hanging;
// - odd: the rest is plain data, encoded with the model's encoder (order and
//   block boundaries from the data, 1 MB of model memory, so that it fills
//   up) and decoded again: it must come back unchanged.
#include "Ppmd.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

class Bytes : public Rar::PackedSource {
public:
    Bytes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    ssize_t read(const unsigned char** data) override
    {
        // Small pieces, so that refills fall anywhere.
        const size_t n = m_size - m_pos < 997 ? m_size - m_pos : 997;
        *data = m_data + m_pos;
        m_pos += n;
        return ssize_t(n);
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

void decodeData(const uint8_t* data, size_t size)
{
    if (size < 2)
        return;
    std::vector<uint8_t> packed(data, data + size);
    packed[0] |= 0xA0;
    packed[1] &= 7;
    Bytes source(packed.data(), packed.size());
    Rar::BitInput in;
    in.start(&source);
    Rar::PpmdH ppm;
    int escape = 2;
    if (!ppm.startBlock(in, escape))
        return;
    for (unsigned produced = 0; produced < (1u << 18); ++produced) {
        const int c = ppm.decodeChar();
        if (c < 0)
            return;
        if (c != escape)
            continue;
        const int code = ppm.decodeChar();
        if (code < 0 || code == 2)
            return;
        // End of the PPM block: the next one follows at a byte boundary,
        // here without the LZ blocks that could come between.
        if (code == 0 && !ppm.startBlock(in, escape))
            return;
    }
}

void roundTrip(const uint8_t* data, size_t size)
{
    if (size < 3)
        return;
    static const unsigned kOrders[] = { 2, 3, 4, 5, 6, 8, 10, 12, 16, 19, 31, 64 };
    const unsigned order = kOrders[data[0] % (sizeof kOrders / sizeof kOrders[0])];
    const size_t blockBytes = data[1] ? size_t(data[1]) * 97 : 0;
    // Twice over, the second time changed a little, so that the model
    // meets what it has seen and runs out of memory sooner.
    std::vector<uint8_t> plain(data + 2, data + size);
    for (size_t i = 2; i < size; ++i)
        plain.push_back(uint8_t(data[i] ^ (i & 3)));

    Rar::PpmdHEncoder encoder;
    std::vector<uint8_t> packed;
    int escape = 2;
    if (!encoder.startBlock(packed, order, 1))
        __builtin_trap();
    size_t inBlock = 0;
    for (const uint8_t byte : plain) {
        if (blockBytes && inBlock == blockBytes) {
            if (!encoder.encodeChar(uint8_t(escape)) || !encoder.encodeChar(0))
                __builtin_trap();
            encoder.finishBlock();
            escape = byte; // an escape byte that comes next
            if (!encoder.startBlock(packed, 0, 0, escape))
                __builtin_trap();
            inBlock = 0;
        }
        if (!encoder.encodeChar(byte) || (byte == escape && !encoder.encodeChar(1)))
            __builtin_trap();
        ++inBlock;
    }
    encoder.finishBlock();

    Bytes source(packed.data(), packed.size());
    Rar::BitInput in;
    in.start(&source);
    Rar::PpmdH ppm;
    int readEscape = 2;
    if (!ppm.startBlock(in, readEscape))
        __builtin_trap();
    for (const uint8_t byte : plain) {
        int c = ppm.decodeChar();
        while (c == readEscape) {
            const int code = ppm.decodeChar();
            if (code == 1)
                break;
            if (code != 0 || !ppm.startBlock(in, readEscape))
                __builtin_trap();
            c = ppm.decodeChar();
        }
        if (c != byte)
            __builtin_trap();
    }
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    if (data[0] & 1)
        roundTrip(data + 1, size - 1);
    else
        decodeData(data + 1, size - 1);
    return 0;
}
