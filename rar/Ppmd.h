// PPMd variant H, the text model of the RAR 2.9 method, with RAR's own range
// coder. The model lives in one block of memory of the size the block header
// asks for (at most 256 MB), allocated once and used again while the size
// stays; when the model fills it, the model starts afresh, as the encoder's
// did. Whatever the data, decoding stays inside that block and every call
// ends: damaged data gives -1 (or false). Qt-free.
#pragma once

#include "BitInput.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Rar {

class PpmdH {
public:
    PpmdH();
    ~PpmdH();
    PpmdH(const PpmdH&) = delete;
    PpmdH& operator=(const PpmdH&) = delete;

    // At a byte boundary of `input` where a PPM block starts: reads the
    // block's flags byte and its parameters (a new model with its order and
    // size, or the current one kept; perhaps a new escape byte, stored into
    // `escape`), then starts the range decoder. False when the parameters
    // are damaged, a kept model does not exist, or the memory cannot be had.
    // decodeChar() then reads from `input`, which must outlive the block.
    bool startBlock(BitInput& input, int& escape);

    // The next decoded byte, or -1 when the data is damaged (after which
    // only a block with a new model decodes again).
    int decodeChar();

    // Forgets the model (an entry that does not continue the one before);
    // its memory is kept for the next model of the same size.
    void reset();

    struct Model;

private:
    std::unique_ptr<Model> m_model;
};

// The encoder of the same model and coder, for tests and benchmarks: no
// archiver on these machines writes RAR's PPM blocks.
class PpmdHEncoder {
public:
    PpmdHEncoder();
    ~PpmdHEncoder();
    PpmdHEncoder(const PpmdHEncoder&) = delete;
    PpmdHEncoder& operator=(const PpmdHEncoder&) = delete;

    // Starts a block, appending to `output` (which must outlive it): a new
    // model of `order` (2 to 16, or 19, 22, ... 64) in `memoryMB` (1 to 256),
    // or with order 0 the current model kept; a new escape byte unless
    // `escape` is -1. False for parameters a block cannot carry.
    bool startBlock(std::vector<uint8_t>& output, unsigned order, unsigned memoryMB, int escape = -1);
    bool encodeChar(uint8_t symbol);
    // Ends the block: the range coder's last bytes.
    void finishBlock();

private:
    std::unique_ptr<PpmdH::Model> m_model;
};

}
