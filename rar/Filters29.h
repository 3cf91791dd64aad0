// The standard filters of the RAR 2.9 method. Archivers ship each filter as
// a program for a virtual machine; every archiver emits the same few
// programs, so a program is recognised by its length and CRC32 and its
// effect is run natively here. A program that is none of these is reported
// to the caller rather than run. Qt-free.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Rar {

enum class Filter29 { Unknown, E8, E8E9, Itanium, Delta, Rgb, Audio };

// Which standard filter the program `code` (its whole byte-code, check
// byte included) is.
Filter29 identifyFilter29(const unsigned char* code, size_t size);

// The filter's working memory: the block goes in at 0; outputs of filters
// that do not work in place lie behind it.
constexpr uint32_t kFilter29Memory = 0x40000;
// Blocks larger than this are never filtered.
constexpr uint32_t kFilter29MaxBlock = 0x3C000;

// Runs `type` over the block of `length` bytes at the start of `memory`
// (kFilter29Memory + 4 bytes), with the program's registers `r` (r[6] is the
// block's offset in the entry). The result is `outSize` bytes at
// memory + outPos. False when the parameters cannot be right (damaged data).
bool runFilter29(Filter29 type, unsigned char* memory, uint32_t length, const uint32_t r[7],
                 uint32_t& outPos, uint32_t& outSize);

}
