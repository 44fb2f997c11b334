// Helpers for the regeneration tests: loading, saving and dumping libraries,
// and finding their types.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/tlbfiles/TypeLibFiles.h"
#include "regen/TLBModifier.h"
#include "support/ErrorCapture.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "support/TypeLibBuilder.h"
#include "tools/DumpTypeLib.h"
#include "typelib/TypeLibSupport.h"

namespace regentest {

using namespace testsupport;
using zephrin::ErrorRecord;
using zephrin::TLBModifier;
using zephrin::typelib_detail::TakeBstr;
namespace fs = std::filesystem;

inline ComPtr<ITypeLib> LoadFile(const fs::path& file) {
    RegisterFileServices();
    ComPtr<ITypeLib> lib;
    EXPECT_OK(LoadTypeLibEx(file.u16string().c_str(), REGKIND_NONE, lib.put())) << file;
    return lib;
}

// Saves a library built with file as its path and loads it back.
inline ComPtr<ITypeLib> SaveAndLoad(ICreateTypeLib2* lib, const fs::path& file) {
    EXPECT_OK(lib->SaveAllChanges());
    return LoadFile(file);
}

inline std::string DumpOf(const fs::path& file) {
    std::string dump;
    EXPECT_OK(tlbtools::DumpTypeLibFile(file.u16string(), &dump)) << file;
    return dump;
}

inline ComPtr<tli::TypeLibInfo> Info(ITypeLib* lib) { return zephrin::typelib_detail::TliTypeLibInfo(lib); }
inline ComPtr<tli::TypeInfo> Tli(ITypeInfo* ti) { return zephrin::typelib_detail::TliTypeInfo(ti); }

inline ComPtr<ITypeInfo> TypeNamed(ITypeLib* lib, std::u16string_view name) {
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        BSTR n = nullptr;
        EXPECT_OK(lib->GetDocumentation(static_cast<INT>(i), &n, nullptr, nullptr, nullptr));
        if (TakeBstr(n) == name) {
            ComPtr<ITypeInfo> ti;
            EXPECT_OK(lib->GetTypeInfo(i, ti.put()));
            return ti;
        }
    }
    ADD_FAILURE() << "no type " << ToUtf8(std::u16string(name));
    return nullptr;
}

inline std::u16string NameOf(ITypeInfo* ti) {
    BSTR n = nullptr;
    EXPECT_OK(ti->GetDocumentation(MEMBERID_NIL, &n, nullptr, nullptr, nullptr));
    return TakeBstr(n);
}

inline std::vector<std::u16string> TypeNames(ITypeLib* lib) {
    std::vector<std::u16string> names;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        EXPECT_OK(lib->GetTypeInfo(i, ti.put()));
        names.push_back(NameOf(ti.get()));
    }
    return names;
}

// The type that ti's implemented type (or base) index refers to.
inline ComPtr<ITypeInfo> ImplType(ITypeInfo* ti, UINT index) {
    HREFTYPE href = 0;
    EXPECT_OK(ti->GetRefTypeOfImplType(index, &href));
    ComPtr<ITypeInfo> ref;
    EXPECT_OK(ti->GetRefTypeInfo(href, ref.put()));
    return ref;
}

// The user-defined type at the end of a TYPEDESC chain of ti.
inline ComPtr<ITypeInfo> UserType(ITypeInfo* ti, const TYPEDESC& desc) {
    const TYPEDESC* t = &desc;
    while (t->vt == VT_PTR || t->vt == VT_SAFEARRAY) t = t->lptdesc;
    if (t->vt != VT_USERDEFINED) return nullptr;
    ComPtr<ITypeInfo> ref;
    EXPECT_OK(ti->GetRefTypeInfo(t->hreftype, ref.put()));
    return ref;
}

// The type of parameter param of function func of ti.
inline ComPtr<ITypeInfo> ParamType(ITypeInfo* ti, UINT func, UINT param) {
    FUNCDESC* fd = nullptr;
    EXPECT_OK(ti->GetFuncDesc(func, &fd));
    if (!fd) return nullptr;
    ComPtr<ITypeInfo> out = UserType(ti, fd->lprgelemdescParam[param].tdesc);
    ti->ReleaseFuncDesc(fd);
    return out;
}

inline ComPtr<ITypeLib> HolderOf(ITypeInfo* ti) {
    ComPtr<ITypeLib> lib;
    UINT index = 0;
    EXPECT_OK(ti->GetContainingTypeLib(lib.put(), &index));
    return lib;
}

inline TYPEATTR AttrOf(ITypeInfo* ti) {
    TYPEATTR* a = nullptr;
    EXPECT_OK(ti->GetTypeAttr(&a));
    TYPEATTR copy = *a;
    ti->ReleaseTypeAttr(a);
    return copy;
}

}  // namespace regentest
