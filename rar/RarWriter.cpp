#include "RarWriter.h"

#include "RarFormat.h"
#include "RarVolumes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace RarWriter {

namespace {

using namespace Rar;

constexpr size_t kCopyBuffer = 1024 * 1024;
const unsigned char kSignature[] = { 0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x00 };

std::string errnoText(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

std::string storedForm(const std::string& name)
{
    std::string s = name;
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

uint64_t dataSize(const Entry& e)
{
    switch (e.kind) {
    case Entry::Kind::File:
        return e.size;
    case Entry::Kind::Symlink:
        return e.linkTarget.size();
    case Entry::Kind::Directory:
        break;
    }
    return 0;
}

V4FileFields fieldsFor(const Entry& e)
{
    V4FileFields f;
    f.hostOS = V4::kHostUnix;
    f.unpackVersion = 20;
    f.method = V4::kMethodStore;
    f.dosTime = dosTimeFromUnix(e.mtime);
    f.name = storedForm(e.storedName);
    f.unpackedSize = dataSize(e);
    switch (e.kind) {
    case Entry::Kind::File:
        f.attributes = S_IFREG | (e.mode ? e.mode & 07777 : 0644);
        break;
    case Entry::Kind::Directory:
        f.flags |= V4::kFileDirectory;
        f.attributes = S_IFDIR | (e.mode ? e.mode & 07777 : 0755);
        break;
    case Entry::Kind::Symlink:
        f.attributes = S_IFLNK | 0777;
        break;
    }
    return f;
}

size_t fileHeaderSize(const Entry& e, uint64_t pieceSize)
{
    V4FileFields f = fieldsFor(e);
    f.packSize = pieceSize;
    return buildV4FileHeader(f).size();
}

size_t commentBlockSize(const Options& options)
{
    if (options.comment.empty())
        return 0;
    return V4::kFileHeaderFixedSize + 3 + options.comment.size();
}

size_t endBlockSize(const Options& options)
{
    return options.volumeSize ? V4::kBaseHeaderSize + 2 : V4::kBaseHeaderSize;
}

// The pieces of every volume, before anything is written.
std::vector<Volume> plan(const std::vector<Entry>& entries, const Options& options)
{
    std::vector<Volume> volumes(1);
    const uint64_t start = sizeof kSignature + V4::kMainHeaderSize;
    uint64_t used = start + commentBlockSize(options);
    const uint64_t end = endBlockSize(options);
    const uint64_t limit = options.volumeSize;
    if (limit && used + end > limit)
        throw Error("volume size " + std::to_string(limit) + " is too small even for the archive's own headers");

    auto newVolume = [&] {
        volumes.emplace_back();
        used = start;
    };
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        if (e.storedName.empty())
            throw Error("an entry has an empty name");
        const uint64_t total = dataSize(e);
        uint64_t offset = 0;
        for (;;) {
            const uint64_t left = total - offset;
            const uint64_t header = fileHeaderSize(e, left);
            uint64_t room = limit ? limit - used - end : UINT64_MAX;
            // A header needs its data with it: all of it for a directory or a
            // link, at least one byte of a file.
            const uint64_t need = e.kind == Entry::Kind::File ? header + (left ? 1 : 0) : header + left;
            if (room < need) {
                if (volumes.back().pieces.empty())
                    throw Error("volume size " + std::to_string(limit) + " is too small for \"" + e.storedName
                        + "\" (at least " + std::to_string(minimumVolumeSize(e, options)) + " bytes needed)");
                newVolume();
                continue;
            }
            const uint64_t n = std::min(left, room - header);
            volumes.back().pieces.push_back({ e.storedName, i, offset, n, offset > 0, n < left });
            used += header + n;
            offset += n;
            if (offset == total)
                break;
            newVolume();
        }
        if (limit && options.breakAfter.count(e.storedName) && i + 1 < entries.size())
            newVolume();
    }
    return volumes;
}

std::vector<std::string> volumeNames(const std::string& archivePath, size_t count, const Options& options)
{
    std::vector<std::string> names;
    if (!options.volumeSize) {
        names.push_back(archivePath);
        return names;
    }
    std::string first = archivePath;
    if (options.naming == Naming::Parts) {
        const unsigned digits = unsigned(std::to_string(count).size());
        first = RarVolumes::firstPartPath(archivePath, digits);
    }
    for (size_t i = 0; i < count; ++i)
        names.push_back(RarVolumes::volumePath(first, options.naming == Naming::Parts, unsigned(i)));
    return names;
}

class Output {
public:
    explicit Output(const std::string& path)
        : m_path(path)
    {
        m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_fd < 0)
            throw Error(errnoText("cannot create " + path));
    }
    ~Output()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    uint64_t pos() const { return m_pos; }
    void write(const void* data, size_t size)
    {
        const auto* p = static_cast<const unsigned char*>(data);
        while (size > 0) {
            const ssize_t n = ::write(m_fd, p, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw Error(errnoText("cannot write " + m_path));
            p += n;
            size -= size_t(n);
            m_pos += uint64_t(n);
        }
    }
    void write(const std::vector<unsigned char>& bytes) { write(bytes.data(), bytes.size()); }
    void rewrite(uint64_t at, const std::vector<unsigned char>& bytes)
    {
        if (::pwrite(m_fd, bytes.data(), bytes.size(), off_t(at)) != ssize_t(bytes.size()))
            throw Error(errnoText("cannot write " + m_path));
    }
    void close()
    {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            throw Error(errnoText("cannot write " + m_path));
    }

private:
    std::string m_path;
    int m_fd = -1;
    uint64_t m_pos = 0;
};

// Hands out an entry's data in order, whatever its source.
class DataSource {
public:
    explicit DataSource(const Entry& e)
        : m_entry(e)
    {
        if (e.kind == Entry::Kind::File && !e.sourcePath.empty()) {
            m_fd = ::open(e.sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
            if (m_fd < 0)
                throw Error(errnoText("cannot read " + e.sourcePath));
        }
    }
    ~DataSource()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    DataSource(const DataSource&) = delete;
    DataSource& operator=(const DataSource&) = delete;

    void read(uint64_t offset, unsigned char* buffer, size_t size)
    {
        if (m_entry.kind == Entry::Kind::Symlink) {
            std::memcpy(buffer, m_entry.linkTarget.data() + offset, size);
        } else if (m_fd >= 0) {
            size_t done = 0;
            while (done < size) {
                const ssize_t n = ::pread(m_fd, buffer + done, size - done, off_t(offset + done));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    throw Error(errnoText("cannot read " + m_entry.sourcePath));
                if (n == 0)
                    throw Error(m_entry.sourcePath + " became shorter while it was packed");
                done += size_t(n);
            }
        } else if (m_entry.generate) {
            m_entry.generate(offset, buffer, size);
        } else {
            if (offset + size > m_entry.bytes.size())
                throw Error("\"" + m_entry.storedName + "\" has fewer bytes than its size");
            std::memcpy(buffer, m_entry.bytes.data() + offset, size);
        }
    }

private:
    const Entry& m_entry;
    int m_fd = -1;
};

void flipHeaderCrc(std::vector<unsigned char>& header)
{
    header[0] ^= 0x5a;
}

}

Entry Entry::file(std::string name, std::string data, int64_t mtime)
{
    Entry e;
    e.storedName = std::move(name);
    e.size = data.size();
    e.bytes = std::move(data);
    e.mtime = mtime;
    return e;
}

Entry Entry::directory(std::string name, int64_t mtime)
{
    Entry e;
    e.kind = Kind::Directory;
    e.storedName = std::move(name);
    e.mtime = mtime;
    return e;
}

Entry Entry::symlink(std::string name, std::string target)
{
    Entry e;
    e.kind = Kind::Symlink;
    e.storedName = std::move(name);
    e.linkTarget = std::move(target);
    return e;
}

uint64_t minimumVolumeSize(const Entry& entry, const Options& options)
{
    const uint64_t rest = entry.kind == Entry::Kind::File ? std::min<uint64_t>(1, entry.size) : dataSize(entry);
    return sizeof kSignature + V4::kMainHeaderSize + endBlockSize(options) + fileHeaderSize(entry, rest) + rest;
}

namespace {

void collectPath(const std::string& path, const std::string& stored, std::vector<Entry>& out)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        throw Error(errnoText(path));
    Entry e;
    e.storedName = stored;
    e.mtime = int64_t(st.st_mtime);
    e.mode = uint32_t(st.st_mode & 07777);
    if (S_ISLNK(st.st_mode)) {
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0)
            throw Error(errnoText(path));
        target.resize(size_t(n));
        e.kind = Entry::Kind::Symlink;
        e.linkTarget = target;
        out.push_back(e);
    } else if (S_ISDIR(st.st_mode)) {
        struct CloseDir {
            void operator()(DIR* d) const { ::closedir(d); }
        };
        std::unique_ptr<DIR, CloseDir> dir(::opendir(path.c_str()));
        if (!dir)
            throw Error(errnoText(path));
        std::vector<std::string> names;
        while (const dirent* d = ::readdir(dir.get())) {
            const std::string name = d->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        for (const auto& name : names)
            collectPath(path + "/" + name, stored.empty() ? name : stored + "/" + name, out);
        if (!stored.empty()) {
            e.kind = Entry::Kind::Directory;
            out.push_back(e);
        }
    } else if (S_ISREG(st.st_mode)) {
        e.kind = Entry::Kind::File;
        e.size = uint64_t(st.st_size);
        e.sourcePath = path;
        out.push_back(e);
    } else {
        throw Error(path + ": not a file, directory or symbolic link");
    }
}

}

std::vector<Entry> collect(const std::vector<std::string>& inputs, const std::string& baseDirectory)
{
    std::vector<Entry> entries;
    for (std::string input : inputs) {
        if (input.empty())
            throw Error("an input is an empty name");
        const std::string path = input[0] == '/' || baseDirectory.empty() ? input : baseDirectory + "/" + input;
        while (input.size() > 1 && input.back() == '/')
            input.pop_back();
        std::string stored;
        if (input == "." || (input.size() >= 2 && input.compare(input.size() - 2, 2, "/.") == 0)) {
            stored.clear(); // the directory's contents
        } else {
            const size_t slash = input.find_last_of('/');
            stored = slash == std::string::npos ? input : input.substr(slash + 1);
            if (stored.empty() || stored == "..")
                throw Error("\"" + input + "\" has no name to store; name a directory's contents as \"DIR/.\"");
        }
        collectPath(path, stored, entries);
    }
    return entries;
}

Result write(const std::string& archivePath, const std::vector<Entry>& entries, const Options& options)
{
    for (const Entry& e : entries)
        if (e.kind == Entry::Kind::File && e.sourcePath.empty() && !e.generate && e.bytes.size() != e.size)
            throw Error("\"" + e.storedName + "\": size and data differ");

    Result result;
    result.volumes = plan(entries, options);
    const auto names = volumeNames(archivePath, result.volumes.size(), options);
    const bool set = options.volumeSize != 0;

    std::unique_ptr<DataSource> source;
    uint32_t wholeCrc = 0;
    std::vector<unsigned char> buffer(kCopyBuffer);

    for (size_t v = 0; v < result.volumes.size(); ++v) {
        Volume& volume = result.volumes[v];
        volume.path = names[v];
        Output out(volume.path);
        out.write(kSignature, sizeof kSignature);
        uint16_t mainFlags = options.solid ? V4::kMainSolid : 0;
        if (set)
            mainFlags |= V4::kMainVolume | (v == 0 ? V4::kMainFirstVolume : 0)
                | (options.naming == Naming::Parts ? V4::kMainNewNumbering : 0);
        auto main = buildV4Block(V4::kMain, mainFlags, std::vector<unsigned char>(6, 0));
        if (v == 0 && options.damage.brokenMainHeader)
            flipHeaderCrc(main);
        out.write(main);

        if (v == 0 && !options.comment.empty()) {
            // RAR 3 keeps the comment in a service block named "CMT".
            V4FileFields f;
            f.type = V4::kNewSub;
            f.flags = V4::kSkipIfUnknown;
            f.packSize = options.comment.size();
            f.unpackedSize = options.comment.size();
            f.crc = crc32(0, options.comment.data(), options.comment.size());
            f.unpackVersion = 29;
            f.name = "CMT";
            out.write(buildV4FileHeader(f));
            out.write(options.comment.data(), options.comment.size());
        }

        for (const Piece& piece : volume.pieces) {
            const Entry& e = entries[piece.entryIndex];
            if (piece.offset == 0) {
                source = std::make_unique<DataSource>(e);
                wholeCrc = 0;
            }
            V4FileFields f = fieldsFor(e);
            f.packSize = piece.size;
            f.flags |= (piece.splitBefore ? V4::kFileSplitBefore : 0) | (piece.splitAfter ? V4::kFileSplitAfter : 0);
            const uint64_t headerAt = out.pos();
            out.write(buildV4FileHeader(f));

            uint32_t pieceCrc = 0;
            for (uint64_t done = 0; done < piece.size;) {
                const size_t n = size_t(std::min<uint64_t>(buffer.size(), piece.size - done));
                source->read(piece.offset + done, buffer.data(), n);
                pieceCrc = crc32(pieceCrc, buffer.data(), n);
                wholeCrc = crc32(wholeCrc, buffer.data(), n);
                out.write(buffer.data(), n);
                done += n;
            }
            result.dataBytes += piece.size;
            // A part that runs on carries its own CRC; the last one the file's.
            f.crc = piece.splitAfter ? pieceCrc : wholeCrc;
            if (!piece.splitAfter && options.damage.wrongCrc == e.storedName)
                f.crc ^= 1;
            auto header = buildV4FileHeader(f);
            if (piece.offset == 0 && options.damage.brokenHeader == e.storedName)
                flipHeaderCrc(header);
            out.rewrite(headerAt, header);
            if (!piece.splitAfter)
                source.reset();
        }

        std::vector<unsigned char> endBody;
        uint16_t endFlags = V4::kSkipIfUnknown;
        if (set) {
            endFlags |= V4::kEndVolumeNumber | (v + 1 < result.volumes.size() ? V4::kEndNextVolume : 0);
            put16(endBody, uint16_t(v));
        }
        out.write(buildV4Block(V4::kEnd, endFlags, endBody));
        volume.size = out.pos();
        out.close();
    }

    // Volumes of an earlier, longer set of the same name would be read as
    // part of this one.
    if (set) {
        for (size_t i = result.volumes.size();; ++i) {
            const std::string stale = volumeNames(archivePath, i + 1, options)[i];
            struct stat st {};
            if (::lstat(stale.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::unlink(stale.c_str()) != 0)
                break;
            result.removedStale.push_back(stale);
        }
    }

    const Damage& d = options.damage;
    if (d.truncateVolume >= 0 && size_t(d.truncateVolume) < result.volumes.size()) {
        Volume& volume = result.volumes[size_t(d.truncateVolume)];
        volume.size -= std::min(volume.size, d.truncateBytes);
        if (::truncate(volume.path.c_str(), off_t(volume.size)) != 0)
            throw Error(errnoText("cannot truncate " + volume.path));
    }
    if (d.removeVolume >= 0 && size_t(d.removeVolume) < result.volumes.size())
        ::unlink(result.volumes[size_t(d.removeVolume)].path.c_str());
    return result;
}

}
