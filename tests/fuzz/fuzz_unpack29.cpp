// libFuzzer target for the RAR 2.9 decoder (LZ, PPMd, filters). Input: 4
// bytes of unpacked size (little-endian, bounded to 1 MiB), then packed
// data. Bit 0 of the first byte set: the packed data is split in two
// entries, the second continuing the first as in a solid archive. The
// decoder must end every entry with its bytes, bad data or unsupported, in
// chunks that keep to the interface.
//
// Built with -DMERIK_SEED_WRITER instead, it is the seed writer: it turns
// the RAR 2.9 entries of single-volume archives into inputs of that form.
#include "Unpack29.h"

#include "FuzzDecoding.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifndef MERIK_SEED_WRITER

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const uint32_t word = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    const uint64_t unpackedSize = word % (1024 * 1024 + 1);
    const bool twoEntries = data[0] & 1;
    data += 4;
    size -= 4;
    // One decoder for all inputs, as for the entries of many archives: its
    // 4 MB window is had once, and every first entry starts afresh.
    static Rar::Unpack29 decoder;
    if (!twoEntries) {
        FuzzDecoding::decodeEntry(decoder, data, size, unpackedSize, false, 3000);
        return 0;
    }
    const size_t half = size / 2;
    FuzzDecoding::decodeEntry(decoder, data, half, unpackedSize, false, 3000);
    FuzzDecoding::decodeEntry(decoder, data + half, size - half, unpackedSize / 2 + 1, true, 3000);
    return 0;
}

#else

#include "RarFormat.h"

#include <cstdio>
#include <string>
#include <vector>

// seed-writer DIRECTORY ARCHIVE... (single RAR 4 archives; walks their blocks)
int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    int count = 0;
    for (int a = 2; a < argc; ++a) {
        FILE* in = std::fopen(argv[a], "rb");
        if (!in)
            continue; // a sample that is not there
        std::vector<unsigned char> archive;
        unsigned char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
            archive.insert(archive.end(), buffer, buffer + n);
        std::fclose(in);
        if (Rar::detectSignature(archive.data(), archive.size()) != Rar::Format::Rar4)
            continue;
        for (size_t pos = Rar::kRar4SignatureSize; pos < archive.size();) {
            Rar::Block h;
            size_t needed = 0;
            if (Rar::parseBlock(Rar::Format::Rar4, archive.data() + pos, archive.size() - pos, h, needed)
                    != Rar::ParseStatus::Ok
                || h.dataSize > archive.size() - pos - h.headerSize)
                break;
            const unsigned char* data = archive.data() + pos + h.headerSize;
            pos += h.headerSize + size_t(h.dataSize);
            if (h.kind != Rar::BlockKind::File || h.directory || h.method == Rar::V4::kMethodStore
                || (h.unpackVersion != 29 && h.unpackVersion != 36))
                continue;
            // An even size: one entry, decoded to its real size (when it
            // fits the bound); the fuzzer's own length limit cuts the data.
            const uint32_t size = uint32_t(std::min<uint64_t>(h.unpackedSize, 1024 * 1024) & ~uint64_t(1));
            std::vector<unsigned char> seed(4);
            for (int i = 0; i < 4; ++i)
                seed[size_t(i)] = uint8_t(size >> (8 * i));
            seed.insert(seed.end(), data, data + std::min<uint64_t>(h.dataSize, 65536));
            const std::string path = std::string(argv[1]) + "/entry" + std::to_string(count++);
            FILE* f = std::fopen(path.c_str(), "wb");
            if (!f || std::fwrite(seed.data(), 1, seed.size(), f) != seed.size() || std::fclose(f) != 0)
                return 1;
        }
    }
    return count > 0 ? 0 : 1;
}

#endif
