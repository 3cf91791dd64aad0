#include "RarStream.h"

#include "Libarchive.h"
#include "RarVolumes.h"
#include "Unpack.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Rar::BlockKind;

// One read never moves more than the data callback gets at once.
constexpr size_t kDataBufferSize = 64 * 1024;
// Headers and small entries are read this much at a time: a set of many
// small files would otherwise cost several reads of a few bytes each.
constexpr size_t kReadAheadSize = 64 * 1024;
constexpr uint64_t kMaxCommentSize = 1024 * 1024;
constexpr int kMaxBlocksBeforeFirstEntry = 64;

ssize_t preadFully(int fd, unsigned char* buffer, size_t size, uint64_t pos)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buffer + done, size - done, off_t(pos + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += size_t(n);
    }
    return ssize_t(done);
}

// A volume is read only when it is a regular file: a pipe would block the
// program for ever and a device (a link to /dev/zero) never end. O_NONBLOCK
// keeps the open itself from waiting for a pipe's writer.
int openVolume(const std::string& path, uint64_t& size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    size = uint64_t(st.st_size);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

// A self-extracting first volume is a program with the archive appended:
// the signature is looked for within the first megabytes of a file that
// starts like an executable (DOS/Windows or ELF).
bool findSelfExtractingStart(int fd, uint64_t volumeSize, uint64_t& start, Rar::Format& format)
{
    constexpr uint64_t kMaxStubSize = 4 * 1024 * 1024;
    constexpr size_t kWindow = 64 * 1024;
    unsigned char head[4] = {};
    if (preadFully(fd, head, sizeof head, 0) != ssize_t(sizeof head))
        return false;
    const bool executable = (head[0] == 'M' && head[1] == 'Z') || std::memcmp(head, "\x7f" "ELF", 4) == 0;
    if (!executable)
        return false;
    std::vector<unsigned char> buffer(kWindow + Rar::kMaxSignatureSize);
    const uint64_t limit = std::min(volumeSize, kMaxStubSize);
    for (uint64_t pos = 1; pos < limit; pos += kWindow) {
        const ssize_t n = preadFully(fd, buffer.data(), buffer.size(), pos);
        if (n <= 0)
            return false;
        for (size_t i = 0; i + 7 <= size_t(n) && pos + i < limit; ++i) {
            if (buffer[i] != 'R' || std::memcmp(&buffer[i], "Rar!\x1a\x07", 6) != 0)
                continue;
            const Rar::Format found = Rar::detectSignature(&buffer[i], size_t(n) - i);
            if (found == Rar::Format::None)
                continue;
            // The main header must follow, so that a stray signature in the
            // program is not taken for the archive.
            unsigned char header[64] = {};
            const ssize_t got = preadFully(fd, header, sizeof header, pos + i + Rar::signatureSize(found));
            Rar::Block block;
            size_t needed = 0;
            if (got > 0 && Rar::parseBlock(found, header, size_t(got), block, needed) == Rar::ParseStatus::Ok
                && block.kind == Rar::BlockKind::Main) {
                start = pos + i;
                format = found;
                return true;
            }
        }
    }
    return false;
}

// Volumes are named by full paths (the current directory is the
// destination while entries are written).
std::string absolutePath(const std::string& path)
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

int callVolumeCallback(const RarVolumeCallback& callback, std::string& path, int mode)
{
    std::vector<char> buffer(RAR_VOLUME_PATH_SIZE, '\0');
    std::memcpy(buffer.data(), path.data(), std::min(path.size(), buffer.size() - 1));
    int answer = 0;
    try {
        answer = callback(buffer.data(), mode);
    } catch (...) {
        // An exception must not cross libarchive's C frames: it gives up.
        answer = 0;
    }
    buffer.back() = '\0';
    if (mode == RAR_VOL_ASK)
        path = buffer.data();
    return answer;
}

// A compressed comment: re-packed as the only entry of a small archive in
// memory, which libarchive decodes.
std::optional<std::string> decodeWithLibarchive(const std::vector<unsigned char>& archiveBytes, uint64_t size)
{
    const Libarchive* la = Libarchive::get();
    if (!la)
        return std::nullopt;
    std::unique_ptr<archive, ArchiveReaderFree> a(la->read_new());
    if (!a)
        return std::nullopt;
    la->read_support_format_rar(a.get());
    la->read_support_format_rar5(a.get());
    if (la->read_open_memory(a.get(), archiveBytes.data(), archiveBytes.size()) != ARCHIVE_OK)
        return std::nullopt;
    archive_entry* entry = nullptr;
    if (la->read_next_header(a.get(), &entry) < ARCHIVE_WARN)
        return std::nullopt;
    std::string text;
    char buffer[16384];
    for (;;) {
        const la_ssize_t n = la->read_data(a.get(), buffer, sizeof buffer);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        text.append(buffer, size_t(n));
        if (text.size() > size)
            return std::nullopt;
    }
    return text;
}

// A RAR 4 comment compressed with one of the entry methods.
class MemorySource : public Rar::PackedSource {
public:
    explicit MemorySource(const std::string& bytes) : m_bytes(bytes) {}
    ssize_t read(const unsigned char** data) override
    {
        if (m_taken)
            return 0;
        m_taken = true;
        *data = reinterpret_cast<const unsigned char*>(m_bytes.data());
        return ssize_t(m_bytes.size());
    }

private:
    const std::string& m_bytes;
    bool m_taken = false;
};

std::optional<std::string> decodeComment(const std::string& packed, uint8_t unpackVersion, uint64_t size)
{
    auto unpacker = Rar::makeUnpacker(unpackVersion);
    if (!unpacker)
        return std::nullopt;
    MemorySource source(packed);
    unpacker->begin(source, size, false);
    std::string text;
    for (;;) {
        const unsigned char* data = nullptr;
        size_t n = 0;
        const Rar::UnpackStatus status = unpacker->next(data, n);
        if (status == Rar::UnpackStatus::End)
            return text;
        if (status != Rar::UnpackStatus::Data)
            return std::nullopt;
        text.append(reinterpret_cast<const char*>(data), n);
    }
}

std::vector<unsigned char> rar5Wrapper(std::vector<unsigned char> serviceHeader, const std::string& data)
{
    std::vector<unsigned char> out { 0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x01, 0x00 };
    const auto main = Rar::buildV5Header({ uint8_t(Rar::V5::kMain), 0, 0 });
    out.insert(out.end(), main.begin(), main.end());
    // The type follows the CRC and the size: a service header becomes a file header.
    uint64_t size = 0;
    const size_t sizeLength = Rar::readVint(serviceHeader.data() + 4, serviceHeader.size() - 4, size);
    serviceHeader[4 + sizeLength] = uint8_t(Rar::V5::kFile);
    const uint32_t crc = Rar::crc32(0, serviceHeader.data() + 4, serviceHeader.size() - 4);
    for (int i = 0; i < 4; ++i)
        serviceHeader[size_t(i)] = uint8_t(crc >> (8 * i));
    out.insert(out.end(), serviceHeader.begin(), serviceHeader.end());
    out.insert(out.end(), data.begin(), data.end());
    const auto end = Rar::buildV5Header({ uint8_t(Rar::V5::kEnd), 0, 0 });
    out.insert(out.end(), end.begin(), end.end());
    return out;
}

}

