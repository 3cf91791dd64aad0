#include "Ppmd.h"

#include <cstring>
#include <new>

namespace Rar {

namespace {

constexpr unsigned kMaxOrder = 64;
constexpr unsigned kUnitSize = 12;
constexpr unsigned kIndexes = 38; // block sizes the allocator keeps lists of
constexpr unsigned kMaxFreq = 124;
constexpr unsigned kIntBits = 7;
constexpr unsigned kPeriodBits = 7;
constexpr unsigned kTotBits = 14;
constexpr unsigned kInterval = 1u << kIntBits;
constexpr unsigned kBinScale = 1u << kTotBits;
constexpr uint32_t kTop = 1u << 24;
constexpr uint32_t kBottom = 1u << 15;
constexpr uint32_t kMaxMemory = 256u << 20;

constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};
constexpr uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};

// The model's records live in one byte block and refer to each other by
// 32-bit offsets into it, as in the format's 12-byte units. The same bytes
// are one record type, then another (a context's single state overlays its
// frequency sum and statistics reference; freed units become list nodes),
// so the types may alias anything.
struct __attribute__((may_alias)) State {
    uint8_t symbol;
    uint8_t freq;
    uint16_t successorLow;
    uint16_t successorHigh;

    uint32_t successor() const { return successorLow | uint32_t(successorHigh) << 16; }
    void setSuccessor(uint32_t v)
    {
        successorLow = uint16_t(v);
        successorHigh = uint16_t(v >> 16);
    }
};
static_assert(sizeof(State) == 6);

struct __attribute__((may_alias)) Context {
    uint16_t numStats;
    uint16_t summFreq; // with one state: the state itself from here on
    uint32_t stats;
    uint32_t suffix;

    State* oneState() { return reinterpret_cast<State*>(reinterpret_cast<uint8_t*>(this) + 2); }
};
static_assert(sizeof(Context) == kUnitSize);

struct __attribute__((may_alias)) Node {
    uint16_t stamp; // 0xFFFF: a free block while blocks are glued
    uint16_t nu;    // its size in units
    uint32_t next;
    uint32_t prev;
};
static_assert(sizeof(Node) == kUnitSize);

// Secondary escape estimation: an adaptive escape frequency.
struct See {
    uint16_t summ;
    uint8_t shift;
    uint8_t count;

    unsigned mean()
    {
        const unsigned r = summ >> shift;
        summ = uint16_t(summ - r);
        return r + (r == 0);
    }
    void update()
    {
        if (shift < kPeriodBits && --count == 0) {
            summ = uint16_t(summ * 2);
            count = uint8_t(3 << shift++);
        }
    }
};

struct Tables {
    uint8_t indx2Units[kIndexes];
    uint8_t units2Indx[128];
    uint8_t ns2Indx[256];
    uint8_t ns2BSIndx[256];
    uint8_t hb2Flag[256];

    Tables()
    {
        unsigned k = 0;
        for (unsigned i = 0; i < kIndexes; ++i) {
            const unsigned step = i < 12 ? (i >> 2) + 1 : 4;
            for (unsigned s = 0; s < step; ++s)
                units2Indx[k++] = uint8_t(i);
            indx2Units[i] = uint8_t(k);
        }
        ns2BSIndx[0] = 0;
        ns2BSIndx[1] = 2;
        std::memset(ns2BSIndx + 2, 4, 9);
        std::memset(ns2BSIndx + 11, 6, 256 - 11);
        unsigned i = 0;
        for (; i < 3; ++i)
            ns2Indx[i] = uint8_t(i);
        for (unsigned m = i, left = 1, step = 1; i < 256; ++i) {
            ns2Indx[i] = uint8_t(m);
            if (--left == 0) {
                left = ++step;
                ++m;
            }
        }
        std::memset(hb2Flag, 0, 0x40);
        std::memset(hb2Flag + 0x40, 8, 0x100 - 0x40);
    }
};

const Tables kTables;

}

struct PpmdH::Model {
    // Memory: [reserved unit | text ... units | guard unit]. Offset 0 is
    // "none" and, while gluing, the head of the list of free blocks.
    std::unique_ptr<uint8_t[]> memory;
    uint8_t* base = nullptr;
    uint32_t size = 0; // bytes of text and units
    uint32_t heapStart = 0;
    uint32_t heapEnd = 0;
    uint32_t text = 0;
    uint32_t unitsStart = 0;
    uint32_t loUnit = 0;
    uint32_t hiUnit = 0;
    unsigned glueCount = 0;
    uint32_t freeList[kIndexes] = {};

