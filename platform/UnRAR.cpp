#include "UnRAR.h"

#include "RarFormat.h"
#include "RarOutput.h"
#include "RarStream.h"
#include "ReleaseFiles.h"

#include <archive.h>
#include <archive_entry.h>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

// The data callback gets at most this much at a time, so a caller that
// drains its event loop in the callback does so often enough.
constexpr size_t kMaxChunk = 64 * 1024;

// Highest RAR 4 unpack version and method libarchive decodes.
constexpr uint8_t kNewestRar4Version = 29;

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

}

struct RARArchive {
    RarVolumeStream stream;
    std::unique_ptr<archive, decltype(&archive_read_free)> reader { nullptr, archive_read_free };
    unsigned openMode = RAR_OM_LIST;
    PROCESSDATAPROC dataCallback;
    archive_entry* entry = nullptr;          // valid from a header read to its processing
    std::shared_ptr<RarEntryInfo> info;
    std::string fileName;                   // the entry's stored path, "/" separators

    bool restartPending = false;            // an entry was read without libarchive

    int failure(int fallback) const { return stream.error() ? stream.error() : fallback; }
    int openReader();
    int restartReader();
    int skipData();
    int processEntry(int operation);
    int processData(bool write, const RarOutput::Components& path);
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

    if (const int result = handle->openReader()) {
        data->OpenResult = unsigned(result);
        return nullptr;
    }
    return handle.release();
}

int RARArchive::openReader()
{
    reader.reset(archive_read_new());
    if (!reader)
        return ERAR_NO_MEMORY;
    archive_read_support_format_rar(reader.get());
    archive_read_support_format_rar5(reader.get());
    if (archive_read_open(reader.get(), &stream, nullptr, readCallback, nullptr) != ARCHIVE_OK)
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
    if (handle->stream.error())
        return handle->stream.error();
    if (const int result = handle->restartReader())
        return result;

    archive_entry* entry = nullptr;
    const int result = archive_read_next_header(handle->reader.get(), &entry);
    if (result == ARCHIVE_EOF)
        return handle->failure(ERAR_END_ARCHIVE);
    if (result < ARCHIVE_WARN)
        return handle->failure(ERAR_BAD_DATA);
    auto info = handle->stream.takeEntry();
    if (!info)
        return ERAR_BAD_DATA;
    const Rar::Block& h = info->header;
    // The two readings of the header must agree on what they describe.
    if (archive_entry_filetype(entry) == AE_IFREG && !archive_entry_hardlink(entry) && archive_entry_size_is_set(entry)
        && h.unpackedSizeKnown && uint64_t(archive_entry_size(entry)) != h.unpackedSize)
        return ERAR_BAD_DATA;

    // Our own reading of the name does not depend on the process's locale.
    std::string fileName = Rar::utf8Name(h);
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

    handle->entry = entry;
    handle->info = std::move(info);
    handle->fileName = std::move(fileName);
    return 0;
}

int RARProcessFile(RARHandle handle, int operation, const char* destPath, const char* destName)
{
    if (!handle)
        return ERAR_BAD_ARCHIVE;
    if (!handle->entry)
        return handle->failure(ERAR_BAD_ARCHIVE);
    int result = 0;
    if (destPath || destName) {
        result = ERAR_ECREATE; // other destinations than the current directory are not offered
        handle->skipData();
    } else {
        const bool listing = handle->openMode == RAR_OM_LIST;
        result = handle->processEntry(listing ? RAR_SKIP : operation);
    }
    handle->entry = nullptr;
    handle->info.reset();
    // A volume that ends with this entry is followed by the next one now,
    // so that asking for it belongs to this entry.
    if (result == 0 && handle->restartPending)
        result = handle->restartReader();
    if (result == 0)
        result = handle->stream.prepareNext();
    return result;
}

int RARArchive::skipData()
{
    return archive_read_data_skip(reader.get()) < ARCHIVE_WARN ? failure(ERAR_BAD_DATA) : failure(0);
}

