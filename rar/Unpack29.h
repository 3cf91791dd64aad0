// The RAR 2.9 method (unpack versions 29 and 36): LZ blocks with Huffman
// tables over a 4 MB window, PPMd blocks, and the standard filters, which
// hold back the data they cover until they have run. Qt-free.
#pragma once

#include "Filters29.h"
#include "Unpack.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace Rar {

class PpmdH;

class Unpack29 : public Unpacker {
public:
    Unpack29();
    ~Unpack29() override;

    void begin(PackedSource& source, uint64_t unpackedSize, bool solid) override;
    UnpackStatus next(const unsigned char*& data, size_t& size) override;

    // A canonical Huffman code, decoded through a table on its first bits.
    struct Huffman {
        static constexpr unsigned kFastBits = 10;
        static constexpr unsigned kMaxSymbols = 299;
        uint16_t fast[1u << kFastBits]; // (length << 9) | symbol; 0: longer code
        uint32_t limit[17];             // first left-aligned 16-bit code past each length
        uint32_t start[17];             // first left-aligned code of each length
        uint16_t first[17];             // index in `symbols` of each length's first code
        uint16_t symbols[kMaxSymbols];
        bool build(const uint8_t* lengths, unsigned count);
        unsigned decodeSlow(BitInput& in, uint32_t bits) const;
        unsigned decode(BitInput& in) const
        {
            const uint32_t bits = in.peek(16);
            const uint16_t e = fast[bits >> (16 - kFastBits)];
            if (e) {
                in.skip(e >> 9);
                return e & 0x1ff;
            }
            return decodeSlow(in, bits);
        }
    };

private:
    static constexpr uint32_t kWindowSize = 0x400000;
    static constexpr uint32_t kWindowMask = kWindowSize - 1;
    static constexpr unsigned kTableSize = 299 + 60 + 17 + 28;

    // A filter's program, kept by its number for later blocks to use again.
    struct FilterProgram {
        Filter29 type = Filter29::Unknown;
        uint32_t lastLength = 0;
        uint32_t execCount = 0;
    };
    // A block waiting for its filter.
    struct PendingFilter {
        Filter29 type;
        uint64_t start;  // position in the stream of decoded bytes
        uint32_t length;
        uint32_t r[7];
    };

    void reset();
    bool readTables();
    bool readEndOfBlock(bool& newFile);
    UnpackStatus readFilterLz();
    UnpackStatus readFilterPpm();
    UnpackStatus addFilter(const unsigned char* code, size_t size, unsigned firstByte);
    UnpackStatus decode(uint64_t target);
    UnpackStatus decodeLz(uint64_t target);
    UnpackStatus decodePpm(uint64_t target);
    void drain();
    UnpackStatus runFilters();
    UnpackStatus fail(UnpackStatus status)
    {
        m_status = status;
        return status;
    }

    BitInput m_in;
    std::vector<unsigned char> m_window;
    uint64_t m_unpPtr = 0;    // bytes decoded into the window so far
    uint64_t m_wrPtr = 0;     // bytes handed out (or filtered) so far
    uint64_t m_entryStart = 0;
    uint64_t m_entryEnd = 0;
    bool m_started = false;
    bool m_needTables = false;
    bool m_stopped = false;   // no more bytes to decode for this entry
    bool m_broken = false;    // an earlier entry of the stream failed or was left unfinished
    UnpackStatus m_status = UnpackStatus::Data;

    // LZ state
    bool m_tablesRead = false;
    bool m_ppmBlock = false;
    uint8_t m_oldTable[kTableSize] = {};
    Huffman m_main, m_dist, m_lowDist, m_rep;
    uint32_t m_oldDist[4] = {};
    uint32_t m_lastDist = 0;
    uint32_t m_lastLength = 0;
    uint32_t m_prevLowDist = 0;
    unsigned m_lowDistRepeat = 0;

    // PPM state
    std::unique_ptr<PpmdH> m_ppm;
    int m_escape = 2;

    // Filters
    std::vector<FilterProgram> m_programs;
    std::deque<PendingFilter> m_pending;
    size_t m_lastFilter = 0;
    std::vector<unsigned char> m_code; // a filter definition being read
    std::vector<unsigned char> m_filterMemory;
    const unsigned char* m_out = nullptr; // filtered bytes not yet handed out
    size_t m_outLeft = 0;
};

std::unique_ptr<Unpacker> makeUnpack29();

}