    See sees[25][16];
    See dummySee;
    uint16_t binSumm[128][64];

    Context* minContext = nullptr;
    Context* maxContext = nullptr;
    State* foundState = nullptr;
    unsigned numMasked = 0;
    unsigned initEsc = 0;
    unsigned orderFall = 0;
    unsigned maxOrder = 0;
    unsigned hiBitsFlag = 0;
    unsigned prevSuccess = 0;
    uint32_t runLength = 0; // wraps like the encoder's; its sign bit is read
    uint32_t initRL = 0;
    uint8_t charMask[256];
    uint8_t escCount = 1;
    bool valid = false; // a model exists and may go on

    uint32_t low = 0;
    uint32_t code = 0;
    uint32_t range = 0;
    BitInput* input = nullptr;

    // Offsets and pointers.
    uint8_t* ptr(uint32_t offset) const { return base + offset; }
    Context* ctx(uint32_t offset) const { return reinterpret_cast<Context*>(base + offset); }
    State* stats(const Context* c) const { return reinterpret_cast<State*>(base + c->stats); }
    Node* node(uint32_t offset) const { return reinterpret_cast<Node*>(base + offset); }
    uint32_t ref(const void* p) const { return uint32_t(static_cast<const uint8_t*>(p) - base); }

    bool allocate(uint32_t bytes);
    void restart();
    void start(unsigned order);

    // The allocator.
    void insertNode(uint32_t block, unsigned indx)
    {
        node(block)->next = freeList[indx];
        freeList[indx] = block;
    }
    uint32_t removeNode(unsigned indx)
    {
        const uint32_t block = freeList[indx];
        freeList[indx] = node(block)->next;
        return block;
    }
    void splitBlock(uint32_t block, unsigned oldIndx, unsigned newIndx);
    void glueFreeBlocks();
    uint32_t allocUnitsRare(unsigned indx);
    uint32_t allocUnits(unsigned indx)
    {
        if (freeList[indx])
            return removeNode(indx);
        const uint32_t bytes = kTables.indx2Units[indx] * kUnitSize;
        if (hiUnit - loUnit >= bytes) {
            const uint32_t block = loUnit;
            loUnit += bytes;
            return block;
        }
        return allocUnitsRare(indx);
    }
    uint32_t allocContext()
    {
        if (hiUnit != loUnit)
            return hiUnit -= kUnitSize;
        if (freeList[0])
            return removeNode(0);
        return allocUnitsRare(0);
    }
    uint32_t shrinkUnits(uint32_t block, unsigned oldNU, unsigned newNU);

    // The model.
    void rescale();
    Context* createSuccessors(bool skip, bool& broken);
    bool updateModel();
    bool nextContext()
    {
        const uint32_t successor = foundState->successor();
        if (orderFall == 0 && successor > text) {
            minContext = maxContext = ctx(successor);
            return true;
        }
        return updateModel();
    }
    void clearMaskIfWrapped()
    {
        if (escCount == 0) {
            std::memset(charMask, 0, sizeof charMask);
            escCount = 1;
        }
    }

