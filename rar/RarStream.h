// The bytes of a RAR volume set as one archive, for libarchive to read, with
// the volumes opened one after the other only when the data needs them.
// Reading the block headers itself, the stream
// - keeps every entry's header, and the CRC of its last part, for the checks
//   libarchive does not make;
// - carries on across a volume that ends between two entries (libarchive
//   would stop at its end-of-volume block): the end block and the next
//   volume's signature and main header are left out, so the entries run on;
// - leaves out service blocks (comments, recovery records), which libarchive
//   would skip anyway;
// - reports a damaged header, a truncated volume, a volume that cannot be
//   opened, with the layer's codes.
// Qt-free.
#pragma once

#include "BitInput.h"
#include "RarFormat.h"
#include "RarCodes.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

struct RarEntryInfo {
    Rar::Block header;       // the header of the entry's first part
    std::string volumePath;  // the volume the entry starts in
    uint32_t finalCrc = 0;   // the CRC of the unpacked data, from the last part
    bool complete = false;   // the last part's header has been read
};

struct RarComment {
    bool present = false;
    bool damaged = false;
    std::string text;
};

class RarVolumeStream;

// The current entry's packed data, across its parts, for a decoder.
class RarEntrySource : public Rar::PackedSource {
public:
    explicit RarEntrySource(RarVolumeStream& stream) : m_stream(stream) {}
    ssize_t read(const unsigned char** data) override;

private:
    RarVolumeStream& m_stream;
};

class RarVolumeStream {
public:
    RarVolumeStream();
    ~RarVolumeStream();
    RarVolumeStream(const RarVolumeStream&) = delete;
    RarVolumeStream& operator=(const RarVolumeStream&) = delete;

    // Opens the first volume and reads its signature, main header and
    // comment: 0, ERAR_EOPEN, ERAR_BAD_ARCHIVE (no RAR archive, or a RAR
    // format older than 1.5) or ERAR_BAD_DATA (damaged main header, or
    // encrypted headers, which cannot be read without the password).
    int open(const std::string& firstVolumePath);

    Rar::Format format() const { return m_format; }
    const RarComment& comment() const { return m_comment; }

    void setVolumeCallback(RarVolumeCallback callback) { m_volumeCallback = std::move(callback); }
    // Maps a volume's name to the file to open (a medium may hold GAME.R00
    // where the set asks for game.r00); by default names are taken as given.
    using PathResolver = std::function<std::string(const std::string&)>;
    void setPathResolver(PathResolver resolver) { m_resolve = std::move(resolver); }

    // libarchive's read callback: the next bytes of the archive, 0 at its
    // end, -1 on a failure (error() says which).
    ssize_t read(const void** buffer);

    // After an entry's data: when nothing but the end of the current volume
    // comes before the next entry, opens the next volume now, so that a
    // missing volume is asked for while the entry is processed. 0 or the
    // failure code.
    int prepareNext();

    // Stored entries of archives that are not solid are read here directly,
    // without libarchive (which would copy the data and compute a CRC it
    // does not report): whether `entry`'s data is next, untouched.
    bool solid() const { return m_solid; }
    bool atDataOf(const std::shared_ptr<RarEntryInfo>& entry) const;
    // The current entry's data, across its parts: bytes, 0 at its end, -1
    // on a failure. With `skip` the data is passed over, not read.
    ssize_t readEntryData(const void** buffer, bool skip = false);
    // After reading directly: libarchive starts again with a new reader,
    // which is handed the archive's start and then the blocks that follow.
    void restartArchive();

    // The first failure met, sticky: 0, ERAR_BAD_DATA (damaged header),
    // ERAR_BAD_ARCHIVE (truncated or foreign volume), ERAR_EOPEN, ERAR_EREAD.
    int error() const { return m_error; }

    // Headers of the entries read so far and not yet taken, in order.
    std::shared_ptr<RarEntryInfo> takeEntry();

    // Reading without libarchive (RAR 4, our own decoders): passes over
    // what is left of the current entry and returns the next one, whose
    // data readEntryData() then delivers; null at the end of the set or on
    // a failure (error() tells which; 0 at a regular end, also for a set
    // that ends without an end-of-archive block).
    std::shared_ptr<RarEntryInfo> nextEntry();

private:
    enum class State { Header, Data, End };
    struct Peeked {
        Rar::ParseStatus status = Rar::ParseStatus::Bad;
        bool atEof = false;  // no byte left in the volume
        bool truncated = false;
        bool readError = false;
        Rar::Block block;    // its header bytes are in m_header
    };

    Peeked peekAt(uint64_t pos);
    Peeked peek() { return peekAt(m_pos); }
    bool step();
    bool endOfVolume(bool hasEndBlock, bool nextVolume, size_t endBlockSize);
    bool switchVolume(bool askWhenMissing, bool passHeaders);
    void readComment();
    bool fail(int code);
    // Reads the current volume at `pos` as pread does, through the read-ahead.
    ssize_t readVolume(unsigned char* buffer, size_t size, uint64_t pos);
    void append(const unsigned char* p, size_t n) { m_pending.insert(m_pending.end(), p, p + n); }

    std::string m_firstPath;
    bool m_newNumbering = false;
    bool m_volumeSet = false;
    bool m_solid = false;
    std::vector<unsigned char> m_start;     // signature and main header of the first volume
    Rar::Format m_format = Rar::Format::None;
    RarVolumeCallback m_volumeCallback;
    PathResolver m_resolve = [](const std::string& path) { return path; };

    int m_fd = -1;
    std::string m_volumePath;
    unsigned m_volumeIndex = 0;
    uint64_t m_volumeSize = 0;
    uint64_t m_pos = 0;
    std::vector<unsigned char> m_ahead; // the current volume from m_aheadPos on
    uint64_t m_aheadPos = 0;
    size_t m_aheadSize = 0;

    State m_state = State::Header;
    uint64_t m_dataLeft = 0;
    bool m_lastFileSplitAfter = false;
    int m_error = 0;

    std::vector<unsigned char> m_header;    // the header being read
    std::vector<unsigned char> m_pending;   // header bytes not yet handed out
    std::vector<unsigned char> m_delivered; // header bytes libarchive holds
    std::vector<unsigned char> m_data;      // data bytes libarchive holds

    std::deque<std::shared_ptr<RarEntryInfo>> m_entries;
    std::shared_ptr<RarEntryInfo> m_current; // the entry whose parts are running
    RarComment m_comment;
};
