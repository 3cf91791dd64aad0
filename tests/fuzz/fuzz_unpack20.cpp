// libFuzzer target for the RAR 2.0 decoder. Input: a little-endian word W;
// bit 0 clear: one entry of W >> 1 bytes (bounded to 1 MiB) whose packed
// data is the rest. Bit 0 set: two more words give the second entry's size
// and where the packed data splits; the second entry continues the first
// as in a solid archive. The decoder must end every entry with its bytes or
// bad data, in chunks that keep to the interface.
//
// Built with -DMERIK_SEED_WRITER instead, it is the seed writer: it turns
// the compressed entries of a RAR 2.0 archive into inputs of that form,
// solid neighbours as two-entry inputs.
#include "Unpack20.h"

#include "FuzzDecoding.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr uint32_t kMaxSize = 1024 * 1024;

}

#ifndef MERIK_SEED_WRITER

namespace {

uint32_t word(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const uint32_t w = word(data);
    const uint64_t first = (w >> 1) % (kMaxSize + 1);
    Rar::Unpack20 decoder;
    if (!(w & 1)) {
        FuzzDecoding::decodeEntry(decoder, data + 4, size - 4, first, false, 3001);
        return 0;
    }
    if (size < 12)
        return 0;
    const uint64_t second = word(data + 4) % (kMaxSize + 1);
    const size_t split = word(data + 8) % (size - 12 + 1);
    data += 12;
    size -= 12;
    FuzzDecoding::decodeEntry(decoder, data, split, first, false, 3001);
    FuzzDecoding::decodeEntry(decoder, data + split, size - split, second, true, 3001);
    return 0;
}

#else

#include "RarFormat.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

void put32(std::vector<unsigned char>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

bool writeSeed(const std::string& path, const std::vector<unsigned char>& seed)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    return f && std::fwrite(seed.data(), 1, seed.size(), f) == seed.size() && std::fclose(f) == 0;
}

}

// seed-writer ARCHIVE DIRECTORY (a single RAR 4 archive; walks its blocks)
int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    FILE* in = std::fopen(argv[1], "rb");
    if (!in)
        return 1;
    std::vector<unsigned char> archive;
    unsigned char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
        archive.insert(archive.end(), buffer, buffer + n);
    std::fclose(in);
    if (Rar::detectSignature(archive.data(), archive.size()) != Rar::Format::Rar4)
        return 1;
    struct Packed {
        uint32_t size;
        bool solid;
        std::vector<unsigned char> data;
    };
    std::vector<Packed> entries;
    for (size_t pos = Rar::kRar4SignatureSize; pos < archive.size();) {
        Rar::Block h;
        size_t needed = 0;
        if (Rar::parseBlock(Rar::Format::Rar4, archive.data() + pos, archive.size() - pos, h, needed) != Rar::ParseStatus::Ok
            || h.dataSize > archive.size() - pos - h.headerSize)
            break;
        const unsigned char* data = archive.data() + pos + h.headerSize;
        pos += h.headerSize + size_t(h.dataSize);
        if (h.kind != Rar::BlockKind::File || h.directory || h.method == Rar::V4::kMethodStore
            || (h.unpackVersion != 20 && h.unpackVersion != 26) || h.unpackedSize > kMaxSize)
            continue;
        entries.push_back({ uint32_t(h.unpackedSize), h.solidEntry, { data, data + h.dataSize } });
    }
    int count = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        std::vector<unsigned char> seed;
        if (i + 1 < entries.size() && entries[i + 1].solid) {
            put32(seed, entries[i].size << 1 | 1);
            put32(seed, entries[i + 1].size);
            put32(seed, uint32_t(entries[i].data.size()));
            seed.insert(seed.end(), entries[i].data.begin(), entries[i].data.end());
            seed.insert(seed.end(), entries[i + 1].data.begin(), entries[i + 1].data.end());
        } else {
            put32(seed, entries[i].size << 1);
            seed.insert(seed.end(), entries[i].data.begin(), entries[i].data.end());
        }
        if (!writeSeed(std::string(argv[2]) + "/entry" + std::to_string(count++), seed))
            return 1;
    }
    return count > 0 ? 0 : 1;
}

#endif