RarVolumeStream::RarVolumeStream()
    : m_data(kDataBufferSize)
{
}

RarVolumeStream::~RarVolumeStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

ssize_t RarVolumeStream::readVolume(unsigned char* buffer, size_t size, uint64_t pos)
{
    if (size >= kReadAheadSize)
        return preadFully(m_fd, buffer, size, pos);
    if (pos < m_aheadPos || pos + size > m_aheadPos + m_aheadSize) {
        m_ahead.resize(kReadAheadSize);
        m_aheadSize = 0;
        const ssize_t n = preadFully(m_fd, m_ahead.data(), m_ahead.size(), pos);
        if (n < 0)
            return -1;
        m_aheadPos = pos;
        m_aheadSize = size_t(n);
    }
    const size_t n = size_t(std::min<uint64_t>(size, m_aheadPos + m_aheadSize - pos));
    std::memcpy(buffer, m_ahead.data() + (pos - m_aheadPos), n);
    return ssize_t(n);
}

bool RarVolumeStream::fail(int code)
{
    if (m_error == 0)
        m_error = code;
    return false;
}

int RarVolumeStream::open(const std::string& firstVolumePath)
{
    m_firstPath = absolutePath(m_resolve(firstVolumePath));
    m_fd = openVolume(m_firstPath, m_volumeSize);
    if (m_fd < 0)
        return ERAR_EOPEN;
    m_volumePath = m_firstPath;

    unsigned char signature[Rar::kMaxSignatureSize] = {};
    const ssize_t n = readVolume(signature, sizeof signature, 0);
    if (n < 0)
        return ERAR_EOPEN;
    m_format = Rar::detectSignature(signature, size_t(n));
    uint64_t start = 0;
    if (m_format == Rar::Format::None && !findSelfExtractingStart(m_fd, m_volumeSize, start, m_format))
        return ERAR_BAD_ARCHIVE;
    m_pos = start + Rar::signatureSize(m_format);
    if (start > 0 && readVolume(signature, Rar::signatureSize(m_format), start) < 0)
        return ERAR_EOPEN;
    append(signature, Rar::signatureSize(m_format));

    const Peeked main = peek();
    if (main.status != Rar::ParseStatus::Ok || main.block.kind != BlockKind::Main || main.block.encryptedHeaders)
        return ERAR_BAD_DATA;
    m_newNumbering = main.block.newNumbering;
    m_volumeSet = main.block.volume;
    m_solid = main.block.solid;
    append(m_header.data(), main.block.headerSize);
    m_start = m_pending;

    if (main.block.embeddedCommentOffset) {
        Rar::EmbeddedComment c;
        if (Rar::parseEmbeddedComment(m_header.data(), main.block.headerSize, main.block.embeddedCommentOffset, c)) {
            const std::string packed(reinterpret_cast<const char*>(m_header.data()) + c.dataOffset, c.dataSize);
            std::optional<std::string> text;
            if (c.method == Rar::V4::kMethodStore) {
                text = packed.substr(0, c.unpackedSize);
            } else {
                text = decodeComment(packed, c.unpackVersion, c.unpackedSize);
            }
            if (text) {
                m_comment.present = true;
                m_comment.text = *text;
                m_comment.damaged = (Rar::crc32(0, text->data(), text->size()) & 0xffff) != c.crc16;
            }
        }
    }
    m_pos += main.block.headerSize;
    readComment();
    m_state = State::Header;
    return 0;
}

