// The block headers of RAR 4 (RAR 1.5 to 4.x) and RAR 5 archives, read from
// bytes. The archive layer reads them itself because libarchive keeps what
// the layer needs to itself (entry CRCs, the archive comment, where a volume
// ends) and stops at a RAR 4 end-of-volume block. Pure functions on buffers,
// so that the fuzz target can drive them. Qt-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Rar {

enum class Format { None, Rar4, Rar5 };

constexpr size_t kRar4SignatureSize = 7;
constexpr size_t kRar5SignatureSize = 8;
constexpr size_t kMaxSignatureSize = 8;

// The format whose signature starts `p`; None when `n` is too short or the
// bytes are no RAR signature.
Format detectSignature(const unsigned char* p, size_t n);
size_t signatureSize(Format format);

// RAR 4 block types and flags used by the reader and the writer.
namespace V4 {
constexpr uint8_t kMark = 0x72, kMain = 0x73, kFile = 0x74, kComment = 0x75, kSub = 0x77,
                  kProtect = 0x78, kNewSub = 0x7a, kEnd = 0x7b;
constexpr uint16_t kLongBlock = 0x8000, kSkipIfUnknown = 0x4000;
constexpr uint16_t kMainVolume = 0x0001, kMainComment = 0x0002, kMainSolid = 0x0008,
                   kMainNewNumbering = 0x0010, kMainPassword = 0x0080, kMainFirstVolume = 0x0100;
constexpr uint16_t kFileSplitBefore = 0x0001, kFileSplitAfter = 0x0002, kFilePassword = 0x0004,
                   kFileComment = 0x0008, kFileSolid = 0x0010, kFileDirectory = 0x00e0,
                   kFileLarge = 0x0100, kFileUnicode = 0x0200, kFileSalt = 0x0400,
                   kFileExtTime = 0x1000;
constexpr uint16_t kEndNextVolume = 0x0001, kEndDataCrc = 0x0002, kEndVolumeNumber = 0x0008;
constexpr size_t kBaseHeaderSize = 7;
constexpr size_t kMainHeaderSize = 13;
constexpr size_t kFileHeaderFixedSize = 32;
constexpr uint8_t kHostMsDos = 0, kHostWin32 = 2, kHostUnix = 3;
constexpr uint8_t kMethodStore = 0x30, kMethodBest = 0x35;
}

// RAR 5 header types.
namespace V5 {
constexpr uint64_t kMain = 1, kFile = 2, kService = 3, kEncryption = 4, kEnd = 5;
constexpr size_t kMaxHeaderSize = 2 * 1024 * 1024;
}

enum class BlockKind {
    Main,       // the archive's main header
    File,       // an entry (or a part of one)
    Service,    // RAR 4 NEWSUB or RAR 5 service header ("CMT", "QO", "RR", ...)
    End,        // end of archive or of a volume
    Encryption, // RAR 5 archive encryption: the headers that follow are encrypted
    Other,      // a block the reader skips
};

struct Block {
    BlockKind kind = BlockKind::Other;
    uint64_t type = 0;       // the raw block type
    uint64_t flags = 0;      // the raw header flags
    size_t headerSize = 0;   // bytes of the whole header
    uint64_t dataSize = 0;   // bytes of data that follow the header

    // Main header.
    bool volume = false;
    bool newNumbering = false; // volumes named NAME.partN.rar
    bool solid = false;
    bool encryptedHeaders = false;
    size_t embeddedCommentOffset = 0; // RAR 2 comment inside the main header (0: none)

    // End header.
    bool nextVolume = false;

