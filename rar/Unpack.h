// The decoders of the RAR 1.5 to 4.x methods behind one narrow interface:
// the caller begins an entry and pulls its unpacked bytes chunk by chunk.
// Each decoder keeps its window, tables and models from one entry to the
// next, so that the entries of a solid archive continue one stream. Qt-free.
#pragma once

#include "BitInput.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace Rar {

enum class UnpackStatus {
    Data,         // `data` and `size` hold the next bytes
    End,          // every byte of the entry has been delivered
    BadData,      // the packed data is damaged
    Unsupported,  // a valid feature this decoder does not offer (an unknown filter program)
    SourceFailed, // the packed source failed; its own error says why
};

class Unpacker {
public:
    virtual ~Unpacker() = default;

    // Begins an entry of `unpackedSize` bytes whose packed data `source`
    // delivers. With `solid` the entry continues the state left by the one
    // before; without, the decoder starts afresh.
    virtual void begin(PackedSource& source, uint64_t unpackedSize, bool solid) = 0;

    // The entry's next bytes, valid until the next call. A chunk is never
    // empty and never larger than kMaxChunk, so that a caller is called
    // back often enough during a long entry.
    virtual UnpackStatus next(const unsigned char*& data, size_t& size) = 0;

    static constexpr size_t kMaxChunk = 4 * 1024 * 1024;
};

// The decoder of an entry's unpack version (15, 20, 26, 29, 36), or null.
std::unique_ptr<Unpacker> makeUnpacker(uint8_t unpackVersion);

// Which decoder handles a version: entries of one solid stream must share it.
int unpackerFamily(uint8_t unpackVersion);

}
