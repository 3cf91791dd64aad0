// The RAR 2.0 method (unpack versions 20 and 26; 26 only allows larger
// files): LZ with Huffman tables coded as deltas against the previous ones,
// four recent distances and the last match, a 1 MB window, and multimedia
// blocks in which each of up to four channels is coded as the error of an
// adaptive linear predictor. Entries of a solid archive continue the
// tables, window, distances and predictors of the entry before. Qt-free.
#pragma once

#include "Unpack.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Rar {

class Unpack20 : public Unpacker {
public:
    Unpack20();

    void begin(PackedSource& source, uint64_t unpackedSize, bool solid) override;
    UnpackStatus next(const unsigned char*& data, size_t& size) override;

    // Huffman code from code lengths (1..15, 0: unused), canonical the way
    // the archiver assigns it: shorter codes first, then by symbol.
    // Decoded through a table on the first kLookupBits bits; longer codes
    // by their length's range.
    class Huffman {
    public:
        static constexpr unsigned kMaxSymbols = 298;
        static constexpr uint32_t kInvalid = 0xfff; // a code no symbol has

        // False when the lengths ask for more codes than there is room
        // for (no archiver writes that).
        static bool valid(const uint8_t* lengths, unsigned count);
        // `lengths` must be valid().
        void build(const uint8_t* lengths, unsigned count);
        uint32_t decode(BitInput& in) const
        {
            const uint32_t bits = in.peek(15);
            const uint16_t entry = m_lookup[bits >> (15 - kLookupBits)];
            if (entry >> 12) {
                in.skip(entry >> 12);
                return entry & 0xfff;
            }
            return decodeLong(in, bits);
        }

    private:
        static constexpr unsigned kLookupBits = 10;
        uint32_t decodeLong(BitInput& in, uint32_t bits) const;

        uint16_t m_lookup[1 << kLookupBits] = {}; // symbol | length << 12; 0: longer code or none
        uint32_t m_limit[16] = {};  // codes of length n, left-aligned to 15 bits, are below m_limit[n]
        uint32_t m_first[16] = {};  // the first code of length n, left-aligned
        uint16_t m_offset[16] = {}; // its index in m_symbols
        uint16_t m_symbols[kMaxSymbols] = {};
    };

private:
    static constexpr uint32_t kWindowSize = 1u << 20;
    static constexpr uint32_t kWindowMask = kWindowSize - 1;
    static constexpr unsigned kMainCodes = 298, kDistCodes = 48, kLengthCodes = 28, kLevelCodes = 19;
    static constexpr unsigned kAudioCodes = 257, kMaxChannels = 4;
    static constexpr unsigned kMaxTable = kAudioCodes * kMaxChannels;

    struct Channel {
        int k[5] = {};          // weights of the predictor's terms
        int d1 = 0, d2 = 0, d3 = 0, d4 = 0;
        int lastDelta = 0;
        uint32_t dif[11] = {};  // how each weight change would have done
        uint32_t byteCount = 0;
        uint32_t lastChar = 0;
    };

    enum class Tables { Ok, Bad, Ignored };

    void reset();
    // Reads a table header and its code lengths. With `tentative` (after an
    // entry's last byte) new tables count only when they lie wholly inside
    // the data; otherwise nothing changes.
    Tables readTables(bool tentative);
    bool decode(uint64_t stop);
    uint8_t decodeAudio(uint32_t delta);
    UnpackStatus fail(UnpackStatus status);

    BitInput m_in;
    std::vector<uint8_t> m_window;
    uint64_t m_pos = 0;    // bytes written into the window, ever
    uint64_t m_start = 0;  // m_pos when the stream began: nothing before it is history
    uint64_t m_done = 0;   // bytes of the window handed out
    uint64_t m_end = 0;    // m_pos at the entry's end

    Huffman m_main, m_dist, m_length, m_audioTables[kMaxChannels];
    uint8_t m_oldLengths[kMaxTable] = {};
    bool m_tablesRead = false;
    bool m_needTables = false;
    bool m_finished = false; // the entry's bytes are all decoded

    bool m_audio = false;
    unsigned m_channels = 1;
    unsigned m_channel = 0;
    int m_channelDelta = 0;
    Channel m_audioState[kMaxChannels];

    uint32_t m_oldDist[4] = {};
    unsigned m_oldDistPtr = 0;
    uint32_t m_lastDist = 0;
    uint32_t m_lastLength = 0;

    // A failed entry leaves the stream broken: solid successors fail too.
    bool m_broken = false;
    UnpackStatus m_failure = UnpackStatus::BadData;
};

std::unique_ptr<Unpacker> makeUnpack20();

}
