#include "RarFormat.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace Rar {

namespace {

const unsigned char kSig4[] = { 0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x00 };
const unsigned char kSig5[] = { 0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x01, 0x00 };

// Bounds-checked reading inside one header.
class Reader {
public:
    Reader(const unsigned char* p, size_t size) : m_p(p), m_size(size) {}
    bool ok() const { return m_ok; }
    size_t pos() const { return m_pos; }
    void seek(size_t pos)
    {
        if (pos > m_size)
            m_ok = false;
        else
            m_pos = pos;
    }
    uint8_t u8()
    {
        if (!need(1))
            return 0;
        return m_p[m_pos++];
    }
    uint16_t u16()
    {
        if (!need(2))
            return 0;
        const uint16_t v = get16(m_p + m_pos);
        m_pos += 2;
        return v;
    }
    uint32_t u32()
    {
        if (!need(4))
            return 0;
        const uint32_t v = get32(m_p + m_pos);
        m_pos += 4;
        return v;
    }
    uint64_t vint()
    {
        uint64_t v = 0;
        const size_t n = m_ok ? readVint(m_p + m_pos, m_size - m_pos, v) : 0;
        if (n == 0) {
            m_ok = false;
            return 0;
        }
        m_pos += n;
        return v;
    }
    std::string bytes(size_t n)
    {
        if (!need(n))
            return {};
        std::string s(reinterpret_cast<const char*>(m_p + m_pos), n);
        m_pos += n;
        return s;
    }
    void skip(size_t n)
    {
        if (need(n))
            m_pos += n;
    }

private:
    bool need(size_t n)
    {
        if (!m_ok || n > m_size - m_pos) {
            m_ok = false;
            return false;
        }
        return true;
    }
    const unsigned char* m_p;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

ParseStatus parse4(const unsigned char* p, size_t avail, Block& out, size_t& needed)
{
    using namespace V4;
    if (avail < kBaseHeaderSize) {
        needed = kBaseHeaderSize;
        return ParseStatus::NeedMore;
    }
    const uint16_t headCrc = get16(p);
    const uint8_t type = p[2];
    const uint16_t flags = get16(p + 3);
    const size_t size = get16(p + 5);
    if (size < kBaseHeaderSize)
        return ParseStatus::Bad;
    if (avail < size) {
        needed = size;
        return ParseStatus::NeedMore;
    }
    out = Block();
    out.type = type;
    out.flags = flags;
    out.headerSize = size;

    const bool hasEmbeddedComment = (type == kMain && (flags & kMainComment)) || (type == kFile && (flags & kFileComment));
    const uint16_t crcAll = uint16_t(crc32(0, p + 2, size - 2) & 0xffff);
    // RAR 2 may leave an embedded comment out of the header CRC: such a
    // header is taken as it is.
    if (crcAll != headCrc && !hasEmbeddedComment)
        return ParseStatus::Bad;

    Reader r(p, size);
    r.seek(kBaseHeaderSize);
    if (flags & kLongBlock || type == kFile || type == kNewSub)
        out.dataSize = r.u32();

    switch (type) {
    case kMark:
        out.kind = BlockKind::Other;
        break;
    case kMain:
        if (size < kMainHeaderSize)
            return ParseStatus::Bad;
        out.kind = BlockKind::Main;
        out.volume = flags & kMainVolume;
        out.newNumbering = flags & kMainNewNumbering;
        out.solid = flags & kMainSolid;
        out.encryptedHeaders = flags & kMainPassword;
        if ((flags & kMainComment) && size > kMainHeaderSize)
            out.embeddedCommentOffset = kMainHeaderSize;
        break;
    case kFile:
    case kNewSub: {
        if (size < kFileHeaderFixedSize)
            return ParseStatus::Bad;
        out.kind = type == kFile ? BlockKind::File : BlockKind::Service;
        uint64_t unpacked = r.u32();
        out.hostOS = r.u8();
        out.crc = r.u32();
        out.hasCrc = true;
        out.dosTime = r.u32();
        out.unpackVersion = r.u8();
        out.method = r.u8();
        const uint16_t nameSize = r.u16();
        out.attributes = r.u32();
        if (flags & kFileLarge) {
            out.dataSize |= uint64_t(r.u32()) << 32;
            unpacked |= uint64_t(r.u32()) << 32;
        }
        out.unpackedSize = unpacked;
        const std::string field = r.bytes(nameSize);
        if (!r.ok())
            return ParseStatus::Bad;
        const size_t nul = field.find('\0');
        out.name = field.substr(0, nul);
        if ((flags & kFileUnicode) && nul != std::string::npos)
            out.unicodeField = field.substr(nul + 1);
        out.splitBefore = flags & kFileSplitBefore;
        out.splitAfter = flags & kFileSplitAfter;
        out.encrypted = flags & kFilePassword;
        out.solidEntry = flags & kFileSolid;
        out.directory = type == kFile && (flags & kFileDirectory) == kFileDirectory;
        if (r.ok()) {
            // The extended time gives the modification time more precisely
            // than its DOS form: an odd second and fractions of a second.
            Reader ext = r;
            if (flags & kFileSalt)
                ext.bytes(8);
            if (flags & kFileExtTime) {
                const uint16_t extFlags = ext.u16();
                for (int i = 0; i < 4 && ext.ok(); ++i) {
                    const unsigned mode = (extFlags >> ((3 - i) * 4)) & 0xf;
                    if (!(mode & 8))
                        continue;
                    if (i > 0)
                        ext.u32();
                    const unsigned count = mode & 3;
                    uint32_t remainder = 0;
                    for (unsigned j = 0; j < count; ++j)
                        remainder |= uint32_t(ext.u8()) << ((j + 3 - count) * 8);
                    if (i == 0 && ext.ok()) {
                        out.dosTimeExtraSecond = mode & 4;
                        out.dosTimeNanoseconds = remainder * 100;
                    }
                }
            }
        }
        break;
    }
    case kEnd:
        out.kind = BlockKind::End;
        out.nextVolume = flags & kEndNextVolume;
        break;
    default:
        out.kind = BlockKind::Other;
        break;
    }
    if (!r.ok())
        return ParseStatus::Bad;
    return ParseStatus::Ok;
}

ParseStatus parse5(const unsigned char* p, size_t avail, Block& out, size_t& needed)
{
    // CRC32, then the header size as a vint of at most 3 bytes (2 MiB).
    if (avail < 5) {
        needed = 5;
        return ParseStatus::NeedMore;
    }
    uint64_t headerSize = 0;
    const size_t sizeLen = readVint(p + 4, std::min<size_t>(avail - 4, 3), headerSize);
    if (sizeLen == 0) {
        if (avail < 7) {
            needed = 7;
            return ParseStatus::NeedMore;
        }
        return ParseStatus::Bad;
    }
    if (headerSize == 0 || headerSize > V5::kMaxHeaderSize)
        return ParseStatus::Bad;
    const size_t total = 4 + sizeLen + size_t(headerSize);
    if (avail < total) {
        needed = total;
        return ParseStatus::NeedMore;
    }
    if (crc32(0, p + 4, total - 4) != get32(p))
        return ParseStatus::Bad;

    out = Block();
    out.headerSize = total;
    Reader r(p, total);
    r.seek(4 + sizeLen);
    out.type = r.vint();
    out.flags = r.vint();
    uint64_t extraSize = 0;
    if (out.flags & 0x0001)
        extraSize = r.vint();
    if (out.flags & 0x0002)
        out.dataSize = r.vint();
    if (!r.ok() || extraSize > total - r.pos())
        return ParseStatus::Bad;
    const size_t extraStart = total - size_t(extraSize);
    out.splitBefore = out.flags & 0x0008;
    out.splitAfter = out.flags & 0x0010;

    switch (out.type) {
    case V5::kMain: {
        out.kind = BlockKind::Main;
        const uint64_t archiveFlags = r.vint();
        out.volume = archiveFlags & 0x0001;
        out.solid = archiveFlags & 0x0004;
        out.newNumbering = true;
        break;
    }
    case V5::kFile:
    case V5::kService: {
        out.kind = out.type == V5::kFile ? BlockKind::File : BlockKind::Service;
        const uint64_t fileFlags = r.vint();
        out.directory = fileFlags & 0x0001;
        out.unpackedSize = r.vint();
        out.unpackedSizeKnown = !(fileFlags & 0x0008);
        out.attributes = r.vint();
        if (fileFlags & 0x0002) {
            out.unixTime = r.u32();
            out.hasUnixTime = true;
        }
        if (fileFlags & 0x0004) {
            out.crc = r.u32();
            out.hasCrc = true;
        }
        const uint64_t compression = r.vint();
        out.unpackVersion = 50;
        out.method = uint8_t(V4::kMethodStore + ((compression >> 7) & 7));
        out.solidEntry = compression & 0x40;
        out.unsupportedAlgorithm = (compression & 0x3f) != 0;
        const uint64_t host = r.vint();
        out.hostOS = host == 1 ? V4::kHostUnix : V4::kHostWin32;
        const uint64_t nameLength = r.vint();
        if (!r.ok() || nameLength > extraStart - r.pos())
            return ParseStatus::Bad;
        out.name = r.bytes(size_t(nameLength));
        // Extra records: size, type, data.
        Reader extra(p + extraStart, size_t(extraSize));
        while (extra.ok() && extra.pos() < extraSize) {
            const uint64_t recordSize = extra.vint();
            const size_t recordStart = extra.pos();
            if (!extra.ok() || recordSize == 0 || recordSize > extraSize - recordStart)
                return ParseStatus::Bad;
            const uint64_t recordType = extra.vint();
            if (recordType == 1)
                out.encrypted = true;
            else if (recordType == 5)
                out.redirection = true;
            extra.seek(recordStart + size_t(recordSize));
        }
        if (!extra.ok())
            return ParseStatus::Bad;
        break;
    }
    case V5::kEncryption:
        out.kind = BlockKind::Encryption;
        out.encryptedHeaders = true;
        break;
    case V5::kEnd:
        out.kind = BlockKind::End;
        out.nextVolume = r.vint() & 0x0001;
        break;
    default:
        out.kind = BlockKind::Other;
        break;
    }
    if (!r.ok())
        return ParseStatus::Bad;
    return ParseStatus::Ok;
}

void appendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xc0 | (c >> 6));
        out += char(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += char(0xe0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3f));
        out += char(0x80 | (c & 0x3f));
    } else {
        out += char(0xf0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3f));
        out += char(0x80 | ((c >> 6) & 0x3f));
        out += char(0x80 | (c & 0x3f));
    }
}

