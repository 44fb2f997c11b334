// The request of CustomTypeInfo::ModifyMember: the fields FieldMask selects.
#pragma once

#include <cstdint>
#include <string>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"
#include "platform/automation/Variant.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {

struct ModifyData {
    static constexpr int32_t kMemID = 1;
    static constexpr int32_t kVTInfo = 2;
    static constexpr int32_t kConstantValue = 4;
    static constexpr int32_t kFlags = 8;
    static constexpr int32_t kDllName = 16;
    static constexpr int32_t kDllEntry = 32;
    static constexpr int32_t kInvokeKind = 64;

    int32_t FieldMask = 0;
    ole::ComPtr<tli::VarTypeInfo> VTInfo;  // new return type of a function, type of a variable
    int32_t MemID = ole::MEMBERID_NIL;
    int32_t Flags = 0;                     // FUNCFLAGS or VARFLAGS; on return the flags as applied
    std::u16string DllName;
    ole::DllEntryPoint DllEntry;           // entry name or ordinal
    ole::Variant ConstantValue;
    int32_t InvokeKind = 0;
};

}  // namespace zephrin
