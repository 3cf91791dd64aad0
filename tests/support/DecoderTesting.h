// What the decoder tests share: packed data handed to a decoder from
// memory, and an entry pulled to its end with the interface's promises
// checked on the way.
#pragma once

#include "Unpack.h"

#include <QByteArray>
#include <algorithm>

namespace DecoderTesting {

// Packed data from memory, handed out in pieces of a given size so that the
// bit reader meets piece boundaries anywhere in a code.
class MemorySource : public Rar::PackedSource {
public:
    MemorySource(const QByteArray& data, size_t piece) : m_data(data), m_piece(piece) {}
    ssize_t read(const unsigned char** data) override
    {
        const size_t n = std::min(size_t(m_data.size()) - m_pos, m_piece);
        *data = reinterpret_cast<const unsigned char*>(m_data.constData()) + m_pos;
        m_pos += n;
        return ssize_t(n);
    }

private:
    QByteArray m_data;
    size_t m_piece;
    size_t m_pos = 0;
};

struct Decoded {
    Rar::UnpackStatus status = Rar::UnpackStatus::End;
    QByteArray bytes;
    bool chunksSound = true; // every chunk non-empty, at most kMaxChunk, never past the size
};

// Pulls an entry to its end. Every Data chunk is at least one byte, so the
// loop ends after at most `size` chunks, or the decoder broke its contract.
inline Decoded pull(Rar::Unpacker& decoder, Rar::PackedSource& source, uint64_t size, bool solid)
{
    Decoded out;
    decoder.begin(source, size, solid);
    for (uint64_t calls = 0; calls <= size + 1; ++calls) {
        const unsigned char* p = nullptr;
        size_t n = 0;
        out.status = decoder.next(p, n);
        if (out.status != Rar::UnpackStatus::Data)
            return out;
        if (n == 0 || n > Rar::Unpacker::kMaxChunk || uint64_t(out.bytes.size()) + n > size) {
            out.chunksSound = false;
            return out;
        }
        out.bytes.append(reinterpret_cast<const char*>(p), qsizetype(n));
    }
    out.chunksSound = false;
    return out;
}

}