bool validUtf8(const std::string& s)
{
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xe ? 2 : (c >> 3) == 0x1e ? 3 : 99;
        if (n == 99 || i + n >= s.size())
            return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80)
                return false;
        i += n + 1;
    }
    return true;
}

// RAR 4 keeps a Unicode name as UTF-16 units, most of them derived from the
// 8-bit name beside it: two flag bits per unit say how each one is made.
std::u16string decodeRar4Unicode(const std::string& name8, const std::string& field)
{
    std::u16string out;
    const auto* enc = reinterpret_cast<const unsigned char*>(field.data());
    const size_t size = field.size();
    if (size == 0)
        return out;
    constexpr size_t kMaxUnits = 65536;
    size_t pos = 0;
    const unsigned high = enc[pos++];
    unsigned flags = 0;
    int flagBits = 0;
    while (pos < size && out.size() < kMaxUnits) {
        if (flagBits == 0) {
            flags = enc[pos++];
            flagBits = 8;
            if (pos >= size)
                break;
        }
        switch (flags >> 6) {
        case 0:
            out += char16_t(enc[pos++]);
            break;
        case 1:
            out += char16_t(enc[pos++] + (high << 8));
            break;
        case 2:
            if (pos + 1 >= size)
                return out;
            out += char16_t(enc[pos] + (enc[pos + 1] << 8));
            pos += 2;
            break;
        case 3: {
            unsigned length = enc[pos++];
            if (length & 0x80) {
                if (pos >= size)
                    return out;
                const unsigned correction = enc[pos++];
                for (length = (length & 0x7f) + 2; length > 0 && out.size() < name8.size(); --length)
                    out += char16_t(((static_cast<unsigned char>(name8[out.size()]) + correction) & 0xff) + (high << 8));
            } else {
                for (length += 2; length > 0 && out.size() < name8.size(); --length)
                    out += char16_t(static_cast<unsigned char>(name8[out.size()]));
            }
            break;
        }
        }
        flags = (flags << 2) & 0xff;
        flagBits -= 2;
    }
    return out;
}

