// Archive sets written as an attacker would write them, for the tests that
// prove nothing is written outside the destination: RAR 5 headers built
// byte by byte (names holding NUL bytes, every kind of file redirection,
// damaged data), RAR 4 sets from the mastering writer (Unix symbolic links,
// "\" names, absolute and ".." names), link chains within one volume and
// across volumes. Qt-free, so the fuzz seeds can come from the same code.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace HostileSets {

// RAR 5 redirection types.
constexpr uint64_t kUnixSymlink = 1, kWindowsSymlink = 2, kJunction = 3, kHardLink = 4, kFileCopy = 5;

// One RAR 5 archive or volume set, written entry by entry.
class Rar5 {
public:
    // A stored file; `wrongCrc` stores a CRC that its data does not have.
    Rar5& file(const std::string& name, const std::string& data, bool wrongCrc = false, uint32_t mode = 0644);
    Rar5& directory(const std::string& name);
    // An entry with a file redirection record (a link or a file copy) of
    // the given type; Windows kinds are written with the Windows host.
    Rar5& redirect(const std::string& name, uint64_t type, const std::string& target);
    // Packed bytes with a compression method (1..5): what a decoder meets
    // when the data is damaged.
    Rar5& packed(const std::string& name, const std::string& bytes, uint64_t unpackedSize, uint32_t crc,
        unsigned method = 3);
    // An entry copied as it is (header and data) from another archive,
    // with `flip` bytes of its data inverted from the middle on.
    Rar5& copied(const std::vector<unsigned char>& header, const std::vector<unsigned char>& data, size_t flip);
    // The entries from here on go into the next volume.
    Rar5& nextVolume();

    // Writes NAME.part1.rar, NAME.part2.rar, ... (or `path` itself for a
    // single archive); returns the volumes' paths, the first first.
    std::vector<std::string> write(const std::string& path) const;

private:
    std::vector<std::vector<std::vector<unsigned char>>> m_volumes { {} };
};

// The whole entries (header and data) of a RAR 5 archive's file headers.
struct Rar5Entry {
    std::vector<unsigned char> header;
    std::vector<unsigned char> data;
};
std::vector<Rar5Entry> rar5Entries(const std::string& archivePath);

// What a case expects of each header it reads, in order. kAny: whatever
// the code (only safety counts).
constexpr int kAny = -1;

struct Paths {
    std::string sandbox;     // everything the case may touch lives below it
    std::string destination; // the current directory during the extraction
    std::string outside;     // a directory beside, with a file "secret" in it
    std::string medium;      // where the volumes are written
};

struct Case {
    std::string tag;
    // Writes the set into paths.medium; returns its volumes, the first first.
    std::function<std::vector<std::string>(const Paths& paths)> write;
    // Made in the destination before the extraction: name -> target
    // ("@OUT" in a target stands for paths.outside).
    std::vector<std::pair<std::string, std::string>> existingLinks;
    std::vector<int> codes;  // RARProcessFile's result for each header
    bool moreHeaders = false; // further headers may follow (any result)
    int endCode = 10;        // RARReadHeader's result that ends the loop (kAny)
    bool needsSamples = false; // reads a shared sample archive
};

// Every hostile case. `samples` is the folder of the shared sample archives
// (cases that need one are left out when it is not there).
std::vector<Case> cases(const std::string& samples);

}