    // What finding a symbol, or escaping, does to the model; the decoder
    // and the encoder share these.
    void foundFirst(State* s)
    {
        const unsigned freq = s->freq;
        foundState = s;
        prevSuccess = 2 * freq > minContext->summFreq;
        runLength += prevSuccess;
        minContext->summFreq = uint16_t(minContext->summFreq + 4);
        s->freq = uint8_t(freq + 4);
        if (freq + 4 > kMaxFreq)
            rescale();
    }
    void foundOther(State* s)
    {
        s->freq = uint8_t(s->freq + 4);
        minContext->summFreq = uint16_t(minContext->summFreq + 4);
        foundState = s;
        if (s[0].freq > s[-1].freq) {
            const State tmp = s[0];
            s[0] = s[-1];
            s[-1] = tmp;
            foundState = --s;
            if (s->freq > kMaxFreq)
                rescale();
        }
    }
    void escapeAll(State* last)
    {
        hiBitsFlag = kTables.hb2Flag[foundState->symbol];
        numMasked = minContext->numStats;
        for (State* m = stats(minContext); m <= last; ++m)
            charMask[m->symbol] = escCount;
    }
    uint16_t& binaryProbability(State* rs)
    {
        hiBitsFlag = kTables.hb2Flag[foundState->symbol];
        return binSumm[(rs->freq - 1u) & 127]
                      [prevSuccess + kTables.ns2BSIndx[ctx(minContext->suffix)->numStats - 1u] + hiBitsFlag
                       + 2 * kTables.hb2Flag[rs->symbol] + ((runLength >> 26) & 0x20)];
    }
    void foundBinary(State* rs, uint16_t& bs)
    {
        bs = uint16_t(bs + kInterval - ((bs + 32u) >> 7));
        foundState = rs;
        rs->freq = uint8_t(rs->freq + (rs->freq < 128));
        prevSuccess = 1;
        ++runLength;
    }
    void escapeBinary(State* rs, uint16_t& bs)
    {
        bs = uint16_t(bs - ((bs + 32u) >> 7));
        initEsc = kExpEscape[bs >> 10];
        numMasked = 1;
        charMask[rs->symbol] = escCount;
        prevSuccess = 0;
    }
    // Moves down to the next suffix with symbols not yet masked: its
    // unmasked states in `ps`, their frequency sum, the coding total, and
    // the escape estimator used; null when there is none.
    See* nextEscapeContext(State** ps, unsigned& n, uint32_t& hiCnt, uint32_t& scale)
    {
        Context* c = minContext;
        do {
            ++orderFall;
            if (!c->suffix)
                return nullptr; // an escape from the root: no symbol
            c = ctx(c->suffix);
        } while (c->numStats == numMasked);
        const unsigned numStats = c->numStats;
        if (numStats < numMasked)
            return nullptr;
        minContext = c;

        const unsigned diff = numStats - numMasked;
        See* see;
        if (numStats != 256) {
            if (!c->suffix)
                return nullptr;
            const int suffixStats = ctx(c->suffix)->numStats;
            see = &sees[kTables.ns2Indx[diff - 1]]
                       [(int(diff) < suffixStats - int(numStats)) + 2 * (c->summFreq < 11 * numStats)
                        + 4 * (numMasked > diff) + hiBitsFlag];
            scale = see->mean();
        } else {
            see = &dummySee;
            scale = 1;
        }
        State* s = stats(c);
        State* const end = s + numStats;
        hiCnt = 0;
        for (n = 0; n < diff; ++s) {
            if (s == end)
                return nullptr;
            if (charMask[s->symbol] != escCount) {
                hiCnt += s->freq;
                ps[n++] = s;
            }
        }
        scale += hiCnt;
        return see;
    }
    bool foundEscaped(State* s, See* see)
    {
        see->update();
        foundState = s;
        s->freq = uint8_t(s->freq + 4);
        minContext->summFreq = uint16_t(minContext->summFreq + 4);
        if (s->freq > kMaxFreq)
            rescale();
        ++escCount;
        runLength = initRL;
        if (!updateModel())
            return false;
        clearMaskIfWrapped();
        return true;
    }
    void escapeMasked(State** ps, unsigned n, See* see, uint32_t scale)
    {
        see->summ = uint16_t(see->summ + scale);
        for (unsigned k = 0; k < n; ++k)
            charMask[ps[k]->symbol] = escCount;
        numMasked = minContext->numStats;
    }

    // The range decoder.
    bool normalize()
    {
        for (unsigned rounds = 0;; ++rounds) {
            if ((low ^ (low + range)) >= kTop) {
                if (range >= kBottom)
                    return true;
                range = (0u - low) & (kBottom - 1);
            }
            // A few rounds settle any interval the encoder can make.
            if (rounds == 16)
                return false;
            code = (code << 8) | input->readByte();
            range <<= 8;
            low <<= 8;
        }
    }
    void decode(uint32_t start, uint32_t size)
    {
        low += start * range;
        range *= size;
    }

    // The range encoder, for PpmdHEncoder: bytes go to `output`.
    std::vector<uint8_t>* output = nullptr;
    void encoderNormalize()
    {
        for (;;) {
            if ((low ^ (low + range)) >= kTop) {
                if (range >= kBottom)
                    return;
                range = (0u - low) & (kBottom - 1);
            }
            output->push_back(uint8_t(low >> 24));
            range <<= 8;
            low <<= 8;
        }
    }
    void encode(uint32_t start, uint32_t size, uint32_t total)
    {
        range /= total;
        low += start * range;
        range *= size;
        encoderNormalize();
    }

    int decodeChar();
    bool encodeChar(unsigned symbol);
    int fail()
    {
        valid = false;
        return -1;
    }
};

