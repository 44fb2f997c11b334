// Internal helpers and factories shared by the TypeLib Information objects.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/tlbinf/TliInterfaces.h"

namespace tli::detail {

using ole::ComPtr;
using ole::E_POINTER;
using ole::S_OK;

// Empties an out-parameter; E_POINTER when it is null.
template <class T>
inline HRESULT Start(T** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return S_OK;
}
inline HRESULT Start(std::u16string* out) {
    if (!out) return E_POINTER;
    out->clear();
    return S_OK;
}
inline HRESULT Start(VARIANT* out) {
    if (!out) return E_POINTER;
    ole::VariantInit(out);
    return S_OK;
}
template <class T>
    requires(std::is_arithmetic_v<T> || std::is_enum_v<T>)
inline HRESULT Start(T* out) {
    if (!out) return E_POINTER;
    *out = T{};
    return S_OK;
}

// Hands the reference held by p to the caller.
template <class T, class U>
inline HRESULT GiveOut(ComPtr<U>&& p, T** out) {
    *out = p.Detach();
    return S_OK;
}

// Case-insensitive key of a name (ASCII and Latin-1 letters).
std::u16string FoldName(std::u16string_view name);

// A BSTR taken over as text (freed).
std::u16string TakeBstr(ole::BSTR b);

// The descriptors of one type, read once and shared by a member list and the
// objects it hands out. Released with the type's own Release* calls.
struct TypeSnapshot {
    ComPtr<ole::ITypeInfo> ti;
    ComPtr<ole::ITypeInfo2> ti2;  // null when the type offers no ITypeInfo2
    ole::TYPEKIND kind = ole::TKIND_ENUM;
    std::vector<ole::VARDESC*> vars;
    std::vector<ole::FUNCDESC*> funcs;

    TypeSnapshot() = default;
    TypeSnapshot(const TypeSnapshot&) = delete;
    TypeSnapshot& operator=(const TypeSnapshot&) = delete;
    ~TypeSnapshot();

    static HRESULT Take(ole::ITypeInfo* type, std::shared_ptr<const TypeSnapshot>* out);
};

// Factories of the objects (each returns a new object with one reference).
HRESULT NewTypeLibInfo(ole::ITypeLib* lib, TypeLibInfo** out);
HRESULT NewTypeInfo(ole::ITypeInfo* type, TypeInfo** out);
// A description of a TYPEDESC read from owner (whose references it names).
HRESULT NewVarTypeInfo(const ole::TYPEDESC& desc, ole::ITypeInfo* owner, VarTypeInfo** out);
HRESULT NewMembers(ole::ITypeInfo* type, bool grouped, Members** out);
HRESULT NewTypeInfos(ole::ITypeLib* lib, TypeInfos** out);

}  // namespace tli::detail
