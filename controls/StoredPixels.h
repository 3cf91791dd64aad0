// The programs' pictures as they are compiled in: a 16-byte header (the
// marker below, then width and height as 32-bit numbers) and the rows of
// QImage's RGB32 pixels, top row first, as the machine that built the
// program holds them in memory. Shown straight from the program's bytes,
// such a picture costs no decoding, no copy and no memory of its own.
#pragma once

#include <QByteArray>
#include <QImage>
#include <cstdint>
#include <cstring>

namespace StoredPixels {

constexpr QImage::Format Format = QImage::Format_RGB32;
constexpr char Marker[8] = { 'R', 'G', 'B', '3', '2', 'P', 'I', 'X' };
constexpr int HeaderSize = 16, MaxSide = 32768;

inline QByteArray encode(const QImage& picture)
{
    const QImage pixels = picture.convertToFormat(Format);
    const std::uint32_t size[2] = { std::uint32_t(pixels.width()), std::uint32_t(pixels.height()) };
    QByteArray out(Marker, sizeof Marker);
    out.append(reinterpret_cast<const char*>(size), sizeof size);
    for (int y = 0; y < pixels.height(); ++y)
        out.append(reinterpret_cast<const char*>(pixels.constScanLine(y)), qsizetype(pixels.width()) * 4);
    return out;
}

// The picture over `bytes`, which must outlive it; a null picture when they
// do not hold one. Bytes that are not 4-byte aligned are copied.
inline QImage decode(const uchar* bytes, qint64 size)
{
    if (!bytes || size < HeaderSize || std::memcmp(bytes, Marker, sizeof Marker) != 0)
        return {};
    std::uint32_t side[2];
    std::memcpy(side, bytes + sizeof Marker, sizeof side);
    const std::uint32_t width = side[0], height = side[1];
    if (width == 0 || height == 0 || width > MaxSide || height > MaxSide
        || qint64(width) * height * 4 != size - HeaderSize)
        return {};
    const uchar* pixels = bytes + HeaderSize;
    const qsizetype stride = qsizetype(width) * 4;
    if (reinterpret_cast<std::uintptr_t>(pixels) % 4 == 0)
        return QImage(pixels, int(width), int(height), stride, Format);
    QImage copy(int(width), int(height), Format);
    for (int y = 0; !copy.isNull() && y < copy.height(); ++y)
        std::memcpy(copy.scanLine(y), pixels + y * stride, size_t(stride));
    return copy;
}

}
