#include "HostileSets.h"

#include "RarFormat.h"
#include "RarVolumes.h"
#include "RarWriter.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace HostileSets {

namespace {

using Bytes = std::vector<unsigned char>;

constexpr uint32_t kTime = 1700000000;
constexpr uint32_t kIfReg = 0100000, kIfDir = 0040000, kIfLnk = 0120000;
constexpr uint64_t kHostWindows = 0, kHostUnix = 1;

void putBytes(Bytes& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

struct FileFields {
    std::string name;
    uint64_t dataSize = 0;
    uint64_t unpackedSize = 0;
    bool directory = false;
    uint64_t attributes = kIfReg | 0644;
    bool hasCrc = false;
    uint32_t crc = 0;
    uint64_t compression = 0; // version 0, method 0 (store)
    uint64_t host = kHostUnix;
    Bytes extra;
    uint64_t headerFlags = 0; // split flags
};

Bytes fileHeader(const FileFields& f)
{
    Bytes body;
    Rar::putVint(body, Rar::V5::kFile);
    // The data area is always announced, also when it is empty, as RAR
    // itself writes it (and as libarchive expects).
    Rar::putVint(body, f.headerFlags | (f.extra.empty() ? 0 : 0x1) | 0x2);
    if (!f.extra.empty())
        Rar::putVint(body, f.extra.size());
    Rar::putVint(body, f.dataSize);
    Rar::putVint(body, (f.directory ? 0x1 : 0) | 0x2 | (f.hasCrc ? 0x4 : 0));
    Rar::putVint(body, f.unpackedSize);
    Rar::putVint(body, f.attributes);
    Rar::put32(body, kTime);
    if (f.hasCrc)
        Rar::put32(body, f.crc);
    Rar::putVint(body, f.compression);
    Rar::putVint(body, f.host);
    Rar::putVint(body, f.name.size());
    putBytes(body, f.name);
    body.insert(body.end(), f.extra.begin(), f.extra.end());
    return Rar::buildV5Header(body);
}

Bytes redirectionRecord(uint64_t type, const std::string& target)
{
    Bytes record;
    Rar::putVint(record, 5); // file system redirection
    Rar::putVint(record, type);
    Rar::putVint(record, 0); // flags: the target is no directory
    Rar::putVint(record, target.size());
    putBytes(record, target);
    Bytes out;
    Rar::putVint(out, record.size());
    out.insert(out.end(), record.begin(), record.end());
    return out;
}

Bytes mainHeader(bool volumeSet, unsigned index)
{
    Bytes body;
    Rar::putVint(body, Rar::V5::kMain);
    Rar::putVint(body, 0);
    Rar::putVint(body, (volumeSet ? 0x1 : 0) | (index > 0 ? 0x2 : 0));
    if (index > 0)
        Rar::putVint(body, index);
    return Rar::buildV5Header(body);
}

Bytes endHeader(bool more)
{
    Bytes body;
    Rar::putVint(body, Rar::V5::kEnd);
    Rar::putVint(body, 0);
    Rar::putVint(body, more ? 0x1 : 0);
    return Rar::buildV5Header(body);
}

void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

uint32_t crcOf(const std::string& data) { return Rar::crc32(0, data.data(), data.size()); }

// Bytes that no decoder makes sense of, the same on every run.
std::string noise(size_t size, uint32_t seed)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = char(seed >> 16);
    }
    return s;
}

using RarWriter::Entry;

std::vector<std::string> writeRar4(const std::string& path, const std::vector<Entry>& entries,
    const RarWriter::Options& options = {})
{
    std::vector<std::string> volumes;
    for (const auto& v : RarWriter::write(path, entries, options).volumes)
        volumes.push_back(v.path);
    return volumes;
}

Entry text(const std::string& name) { return Entry::file(name, "written by a hostile set: " + name, kTime); }

const std::string nul(1, '\0');

}

Rar5& Rar5::file(const std::string& name, const std::string& data, bool wrongCrc, uint32_t mode)
{
    FileFields f;
    f.name = name;
    f.dataSize = data.size();
    f.unpackedSize = data.size();
    f.attributes = kIfReg | mode;
    f.hasCrc = true;
    f.crc = crcOf(data) ^ (wrongCrc ? 0x5a5a5a5au : 0);
    Bytes entry = fileHeader(f);
    putBytes(entry, data);
    m_volumes.back().push_back(std::move(entry));
    return *this;
}

