#include "TextFile.h"

#include "Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr char CR = 13;
constexpr char LF = 10;
constexpr char EndOfData = 26;
constexpr size_t ChunkSize = 64 * 1024;
}

TextFileReader::TextFileReader(const std::string& path)
{
    // A pipe would block the program and a device (a link to /dev/zero)
    // would feed it for ever; neither, nor a socket, is a text file, so each
    // is treated as not there, and nothing here waits for a writer. A
    // directory opens and then fails to read, as it always has.
    auto readable = [](const struct stat& st) { return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode); };
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !readable(st))
        throw EInOutError::fromErrno(ENOENT);
    m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        throw EInOutError::fromErrno(errno);
    if (::fstat(m_fd, &st) != 0 || !readable(st)) {
        ::close(m_fd);
        m_fd = -1;
        throw EInOutError::fromErrno(ENOENT);
    }
}

TextFileReader::~TextFileReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

// Makes at least one unread byte available unless the data has ended.
bool TextFileReader::fill()
{
    if (m_pos < m_buffer.size())
        return true;
    if (m_ended)
        return false;
    m_buffer.resize(ChunkSize);
    m_pos = 0;
    ssize_t n;
    do
        n = ::read(m_fd, m_buffer.data(), ChunkSize);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        m_buffer.clear();
        throw EInOutError::fromErrno(errno);
    }
    m_buffer.resize(size_t(n));
    const size_t eof = m_buffer.find(EndOfData);
    if (eof != std::string::npos) {
        m_buffer.resize(eof);
        m_ended = true;
    }
    if (n == 0)
        m_ended = true;
    return m_pos < m_buffer.size();
}

int TextFileReader::peek()
{
    return fill() ? static_cast<unsigned char>(m_buffer[m_pos]) : -1;
}

bool TextFileReader::atEnd()
{
    return !fill();
}

std::string TextFileReader::readLine()
{
    std::string line;
    while (fill()) {
        const size_t cr = m_buffer.find(CR, m_pos);
        if (cr == std::string::npos) {
            line.append(m_buffer, m_pos, std::string::npos);
            m_pos = m_buffer.size();
            continue;
        }
        line.append(m_buffer, m_pos, cr - m_pos);
        m_pos = cr + 1;
        if (peek() == LF)
            ++m_pos;
        break;
    }
    return line;
}