bool PpmdH::Model::allocate(uint32_t bytes)
{
    if (memory && size == bytes)
        return true;
    memory.reset();
    size = 0;
    // A reserved unit before the heap, a guard unit after it.
    memory.reset(new (std::nothrow) uint8_t[size_t(bytes) + 2 * kUnitSize]);
    if (!memory)
        return false;
    size = bytes;
    base = memory.get();
    heapStart = kUnitSize;
    heapEnd = heapStart + size;
    std::memset(base, 0, kUnitSize);
    std::memset(base + heapEnd, 0, kUnitSize);
    return true;
}

void PpmdH::Model::restart()
{
    std::memset(charMask, 0, sizeof charMask);
    escCount = 1;
    std::memset(freeList, 0, sizeof freeList);
    text = heapStart;
    hiUnit = heapEnd;
    loUnit = unitsStart = hiUnit - size / 8 / kUnitSize * 7 * kUnitSize;
    glueCount = 0;

    orderFall = maxOrder;
    runLength = initRL = uint32_t(-int((maxOrder < 12) ? maxOrder : 12) - 1);
    prevSuccess = 0;

    hiUnit -= kUnitSize;
    minContext = maxContext = ctx(hiUnit);
    minContext->suffix = 0;
    minContext->numStats = 256;
    minContext->summFreq = 256 + 1;
    const uint32_t rootStats = loUnit;
    loUnit += 128 * kUnitSize;
    minContext->stats = rootStats;
    foundState = stats(minContext);
    for (unsigned i = 0; i < 256; ++i) {
        State& s = foundState[i];
        s.symbol = uint8_t(i);
        s.freq = 1;
        s.setSuccessor(0);
    }
    for (unsigned i = 0; i < 128; ++i)
        for (unsigned k = 0; k < 8; ++k) {
            const uint16_t value = uint16_t(kBinScale - kInitBinEsc[k] / (i + 2));
            for (unsigned m = 0; m < 64; m += 8)
                binSumm[i][k + m] = value;
        }
    for (unsigned i = 0; i < 25; ++i)
        for (unsigned k = 0; k < 16; ++k) {
            See& s = sees[i][k];
            s.shift = kPeriodBits - 4;
            s.summ = uint16_t((5 * i + 10) << s.shift);
            s.count = 4;
        }
}

void PpmdH::Model::start(unsigned order)
{
    maxOrder = order;
    restart();
    dummySee.summ = 0;
    dummySee.shift = kPeriodBits;
    dummySee.count = 64;
    valid = true;
}

void PpmdH::Model::splitBlock(uint32_t block, unsigned oldIndx, unsigned newIndx)
{
    unsigned diff = kTables.indx2Units[oldIndx] - kTables.indx2Units[newIndx];
    uint32_t p = block + kTables.indx2Units[newIndx] * kUnitSize;
    unsigned i = kTables.units2Indx[diff - 1];
    if (kTables.indx2Units[i] != diff) {
        insertNode(p, --i);
        const unsigned units = kTables.indx2Units[i];
        p += units * kUnitSize;
        diff -= units;
    }
    insertNode(p, kTables.units2Indx[diff - 1]);
}

void PpmdH::Model::glueFreeBlocks()
{
    // Every free block goes, stamped with its size, into one list headed
    // at offset 0, newest first; then each absorbs the free blocks right
    // after it; then the merged blocks are cut back into listed sizes.
    constexpr uint32_t head = 0;
    node(head)->next = node(head)->prev = head;
    if (loUnit != hiUnit)
        node(loUnit)->stamp = 0;
    for (unsigned i = 0; i < kIndexes; ++i)
        while (freeList[i]) {
            const uint32_t p = removeNode(i);
            Node* n = node(p);
            n->prev = head;
            n->next = node(head)->next;
            node(n->next)->prev = p;
            node(head)->next = p;
            n->stamp = 0xFFFF;
            n->nu = kTables.indx2Units[i];
        }
    for (uint32_t p = node(head)->next; p != head; p = node(p)->next) {
        Node* n = node(p);
        for (;;) {
            const uint32_t p1 = p + n->nu * kUnitSize;
            Node* n1 = node(p1);
            if (n1->stamp != 0xFFFF || unsigned(n->nu) + n1->nu >= 0x10000)
                break;
            node(n1->prev)->next = n1->next;
            node(n1->next)->prev = n1->prev;
            n->nu = uint16_t(n->nu + n1->nu);
        }
    }
    for (uint32_t p; (p = node(head)->next) != head;) {
        Node* n = node(p);
        node(n->prev)->next = n->next;
        node(n->next)->prev = n->prev;
        unsigned units = n->nu;
        for (; units > 128; units -= 128, p += 128 * kUnitSize)
            insertNode(p, kIndexes - 1);
        unsigned i = kTables.units2Indx[units - 1];
        if (kTables.indx2Units[i] != units) {
            const unsigned rest = units - kTables.indx2Units[--i];
            insertNode(p + (units - rest) * kUnitSize, rest - 1);
        }
        insertNode(p, i);
    }
}

