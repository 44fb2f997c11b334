// Walks every type reference made by the types of one library (base and
// implemented interfaces, alias targets, variable, return and parameter
// types) and reports each, with the place it was found, to a callback. The
// walk only reads the library.
#pragma once

#include <cstdint>

#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/automation/Unknown.h"

namespace zephrin::dialogs {

struct ITypeInfoDependencyWalker : ole::IUnknown {
    static constexpr ole::IID kIID = {0x5949FB60, 0xB176, 0x11D4, {0x84, 0x17, 0xD4, 0x12, 0x03, 0xC1, 0x00, 0x00}};
    // The walk begins the library's type with this index.
    virtual ole::HRESULT OnStartNewType(int32_t typeIndex) = 0;
    // One reference. lib is null when the type lies in the walked library.
    // direct is false when reached through a pointer or a fixed-size array,
    // or for an interface implemented by a coclass.
    virtual ole::HRESULT OnReferenceTypeInfo(ole::ITypeInfo* type, int32_t typeKind, int32_t index,
                                             ole::ITypeLib* lib, bool direct) = 0;
};

// Where a reference was found, passed just before the reference it describes.
enum class DependencyContext : int32_t {
    AliasTarget = 1,
    BaseInterface = 2,
    ImplementedInterface = 3,
    DispatchVariable = 4,
    RecordField = 5,
    ModuleVariable = 6,
    ModuleFunctionReturn = 7,
    FunctionReturn = 8,
    ModuleFunctionParam = 9,
    FunctionParam = 10,
};

struct ITypeInfoDependencyWalker2 : ITypeInfoDependencyWalker {
    static constexpr ole::IID kIID = {0xB23D5510, 0x1D8F, 0x11D6, {0x84, 0xDB, 0xD4, 0x12, 0x03, 0xC1, 0x00, 0x00}};
    // paramIndex is -1 outside parameters; the value parameter of a property
    // put at position j gives -1 - j.
    virtual ole::HRESULT OnSetContext(int32_t contextKind, int32_t memberId, int32_t invokeKind, int32_t paramIndex,
                                      int32_t paramFlags) = 0;
};

namespace modDependencyWalker {

// Walks the whole library in type index order. The first failing platform
// call or callback stops the walk and raises its error.
void WalkTypeLib(ole::ITypeLib* lib, ITypeInfoDependencyWalker* walker);

}  // namespace modDependencyWalker

}  // namespace zephrin::dialogs
