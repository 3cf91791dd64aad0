#include "BitInput.h"

#include <cstring>

namespace Rar {

namespace {

constexpr size_t kBufferSize = 128 * 1024;

}

BitInput::BitInput()
    : m_buffer(kBufferSize + 8)
{
}

void BitInput::start(PackedSource* source)
{
    m_source = source;
    m_pos = m_end = 0;
    m_sourceEnded = source == nullptr;
    m_failed = false;
    m_padding = 0;
    m_bits = 0;
    m_count = 0;
}

bool BitInput::fillBuffer()
{
    // Keeps what is left, then appends whole chunks while they fit.
    const size_t left = m_end - m_pos;
    std::memmove(m_buffer.data(), m_buffer.data() + m_pos, left);
    m_pos = 0;
    m_end = left;
    while (!m_sourceEnded && m_end < 8) {
        const unsigned char* chunk = nullptr;
        const ssize_t n = m_source->read(&chunk);
        if (n <= 0) {
            m_sourceEnded = true;
            m_failed = n < 0;
            break;
        }
        size_t size = size_t(n);
        // A chunk larger than the room is taken in pieces through a
        // buffer that grows to hold it once.
        if (m_end + size > m_buffer.size())
            m_buffer.resize(m_end + size);
        std::memcpy(m_buffer.data() + m_end, chunk, size);
        m_end += size;
    }
    return m_end - m_pos >= 8;
}

void BitInput::refill()
{
    if (m_end - m_pos < 8)
        fillBuffer();
    if (m_end - m_pos >= 8) {
        uint64_t word = 0;
        for (int i = 0; i < 8; ++i)
            word = (word << 8) | m_buffer[m_pos + size_t(i)];
        // Bits past the whole bytes taken are the stream's own next bits,
        // which the next refill lays over themselves unchanged.
        m_bits |= word >> m_count;
        const unsigned bytes = (63 - m_count) >> 3;
        m_pos += bytes;
        m_count += bytes * 8;
        return;
    }
    while (m_count <= 56) {
        uint64_t byte = 0;
        if (m_pos < m_end)
            byte = m_buffer[m_pos++];
        else
            ++m_padding;
        m_bits |= byte << (56 - m_count);
        m_count += 8;
    }
}

}