uint32_t PpmdH::Model::allocUnitsRare(unsigned indx)
{
    if (glueCount == 0) {
        glueCount = 255;
        glueFreeBlocks();
        if (freeList[indx])
            return removeNode(indx);
    }
    unsigned i = indx;
    do {
        if (++i == kIndexes) {
            --glueCount;
            const uint32_t bytes = kTables.indx2Units[indx] * kUnitSize;
            if (unitsStart - text > bytes) {
                unitsStart -= bytes;
                return unitsStart;
            }
            return 0;
        }
    } while (!freeList[i]);
    const uint32_t block = removeNode(i);
    splitBlock(block, i, indx);
    return block;
}

uint32_t PpmdH::Model::shrinkUnits(uint32_t block, unsigned oldNU, unsigned newNU)
{
    const unsigned i0 = kTables.units2Indx[oldNU - 1];
    const unsigned i1 = kTables.units2Indx[newNU - 1];
    if (i0 == i1)
        return block;
    if (freeList[i1]) {
        const uint32_t moved = removeNode(i1);
        std::memcpy(ptr(moved), ptr(block), newNU * kUnitSize);
        insertNode(block, i0);
        return moved;
    }
    splitBlock(block, i0, i1);
    return block;
}

void PpmdH::Model::rescale()
{
    Context* mc = minContext;
    State* first = stats(mc);
    State* s = foundState;
    // The found state to the front.
    if (s != first) {
        const State tmp = *s;
        for (; s != first; --s)
            s[0] = s[-1];
        *s = tmp;
    }
    const unsigned numStats = mc->numStats;
    unsigned escFreq = mc->summFreq - s->freq;
    s->freq = uint8_t(s->freq + 4);
    const unsigned adder = orderFall != 0;
    s->freq = uint8_t((s->freq + adder) >> 1);
    unsigned sumFreq = s->freq;

    unsigned i = numStats - 1;
    do {
        escFreq -= (++s)->freq;
        s->freq = uint8_t((s->freq + adder) >> 1);
        sumFreq += s->freq;
        if (s[0].freq > s[-1].freq) {
            State* s1 = s;
            const State tmp = *s1;
            do
                s1[0] = s1[-1];
            while (--s1 != first && tmp.freq > s1[-1].freq);
            *s1 = tmp;
        }
    } while (--i);

    if (s->freq == 0) {
        unsigned removed = 0;
        do
            ++removed;
        while ((--s)->freq == 0);
        escFreq += removed;
        mc->numStats = uint16_t(numStats - removed);
        if (mc->numStats == 1) {
            State tmp = *first;
            do {
                tmp.freq = uint8_t(tmp.freq - (tmp.freq >> 1));
                escFreq >>= 1;
            } while (escFreq > 1);
            insertNode(mc->stats, kTables.units2Indx[((numStats + 1) >> 1) - 1]);
            *(foundState = mc->oneState()) = tmp;
            return;
        }
        const unsigned n0 = (numStats + 1) >> 1;
        const unsigned n1 = (mc->numStats + 1u) >> 1;
        if (n0 != n1)
            mc->stats = shrinkUnits(mc->stats, n0, n1);
    }
    mc->summFreq = uint16_t(sumFreq + escFreq - (escFreq >> 1));
    foundState = stats(mc);
}

