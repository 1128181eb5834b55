#include "MemoryMap.h"

namespace qzsim {

namespace {

constexpr FlashBlock kVariant1Flash[] = {
    {Space::P, 0x00000, 0x10000, FlashKind::Program},
    {Space::P, 0x10000, 0x10000, FlashKind::Program},
    {Space::P, 0x20000, 0x01000, FlashKind::Boot},
    {Space::X, 0x02000, 0x01000, FlashKind::Data},
};

constexpr FlashBlock kVariant2Flash[] = {
    {Space::P, 0x00000, 0x10000, FlashKind::Program},
    {Space::P, 0x20000, 0x01000, FlashKind::Boot},
    {Space::X, 0x01000, 0x01000, FlashKind::Data},
};

const MemoryMap kVariant1{kVariant1Flash, 0x2000};
const MemoryMap kVariant2{kVariant2Flash, 0x1000};

}  // namespace

const MemoryMap& MemoryMapOf(int variant) { return variant == 2 ? kVariant2 : kVariant1; }

}  // namespace qzsim
