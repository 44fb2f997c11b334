// One parameter to add, insert or retype (also a return type): its name,
// PARAMFLAGS, type, default value and ParamArray marking.
#pragma once

#include <cstdint>
#include <string>

#include "platform/automation/Unknown.h"
#include "platform/automation/Variant.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {

struct ParamData {
    // The default value, used when Flags has PARAMFLAG_FHASDEFAULT.
    ole::Variant DefaultValue;
    std::u16string Name;
    // PARAMFLAGS; only the low 16 bits reach the library. Operations that take
    // the record add PARAMFLAG_FOPT to a parameter with a default value.
    int32_t Flags = 0;
    ole::ComPtr<tli::VarTypeInfo> VTInfo;
    // Marks the ParamArray parameter.
    bool ParamArray = false;
};

}  // namespace zephrin