// The contexts the found symbol leads to, created from the text it was met
// in: null when memory ran out, with `broken` set when the model's own
// links do not hold (they always do unless the model itself went wrong).
Context* PpmdH::Model::createSuccessors(bool skip, bool& broken)
{
    Context* c = minContext;
    const uint32_t upBranch = foundState->successor();
    const uint8_t symbol = foundState->symbol;
    State* ps[kMaxOrder + 1];
    unsigned numPs = 0;
    if (!skip)
        ps[numPs++] = foundState;

    while (c->suffix) {
        c = ctx(c->suffix);
        State* s;
        if (c->numStats != 1) {
            s = stats(c);
            State* const end = s + c->numStats;
            while (s->symbol != symbol)
                if (++s == end) {
                    broken = true;
                    return nullptr;
                }
        } else {
            s = c->oneState();
        }
        const uint32_t successor = s->successor();
        if (successor != upBranch) {
            if (successor < unitsStart) {
                broken = true;
                return nullptr;
            }
            c = ctx(successor);
            break;
        }
        if (numPs == kMaxOrder + 1) {
            broken = true;
            return nullptr;
        }
        ps[numPs++] = s;
    }
    if (numPs == 0)
        return c;
    if (upBranch < heapStart || upBranch >= unitsStart) {
        broken = true;
        return nullptr;
    }

    State up;
    up.symbol = *ptr(upBranch);
    up.setSuccessor(upBranch + 1);
    if (c->numStats == 1) {
        up.freq = c->oneState()->freq;
    } else {
        State* s = stats(c);
        State* const end = s + c->numStats;
        while (s->symbol != up.symbol)
            if (++s == end) {
                broken = true;
                return nullptr;
            }
        const unsigned cf = s->freq - 1u;
        const unsigned s0 = c->summFreq - c->numStats - cf;
        unsigned freq;
        if (2 * cf <= s0)
            freq = 5 * cf > s0;
        else
            freq = s0 ? (2 * cf + 3 * s0 - 1) / (2 * s0) : 0;
        up.freq = uint8_t(1 + freq);
    }

    do {
        const uint32_t child = allocContext();
        if (!child)
            return nullptr;
        Context* c1 = ctx(child);
        c1->numStats = 1;
        *c1->oneState() = up;
        c1->suffix = ref(c);
        ps[--numPs]->setSuccessor(child);
        c = c1;
    } while (numPs != 0);
    return c;
}

bool PpmdH::Model::updateModel()
{
    const uint8_t fsSymbol = foundState->symbol;
    const unsigned fsFreq = foundState->freq;
    uint32_t fSuccessor = foundState->successor();

    if (fsFreq < kMaxFreq / 4 && minContext->suffix) {
        Context* c = ctx(minContext->suffix);
        if (c->numStats == 1) {
            State* s = c->oneState();
            if (s->freq < 32)
                ++s->freq;
        } else {
            State* s = stats(c);
            if (s->symbol != fsSymbol) {
                State* const end = s + c->numStats;
                do
                    if (++s == end)
                        return false;
                while (s->symbol != fsSymbol);
                if (s[0].freq >= s[-1].freq) {
                    const State tmp = s[0];
                    s[0] = s[-1];
                    s[-1] = tmp;
                    --s;
                }
            }
            if (s->freq < kMaxFreq - 9) {
                s->freq = uint8_t(s->freq + 2);
                c->summFreq = uint16_t(c->summFreq + 2);
            }
        }
    }

    bool broken = false;
    if (orderFall == 0) {
        Context* c = createSuccessors(true, broken);
        if (broken)
            return false;
        if (!c) {
            restart();
            return true;
        }
        minContext = maxContext = c;
        foundState->setSuccessor(ref(c));
        return true;
    }

    *ptr(text++) = fsSymbol;
    uint32_t successor = text;
    if (text >= unitsStart) {
        restart();
        return true;
    }

    if (fSuccessor) {
        if (fSuccessor <= successor) {
            Context* cs = createSuccessors(false, broken);
            if (broken)
                return false;
            if (!cs) {
                restart();
                return true;
            }
            fSuccessor = ref(cs);
        }
        if (--orderFall == 0) {
            successor = fSuccessor;
            text -= maxContext != minContext;
        }
    } else {
        foundState->setSuccessor(successor);
        fSuccessor = ref(minContext);
    }

    const unsigned ns = minContext->numStats;
    const unsigned s0 = minContext->summFreq - ns - (fsFreq - 1);

    for (Context* c = maxContext; c != minContext; c = ctx(c->suffix)) {
        if (!c->suffix)
            return false;
        const unsigned ns1 = c->numStats;
        if (ns1 != 1) {
            if ((ns1 & 1) == 0) {
                // The statistics fill their units: one more unit.
                const unsigned oldNU = ns1 >> 1;
                const unsigned i = kTables.units2Indx[oldNU - 1];
                if (i != kTables.units2Indx[oldNU]) {
                    const uint32_t block = allocUnits(i + 1);
                    if (!block) {
                        restart();
                        return true;
                    }
                    std::memcpy(ptr(block), ptr(c->stats), oldNU * kUnitSize);
                    insertNode(c->stats, i);
                    c->stats = block;
                }
            }
            c->summFreq = uint16_t(c->summFreq + (2 * ns1 < ns)
                                   + 2 * ((4 * ns1 <= ns) & (c->summFreq <= 8 * ns1)));
        } else {
            const uint32_t block = allocUnits(0);
            if (!block) {
                restart();
                return true;
            }
            State* s = reinterpret_cast<State*>(ptr(block));
            *s = *c->oneState();
            c->stats = block;
            if (s->freq < kMaxFreq / 4 - 1)
                s->freq = uint8_t(s->freq * 2);
            else
                s->freq = kMaxFreq - 4;
            c->summFreq = uint16_t(s->freq + initEsc + (ns > 3));
        }
        uint32_t cf = 2 * fsFreq * (c->summFreq + 6u);
        const uint32_t sf = s0 + c->summFreq;
        if (cf < 6 * sf) {
            cf = 1 + (cf > sf) + (cf >= 4 * sf);
            c->summFreq = uint16_t(c->summFreq + 3);
        } else {
            cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
            c->summFreq = uint16_t(c->summFreq + cf);
        }
        State* s = stats(c) + ns1;
        s->setSuccessor(successor);
        s->symbol = fsSymbol;
        s->freq = uint8_t(cf);
        c->numStats = uint16_t(ns1 + 1);
    }
    maxContext = minContext = ctx(fSuccessor);
    return true;
}