Rar5& Rar5::directory(const std::string& name)
{
    FileFields f;
    f.name = name;
    f.directory = true;
    f.attributes = kIfDir | 0755;
    m_volumes.back().push_back(fileHeader(f));
    return *this;
}

Rar5& Rar5::redirect(const std::string& name, uint64_t type, const std::string& target)
{
    FileFields f;
    f.name = name;
    const bool windows = type == kWindowsSymlink || type == kJunction;
    f.host = windows ? kHostWindows : kHostUnix;
    f.attributes = windows ? 0x20 : type == kUnixSymlink ? kIfLnk | 0777 : kIfReg | 0644;
    f.extra = redirectionRecord(type, target);
    m_volumes.back().push_back(fileHeader(f));
    return *this;
}

Rar5& Rar5::packed(const std::string& name, const std::string& bytes, uint64_t unpackedSize, uint32_t crc,
    unsigned method)
{
    FileFields f;
    f.name = name;
    f.dataSize = bytes.size();
    f.unpackedSize = unpackedSize;
    f.hasCrc = true;
    f.crc = crc;
    f.compression = uint64_t(method) << 7; // the smallest dictionary
    Bytes entry = fileHeader(f);
    putBytes(entry, bytes);
    m_volumes.back().push_back(std::move(entry));
    return *this;
}

Rar5& Rar5::copied(const std::vector<unsigned char>& header, const std::vector<unsigned char>& data, size_t flip)
{
    Bytes entry = header;
    const size_t from = data.size() / 2;
    Bytes damaged = data;
    for (size_t i = from; i < damaged.size() && i < from + flip; ++i)
        damaged[i] = uint8_t(~damaged[i]);
    entry.insert(entry.end(), damaged.begin(), damaged.end());
    m_volumes.back().push_back(std::move(entry));
    return *this;
}

Rar5& Rar5::nextVolume()
{
    m_volumes.emplace_back();
    return *this;
}

std::vector<std::string> Rar5::write(const std::string& path) const
{
    const bool set = m_volumes.size() > 1;
    const std::string first = set ? RarVolumes::firstPartPath(path, 1) : path;
    std::vector<std::string> paths;
    for (size_t v = 0; v < m_volumes.size(); ++v) {
        Bytes out { 0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x01, 0x00 };
        const Bytes main = mainHeader(set, unsigned(v));
        out.insert(out.end(), main.begin(), main.end());
        for (const Bytes& entry : m_volumes[v])
            out.insert(out.end(), entry.begin(), entry.end());
        const Bytes end = endHeader(v + 1 < m_volumes.size());
        out.insert(out.end(), end.begin(), end.end());
        paths.push_back(RarVolumes::volumePath(first, true, unsigned(v)));
        writeBytes(paths.back(), out);
    }
    return paths;
}