void RarVolumeStream::readComment()
{
    // RAR 3 and later keep the comment in a service block named "CMT"
    // between the main header and the first entry.
    uint64_t pos = m_pos;
    for (int i = 0; i < kMaxBlocksBeforeFirstEntry; ++i) {
        const Peeked p = peekAt(pos);
        if (p.atEof || p.status != Rar::ParseStatus::Ok)
            return;
        const Rar::Block& b = p.block;
        if (b.kind == BlockKind::File || b.kind == BlockKind::End || b.kind == BlockKind::Encryption)
            return;
        const uint64_t dataStart = pos + b.headerSize;
        if (b.kind == BlockKind::Service && b.name == "CMT" && !m_comment.present) {
            if (b.dataSize > kMaxCommentSize || b.dataSize > m_volumeSize - std::min(m_volumeSize, dataStart))
                return;
            std::string packed(size_t(b.dataSize), '\0');
            if (readVolume(reinterpret_cast<unsigned char*>(packed.data()), packed.size(), dataStart) != ssize_t(packed.size()))
                return;
            std::optional<std::string> text;
            if (b.encrypted) {
                text = std::nullopt;
            } else if (b.method == Rar::V4::kMethodStore) {
                text = packed.substr(0, size_t(std::min<uint64_t>(b.unpackedSize, packed.size())));
            } else if (b.unpackedSize <= kMaxCommentSize) {
                const std::vector<unsigned char> header(m_header.begin(), m_header.begin() + long(b.headerSize));
                if (m_format == Rar::Format::Rar4) {
                    text = decodeComment(packed, b.unpackVersion, b.unpackedSize);
                } else {
                    text = decodeWithLibarchive(rar5Wrapper(header, packed), b.unpackedSize);
                }
            }
            if (text) {
                m_comment.present = true;
                m_comment.text = *text;
                m_comment.damaged = b.hasCrc && Rar::crc32(0, text->data(), text->size()) != b.crc;
            }
        }
        pos = dataStart + b.dataSize;
    }
}

RarVolumeStream::Peeked RarVolumeStream::peekAt(uint64_t pos)
{
    Peeked result;
    const uint64_t avail = pos < m_volumeSize ? m_volumeSize - pos : 0;
    if (avail == 0) {
        result.atEof = true;
        return result;
    }
    size_t want = Rar::V4::kBaseHeaderSize;
    for (;;) {
        const size_t n = size_t(std::min<uint64_t>(want, avail));
        if (m_header.size() < n)
            m_header.resize(n);
        const ssize_t got = readVolume(m_header.data(), n, pos);
        if (got < 0) {
            result.status = Rar::ParseStatus::Bad;
            result.readError = true;
            return result;
        }
        if (size_t(got) < n) {
            // The volume is shorter than when it was opened: asking again
            // would get no more.
            result.status = Rar::ParseStatus::Bad;
            result.truncated = true;
            return result;
        }
        size_t needed = 0;
        result.status = Rar::parseBlock(m_format, m_header.data(), size_t(got), result.block, needed);
        if (result.status != Rar::ParseStatus::NeedMore)
            return result;
        if (needed > avail || needed <= size_t(got)) {
            result.status = Rar::ParseStatus::Bad;
            result.truncated = true;
            return result;
        }
        want = needed;
    }
}