std::string windows1252ToUtf8(const std::string& s)
{
    static const uint16_t k80[32] = { 0x20ac, 0x81, 0x201a, 0x192, 0x201e, 0x2026, 0x2020, 0x2021, 0x2c6, 0x2030,
        0x160, 0x2039, 0x152, 0x8d, 0x17d, 0x8f, 0x90, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014,
        0x2dc, 0x2122, 0x161, 0x203a, 0x153, 0x9d, 0x17e, 0x178 };
    std::string out;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        appendUtf8(out, c >= 0x80 && c < 0xa0 ? k80[c - 0x80] : c);
    }
    return out;
}

}

std::string utf8Name(const Block& block)
{
    if (!block.unicodeField.empty()) {
        const std::u16string units = decodeRar4Unicode(block.name, block.unicodeField);
        std::string out;
        for (size_t i = 0; i < units.size(); ++i) {
            uint32_t c = units[i];
            if (c == 0)
                break;
            if (c >= 0xd800 && c < 0xdc00 && i + 1 < units.size() && units[i + 1] >= 0xdc00 && units[i + 1] < 0xe000)
                c = 0x10000 + ((c - 0xd800) << 10) + (units[++i] - 0xdc00);
            appendUtf8(out, c);
        }
        if (!out.empty())
            return out;
    }
    return validUtf8(block.name) ? block.name : windows1252ToUtf8(block.name);
}