std::vector<Rar5Entry> rar5Entries(const std::string& archivePath)
{
    std::ifstream in(archivePath, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Rar5Entry> entries;
    if (Rar::detectSignature(bytes.data(), bytes.size()) != Rar::Format::Rar5)
        return entries;
    size_t pos = Rar::kRar5SignatureSize;
    while (pos < bytes.size()) {
        Rar::Block block;
        size_t needed = 0;
        if (Rar::parseBlock(Rar::Format::Rar5, bytes.data() + pos, bytes.size() - pos, block, needed) != Rar::ParseStatus::Ok
            || block.dataSize > bytes.size() - pos - block.headerSize)
            break;
        const size_t dataStart = pos + block.headerSize;
        if (block.kind == Rar::BlockKind::File)
            entries.push_back({ Bytes(bytes.begin() + long(pos), bytes.begin() + long(dataStart)),
                Bytes(bytes.begin() + long(dataStart), bytes.begin() + long(dataStart + block.dataSize)) });
        pos = dataStart + size_t(block.dataSize);
    }
    return entries;
}

std::vector<Case> cases(const std::string& samples)
{
    std::vector<Case> all;
    const int x = 16; // refused: it would write or lead outside
    auto rar5 = [](const Paths& p, const Rar5& set) { return set.write(p.medium + "/hostile.rar"); };

    // Names holding NUL bytes: checked whole, opened cut. The destination
    // is sandbox/home/dest, so two levels up is the sandbox itself.
    all.push_back({ "rar5 NUL names reach .bashrc and install.ini",
        [=](const Paths& p) {
            return rar5(p, Rar5().file(".." + nul + "x/.." + nul + "y/.bashrc", "owned\n")
                               .file(".." + nul + "/.." + nul + "/medium/install.ini", "owned\r\n"));
        },
        {}, { x, x } });
    all.push_back({ "rar5 NUL names make directories and links outside",
        [=](const Paths& p) {
            return rar5(p, Rar5().directory(".." + nul + "/.." + nul + "/made-outside")
                               .file("f", "inside")
                               .redirect(".." + nul + "/.." + nul + "/symlink-outside", kUnixSymlink, "x")
                               .redirect(".." + nul + "/.." + nul + "/hardlink-outside", kHardLink, "f"));
        },
        {}, { x, 0, x, x } });
    all.push_back({ "rar5 NUL name changes the times of the parent",
        [=](const Paths& p) { return rar5(p, Rar5().directory(".." + nul)); }, {}, { x } });

    // Links judged by their text alone.
    all.push_back({ "rar5 link chain up -> . then esc -> up/..",
        [=](const Paths& p) {
            return rar5(p, Rar5().redirect("up", kUnixSymlink, ".").redirect("esc", kUnixSymlink, "up/..")
                               .file("esc/home-file", "owned"));
        },
        {}, { 0, x, kAny } }); // once esc is refused, esc/ is a directory of its own
    all.push_back({ "rar5 link chain across volumes",
        [=](const Paths& p) {
            return rar5(p, Rar5().redirect("up", kUnixSymlink, ".").nextVolume().redirect("esc", kUnixSymlink, "up/.."));
        },
        {}, { 0, x } });
    all.push_back({ "rar5 hard link to an accepted symbolic link",
        [=](const Paths& p) {
            return rar5(p, Rar5().redirect("a/b/c/d/e/up", kUnixSymlink, "../../../../..")
                               .redirect("h", kHardLink, "a/b/c/d/e/up"));
        },
        {}, { 0, x } });
    all.push_back({ "rar5 absolute link targets",
        [=](const Paths& p) {
            return rar5(p, Rar5().redirect("abs", kUnixSymlink, p.outside)
                               .redirect("root", kUnixSymlink, "/")
                               .redirect("win", kWindowsSymlink, "C:\\Windows")
                               .redirect("nt", kWindowsSymlink, "\\??\\C:\\Windows"));
        },
        {}, { x, x, x, x } });
    all.push_back({ "rar5 dot-dot link targets",
        [=](const Paths& p) {
            return rar5(p, Rar5().redirect("up", kUnixSymlink, "..")
                               .redirect("d/l", kUnixSymlink, "../../outside")
                               .redirect("w", kWindowsSymlink, "..\\..\\outside")
                               .redirect("s", kUnixSymlink, "d/../../outside"));
        },
        {}, { x, x, x, x } });
    all.push_back({ "rar5 junction, file copy and unknown redirection",
        [=](const Paths& p) {
            return rar5(p, Rar5().file("f", "inside")
                               .redirect("j", kJunction, "\\??\\C:\\")
                               .redirect("c", kFileCopy, "f")
                               .redirect("u", 9, "f"));
        },
        {}, { 0, 14, 14, 14 } });
    all.push_back({ "rar5 through a link already there that leads out",
        [=](const Paths& p) {
            return rar5(p, Rar5().file("out/x", "owned")
                               .directory("out/d")
                               .redirect("l", kUnixSymlink, "out")
                               .redirect("l2", kUnixSymlink, "out/secret")
                               .redirect("h", kHardLink, "out/secret")
                               .file("out/secret", "owned")
                               .redirect("out/l3", kUnixSymlink, "x"));
        },
        { { "out", "@OUT" } }, { x, x, x, x, x, x, x } });
    all.push_back({ "rar5 through a link already there that stays inside",
        [=](const Paths& p) {
            return rar5(p, Rar5().directory("sub").file("in/x", "inside").redirect("in/l", kUnixSymlink, "x"));
        },
        { { "in", "sub" } }, { 0, kAny, kAny } });
    all.push_back({ "rar5 absolute, backslash and dot-dot names",
        [=](const Paths& p) {
            return rar5(p, Rar5().file(p.outside + "/absolute", "owned")
                               .file("..\\..\\backslash", "owned")
                               .file("\\rooted", "owned")
                               .file("C:\\drive", "owned")
                               .file("a/../../dotdot", "owned"));
        },
        {}, { x, x, x, x, x } });

    // Damaged data followed by more entries: after a failure inside the
    // decoder nothing may read its freed buffers.
    all.push_back({ "rar5 damaged packed data then more entries",
        [=](const Paths& p) {
            return rar5(p, Rar5().packed("garbage", noise(1100, 7), 5000, 0x12345678)
                               .packed("garbage2", noise(900, 8), 100000, 0x9abcdef0, 5)
                               .file("after", "after the damage")
                               .redirect("after-link", kUnixSymlink, "after")
                               .file("after2", std::string(70000, 'z')));
        },
        {}, { 12 }, true, kAny });
    all.push_back({ "rar5 wrong stored CRC then more entries",
        [=](const Paths& p) {
            return rar5(p, Rar5().file("bad", "damaged stored data", true)
                               .packed("garbage", noise(600, 9), 2000, 0)
                               .file("after", "after the damage"));
        },
        {}, { 12 }, true, kAny });
    if (!samples.empty()) {
        all.push_back({ "rar5 damaged sample data then more entries",
            [=](const Paths& p) {
                Rar5 set;
                for (const Rar5Entry& e : rar5Entries(samples + "/test_read_format_rar5_compressed.rar"))
                    set.copied(e.header, e.data, 64);
                for (const Rar5Entry& e : rar5Entries(samples + "/test_read_format_rar5_solid.rar"))
                    set.copied(e.header, e.data, 16);
                set.file("after", "after the damage").redirect("after-link", kUnixSymlink, "after");
                return rar5(p, set);
            },
            {}, { 12 }, true, kAny, true });
    }

    // RAR 4: Unix symbolic links (host 3, the target as data), "\" names.
    all.push_back({ "rar4 link chain up -> . then esc -> up/..",
        [=](const Paths& p) {
            return writeRar4(p.medium + "/hostile.rar",
                { Entry::symlink("up", "."), Entry::symlink("esc", "up/.."), text("esc/home-file") });
        },
        {}, { 0, x, kAny } }); // once esc is refused, esc/ is a directory of its own
    all.push_back({ "rar4 link chain across volumes",
        [=](const Paths& p) {
            RarWriter::Options options;
            options.volumeSize = 100000;
            options.breakAfter = { "up" };
            return writeRar4(p.medium + "/hostile.rar", { Entry::symlink("up", "."), Entry::symlink("esc", "up/..") }, options);
        },
        {}, { 0, x } });
    all.push_back({ "rar4 absolute and dot-dot link targets",
        [=](const Paths& p) {
            return writeRar4(p.medium + "/hostile.rar",
                { Entry::symlink("l1", ".."), Entry::symlink("l2", p.outside), Entry::symlink("l3", "a/../../x"),
                    Entry::symlink("l4", "..\\x"), Entry::symlink("l5", "/") });
        },
        {}, { x, x, x, x, x } });
    all.push_back({ "rar4 absolute, backslash and dot-dot names",
        [=](const Paths& p) {
            return writeRar4(p.medium + "/hostile.rar",
                { text(p.outside + "/absolute"), text("..\\..\\backslash"), text("a\\..\\..\\dotdot"), text("\\rooted"),
                    text("C:\\drive") });
        },
        {}, { x, x, x, x, x } });
    all.push_back({ "rar4 NUL name is cut at the NUL",
        [=](const Paths& p) { return writeRar4(p.medium + "/hostile.rar", { text(".." + nul + "x/.." + nul + "y/.bashrc") }); },
        {}, { x } });
    all.push_back({ "rar4 through a link already there that leads out",
        [=](const Paths& p) {
            return writeRar4(p.medium + "/hostile.rar",
                { text("out/x"), Entry::symlink("l", "out"), Entry::symlink("l2", "out/../x"), text("out/secret") });
        },
        { { "out", "@OUT" } }, { x, x, x, x } });
    all.push_back({ "rar4 symbolic link over a link already there",
        [=](const Paths& p) {
            return writeRar4(p.medium + "/hostile.rar", { Entry::symlink("out/l", "."), Entry::directory("out/newdir") });
        },
        { { "out", "@OUT" } }, { x, x } });
    all.push_back({ "rar4 damaged header halfway",
        [=](const Paths& p) {
            RarWriter::Options options;
            options.damage.brokenHeader = "2.txt";
            return writeRar4(p.medium + "/hostile.rar", { text("1.txt"), text("2.txt"), text("3.txt") }, options);
        },
        {}, { 0 }, false, 12 });
    return all;
}

}