std::shared_ptr<RarEntryInfo> RarVolumeStream::takeEntry()
{
    if (m_entries.empty())
        return nullptr;
    auto entry = m_entries.front();
    m_entries.pop_front();
    return entry;
}

bool RarVolumeStream::step()
{
    const Peeked p = peek();
    if (p.atEof)
        return endOfVolume(false, false, 0);
    if (p.readError)
        return fail(ERAR_EREAD);
    if (p.status != Rar::ParseStatus::Ok)
        return fail(ERAR_BAD_DATA);
    const Rar::Block& b = p.block;
    switch (b.kind) {
    case BlockKind::File:
        append(m_header.data(), b.headerSize);
        m_pos += b.headerSize;
        if (!b.splitBefore || !m_current) {
            m_current = std::make_shared<RarEntryInfo>();
            m_current->header = b;
            m_current->volumePath = m_volumePath;
            m_entries.push_back(m_current);
        }
        if (!b.splitAfter) {
            m_current->finalCrc = b.crc;
            m_current->complete = true;
        }
        m_lastFileSplitAfter = b.splitAfter;
        m_dataLeft = b.dataSize;
        m_state = State::Data;
        return true;
    case BlockKind::End:
        m_pos += b.headerSize;
        return endOfVolume(true, b.nextVolume, b.headerSize);
    case BlockKind::Encryption:
        return fail(ERAR_BAD_DATA);
    default:
        // Service blocks, and whatever else libarchive would skip.
        m_pos += b.headerSize;
        if (b.dataSize > m_volumeSize - std::min(m_volumeSize, m_pos))
            return fail(ERAR_BAD_ARCHIVE);
        m_pos += b.dataSize;
        return true;
    }
}

bool RarVolumeStream::endOfVolume(bool hasEndBlock, bool nextVolume, size_t endBlockSize)
{
    const bool split = m_lastFileSplitAfter;
    // A volume that announces the next one, or an entry that runs on, needs
    // it; an old volume without an end block may or may not have a next one.
    const bool announced = split || (hasEndBlock && nextVolume);
    const bool optional = !announced && !hasEndBlock && m_volumeSet;
    if (!announced && !optional) {
        if (hasEndBlock)
            append(m_header.data(), endBlockSize);
        m_state = State::End;
        return true;
    }
    // Across a split entry libarchive reads the volumes as they are; between
    // two entries it would stop at the end block, so that block and the next
    // volume's start are left out.
    if (split && hasEndBlock)
        append(m_header.data(), endBlockSize);
    if (!switchVolume(announced, split)) {
        if (!announced && m_error == 0) {
            m_state = State::End;
            return true;
        }
        return false;
    }
    m_state = State::Header;
    return true;
}

bool RarVolumeStream::switchVolume(bool askWhenMissing, bool passHeaders)
{
    const unsigned next = m_volumeIndex + 1;
    std::string path = RarVolumes::volumePath(m_firstPath, m_newNumbering, next);
    int fd = -1;
    uint64_t size = 0;
    for (;;) {
        const std::string resolved = m_resolve(path);
        fd = openVolume(resolved, size);
        if (fd >= 0) {
            path = resolved;
            break;
        }
        if (!askWhenMissing)
            return false;
        if (!m_volumeCallback || callVolumeCallback(m_volumeCallback, path, RAR_VOL_ASK) <= 0)
            return fail(ERAR_EOPEN);
    }
    ::close(m_fd);
    m_fd = fd;
    m_aheadSize = 0;
    m_volumePath = path;
    m_volumeIndex = next;
    m_volumeSize = size;
    m_pos = 0;
    m_lastFileSplitAfter = false;

    if (m_volumeCallback) {
        std::string announced = path;
        if (callVolumeCallback(m_volumeCallback, announced, RAR_VOL_NOTIFY) <= 0)
            return fail(ERAR_EOPEN);
    }

    unsigned char signature[Rar::kMaxSignatureSize] = {};
    const ssize_t n = readVolume(signature, sizeof signature, 0);
    if (n < 0)
        return fail(ERAR_EREAD);
    if (Rar::detectSignature(signature, size_t(n)) != m_format)
        return fail(ERAR_BAD_ARCHIVE);
    m_pos = Rar::signatureSize(m_format);
    const Peeked main = peek();
    if (main.status != Rar::ParseStatus::Ok || main.block.kind != BlockKind::Main)
        return fail(ERAR_BAD_DATA);
    if (passHeaders) {
        append(signature, m_pos);
        append(m_header.data(), main.block.headerSize);
    }
    m_pos += main.block.headerSize;
    return true;
}

