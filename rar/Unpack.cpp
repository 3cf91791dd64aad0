#include "Unpack.h"

#include "Unpack15.h"
#include "Unpack20.h"
#include "Unpack29.h"

namespace Rar {

int unpackerFamily(uint8_t unpackVersion)
{
    switch (unpackVersion) {
    case 15:
        return 15;
    case 20:
    case 26:
        return 20;
    case 29:
    case 36:
        return 29;
    default:
        return -1;
    }
}

std::unique_ptr<Unpacker> makeUnpacker(uint8_t unpackVersion)
{
    switch (unpackerFamily(unpackVersion)) {
    case 15:
        return makeUnpack15();
    case 20:
        return makeUnpack20();
    case 29:
        return makeUnpack29();
    default:
        return nullptr;
    }
}

}