int PpmdH::Model::decodeChar()
{
    if (!valid || input->overrun())
        return fail();
    Context* mc = minContext;
    if (mc->numStats != 1) {
        State* s = stats(mc);
        const uint32_t total = mc->summFreq;
        range /= total;
        if (range == 0)
            return fail();
        const uint32_t count = (code - low) / range;
        if (count >= total)
            return fail();
        uint32_t hiCnt = s->freq;
        if (count < hiCnt) {
            decode(0, hiCnt);
            const uint8_t symbol = s->symbol;
            foundFirst(s);
            if (!nextContext() || !normalize())
                return fail();
            return symbol;
        }
        prevSuccess = 0;
        unsigned i = mc->numStats - 1u;
        do {
            if ((hiCnt += (++s)->freq) > count) {
                decode(hiCnt - s->freq, s->freq);
                const uint8_t symbol = s->symbol;
                foundOther(s);
                if (!nextContext() || !normalize())
                    return fail();
                return symbol;
            }
        } while (--i);
        decode(hiCnt, total - hiCnt);
        escapeAll(s);
    } else {
        if (!mc->suffix)
            return fail();
        State* rs = mc->oneState();
        uint16_t& bs = binaryProbability(rs);
        range >>= kTotBits;
        const uint32_t count = (code - low) / range;
        const unsigned p = bs;
        if (count < p) {
            range *= p;
            const uint8_t symbol = rs->symbol;
            foundBinary(rs, bs);
            if (!nextContext() || !normalize())
                return fail();
            return symbol;
        }
        decode(p, kBinScale - p);
        escapeBinary(rs, bs);
    }

    // Escapes: down the suffixes to a context with unmasked symbols.
    for (;;) {
        if (!normalize())
            return fail();
        State* ps[256];
        unsigned n = 0;
        uint32_t hiCnt = 0;
        uint32_t scale = 0;
        See* see = nextEscapeContext(ps, n, hiCnt, scale);
        if (!see)
            return fail();
        range /= scale;
        if (range == 0)
            return fail();
        const uint32_t count = (code - low) / range;
        if (count >= scale)
            return fail();
        if (count < hiCnt) {
            State** pps = ps;
            hiCnt = 0;
            while ((hiCnt += (*pps)->freq) <= count)
                ++pps;
            State* s = *pps;
            decode(hiCnt - s->freq, s->freq);
            const uint8_t symbol = s->symbol;
            if (!foundEscaped(s, see) || !normalize())
                return fail();
            return symbol;
        }
        decode(hiCnt, scale - hiCnt);
        escapeMasked(ps, n, see, scale);
    }
}

