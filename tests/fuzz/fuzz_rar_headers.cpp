// libFuzzer target for the archive layer's own reading of RAR block headers:
// the header parser on the raw bytes (as RAR 4 and as RAR 5), and the volume
// stream that libarchive reads through, on the bytes as a volume file.
#include "RarFormat.h"
#include "RarStream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void walkBlocks(const uint8_t* data, size_t size, Rar::Format format)
{
    size_t pos = Rar::detectSignature(data, size) == format ? Rar::signatureSize(format) : 0;
    for (int i = 0; i < 4096 && pos < size; ++i) {
        Rar::Block block;
        size_t needed = 0;
        if (Rar::parseBlock(format, data + pos, size - pos, block, needed) != Rar::ParseStatus::Ok)
            return;
        if (block.headerSize == 0 || block.headerSize > size - pos)
            std::abort(); // the parser vouches for the header it read
        (void)Rar::utf8Name(block);
        if (block.embeddedCommentOffset) {
            Rar::EmbeddedComment comment;
            if (Rar::parseEmbeddedComment(data + pos, block.headerSize, block.embeddedCommentOffset, comment)
                && comment.dataOffset + comment.dataSize > block.headerSize)
                std::abort();
        }
        if (block.dataSize > size - pos - block.headerSize)
            return;
        pos += block.headerSize + size_t(block.dataSize);
    }
}

char g_directory[] = "/tmp/merik-fuzz-XXXXXX";

void removeVolume()
{
    ::unlink((std::string(g_directory) + "/fuzz.rar").c_str());
    ::rmdir(g_directory);
}

const std::string& volumePath()
{
    static const std::string path = [] {
        if (!::mkdtemp(g_directory))
            std::abort();
        std::atexit(removeVolume);
        return std::string(g_directory) + "/fuzz.rar";
    }();
    return path;
}

void readAsVolume(const uint8_t* data, size_t size)
{
    const std::string& path = volumePath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);

    RarVolumeStream stream;
    // No next volume exists: giving up must end the stream, never loop.
    stream.setVolumeCallback([](char*, int mode) { return mode == RAR_VOL_ASK ? 0 : 1; });
    if (stream.open(path) != 0)
        return;
    const void* buffer = nullptr;
    for (int i = 0; i < 100000; ++i) {
        const ssize_t n = stream.read(&buffer);
        if (n <= 0)
            break;
        if (i % 3 == 2)
            stream.prepareNext();
        while (auto entry = stream.takeEntry()) {
            (void)Rar::utf8Name(entry->header);
            // Now and then the entry's data is read the layer's own way.
            if (i % 2 == 0 && stream.atDataOf(entry)) {
                const void* data = nullptr;
                for (int k = 0; k < 100000 && stream.readEntryData(&data, k % 2 == 1) > 0; ++k) {
                }
                stream.restartArchive();
            }
        }
    }
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    walkBlocks(data, size, Rar::Format::Rar4);
    walkBlocks(data, size, Rar::Format::Rar5);
    readAsVolume(data, size);
    return 0;
}
