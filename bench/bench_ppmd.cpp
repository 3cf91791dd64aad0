// PPMd decoding speed of the RAR 2.9 decoder against unar.
// No archiver here writes PPM blocks, and the samples hold few (their long
// entries are mostly LZ), so the data is an archive written with the
// model's own encoder: generated text and records (or FILE), 128 MB by
// default, order 8 in 25 MB as the samples' PPM blocks use. Prints CPU
// seconds and MB/s for our decoder (through the volume stream, CRC
// checked) and for unar extracting the same archive; then the same for
// the PPMd samples when MERIK_SHARED_FIXTURES is set.
//   bench_ppmd [MB] [FILE]
#include "Ppmd.h"
#include "RarFormat.h"
#include "RarStream.h"
#include "Unpack29.h"

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

double cpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double childCpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::vector<uint8_t> generated(size_t size)
{
    std::vector<uint8_t> out;
    out.reserve(size);
    uint32_t x = 12345;
    auto next = [&x] {
        x = x * 1664525u + 1013904223u;
        return x >> 8;
    };
    std::vector<std::string> words;
    for (int i = 0; i < 3000; ++i) {
        std::string w;
        for (unsigned k = 0, n = 2 + next() % 9; k < n; ++k)
            w.push_back(char('a' + next() % 26));
        words.push_back(w);
    }
    uint32_t a = 0;
    while (out.size() < size) {
        if ((out.size() >> 20) % 4 != 3) {
            const uint32_t r = next();
            const std::string& w = words[(r % 3000) * (r % 3000) / 3000];
            out.insert(out.end(), w.begin(), w.end());
            out.push_back(r % 17 == 0 ? '\n' : ' ');
        } else {
            a += next() % 7;
            const uint32_t c = next() & 0x0f0f;
            out.insert(out.end(), reinterpret_cast<uint8_t*>(&a), reinterpret_cast<uint8_t*>(&a) + 4);
            out.insert(out.end(), reinterpret_cast<const uint8_t*>(&c), reinterpret_cast<const uint8_t*>(&c) + 2);
        }
    }
    out.resize(size);
    return out;
}

void put16(std::vector<uint8_t>& b, unsigned v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& b, uint32_t v)
{
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}

void block(std::vector<uint8_t>& out, const std::vector<uint8_t>& b)
{
    put16(out, Rar::crc32(0, b.data(), b.size()) & 0xffff);
    out.insert(out.end(), b.begin(), b.end());
}

bool writeArchive(const std::string& path, const std::vector<uint8_t>& data)
{
    Rar::PpmdHEncoder encoder;
    std::vector<uint8_t> packed;
    if (!encoder.startBlock(packed, 8, 25))
        return false;
    for (const uint8_t byte : data)
        if (!encoder.encodeChar(byte) || (byte == 2 && !encoder.encodeChar(1)))
            return false;
    // The end of the data, as the archiver marks it.
    if (!encoder.encodeChar(2) || !encoder.encodeChar(2))
        return false;
    encoder.finishBlock();
    std::vector<uint8_t> out = { 'R', 'a', 'r', '!', 0x1a, 0x07, 0x00 };
    block(out, { 0x73, 0, 0, 13, 0, 0, 0, 0, 0, 0, 0 });
    const std::string name = "data.bin";
    std::vector<uint8_t> h = { 0x74 };
    put16(h, 0x8000 | 0xC0);
    put16(h, unsigned(32 + name.size()));
    put32(h, uint32_t(packed.size()));
    put32(h, uint32_t(data.size()));
    h.push_back(3);
    put32(h, Rar::crc32(0, data.data(), data.size()));
    put32(h, 0x5a210000);
    h.push_back(29);
    h.push_back(0x35);
    put16(h, unsigned(name.size()));
    put32(h, 0100644);
    h.insert(h.end(), name.begin(), name.end());
    block(out, h);
    out.insert(out.end(), packed.begin(), packed.end());
    block(out, { 0x7b, 0, 0x40, 7, 0 });
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    std::printf("written: %zu bytes -> %zu packed (order 8, 25 MB)\n", data.size(), packed.size());
    return bool(f);
}

// Decodes every compressed entry; false on a failure or a CRC mismatch.
bool decodeAll(const std::string& archive, uint64_t& bytes)
{
    RarVolumeStream stream;
    if (stream.open(archive))
        return false;
    Rar::Unpack29 decoder;
    bytes = 0;
    while (auto info = stream.nextEntry()) {
        const Rar::Block& h = info->header;
        if (h.directory || h.method == Rar::V4::kMethodStore)
            continue;
        RarEntrySource source(stream);
        decoder.begin(source, h.unpackedSize, h.solidEntry);
        uint32_t crc = 0;
        for (;;) {
            const unsigned char* p = nullptr;
            size_t n = 0;
            const Rar::UnpackStatus st = decoder.next(p, n);
            if (st == Rar::UnpackStatus::End)
                break;
            if (st != Rar::UnpackStatus::Data)
                return false;
            crc = Rar::crc32(crc, p, n);
            bytes += n;
        }
        if (crc != info->finalCrc)
            return false;
    }
    return stream.error() == 0;
}

void compare(const std::string& label, const std::string& archive, const std::string& scratch)
{
    uint64_t bytes = 0;
    const double t0 = cpuSeconds();
    const bool ok = decodeAll(archive, bytes);
    const double ours = cpuSeconds() - t0;
    const std::string out = scratch + "/unar";
    std::filesystem::remove_all(out);
    const std::string command = "unar -q -f -D -o '" + out + "' '" + archive + "' >/dev/null 2>&1";
    const double c0 = childCpuSeconds();
    const int rc = std::system(command.c_str());
    const double theirs = childCpuSeconds() - c0;
    std::filesystem::remove_all(out);
    const double mb = double(bytes) / 1e6;
    std::printf("%-32s %8.1f MB  ours %6.2f s CPU %7.1f MB/s%s | unar %6.2f s CPU %7.1f MB/s%s\n", label.c_str(), mb,
                ours, mb / ours, ok ? "" : " (FAILED)", theirs, mb / theirs,
                WIFEXITED(rc) && WEXITSTATUS(rc) == 0 ? "" : " (FAILED)");
}

}

int main(int argc, char** argv)
{
    const size_t megabytes = argc > 1 ? size_t(std::atol(argv[1])) : 128;
    std::vector<uint8_t> data;
    if (argc > 2) {
        std::ifstream f(argv[2], std::ios::binary);
        data.assign(std::istreambuf_iterator<char>(f), {});
    } else {
        data = generated(megabytes << 20);
    }
    const std::string scratch = std::filesystem::temp_directory_path() / ("bench_ppmd." + std::to_string(getpid()));
    std::filesystem::create_directories(scratch);
    const std::string archive = scratch + "/written.rar";
    if (!writeArchive(archive, data))
        return 1;
    data = {};
    compare("written (PPM only)", archive, scratch);
    if (const char* fixtures = std::getenv("MERIK_SHARED_FIXTURES")) {
        const std::string dir = std::string(fixtures) + "/rar/";
        compare("ppmd_lzss_conversion (PPM+LZ)", dir + "test_read_format_rar_ppmd_lzss_conversion.rar", scratch);
        compare("multivolume (PPM+LZ)", dir + "test_read_format_rar_multivolume.part0001.rar", scratch);
        compare("compress_best (PPM)", dir + "test_read_format_rar_compress_best.rar", scratch);
    }
    std::filesystem::remove_all(scratch);
    return 0;
}