Format detectSignature(const unsigned char* p, size_t n)
{
    if (n >= sizeof kSig5 && std::memcmp(p, kSig5, sizeof kSig5) == 0)
        return Format::Rar5;
    if (n >= sizeof kSig4 && std::memcmp(p, kSig4, sizeof kSig4) == 0)
        return Format::Rar4;
    return Format::None;
}

size_t signatureSize(Format format)
{
    return format == Format::Rar5 ? kRar5SignatureSize : format == Format::Rar4 ? kRar4SignatureSize : 0;
}

ParseStatus parseBlock(Format format, const unsigned char* p, size_t avail, Block& out, size_t& needed)
{
    needed = 0;
    if (format == Format::Rar4)
        return parse4(p, avail, out, needed);
    if (format == Format::Rar5)
        return parse5(p, avail, out, needed);
    return ParseStatus::Bad;
}

bool parseEmbeddedComment(const unsigned char* header, size_t headerSize, size_t offset, EmbeddedComment& out)
{
    // A small block of its own: CRC, type 0x75, flags, size, unpacked size,
    // version, method, CRC of the comment, then the (packed) comment.
    constexpr size_t kCommentHeaderSize = 13;
    if (offset > headerSize || headerSize - offset < kCommentHeaderSize)
        return false;
    const unsigned char* c = header + offset;
    if (c[2] != V4::kComment)
        return false;
    const size_t blockSize = get16(c + 5);
    if (blockSize < kCommentHeaderSize || blockSize > headerSize - offset)
        return false;
    out.unpackedSize = get16(c + 7);
    out.unpackVersion = c[9];
    out.method = c[10];
    out.crc16 = get16(c + 11);
    out.dataOffset = offset + kCommentHeaderSize;
    out.dataSize = blockSize - kCommentHeaderSize;
    return true;
}