    // File and service headers.
    std::string name;         // raw name bytes: RAR 4 up to the NUL, RAR 5 UTF-8
    std::string unicodeField; // RAR 4: the encoded Unicode name after the NUL
    uint64_t unpackedSize = 0;
    bool unpackedSizeKnown = true;
    uint32_t crc = 0;
    bool hasCrc = false;
    uint32_t dosTime = 0;      // RAR 4 modification time
    bool dosTimeExtraSecond = false;  // RAR 4 extended time: one second more
    uint32_t dosTimeNanoseconds = 0;  // RAR 4 extended time: the fraction of a second
    uint64_t unixTime = 0;     // RAR 5 modification time, when hasUnixTime
    bool hasUnixTime = false;
    uint8_t hostOS = 0;        // RAR 4 numbering (0 MS-DOS, 2 Win32, 3 Unix)
    uint8_t unpackVersion = 0; // RAR 4: 15..29; RAR 5: 50
    uint8_t method = 0;        // RAR 4 numbering: 0x30 store .. 0x35 best
    uint64_t attributes = 0;
    bool splitBefore = false;
    bool splitAfter = false;
    bool directory = false;
    bool encrypted = false;
    bool solidEntry = false;
    bool redirection = false;  // RAR 5 link or file copy (no data of its own)
    bool unsupportedAlgorithm = false; // RAR 5 compression version other than 0
};

// The entry's name as UTF-8: RAR 5 names as stored; RAR 4 names from their
// encoded Unicode form when there is one, else the stored bytes when they
// are valid UTF-8, else the stored bytes read as Windows-1252.
std::string utf8Name(const Block& block);

enum class ParseStatus { Ok, NeedMore, Bad };

// Reads the block header at `p` (`avail` bytes available). NeedMore sets
// `needed` to the number of bytes the header needs in all; Bad means the
// header is damaged (wrong CRC, impossible sizes).
ParseStatus parseBlock(Format format, const unsigned char* p, size_t avail, Block& out, size_t& needed);

// The RAR 2 comment embedded in a RAR 4 main header, when it is stored
// (method 0x30): its bytes into `out`. False when it is compressed or damaged.
struct EmbeddedComment {
    uint16_t unpackedSize = 0;
    uint8_t unpackVersion = 0;
    uint8_t method = 0;
    uint16_t crc16 = 0;
    size_t dataOffset = 0; // from the start of the main header
    size_t dataSize = 0;
};
bool parseEmbeddedComment(const unsigned char* header, size_t headerSize, size_t offset, EmbeddedComment& out);

uint32_t crc32(uint32_t crc, const void* data, size_t size);

// Little-endian helpers shared with the writer.
inline uint16_t get16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t get32(const unsigned char* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// RAR 5 variable-length integer at p (at most `avail` bytes); the number of
// bytes read, or 0 when it does not end within them or overflows 64 bits.
size_t readVint(const unsigned char* p, size_t avail, uint64_t& value);

// Building RAR 4 headers (the writer, and the layer's own re-packing of a
// compressed comment for libarchive to decode).
struct V4FileFields {
    uint8_t type = V4::kFile;
    uint16_t flags = V4::kLongBlock;
    uint64_t packSize = 0;
    uint64_t unpackedSize = 0;
    uint8_t hostOS = V4::kHostUnix;
    uint32_t crc = 0;
    uint32_t dosTime = 0;
    uint8_t unpackVersion = 20;
    uint8_t method = V4::kMethodStore;
    uint32_t attributes = 0;
    std::string name;
};
std::vector<unsigned char> buildV4FileHeader(const V4FileFields& fields);
// A block of the given type and flags around `body` (the bytes after the
// 7-byte base header), with its size and CRC filled in.
std::vector<unsigned char> buildV4Block(uint8_t type, uint16_t flags, const std::vector<unsigned char>& body);
// Recomputes the CRC of a RAR 4 header in place.
void setV4HeaderCrc(unsigned char* header, size_t size);
// A RAR 5 header from the bytes after its size field (type, flags, fields).
std::vector<unsigned char> buildV5Header(const std::vector<unsigned char>& body);
void putVint(std::vector<unsigned char>& out, uint64_t value);
inline void put16(std::vector<unsigned char>& out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
inline void put32(std::vector<unsigned char>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

// DOS date and time (local time) from a Unix time, and back.
uint32_t dosTimeFromUnix(int64_t t);
int64_t unixTimeFromDos(uint32_t dos);

}