int RARArchive::processEntry(int operation)
{
    if (operation != RAR_TEST && operation != RAR_EXTRACT)
        return skipData();
    const bool write = operation == RAR_EXTRACT;
    const Rar::Block& h = info->header;

    RarOutput::Components path;
    if (!RarOutput::safeComponents(fileName, path)) {
        skipData();
        return ERAR_ECREATE;
    }

    timespec mtime {};
    const timespec* times = nullptr;
    if (archive_entry_mtime_is_set(entry)) {
        mtime.tv_sec = archive_entry_mtime(entry);
        mtime.tv_nsec = archive_entry_mtime_nsec(entry);
        times = &mtime;
    }

    const char* hardlink = archive_entry_hardlink_utf8(entry);
    if (!hardlink)
        hardlink = archive_entry_hardlink(entry);
    if (hardlink) {
        std::string target = hardlink;
        std::replace(target.begin(), target.end(), '\\', '/');
        RarOutput::Components targetPath;
        skipData();
        if (!RarOutput::safeComponents(target, targetPath))
            return ERAR_ECREATE;
        return write ? RarOutput::makeHardLink(path, targetPath) : 0;
    }

    switch (archive_entry_filetype(entry)) {
    case AE_IFDIR: {
        skipData();
        return write ? RarOutput::makeDirectory(path, times) : 0;
    }
    case AE_IFLNK: {
        const char* linkTarget = archive_entry_symlink_utf8(entry);
        if (!linkTarget)
            linkTarget = archive_entry_symlink(entry);
        const std::string target = linkTarget ? linkTarget : "";
        skipData();
        if (!RarOutput::symlinkStaysInside(path, target))
            return ERAR_ECREATE;
        return write ? RarOutput::makeSymlink(path, target, times) : 0;
    }
    case AE_IFREG:
        break;
    default:
        // Devices, pipes and the like are no release files.
        skipData();
        return ERAR_ECREATE;
    }

    // What libarchive cannot decode fails as an unknown format: there is no
    // code for a missing password or an unsupported method.
    const bool unsupported = h.encrypted || archive_entry_is_data_encrypted(entry) > 0 || h.unsupportedAlgorithm
        || (h.unpackVersion > kNewestRar4Version && h.unpackVersion != 50) || h.method > Rar::V4::kMethodBest;
    if (unsupported) {
        skipData();
        return ERAR_UNKNOWN_FORMAT;
    }
    return processData(write, path);
}

int RARArchive::processData(bool write, const RarOutput::Components& path)
{
    RarOutput::File file;
    if (write) {
        mode_t mode = archive_entry_perm(entry) & 0777;
        if (mode == 0)
            mode = 0644;
        if (const int result = file.create(path, mode)) {
            skipData();
            return result;
        }
    }
    const Rar::Block& h = info->header;
    // Stored data is copied straight from the volumes when no decoder state
    // runs from entry to entry.
    const bool direct = h.method == Rar::V4::kMethodStore && !h.encrypted && !h.redirection && !h.solidEntry
        && !stream.solid() && h.unpackedSizeKnown && stream.atDataOf(info);
    if (direct)
        restartPending = true;
    uint32_t crc = 0;
    int64_t written = 0;
    std::vector<unsigned char> zeros;
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = written;
        if (direct) {
            const ssize_t n = stream.readEntryData(&block);
            if (n < 0)
                return failure(ERAR_BAD_DATA);
            if (n == 0)
                break;
            size = size_t(n);
        } else {
            const int result = archive_read_data_block(reader.get(), &block, &size, &offset);
            if (result == ARCHIVE_EOF)
                break;
            if (result < ARCHIVE_WARN)
                return failure(ERAR_BAD_DATA); // `file` removes what was written
        }
        // A gap before the block (sparse data) is zeros.
        while (offset > written) {
            zeros.assign(size_t(std::min<int64_t>(offset - written, int64_t(kMaxChunk))), 0);
            crc = Rar::crc32(crc, zeros.data(), zeros.size());
            if (write && !file.write(zeros.data(), zeros.size()))
                return ERAR_EWRITE;
            written += int64_t(zeros.size());
        }
        auto* p = static_cast<unsigned char*>(const_cast<void*>(block));
        while (size > 0) {
            const size_t n = std::min(size, kMaxChunk);
            crc = Rar::crc32(crc, p, n);
            if (write && !file.write(p, n))
                return ERAR_EWRITE;
            // The caller cancels with an answer of 0 or less: the entry was
            // not written, which is closest to a write failure.
            if (dataCallback && dataCallback(p, int(n)) <= 0)
                return ERAR_EWRITE;
            p += n;
            size -= n;
            written += int64_t(n);
        }
    }
    if (stream.error())
        return stream.error();
    if (info->complete && h.hasCrc && !h.redirection && crc != info->finalCrc)
        return ERAR_BAD_DATA;
    if (h.unpackedSizeKnown && !h.redirection && uint64_t(written) != h.unpackedSize)
        return ERAR_BAD_DATA;
    if (!write)
        return 0;
    timespec mtime {};
    const timespec* times = nullptr;
    if (archive_entry_mtime_is_set(entry)) {
        mtime.tv_sec = archive_entry_mtime(entry);
        mtime.tv_nsec = archive_entry_mtime_nsec(entry);
        times = &mtime;
    }
    return file.commit(times);
}