bool PpmdH::Model::encodeChar(unsigned symbol)
{
    if (!valid)
        return false;
    Context* mc = minContext;
    if (mc->numStats != 1) {
        State* s = stats(mc);
        const uint32_t total = mc->summFreq;
        uint32_t hiCnt = s->freq;
        if (s->symbol == symbol) {
            encode(0, hiCnt, total);
            foundFirst(s);
            return nextContext();
        }
        prevSuccess = 0;
        unsigned i = mc->numStats - 1u;
        do {
            if ((++s)->symbol == symbol) {
                encode(hiCnt, s->freq, total);
                foundOther(s);
                return nextContext();
            }
            hiCnt += s->freq;
        } while (--i);
        encode(hiCnt, total - hiCnt, total);
        escapeAll(s);
    } else {
        if (!mc->suffix)
            return valid = false;
        State* rs = mc->oneState();
        uint16_t& bs = binaryProbability(rs);
        range >>= kTotBits;
        const unsigned p = bs;
        if (rs->symbol == symbol) {
            range *= p;
            encoderNormalize();
            foundBinary(rs, bs);
            return nextContext();
        }
        low += p * range;
        range *= kBinScale - p;
        encoderNormalize();
        escapeBinary(rs, bs);
    }
    for (;;) {
        State* ps[256];
        unsigned n = 0;
        uint32_t hiCnt = 0;
        uint32_t scale = 0;
        See* see = nextEscapeContext(ps, n, hiCnt, scale);
        if (!see)
            return valid = false;
        uint32_t before = 0;
        for (unsigned k = 0; k < n; before += ps[k++]->freq)
            if (ps[k]->symbol == symbol) {
                encode(before, ps[k]->freq, scale);
                return foundEscaped(ps[k], see) || (valid = false);
            }
        encode(hiCnt, scale - hiCnt, scale);
        escapeMasked(ps, n, see, scale);
    }
}

PpmdH::PpmdH()
    : m_model(std::make_unique<Model>())
{
}

PpmdH::~PpmdH() = default;

bool PpmdH::startBlock(BitInput& input, int& escape)
{
    Model& m = *m_model;
    m.input = &input;
    const unsigned flags = input.readByte();
    const bool fresh = (flags & 0x20) != 0;
    uint32_t memory = 0;
    if (fresh)
        memory = (input.readByte() + 1u) << 20;
    if (flags & 0x40)
        escape = input.readByte();
    m.low = m.code = 0;
    m.range = 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i)
        m.code = (m.code << 8) | input.readByte();
    if (input.overrun())
        return m.valid = false;
    if (!fresh)
        return m.valid;
    unsigned order = (flags & 0x1f) + 1;
    if (order > 16)
        order = 16 + (order - 16) * 3;
    if (order == 1 || memory > kMaxMemory || !m.allocate(memory))
        return m.valid = false;
    m.start(order);
    return true;
}

int PpmdH::decodeChar()
{
    return m_model->decodeChar();
}

void PpmdH::reset()
{
    m_model->valid = false;
}

PpmdHEncoder::PpmdHEncoder()
    : m_model(std::make_unique<PpmdH::Model>())
{
}

PpmdHEncoder::~PpmdHEncoder() = default;

bool PpmdHEncoder::startBlock(std::vector<uint8_t>& output, unsigned order, unsigned memoryMB, int escape)
{
    PpmdH::Model& m = *m_model;
    unsigned flags = 0x80;
    if (order) {
        if (order < 2 || order > kMaxOrder || (order > 16 && (order - 16) % 3) || memoryMB < 1 || memoryMB > 256)
            return false;
        flags |= 0x20 | (order <= 16 ? order - 1 : 16 + (order - 16) / 3 - 1);
    } else if (!m.valid) {
        return false;
    }
    if (escape > 255)
        return false;
    if (escape >= 0)
        flags |= 0x40;
    output.push_back(uint8_t(flags));
    if (order)
        output.push_back(uint8_t(memoryMB - 1));
    if (escape >= 0)
        output.push_back(uint8_t(escape));
    m.output = &output;
    m.low = 0;
    m.range = 0xFFFFFFFFu;
    if (order) {
        if (!m.allocate(memoryMB << 20))
            return m.valid = false;
        m.start(order);
    }
    return true;
}

bool PpmdHEncoder::encodeChar(uint8_t symbol)
{
    return m_model->encodeChar(symbol);
}

void PpmdHEncoder::finishBlock()
{
    PpmdH::Model& m = *m_model;
    for (int i = 0; i < 4; ++i) {
        m.output->push_back(uint8_t(m.low >> 24));
        m.low <<= 8;
    }
}

}
