#include "UnRAR.h"

#include "Libarchive.h"
#include "RarFormat.h"
#include "RarOutput.h"
#include "RarStream.h"
#include "ReleaseFiles.h"
#include "Unpack.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <sys/stat.h>

namespace {

// The data callback gets at most this much at a time, so a caller that
// drains its event loop in the callback does so often enough.
constexpr size_t kMaxChunk = 64 * 1024;

// A link's target is a path, not a file's worth of data.
constexpr size_t kMaxLinkTarget = 64 * 1024;

la_ssize_t readCallback(archive*, void* clientData, const void** buffer)
{
    return static_cast<RarVolumeStream*>(clientData)->read(buffer);
}

void copyTruncated(char* to, size_t size, const std::string& from)
{
    const size_t n = std::min(from.size(), size - 1);
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

// An entry's unpacked bytes, chunk by chunk: their count with `data` set, 0
// at the end, or minus a failure code.
using ChunkSource = std::function<ssize_t(const unsigned char*& data)>;

bool isUnixSymlink(const Rar::Block& h)
{
    return h.hostOS == Rar::V4::kHostUnix && (h.attributes & S_IFMT) == S_IFLNK;
}

mode_t fileMode(const Rar::Block& h)
{
    if (h.hostOS == Rar::V4::kHostUnix && (h.attributes & 0777))
        return mode_t(h.attributes & 0777);
    return 0644;
}

}

struct RARArchive {
    RarVolumeStream stream;
    unsigned openMode = RAR_OM_LIST;
    PROCESSDATAPROC dataCallback;
    std::shared_ptr<RarEntryInfo> info;     // the entry whose header was read last
    std::string fileName;                   // its stored path, "/" separators
    // A failure after which nothing of the archive can be trusted: every
    // later call answers it.
    int broken = 0;

    // RAR 1.5 to 4.x: our own decoders, one kept for the solid stream.
    std::unique_ptr<Rar::Unpacker> unpacker;
    int unpackerFamily = -1;
    bool solidStreamFailed = false;

    // RAR 5: libarchive reads the stream.
    const Libarchive* la = nullptr; // loaded with the first RAR 5 set
    std::unique_ptr<archive, ArchiveReaderFree> reader;
    archive_entry* entry = nullptr;         // valid from a header read to its processing
    bool restartPending = false;            // an entry was read without libarchive

    bool ownDecoding() const { return stream.format() == Rar::Format::Rar4; }
    int failure(int fallback) const { return stream.error() ? stream.error() : fallback; }
    int fillHeader(RARHeaderData* header);
    int deliver(RarOutput::Entry* out, const RarOutput::Components& path, mode_t mode, const timespec* mtime,
                const ChunkSource& next, std::string* collect);

    // RAR 1.5 to 4.x.
    int readHeader4();
    int processEntry4(int operation, RarOutput::Entry& out);
    ChunkSource chunksOf4(Rar::UnpackStatus& status, RarEntrySource& source, bool& decoding);

