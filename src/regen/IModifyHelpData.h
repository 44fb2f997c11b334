// The help-data provider of a regeneration: it may rewrite the help data of
// the library, of each type and of each member before they are written.
//
// Like the other callbacks of the regeneration engine, a method reports a
// failure either by returning a failing HRESULT or by raising an error record;
// either ends the generation with nothing saved, and a raised record reaches
// the caller unchanged.
#pragma once

#include "platform/tlbinf/TliInterfaces.h"
#include "typelib/HelpData.h"

namespace zephrin {

struct IModifyHelpData : ole::IUnknown {
    static constexpr ole::IID kIID = {0xB44039F8, 0x2898, 0x11D4, {0xBC, 0xC0, 0xD4, 0x12, 0x03, 0xC1, 0x00, 0x00}};
    // Once per generation, after the library's help data was read.
    virtual ole::HRESULT ModifyLibHelp(tli::TypeLibInfo* library, HelpData& help) = 0;
    // fieldMask 6 (HelpFile, HelpStringDll) before a type is created; 25
    // (DocString, HelpContext, HelpStringContext) before its help is written.
    virtual ole::HRESULT ModifyTypeHelp(tli::TypeInfo* type, ole::LONG fieldMask, HelpData& help) = 0;
    // Once per copied member, before the member is added.
    virtual ole::HRESULT ModifyMemberHelp(tli::TypeInfo* type, tli::MemberInfo* member, HelpData& help) = 0;
};

}  // namespace zephrin
