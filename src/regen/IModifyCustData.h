// The custom-data modifier of a regeneration: it sees, and may replace, the
// custom data of every item before it is written to the new library. Failures
// end the generation as for IModifyHelpData.
#pragma once

#include <cstdint>

#include "platform/automation/CustData.h"
#include "platform/automation/Unknown.h"

namespace zephrin {

// Which item's custom data is being copied.
struct CustDataContext {
    enum Kind : int32_t { kLibrary = 1, kType, kImplType, kVariable, kFunction, kParameter };
    int32_t ItemKind = kLibrary;
    // The source type's index in its own library (-1 for the library).
    int32_t TypeIndex = -1;
    // The implemented-type, variable or function index in the new type.
    int32_t ItemIndex = 0;
    int32_t ParamIndex = 0;
    // ITypeLib2 or ITypeInfo2 of the item's origin.
    ole::IUnknown* Source = nullptr;
    // ICreateTypeLib2 or ICreateTypeInfo2 of the new library or type.
    ole::IUnknown* Destination = nullptr;
};

struct IModifyCustData : ole::IUnknown {
    static constexpr ole::IID kIID = {0x7DB6AC43, 0xE474, 0x11D4, {0x84, 0x4F, 0xD4, 0x12, 0x03, 0xC1, 0x00, 0x00}};
    // data holds every item of the source item. The modifier may change it;
    // when it replaces the block with one of its own it sets modifierOwnsData,
    // and the engine then hands the block to FreeCustData instead of clearing
    // it. A block left with no items writes no custom data for the item.
    virtual ole::HRESULT ModifyCustData(const CustDataContext& context, ole::CUSTDATA& data,
                                        bool& modifierOwnsData) = 0;
    virtual ole::HRESULT FreeCustData(ole::CUSTDATA& data) = 0;
};

}  // namespace zephrin
