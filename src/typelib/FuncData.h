// A function to add to a type (CustomTypeInfo::AddFunctionEx).
#pragma once

#include <cstdint>
#include <string>

#include "platform/tlbengine/TypeLibTypes.h"
#include "platform/automation/Variant.h"

namespace zephrin {

struct FuncData {
    int32_t InvokeKind = ole::INVOKE_FUNC;  // 1 function, 2 get, 4 put, 8 putref
    int32_t MemID = ole::MEMBERID_NIL;      // -1: the layout assigns one
    int16_t Flags = 0;                      // FUNCFLAGS
    int32_t CallConv = ole::CC_STDCALL;
    int16_t VTableOffset = 0;               // interfaces: 0 lets the layout assign the slot
    int16_t InsertPosition = -1;            // function index; negative appends
    std::u16string DllName;                 // module functions
    // Module functions: a 16-bit integer (ordinal) or a string (entry name).
    ole::Variant DllEntry;
};

}  // namespace zephrin
