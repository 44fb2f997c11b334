// The state of one generation of TLBModifier, shared by its source files.
#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "regen/TLBModifier.h"

namespace zephrin {

struct TLBModifier::Generation {
    ole::ComPtr<ole::ICreateTypeLib2> lib;
    bool saving = false;
    // The walk when no request built the final list: the starting types in
    // their own order.
    std::vector<TypeListRecord> ownWalk;
    // The new types by position.
    std::vector<ole::ComPtr<ole::ICreateTypeInfo2>> created;
    std::vector<ole::ComPtr<ole::ITypeInfo>> createdRead;
    TypeDescOwner owner;

    // The new library's own help file and help string DLL, and the values in
    // force while types and members are created.
    std::u16string libHelpFile;
    std::u16string libHelpStringDll;
    std::u16string inForceHelpFile;
    std::u16string inForceHelpStringDll;

    // What the reference being mapped is: the kind of the type being filled,
    // the context (kBaseInterface or kMemberType) and the flags of the coclass
    // entry or parameter.
    static constexpr int16_t kBaseInterface = 2;
    static constexpr int16_t kMemberType = 3;
    ole::TYPEKIND fillingKind = ole::TKIND_ENUM;
    int16_t refContext = 0;
    int32_t refFlags = 0;
    // Where the reference being mapped stands, to name it when its type
    // can't be found.
    struct Reference {
        enum What { kNone, kBase, kDeclaredOver, kImplType, kAlias, kVariable, kParam, kReturn };
        What what = kNone;
        ole::ComPtr<ole::ITypeInfo> source;  // the type being filled
        ole::UINT index = 0;                 // implemented type, variable or function
        ole::UINT param = 0;
    } reference;
    void Refer(Reference::What what, ole::ITypeInfo* source, ole::UINT index = 0, ole::UINT param = 0) {
        reference.what = what;
        if (reference.source.get() != source) reference.source = ole::ComPtr<ole::ITypeInfo>(source);
        reference.index = index;
        reference.param = param;
    }

    // The references made for the member types of the type being copied
    // (source HREFTYPE, new HREFTYPE), for the source and new type they
    // belong to; and whether the last mapping made an unresolved placeholder.
    static constexpr size_t kMappedRefs = 64;
    ole::ComPtr<ole::ITypeInfo> mappedSource;
    ole::ComPtr<ole::ICreateTypeInfo2> mappedDest;
    std::vector<std::pair<ole::HREFTYPE, ole::HREFTYPE>> mappedRefs;
    bool madeUnresolved = false;

    // Per library met: its help file and help string DLL.
    std::unordered_map<ole::IUnknown*, LibraryHelp> libraryHelp;
    // The library last asked about, as asked (its members ask one after the
    // other), and its entry above.
    ole::ITypeLib* lastHelpLib = nullptr;
    const LibraryHelp* lastHelp = nullptr;
    std::unordered_map<ole::IUnknown*, bool> unresolvedLibraries;
    std::vector<ole::ComPtr<ole::ITypeLib>> keepAlive;  // keys of the two maps above
};

namespace regen_detail {

// Case-insensitive key of a type name.
std::u16string FoldName(std::u16string_view name);
// The identity of a library (its IUnknown).
ole::IUnknown* LibraryKey(ole::ITypeLib* lib);
// The library holding ti and ti's index there.
ole::ComPtr<ole::ITypeLib> ContainingLib(ole::ITypeInfo* ti, ole::UINT* index = nullptr);
// A failing HRESULT of a callback as an error record: a run-time error number
// that was carried as 0x800A00nn comes back as nn.
[[noreturn]] void RaiseCallbackError(ole::HRESULT hr);
inline void CheckCallback(ole::HRESULT hr) {
    if (ole::FAILED(hr)) RaiseCallbackError(hr);
}
// Raises hr with a description naming what failed, followed by the text of hr.
[[noreturn]] void RaiseNamed(ole::HRESULT hr, std::u16string description);
// The name of a type (MEMBERID_NIL documentation).
std::u16string TypeName(ole::ITypeInfo* ti);
// The type's name after its library's: "Library.Type".
std::u16string QualifiedTypeName(ole::ITypeInfo* ti);
// True when the description names a user-defined type.
bool HasUserDefinedType(const ole::TYPEDESC& desc);
// The name of member index (a function, or a variable when isVar) of ti;
// empty when it can't be read.
std::u16string MemberName(ole::ITypeInfo* ti, ole::UINT index, bool isVar);

}  // namespace regen_detail
}  // namespace zephrin
