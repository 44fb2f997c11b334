// What the member rebuild engine changes in a variable it re-creates; the
// change mask handed with it selects the fields that apply.
#pragma once

#include <cstdint>

#include "platform/tlbengine/TypeLibTypes.h"
#include "platform/automation/Variant.h"
#include "typelib/HelpData.h"

namespace zephrin {

struct VarRebuildData {
    // Bits of the change mask (the help bits are those of HelpData).
    static constexpr int32_t kType = 0x20;
    static constexpr int32_t kMemID = 0x40;
    static constexpr int32_t kFlags = 0x80;
    static constexpr int32_t kValue = 0x100;

    int32_t MemID = ole::MEMBERID_NIL;
    int32_t Flags = 0;            // VARFLAGS; implied flags are added here
    int32_t NewDefaultFlags = 0;  // out: FUIDEFAULT / FDEFAULTBIND newly switched on
    ole::Variant Value;           // the constant value
    HelpData Help;
};

}  // namespace zephrin