ssize_t RarVolumeStream::read(const void** buffer)
{
    for (;;) {
        if (m_error)
            return -1;
        if (!m_pending.empty()) {
            m_delivered.swap(m_pending);
            m_pending.clear();
            *buffer = m_delivered.data();
            return ssize_t(m_delivered.size());
        }
        switch (m_state) {
        case State::End:
            return 0;
        case State::Header:
            if (!step())
                return -1;
            continue;
        case State::Data: {
            if (m_dataLeft == 0) {
                m_state = State::Header;
                continue;
            }
            const size_t want = size_t(std::min<uint64_t>(m_dataLeft, m_data.size()));
            const ssize_t n = readVolume(m_data.data(), want, m_pos);
            if (n < 0)
                return fail(ERAR_EREAD), -1;
            if (n == 0)
                return fail(ERAR_BAD_ARCHIVE), -1; // the volume ends inside the data
            m_pos += uint64_t(n);
            m_dataLeft -= uint64_t(n);
            *buffer = m_data.data();
            return n;
        }
        }
    }
}

bool RarVolumeStream::atDataOf(const std::shared_ptr<RarEntryInfo>& entry) const
{
    return !m_error && entry && entry == m_current && m_state == State::Data && m_pending.empty()
        && m_dataLeft == entry->header.dataSize && !entry->header.splitBefore;
}

ssize_t RarVolumeStream::readEntryData(const void** buffer, bool skip)
{
    for (;;) {
        if (m_error)
            return -1;
        if (m_state == State::Data && m_dataLeft > 0) {
            if (skip) {
                const uint64_t n = m_dataLeft;
                if (n > m_volumeSize - std::min(m_volumeSize, m_pos))
                    return fail(ERAR_BAD_ARCHIVE), -1;
                m_pos += n;
                m_dataLeft = 0;
                return ssize_t(std::min<uint64_t>(n, SSIZE_MAX));
            }
            const size_t want = size_t(std::min<uint64_t>(m_dataLeft, m_data.size()));
            const ssize_t n = readVolume(m_data.data(), want, m_pos);
            if (n < 0)
                return fail(ERAR_EREAD), -1;
            if (n == 0)
                return fail(ERAR_BAD_ARCHIVE), -1;
            m_pos += uint64_t(n);
            m_dataLeft -= uint64_t(n);
            *buffer = m_data.data();
            return n;
        }
        if (m_state != State::Data || !m_lastFileSplitAfter)
            return 0;
        // The entry goes on in the next volume: its end block, the next
        // volume, and there the header of the entry's next part.
        const auto entry = m_current;
        m_state = State::Header;
        while (m_state == State::Header)
            if (!step())
                return -1;
        if (m_state != State::Data || m_current != entry)
            return fail(ERAR_BAD_DATA), -1;
        // Those headers are not for libarchive, which starts afresh.
        m_pending.clear();
    }
}

void RarVolumeStream::restartArchive()
{
    // Whatever was queued for the old reader is of no use to the new one.
    m_pending = m_start;
}

int RarVolumeStream::prepareNext()
{
    if (m_error)
        return m_error;
    if (!m_pending.empty())
        return 0;
    if (m_state == State::Data && m_dataLeft == 0)
        m_state = State::Header;
    while (m_state == State::Header) {
        const Peeked p = peek();
        // The next entry's header, or damage that its reading will report.
        if (!p.atEof && (p.status != Rar::ParseStatus::Ok || p.block.kind == BlockKind::File))
            return 0;
        if (!step())
            return m_error;
    }
    return 0;
}

std::shared_ptr<RarEntryInfo> RarVolumeStream::nextEntry()
{
    for (;;) {
        // Header bytes are queued for libarchive only; nobody reads them here.
        m_pending.clear();
        if (m_error)
            return nullptr;
        if (auto entry = takeEntry())
            return entry;
        switch (m_state) {
        case State::End:
            return nullptr;
        case State::Data: {
            const void* ignored = nullptr;
            ssize_t n;
            while ((n = readEntryData(&ignored, true)) > 0) {
            }
            if (n < 0)
                return nullptr;
            m_state = State::Header;
            break;
        }
        case State::Header:
            if (!step())
                return nullptr;
            break;
        }
    }
}

ssize_t RarEntrySource::read(const unsigned char** data)
{
    const void* block = nullptr;
    const ssize_t n = m_stream.readEntryData(&block);
    *data = static_cast<const unsigned char*>(block);
    return n;
}
