// What the member rebuild engine changes in a function it re-creates; the
// change mask handed with it selects the fields that apply.
#pragma once

#include <cstdint>
#include <string>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "typelib/HelpData.h"

namespace zephrin {

struct FuncRebuildData {
    // Bits of the change mask (the help bits are those of HelpData).
    static constexpr int32_t kType = 0x20;          // return type (position 0) or parameter type
    static constexpr int32_t kInsertParam = 0x40;
    static constexpr int32_t kDeleteParam = 0x80;
    static constexpr int32_t kMemID = 0x100;
    static constexpr int32_t kFlags = 0x200;
    static constexpr int32_t kDllName = 0x400;
    static constexpr int32_t kDllEntry = 0x800;
    static constexpr int32_t kDropParamArray = 0x1000;
    static constexpr int32_t kInvokeKind = 0x2000;

    int32_t MemID = ole::MEMBERID_NIL;
    int32_t Flags = 0;            // FUNCFLAGS; implied flags are added here
    int32_t NewDefaultFlags = 0;  // out: FUIDEFAULT / FDEFAULTBIND newly switched on
    std::u16string DllName;
    ole::DllEntryPoint DllEntry;
    int32_t InvokeKind = 0;
    HelpData Help;
};

}  // namespace zephrin
