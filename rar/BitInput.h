// An entry's packed data as a stream of bits, most significant bit first,
// pulled from the volumes chunk after chunk. Past the end of the data it
// reads zero bits and counts them, so a decoder never reads outside a
// buffer whatever the data says; overrun() tells it that the data ran out
// long before it should have (damaged data). Qt-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <vector>

namespace Rar {

// Where packed bytes come from: an entry's data, part after part.
class PackedSource {
public:
    virtual ~PackedSource() = default;
    // The next packed bytes (valid until the next call): their count, 0 at
    // the end of the entry's data, -1 on a failure.
    virtual ssize_t read(const unsigned char** data) = 0;
};

class BitInput {
public:
    BitInput();

    // Starts reading a new entry's data.
    void start(PackedSource* source);

    // The next `n` bits (1 to 32) without taking them.
    uint32_t peek(unsigned n)
    {
        if (m_count < n)
            refill();
        return uint32_t(m_bits >> (64 - n));
    }
    void skip(unsigned n)
    {
        if (m_count < n)
            refill();
        m_bits <<= n;
        m_count -= n;
    }
    uint32_t read(unsigned n)
    {
        const uint32_t value = peek(n);
        skip(n);
        return value;
    }
    void alignToByte() { skip(m_count & 7); }
    // The next whole byte; the caller is at a byte boundary.
    uint8_t readByte() { return uint8_t(read(8)); }

    // Far more zero bits were read past the end than any decoder looks
    // ahead: the data is damaged (or cut short).
    bool overrun() const { return m_padding > kSlackBytes; }
    // The source failed (a read error, a missing volume): its own error says which.
    bool sourceFailed() const { return m_failed; }
    // Bits read so far beyond the end of the data.
    bool pastEnd() const { return m_padding * 8 > m_count; }

private:
    static constexpr size_t kSlackBytes = 64;

    void refill();
    bool fillBuffer();

    PackedSource* m_source = nullptr;
    std::vector<unsigned char> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
    bool m_sourceEnded = false;
    bool m_failed = false;
    size_t m_padding = 0; // zero bytes read past the end

    uint64_t m_bits = 0;  // the next bits, left-aligned
    unsigned m_count = 0; // how many of them are valid
};

}
