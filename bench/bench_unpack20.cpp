// Speed of the RAR 2.0 decoder against unar on the RAR 2.0 sample. The
// sample's compressed entries are not solid, so each one's packed data
// stands alone: they are copied, under new names, into one archive of at
// least 100 MB unpacked, which our decoder (through the volume stream,
// every CRC checked) and unar's `lsar -t` (its test: decode and check, no
// files) and `unar` (extraction into a temporary directory) each read
// three times. Prints the medians in unpacked MB/s.
//   bench_unpack20 [SAMPLE.rar]
#include "RarFormat.h"
#include "RarStream.h"
#include "Unpack20.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double seconds(const std::chrono::steady_clock::time_point& since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The archive of the sample's compressed entries repeated; its unpacked size.
uint64_t writeRepeated(const std::string& sample, const std::string& out, uint64_t atLeast)
{
    std::ifstream in(sample, std::ios::binary);
    const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    struct Piece {
        Rar::Block h;
        const unsigned char* data;
    };
    std::vector<Piece> pieces;
    uint64_t perRound = 0;
    for (size_t pos = Rar::kRar4SignatureSize; pos < file.size();) {
        Rar::Block h;
        size_t needed = 0;
        if (Rar::parseBlock(Rar::Format::Rar4, file.data() + pos, file.size() - pos, h, needed) != Rar::ParseStatus::Ok
            || h.dataSize > file.size() - pos - h.headerSize)
            break;
        if (h.kind == Rar::BlockKind::File && !h.directory && h.method != Rar::V4::kMethodStore && !h.solidEntry) {
            pieces.push_back({ h, file.data() + pos + h.headerSize });
            perRound += h.unpackedSize;
        }
        pos += h.headerSize + size_t(h.dataSize);
    }
    if (pieces.empty())
        return 0;

    std::ofstream o(out, std::ios::binary);
    auto write = [&](const std::vector<unsigned char>& v) { o.write(reinterpret_cast<const char*>(v.data()), std::streamsize(v.size())); };
    o.write("Rar!\x1a\x07\x00", 7);
    write(Rar::buildV4Block(Rar::V4::kMain, 0, std::vector<unsigned char>(6, 0)));
    uint64_t total = 0;
    for (unsigned round = 0; total < atLeast; ++round) {
        for (const Piece& p : pieces) {
            Rar::V4FileFields f;
            f.packSize = p.h.dataSize;
            f.unpackedSize = p.h.unpackedSize;
            f.hostOS = p.h.hostOS;
            f.crc = p.h.crc;
            f.dosTime = p.h.dosTime;
            f.unpackVersion = p.h.unpackVersion;
            f.method = p.h.method;
            f.attributes = uint32_t(p.h.attributes);
            f.name = "r" + std::to_string(round) + "/" + std::to_string(&p - pieces.data()) + ".bin";
            write(Rar::buildV4FileHeader(f));
            o.write(reinterpret_cast<const char*>(p.data), std::streamsize(p.h.dataSize));
            total += p.h.unpackedSize;
        }
    }
    write(Rar::buildV4Block(Rar::V4::kEnd, Rar::V4::kSkipIfUnknown, {}));
    return o ? total : 0;
}

// Decodes every entry, checking its CRC: the bytes decoded, 0 on a failure.
uint64_t decodeAll(const std::string& archive)
{
    RarVolumeStream stream;
    if (stream.open(archive))
        return 0;
    auto decoder = Rar::makeUnpack20();
    uint64_t total = 0;
    while (auto entry = stream.nextEntry()) {
        RarEntrySource source(stream);
        decoder->begin(source, entry->header.unpackedSize, entry->header.solidEntry);
        uint32_t crc = 0;
        for (;;) {
            const unsigned char* p = nullptr;
            size_t n = 0;
            const Rar::UnpackStatus s = decoder->next(p, n);
            if (s == Rar::UnpackStatus::End)
                break;
            if (s != Rar::UnpackStatus::Data)
                return 0;
            crc = Rar::crc32(crc, p, n);
            total += n;
        }
        if (crc != entry->finalCrc)
            return 0;
    }
    return stream.error() ? 0 : total;
}

double timeCommand(const std::string& command)
{
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0)
        return -1;
    return seconds(start);
}

}

int main(int argc, char** argv)
{
    const std::string sample = argc > 1 ? argv[1] : MERIK_BINARY_DIR "/../../shared/fixtures/rar/sharpcompress/Rar2.rar";
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("bench_unpack20." + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string archive = (dir / "repeated.rar").string();
    const uint64_t size = writeRepeated(sample, archive, 100u << 20);
    if (!size) {
        std::fprintf(stderr, "no RAR 2.0 entries to repeat in %s\n", sample.c_str());
        return 1;
    }
    const double mb = double(size) / 1e6;
    std::printf("%s: compressed entries repeated to %.1f MB unpacked (%.1f MB packed)\n", sample.c_str(), mb,
                double(std::filesystem::file_size(archive)) / 1e6);

    std::vector<double> ours, lsar, unar;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        if (decodeAll(archive) != size) {
            std::fprintf(stderr, "our decoding failed\n");
            return 1;
        }
        ours.push_back(seconds(start));
        lsar.push_back(timeCommand("lsar -t '" + archive + "' >/dev/null 2>&1"));
        const std::string out = (dir / "unar").string();
        unar.push_back(timeCommand("unar -q -f -o '" + out + "' '" + archive + "' >/dev/null 2>&1"));
        std::filesystem::remove_all(out);
    }
    std::printf("ours (decode + CRC):        %7.1f MB/s  (%.3f s)\n", mb / median(ours), median(ours));
    if (median(lsar) > 0)
        std::printf("lsar -t (decode + CRC):     %7.1f MB/s  (%.3f s)\n", mb / median(lsar), median(lsar));
    else
        std::printf("lsar -t: failed or not installed\n");
    if (median(unar) > 0)
        std::printf("unar (extract to files):    %7.1f MB/s  (%.3f s)\n", mb / median(unar), median(unar));
    else
        std::printf("unar: failed or not installed\n");
    std::filesystem::remove_all(dir);
    return 0;
}