    // RAR 5.
    int openReader();
    int restartReader();
    int readHeader5();
    int skipData5();
    int processEntry5(int operation, RarOutput::Entry& out);
};

RARHandle RAROpenArchive(RAROpenArchiveData* data)
{
    if (!data)
        return nullptr;
    data->OpenResult = 0;
    data->CmtSize = 0;
    data->CmtState = 0;
    if (!data->ArcName) {
        data->OpenResult = ERAR_EOPEN;
        return nullptr;
    }
    std::unique_ptr<RARArchive> handle(new (std::nothrow) RARArchive);
    if (!handle) {
        data->OpenResult = ERAR_NO_MEMORY;
        return nullptr;
    }
    handle->openMode = data->OpenMode;
    handle->stream.setPathResolver(ReleaseFiles::resolve);
    if (const int result = handle->stream.open(data->ArcName)) {
        data->OpenResult = unsigned(result);
        return nullptr;
    }

    const RarComment& comment = handle->stream.comment();
    if (data->CmtBuf && data->CmtBufSize > 0 && comment.present) {
        const size_t fits = std::min<size_t>(comment.text.size(), data->CmtBufSize - 1);
        std::memcpy(data->CmtBuf, comment.text.data(), fits);
        data->CmtBuf[fits] = '\0';
        data->CmtSize = unsigned(fits + 1);
        data->CmtState = comment.damaged ? ERAR_BAD_DATA : fits < comment.text.size() ? ERAR_NO_MEMORY : 1;
    }

    if (!handle->ownDecoding()) {
        if (const int result = handle->openReader()) {
            data->OpenResult = unsigned(result);
            return nullptr;
        }
    }
    return handle.release();
}

int RARCloseArchive(RARHandle archive)
{
    if (!archive)
        return ERAR_ECLOSE;
    delete archive;
    return 0;
}

void RARSetChangeVolProc(RARHandle archive, CHANGEVOLPROC callback)
{
    if (archive)
        archive->stream.setVolumeCallback(std::move(callback));
}

void RARSetProcessDataProc(RARHandle archive, PROCESSDATAPROC callback)
{
    if (archive)
        archive->dataCallback = std::move(callback);
}

int RARReadHeader(RARHandle handle, RARHeaderData* header)
{
    if (!handle || !header)
        return ERAR_BAD_ARCHIVE;
    handle->entry = nullptr;
    handle->info.reset();
    if (handle->broken)
        return handle->broken;
    if (handle->stream.error())
        return handle->stream.error();
    const int result = handle->ownDecoding() ? handle->readHeader4() : handle->readHeader5();
    if (result)
        return result;
    return handle->fillHeader(header);
}

int RARArchive::fillHeader(RARHeaderData* header)
{
    const Rar::Block& h = info->header;
    // Our own reading of the name does not depend on the process's locale.
    fileName = Rar::utf8Name(h);
    std::replace(fileName.begin(), fileName.end(), '\\', '/');

    char* comment = header->CmtBuf;
    const unsigned commentSize = header->CmtBufSize;
    *header = RARHeaderData();
    header->CmtBuf = comment;
    header->CmtBufSize = commentSize;
    copyTruncated(header->ArcName, sizeof header->ArcName, info->volumePath);
    copyTruncated(header->FileName, sizeof header->FileName, fileName);
    header->Flags = unsigned(h.splitBefore ? 0x01 : 0) | (h.splitAfter ? 0x02 : 0) | (h.encrypted ? 0x04 : 0)
        | (h.solidEntry ? 0x10 : 0) | (h.directory ? 0xe0 : 0);
    header->PackSize = unsigned(h.dataSize);
    header->UnpSize = unsigned(h.unpackedSize & 0xffffffffu);
    header->UnpSizeHigh = unsigned(h.unpackedSize >> 32);
    header->HostOS = h.hostOS;
    header->FileCRC = info->complete ? info->finalCrc : h.crc;
    header->FileTime = h.hasUnixTime ? Rar::dosTimeFromUnix(int64_t(h.unixTime)) : h.dosTime;
    header->UnpVer = h.unpackVersion;
    header->Method = h.method;
    header->FileAttr = unsigned(h.attributes);
    return 0;
}

int RARProcessFile(RARHandle handle, int operation, const char* destPath, const char* destName)
{
    if (!handle)
        return ERAR_BAD_ARCHIVE;
    if (handle->broken)
        return handle->broken;
    if (!handle->info)
        return handle->failure(ERAR_BAD_ARCHIVE);
    // Other destinations than the current directory are not offered.
    const bool elsewhere = destPath || destName;
    if (handle->openMode == RAR_OM_LIST || elsewhere)
        operation = RAR_SKIP;
    // What the entry makes gets its name only once nothing can fail any
    // more, the next volume included; otherwise it is rolled back.
    RarOutput::Entry out;
    int result = handle->ownDecoding() ? handle->processEntry4(operation, out) : handle->processEntry5(operation, out);
    if (elsewhere && result == 0)
        result = ERAR_ECREATE;
    handle->entry = nullptr;
    handle->info.reset();
    // A volume that ends with this entry is followed by the next one now,
    // so that asking for it belongs to this entry.
    if (result == 0 && handle->restartPending)
        result = handle->restartReader();
    if (result == 0)
        result = handle->stream.prepareNext();
    if (result == 0)
        result = out.commit();
    return result;
}

// Writes (or only checks) an entry's bytes: CRC and size against the
// header, the data callback for every chunk, and nothing left behind of a
// failed entry. With `collect` the bytes are gathered there instead (a
// link's target).
int RARArchive::deliver(RarOutput::Entry* out, const RarOutput::Components& path, mode_t mode, const timespec* mtime,
                        const ChunkSource& next, std::string* collect)
{
    const Rar::Block& h = info->header;
    const bool toFile = out && !collect;
    if (toFile) {
        if (const int result = out->createFile(path, mode))
            return result;
    }
    uint32_t crc = 0;
    uint64_t written = 0;
    for (;;) {
        const unsigned char* block = nullptr;
        ssize_t got = next(block);
        if (got < 0)
            return int(-got); // the entry rolls back what was written
        if (got == 0)
            break;
        size_t size = size_t(got);
        while (size > 0) {
            const size_t n = std::min(size, kMaxChunk);
            crc = Rar::crc32(crc, block, n);
            if (collect) {
                if (collect->size() + n > kMaxLinkTarget)
                    return ERAR_ECREATE;
                collect->append(reinterpret_cast<const char*>(block), n);
            } else if (toFile && !out->write(block, n)) {
                return ERAR_EWRITE;
            }
            // The caller cancels with an answer of 0 or less: the entry was
            // not written, which is closest to a write failure.
            if (dataCallback && dataCallback(const_cast<unsigned char*>(block), int(n)) <= 0)
                return ERAR_EWRITE;
            block += n;
            size -= n;
            written += n;
        }
    }
    if (stream.error())
        return stream.error();
    if (info->complete && h.hasCrc && !h.redirection && crc != info->finalCrc)
        return ERAR_BAD_DATA;
    if (h.unpackedSizeKnown && !h.redirection && written != h.unpackedSize)
        return ERAR_BAD_DATA;
    return toFile ? out->finishFile(mtime) : 0;
}

// RAR 1.5 to 4.x --------------------------------------------------------

int RARArchive::readHeader4()
{
    info = stream.nextEntry();
    if (!info)
        return failure(ERAR_END_ARCHIVE);
    return 0;
}

ChunkSource RARArchive::chunksOf4(Rar::UnpackStatus& status, RarEntrySource& source, bool& decoding)
{
    const Rar::Block& h = info->header;
    if (h.method == Rar::V4::kMethodStore) {
        return [this](const unsigned char*& data) -> ssize_t {
            const void* block = nullptr;
            const ssize_t n = stream.readEntryData(&block);
            data = static_cast<const unsigned char*>(block);
            return n < 0 ? -ssize_t(failure(ERAR_BAD_DATA)) : n;
        };
    }
    // The entries of a solid archive run on in one decoder: from version
    // 2.0 each entry says whether it continues the one before, RAR 1.5
    // archives say it once for all.
    const int family = Rar::unpackerFamily(h.unpackVersion);
    const bool solid = h.unpackVersion < 20 ? stream.solid() : h.solidEntry;
    if (!solid)
        solidStreamFailed = false;
    if (family < 0 || h.method > Rar::V4::kMethodBest) {
        status = Rar::UnpackStatus::Unsupported;
        return nullptr;
    }
    if (solid && (solidStreamFailed || (unpacker && family != unpackerFamily))) {
        status = Rar::UnpackStatus::BadData;
        return nullptr;
    }
    if (!unpacker || family != unpackerFamily) {
        unpacker = Rar::makeUnpacker(h.unpackVersion);
        unpackerFamily = family;
        if (!unpacker) {
            status = Rar::UnpackStatus::Unsupported;
            return nullptr;
        }
    }
    unpacker->begin(source, h.unpackedSize, solid);
    decoding = true;
    return [this, &status](const unsigned char*& data) -> ssize_t {
        size_t size = 0;
        status = unpacker->next(data, size);
        switch (status) {
        case Rar::UnpackStatus::Data:
            return ssize_t(size);
        case Rar::UnpackStatus::End:
            return 0;
        case Rar::UnpackStatus::Unsupported:
            return -ERAR_UNKNOWN_FORMAT;
        case Rar::UnpackStatus::SourceFailed:
            return -ssize_t(failure(ERAR_BAD_DATA));
        case Rar::UnpackStatus::BadData:
            break;
        }
        return -ERAR_BAD_DATA;
    };
}

int RARArchive::processEntry4(int operation, RarOutput::Entry& out)
{
    const Rar::Block& h = info->header;
    const bool write = operation == RAR_EXTRACT;
    const bool compressed = !h.directory && h.method != Rar::V4::kMethodStore;
    RarEntrySource source(stream);
    Rar::UnpackStatus status = Rar::UnpackStatus::Data;
    bool decoding = false;
    ChunkSource chunks;
    // In a solid archive even a skipped entry is decoded, so that the next
    // entry starts where this one stops.
    const bool needed = operation == RAR_TEST || operation == RAR_EXTRACT || (compressed && stream.solid());
    if (!h.directory && !h.encrypted && needed)
        chunks = chunksOf4(status, source, decoding);

    // An entry of a solid stream that is not decoded to its end breaks the
    // stream for the entries that continue it.
    auto finish = [&](int result) {
        if (decoding && status == Rar::UnpackStatus::Data && stream.solid()) {
            const unsigned char* ignored = nullptr;
            while (chunks(ignored) > 0) {
            }
        }
        if (compressed && stream.solid() && status != Rar::UnpackStatus::End)
            solidStreamFailed = true;
        return result;
    };

    if (operation != RAR_TEST && operation != RAR_EXTRACT)
        return finish(0);
    if (h.encrypted)
        return finish(ERAR_UNKNOWN_FORMAT);
    if (!h.directory && !chunks)
        return finish(status == Rar::UnpackStatus::Unsupported ? ERAR_UNKNOWN_FORMAT : ERAR_BAD_DATA);

    RarOutput::Components path;
    if (fileName.find('\0') != std::string::npos || !RarOutput::safeComponents(fileName, path))
        return finish(ERAR_ECREATE);
    const timespec mtime { time_t(Rar::unixTimeFromDos(h.dosTime) + (h.dosTimeExtraSecond ? 1 : 0)),
                           long(std::min<uint32_t>(h.dosTimeNanoseconds, 999999999)) };

    if (h.directory)
        return finish(write ? out.makeDirectory(path, &mtime) : 0);
    if (isUnixSymlink(h)) {
        std::string target;
        if (const int result = deliver(nullptr, path, 0, &mtime, chunks, &target))
            return finish(result);
        if (target.find('\0') != std::string::npos || !RarOutput::symlinkStaysInside(path, target))
            return finish(ERAR_ECREATE);
        return finish(write ? out.makeSymlink(path, target, &mtime) : 0);
    }
    return finish(deliver(write ? &out : nullptr, path, fileMode(h), &mtime, chunks, nullptr));
}

// RAR 5 -----------------------------------------------------------------

int RARArchive::openReader()
{
    la = Libarchive::get();
    if (!la)
        return ERAR_BAD_ARCHIVE;
    reader.reset(la->read_new());
    if (!reader)
        return ERAR_NO_MEMORY;
    la->read_support_format_rar5(reader.get());
    if (la->read_open(reader.get(), &stream, nullptr, readCallback, nullptr) != ARCHIVE_OK)
        return failure(ERAR_BAD_ARCHIVE);
    return 0;
}

int RARArchive::restartReader()
{
    if (!restartPending)
        return 0;
    restartPending = false;
    // What the caller left of the entry (a cancel, a failure) is passed over.
    const void* ignored = nullptr;
    ssize_t n;
    while ((n = stream.readEntryData(&ignored, true)) > 0) {
    }
    if (n < 0)
        return failure(ERAR_BAD_DATA);
    stream.restartArchive();
    return openReader();
}

int RARArchive::readHeader5()
{
    if (const int result = restartReader())
        return result;
    archive_entry* next = nullptr;
    const int result = la->read_next_header(reader.get(), &next);
    if (result == ARCHIVE_EOF)
        return failure(ERAR_END_ARCHIVE);
    if (result < ARCHIVE_WARN)
        return broken = failure(ERAR_BAD_DATA);
    info = stream.takeEntry();
    if (!info)
        return broken = ERAR_BAD_DATA;
    const Rar::Block& h = info->header;
    // The two readings of the header must agree on what they describe.
    if (la->entry_filetype(next) == AE_IFREG && !la->entry_hardlink(next) && la->entry_size_is_set(next)
        && h.unpackedSizeKnown && uint64_t(la->entry_size(next)) != h.unpackedSize)
        return broken = ERAR_BAD_DATA;
    entry = next;
    return 0;
}

int RARArchive::skipData5()
{
    // Once libarchive has failed inside an entry its buffers are not to be
    // touched again: the archive ends with that failure.
    if (la->read_data_skip(reader.get()) < ARCHIVE_WARN)
        return broken = failure(ERAR_BAD_DATA);
    return failure(0);
}

int RARArchive::processEntry5(int operation, RarOutput::Entry& out)
{
    if (!entry)
        return failure(ERAR_BAD_ARCHIVE);
    if (operation != RAR_TEST && operation != RAR_EXTRACT)
        return skipData5();
    const bool write = operation == RAR_EXTRACT;
    const Rar::Block& h = info->header;

    RarOutput::Components path;
    // A stored name holding a NUL byte would be checked whole and created
    // cut at the NUL: it is refused.
    if (fileName.find('\0') != std::string::npos || !RarOutput::safeComponents(fileName, path)) {
        const int skipped = skipData5();
        return skipped ? skipped : ERAR_ECREATE;
    }

    timespec mtime {};
    const timespec* times = nullptr;
    if (la->entry_mtime_is_set(entry)) {
        mtime.tv_sec = la->entry_mtime(entry);
        mtime.tv_nsec = la->entry_mtime_nsec(entry);
        times = &mtime;
    }

    auto afterSkip = [this](int result) {
        const int skipped = skipData5();
        return skipped ? skipped : result;
    };

    const char* hardlink = la->entry_hardlink_utf8(entry);
    if (!hardlink)
        hardlink = la->entry_hardlink(entry);
    if (hardlink) {
        std::string target = hardlink;
        std::replace(target.begin(), target.end(), '\\', '/');
        RarOutput::Components targetPath;
        if (!RarOutput::safeComponents(target, targetPath))
            return afterSkip(ERAR_ECREATE);
        return afterSkip(write ? out.makeHardLink(path, targetPath) : 0);
    }

    switch (la->entry_filetype(entry)) {
    case AE_IFDIR:
        return afterSkip(write ? out.makeDirectory(path, times) : 0);
    case AE_IFLNK: {
        const char* linkTarget = la->entry_symlink_utf8(entry);
        if (!linkTarget)
            linkTarget = la->entry_symlink(entry);
        const std::string target = linkTarget ? linkTarget : "";
        if (!RarOutput::symlinkStaysInside(path, target))
            return afterSkip(ERAR_ECREATE);
        return afterSkip(write ? out.makeSymlink(path, target, times) : 0);
    }
    case AE_IFREG:
        break;
    default:
        // Devices, pipes and the like are no release files.
        return afterSkip(ERAR_ECREATE);
    }
    // A redirection libarchive made no link of (a file copy, a junction, a
    // kind it does not know) has no data of its own to write.
    if (h.redirection)
        return afterSkip(ERAR_UNKNOWN_FORMAT);

    // What libarchive cannot decode fails as an unknown format: there is no
    // code for a missing password or an unsupported method.
    if (h.encrypted || la->entry_is_data_encrypted(entry) > 0 || h.unsupportedAlgorithm)
        return afterSkip(ERAR_UNKNOWN_FORMAT);

    // Stored data is copied straight from the volumes when no decoder state
    // runs from entry to entry.
    const bool direct = h.method == Rar::V4::kMethodStore && !h.solidEntry && !stream.solid() && h.unpackedSizeKnown
        && stream.atDataOf(info);
    if (direct)
        restartPending = true;
    int64_t delivered = 0;
    std::vector<unsigned char> zeros;
    const void* pendingBlock = nullptr;
    size_t pendingSize = 0;
    la_int64_t pendingOffset = 0;
    ChunkSource chunks = [&](const unsigned char*& data) -> ssize_t {
        if (direct) {
            const void* block = nullptr;
            const ssize_t n = stream.readEntryData(&block);
            data = static_cast<const unsigned char*>(block);
            return n < 0 ? -ssize_t(failure(ERAR_BAD_DATA)) : n;
        }
        // libarchive may hand out empty blocks before the end.
        while (pendingSize == 0) {
            const int result = la->read_data_block(reader.get(), &pendingBlock, &pendingSize, &pendingOffset);
            if (result == ARCHIVE_EOF)
                return 0;
            if (result < ARCHIVE_WARN) {
                broken = failure(ERAR_BAD_DATA);
                return -ssize_t(broken);
            }
        }
        // A gap before the block (sparse data) is zeros.
        if (pendingOffset > delivered) {
            zeros.assign(size_t(std::min<int64_t>(pendingOffset - delivered, int64_t(kMaxChunk))), 0);
            delivered += int64_t(zeros.size());
            data = zeros.data();
            return ssize_t(zeros.size());
        }
        data = static_cast<const unsigned char*>(pendingBlock);
        const size_t n = pendingSize;
        pendingSize = 0;
        delivered += int64_t(n);
        return ssize_t(n);
    };
    return deliver(write ? &out : nullptr, path, [&] {
        mode_t mode = la->entry_perm(entry) & 0777;
        return mode ? mode : mode_t(0644);
    }(), times, chunks, nullptr);
}