uint32_t crc32(uint32_t crc, const void* data, size_t size)
{
    // libdeflate folds with carry-less multiplication where the processor
    // has it: as fast as a copy, where zlib's tables make about 1 GB/s.
    return libdeflate_crc32(crc, data, size);
}

size_t readVint(const unsigned char* p, size_t avail, uint64_t& value)
{
    value = 0;
    for (size_t i = 0; i < avail && i < 10; ++i) {
        const uint64_t part = p[i] & 0x7f;
        if (i == 9 && part > 1)
            return 0;
        value |= part << (7 * i);
        if (!(p[i] & 0x80))
            return i + 1;
    }
    return 0;
}

uint32_t dosTimeFromUnix(int64_t t)
{
    const time_t tt = time_t(t);
    struct tm tm {};
    if (!localtime_r(&tt, &tm) || tm.tm_year < 80)
        return (1u << 21) | (1u << 16); // 1980-01-01
    if (tm.tm_year > 207)
        tm.tm_year = 207;
    return uint32_t((tm.tm_year - 80) << 25 | (tm.tm_mon + 1) << 21 | tm.tm_mday << 16 | tm.tm_hour << 11
        | tm.tm_min << 5 | tm.tm_sec / 2);
}

int64_t unixTimeFromDos(uint32_t dos)
{
    struct tm tm {};
    tm.tm_year = int((dos >> 25) & 0x7f) + 80;
    tm.tm_mon = int((dos >> 21) & 0x0f) - 1;
    tm.tm_mday = int((dos >> 16) & 0x1f);
    tm.tm_hour = int((dos >> 11) & 0x1f);
    tm.tm_min = int((dos >> 5) & 0x3f);
    tm.tm_sec = int(dos & 0x1f) * 2;
    tm.tm_isdst = -1;
    return int64_t(mktime(&tm));
}

std::vector<unsigned char> buildV4Block(uint8_t type, uint16_t flags, const std::vector<unsigned char>& body)
{
    std::vector<unsigned char> out { 0, 0, type };
    put16(out, flags);
    put16(out, uint16_t(V4::kBaseHeaderSize + body.size()));
    out.insert(out.end(), body.begin(), body.end());
    setV4HeaderCrc(out.data(), out.size());
    return out;
}

std::vector<unsigned char> buildV4FileHeader(const V4FileFields& f)
{
    const bool large = f.packSize > 0xffffffffu || f.unpackedSize > 0xffffffffu;
    std::vector<unsigned char> body;
    put32(body, uint32_t(f.packSize));
    put32(body, uint32_t(f.unpackedSize));
    body.push_back(f.hostOS);
    put32(body, f.crc);
    put32(body, f.dosTime);
    body.push_back(f.unpackVersion);
    body.push_back(f.method);
    put16(body, uint16_t(f.name.size()));
    put32(body, f.attributes);
    if (large) {
        put32(body, uint32_t(f.packSize >> 32));
        put32(body, uint32_t(f.unpackedSize >> 32));
    }
    body.insert(body.end(), f.name.begin(), f.name.end());
    return buildV4Block(f.type, uint16_t(f.flags | V4::kLongBlock | (large ? V4::kFileLarge : 0)), body);
}

void setV4HeaderCrc(unsigned char* header, size_t size)
{
    const uint32_t crc = crc32(0, header + 2, size - 2);
    header[0] = uint8_t(crc);
    header[1] = uint8_t(crc >> 8);
}

void putVint(std::vector<unsigned char>& out, uint64_t value)
{
    while (value >= 0x80) {
        out.push_back(uint8_t(value | 0x80));
        value >>= 7;
    }
    out.push_back(uint8_t(value));
}

std::vector<unsigned char> buildV5Header(const std::vector<unsigned char>& body)
{
    std::vector<unsigned char> sized;
    putVint(sized, body.size());
    sized.insert(sized.end(), body.begin(), body.end());
    std::vector<unsigned char> out;
    put32(out, crc32(0, sized.data(), sized.size()));
    out.insert(out.end(), sized.begin(), sized.end());
    return out;
}

}
