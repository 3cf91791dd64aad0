// The RAR 2.9 decoder on the shared samples of that method (LZ, PPMd,
// filtered), against `unar` and `bsdtar` extracting the same archives.
// Each archive is decoded as often as it takes to reach --mb megabytes of
// unpacked data (our decoder: in this process, through the volume stream,
// CRC checked; the others: one child process per pass, output to a pipe
// that is read and counted, so no disk is involved). Medians over --rounds.
// bsdtar is shown only where its output equals ours (it decodes non-solid
// LZ entries of this method, not every kind).
//
//   bench_unpack29 [--mb 100] [--rounds 3] [--fixtures DIR]
//
// DIR defaults to the shared fixtures next to the source tree.
#include "RarFormat.h"
#include "RarStream.h"
#include "Unpack29.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

struct Pass {
    uint64_t bytes = 0;
    uint32_t crcSum = 0; // CRCs of the entries, summed
    bool ok = true;
};

// Our decoder over every RAR 2.9 entry of a set, once.
Pass decodeSet(const std::string& first, Rar::Unpack29& decoder)
{
    Pass pass;
    RarVolumeStream stream;
    if (stream.open(first) != 0)
        return {0, 0, false};
    while (auto info = stream.nextEntry()) {
        const Rar::Block& h = info->header;
        if (h.directory || h.method == Rar::V4::kMethodStore || (h.unpackVersion != 29 && h.unpackVersion != 36))
            continue;
        RarEntrySource source(stream);
        decoder.begin(source, h.unpackedSize, h.solidEntry);
        uint32_t crc = 0;
        for (;;) {
            const unsigned char* p;
            size_t n;
            const Rar::UnpackStatus st = decoder.next(p, n);
            if (st == Rar::UnpackStatus::End)
                break;
            if (st != Rar::UnpackStatus::Data) {
                pass.ok = false;
                break;
            }
            crc = Rar::crc32(crc, p, n);
            pass.bytes += n;
        }
        pass.ok = pass.ok && crc == info->finalCrc;
        pass.crcSum += crc;
    }
    return pass;
}

// A tool's output on a pipe: its byte count and CRC, and whether it ended well.
Pass runTool(const std::string& command)
{
    Pass pass;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {0, 0, false};
    static std::vector<unsigned char> buffer(1 << 20);
    uint32_t crc = 0;
    for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
        crc = Rar::crc32(crc, buffer.data(), n);
        pass.bytes += n;
    }
    pass.ok = pclose(pipe) == 0;
    pass.crcSum = crc;
    return pass;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Sample {
    const char* kind;
    const char* path;
};

}

int main(int argc, char** argv)
{
    double targetMb = 100;
    int rounds = 3;
    std::string fixtures = MERIK_BINARY_DIR "/../../shared/fixtures/rar";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--mb"))
            targetMb = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--fixtures"))
            fixtures = argv[i + 1];
    }
    const Sample samples[] = {
        {"LZ", "sharpcompress/Rar.rar"},
        {"LZ", "test_read_format_rar_multi_lzss_blocks.rar"},
        {"LZ solid", "sharpcompress/Rar.solid.rar"},
        {"PPMd", "test_read_format_rar_binary_data.rar"},
        {"PPMd", "test_read_format_rar_compress_best.rar"},
        {"PPMd+LZ", "test_read_format_rar_ppmd_lzss_conversion.rar"},
        {"filtered", "sharpcompress/Rar.Audio_program.rar"},
        {"filtered", "test_read_format_rar_filter.rar"},
    };
    const bool haveUnar = std::system("command -v unar >/dev/null 2>&1") == 0;
    const bool haveBsdtar = std::system("command -v bsdtar >/dev/null 2>&1") == 0;
    std::printf("%-9s %-46s %8s %5s %9s %9s %9s %8s %8s\n", "kind", "archive", "MB/pass", "passes", "ours MB/s",
                "unar MB/s", "bsdtar", "vs unar", "vs bsd");
    Rar::Unpack29 decoder;
    for (const Sample& s : samples) {
        const std::string path = fixtures + "/" + s.path;
        const Pass once = decodeSet(path, decoder);
        if (!once.ok || once.bytes == 0) {
            std::printf("%-9s %-46s (missing or not decoded)\n", s.kind, s.path);
            continue;
        }
        const double mb = double(once.bytes) / 1e6;
        const int passes = std::max(1, int(targetMb / mb + 0.999));
        auto timeIt = [&](auto&& body) {
            std::vector<double> mbps;
            bool ok = true;
            for (int r = 0; r < rounds; ++r) {
                const auto t0 = Clock::now();
                uint64_t bytes = 0;
                for (int i = 0; i < passes && ok; ++i) {
                    const Pass p = body();
                    ok = p.ok && p.bytes == once.bytes;
                    bytes += p.bytes;
                }
                const double sec = std::chrono::duration<double>(Clock::now() - t0).count();
                mbps.push_back(double(bytes) / 1e6 / sec);
            }
            return ok ? median(mbps) : -1.0;
        };
        const double ours = timeIt([&] { return decodeSet(path, decoder); });
        const std::string quoted = "'" + path + "'";
        double unar = 0, bsdtar = 0;
        if (haveUnar)
            unar = timeIt([&] { return runTool("unar -q -o - " + quoted + " 2>/dev/null"); });
        // bsdtar counts only when its output is ours, byte for byte (one CRC over all files).
        if (haveBsdtar) {
            uint32_t ourCrc = 0;
            {
                RarVolumeStream stream;
                stream.open(path);
                // The concatenation of the entries, as bsdtar -O writes it.
                while (auto info = stream.nextEntry()) {
                    const Rar::Block& h = info->header;
                    if (h.directory || h.method == Rar::V4::kMethodStore)
                        continue;
                    RarEntrySource source(stream);
                    decoder.begin(source, h.unpackedSize, h.solidEntry);
                    const unsigned char* p;
                    size_t n;
                    while (decoder.next(p, n) == Rar::UnpackStatus::Data)
                        ourCrc = Rar::crc32(ourCrc, p, n);
                }
            }
            const Pass b = runTool("bsdtar -xOf " + quoted + " 2>/dev/null");
            if (b.ok && b.bytes == once.bytes && b.crcSum == ourCrc)
                bsdtar = timeIt([&] { return runTool("bsdtar -xOf " + quoted + " 2>/dev/null"); });
            else
                bsdtar = -1;
        }
        char unarText[32], bsdText[32], vsUnar[32], vsBsd[32];
        std::snprintf(unarText, sizeof unarText, unar > 0 ? "%.1f" : "-", unar);
        std::snprintf(bsdText, sizeof bsdText, bsdtar > 0 ? "%.1f" : "wrong", bsdtar);
        std::snprintf(vsUnar, sizeof vsUnar, unar > 0 ? "%.2fx" : "-", ours / unar);
        std::snprintf(vsBsd, sizeof vsBsd, bsdtar > 0 ? "%.2fx" : "-", ours / bsdtar);
        std::printf("%-9s %-46s %8.2f %5d %9.1f %9s %9s %8s %8s\n", s.kind, s.path, mb, passes, ours, unarText,
                    bsdText, vsUnar, vsBsd);
        std::fflush(stdout);
    }
    std::printf("(MB/s of unpacked data, medians of %d rounds; 'vs' = our speed / theirs; bsdtar 'wrong' = its output "
                "differs from the archive's CRCs)\n",
                rounds);
    return 0;
}
