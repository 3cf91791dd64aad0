// The RAR 1.5 method (unpack version 15): LZ over a 64 KiB window whose
// literals, match distances, lengths and flag bytes are coded by fixed
// prefix-code shapes over adaptive orderings (symbols move towards the short
// codes as they are used), with a run mode for stretches of literals and a
// one-bit choice per step read from a coded flags byte. Qt-free.
#pragma once

#include "Unpack.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace Rar {

class Unpack15 final : public Unpacker {
public:
    Unpack15();

    void begin(PackedSource& source, uint64_t unpackedSize, bool solid) override;
    UnpackStatus next(const unsigned char*& data, size_t& size) override;

    // The window the data refers to, and the ring it lives in: larger, so
    // that a chunk of decoded bytes can wait to be taken while 64 KiB of
    // history stay behind it.
    static constexpr uint32_t kWindowSize = 0x10000;
    static constexpr uint32_t kRingSize = 0x40000;
    static constexpr uint32_t kRingMask = kRingSize - 1;
    static constexpr uint32_t kChunk = 0x10000;

private:
    void resetModel();
    bool decode();
    void readFlags();
    void literal();
    void shortMatch();
    void longMatch();
    void copy(uint32_t distance, uint32_t length);
    // When a use count would overflow: the counts of an ordering fall back
    // to a staircase by place.
    static void rescale(uint16_t* set, uint8_t* numToPlace);

    BitInput m_in;
    std::vector<unsigned char> m_window;
    uint32_t m_unpPtr = 0; // where the next byte is decoded
    uint32_t m_wrPtr = 0;  // the first byte not yet delivered
    int64_t m_left = 0;    // bytes still to decode (below 0: a match ran past the end)
    uint64_t m_toDeliver = 0;
    bool m_started = false;     // the first flags byte of the entry is read
    bool m_hasState = false;    // an entry was begun: solid entries may continue it

    // Orderings: high byte the symbol, low byte its use count.
    std::array<uint16_t, 256> m_chSet{};  // literals
    std::array<uint16_t, 256> m_chSetA{}; // short match distances (plain symbols)
    std::array<uint16_t, 256> m_chSetB{}; // long match distances, high bits
    std::array<uint16_t, 256> m_chSetC{}; // flag bytes
    std::array<uint8_t, 256> m_nToPl{};
    std::array<uint8_t, 256> m_nToPlB{};
    std::array<uint8_t, 256> m_nToPlC{};

    uint32_t m_flagBuf = 0;
    int m_flagsCnt = 0;
    uint32_t m_avrPlc = 0;
    uint32_t m_avrPlcB = 0;
    uint32_t m_avrLn1 = 0;
    uint32_t m_avrLn2 = 0;
    uint32_t m_avrLn3 = 0;
    uint32_t m_buf60 = 0;
    uint32_t m_numHuf = 0;
    bool m_stMode = false;
    uint32_t m_lCount = 0;
    uint32_t m_nhfb = 0;
    uint32_t m_nlzb = 0;
    uint32_t m_maxDist3 = 0;
    std::array<uint32_t, 4> m_oldDist{};
    uint32_t m_oldDistPtr = 0;
    uint32_t m_lastDist = 0;
    uint32_t m_lastLength = 0;
};

std::unique_ptr<Unpacker> makeUnpack15();

}
