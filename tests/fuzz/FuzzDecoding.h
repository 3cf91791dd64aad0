// What the decoders' fuzz targets share: packed bytes handed out in pieces,
// and one entry decoded with the interface's promises checked (chunks never
// empty nor larger than allowed, never past the entry's size, End only with
// every byte delivered). A broken promise aborts, which the fuzzer reports.
#pragma once

#include "Unpack.h"

#include <cstdint>
#include <cstdlib>

namespace FuzzDecoding {

class BytesSource : public Rar::PackedSource {
public:
    // Codes, tables and filter definitions straddle the pieces' boundaries.
    BytesSource(const uint8_t* data, size_t size, size_t piece) : m_data(data), m_size(size), m_piece(piece) {}
    ssize_t read(const unsigned char** data) override
    {
        const size_t n = m_size - m_pos < m_piece ? m_size - m_pos : m_piece;
        *data = m_data + m_pos;
        m_pos += n;
        return ssize_t(n);
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_piece;
    size_t m_pos = 0;
};

inline void decodeEntry(Rar::Unpacker& decoder, const uint8_t* data, size_t size, uint64_t unpackedSize, bool solid,
                        size_t piece)
{
    BytesSource source(data, size, piece);
    decoder.begin(source, unpackedSize, solid);
    uint64_t total = 0;
    for (;;) {
        const unsigned char* p = nullptr;
        size_t n = 0;
        const Rar::UnpackStatus status = decoder.next(p, n);
        if (status == Rar::UnpackStatus::End) {
            if (total != unpackedSize)
                std::abort();
            return;
        }
        if (status != Rar::UnpackStatus::Data)
            return;
        if (n == 0 || n > Rar::Unpacker::kMaxChunk || total + n > unpackedSize)
            std::abort();
        // Touch the bytes handed out: the sanitizer checks the chunk is real.
        volatile unsigned char sink = 0;
        for (size_t i = 0; i < n; i += 61)
            sink = sink ^ p[i];
        sink = sink ^ p[n - 1];
        total += n;
    }
}

}
