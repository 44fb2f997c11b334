// Building libraries through the creation interfaces for the TypeLib
// Information tests, and small helpers to read the objects.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/oleauto/TypeLibData.h"
#include "platform/oleauto/TypeLibInterfaces.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace tlitest {

using namespace ole;
using tli::LONG;

#define ASSERT_OK(expr) ASSERT_EQ((expr), ole::S_OK)
#define EXPECT_OK(expr) EXPECT_EQ((expr), ole::S_OK)

// Owner of TYPEDESC chains handed to the creation interfaces.
class TypeDescs {
public:
    TYPEDESC Base(VARTYPE vt) {
        TYPEDESC t{};
        t.vt = vt;
        return t;
    }
    TYPEDESC User(HREFTYPE href) {
        TYPEDESC t{};
        t.vt = VT_USERDEFINED;
        t.hreftype = href;
        return t;
    }
    TYPEDESC Ptr(TYPEDESC inner) { return Wrap(VT_PTR, inner); }
    TYPEDESC SafeArray(TYPEDESC elem) { return Wrap(VT_SAFEARRAY, elem); }
    // dims: (lower bound, element count) per dimension.
    TYPEDESC CArray(TYPEDESC elem, std::vector<std::pair<LONG, ULONG>> dims) {
        const size_t size = sizeof(ARRAYDESC) + sizeof(SAFEARRAYBOUND) * (dims.empty() ? 0 : dims.size() - 1);
        arrays_.push_back(std::make_unique<std::byte[]>(size));
        auto* ad = reinterpret_cast<ARRAYDESC*>(arrays_.back().get());
        ad->tdescElem = elem;
        ad->cDims = static_cast<USHORT>(dims.size());
        for (size_t i = 0; i < dims.size(); ++i) {
            ad->rgbounds[i].lLbound = dims[i].first;
            ad->rgbounds[i].cElements = dims[i].second;
        }
        TYPEDESC t{};
        t.vt = VT_CARRAY;
        t.lpadesc = ad;
        return t;
    }

private:
    TYPEDESC Wrap(VARTYPE vt, TYPEDESC inner) {
        nodes_.push_back(std::make_unique<TYPEDESC>(inner));
        TYPEDESC t{};
        t.vt = vt;
        t.lptdesc = nodes_.back().get();
        return t;
    }
    std::vector<std::unique_ptr<TYPEDESC>> nodes_;
    std::vector<std::unique_ptr<std::byte[]>> arrays_;
};

struct Param {
    std::u16string name;
    TYPEDESC type{};
    USHORT flags = PARAMFLAG_FIN;
    std::optional<Variant> defaultValue = std::nullopt;
};

struct Func {
    std::u16string name;
    INVOKEKIND invkind = INVOKE_FUNC;
    TYPEDESC ret{};
    std::vector<Param> params{};
    SHORT cParamsOpt = 0;
    MEMBERID memid = MEMBERID_NIL;
    WORD flags = 0;  // FUNCFLAGS
};

// Adds a function at index and names it (a put's value parameter stays unnamed).
void AddFunc(ICreateTypeInfo* type, UINT index, const Func& f, FUNCKIND kind = FUNC_PUREVIRTUAL);
// Adds a constant or a field/property variable and names it.
void AddVar(ICreateTypeInfo* type, UINT index, const std::u16string& name, TYPEDESC t, VARKIND kind,
            const VARIANT* value = nullptr, MEMBERID memid = MEMBERID_NIL);

ComPtr<ICreateTypeLib2> NewLibrary(const std::u16string& name, const std::u16string& file = u"");
ComPtr<ICreateTypeInfo2> NewType(ICreateTypeLib2* lib, const std::u16string& name, TYPEKIND kind);
ComPtr<ITypeLib> StdOle2();
ComPtr<ITypeInfo> StdOle2Type(const GUID& iid);
HREFTYPE RefTo(ICreateTypeInfo* from, ITypeInfo* to);
ComPtr<ITypeInfo> AsTypeInfo(IUnknown* p);
ComPtr<ITypeLib> AsTypeLib(IUnknown* p);

inline constexpr GUID kSampleLibGuid = {0x6A1C0E55, 0x1B0D, 0x4E6C, {0x8F, 0x11, 0x20, 0x33, 0x44, 0x55, 0x66, 0x01}};
inline constexpr GUID kShapeIid = {0x6A1C0E55, 0x1B0D, 0x4E6C, {0x8F, 0x11, 0x20, 0x33, 0x44, 0x55, 0x66, 0x02}};
inline constexpr GUID kCountDataGuid = {0x6A1C0E55, 0x1B0D, 0x4E6C, {0x8F, 0x11, 0x20, 0x33, 0x44, 0x55, 0x66, 0x03}};

// The sample library "Shapes" (see TliTestLibrary.cpp for its IDL-like outline),
// laid out. file: where SaveAllChanges writes it ("" for in-memory).
ComPtr<ICreateTypeLib2> BuildShapes(const std::u16string& file = u"");

tli::TLIApplication* App();
ComPtr<tli::TypeLibInfo> InfoOf(ITypeLib* lib);
ComPtr<tli::TypeInfo> TypeNamed(tli::TypeLibInfo* lib, std::u16string_view name);
ComPtr<tli::MemberInfo> MemberNamed(tli::Members* members, std::u16string_view name, LONG invokeKind = 0);
std::u16string NameOf(tli::TypeInfo* t);
std::u16string NameOf(tli::MemberInfo* m);
std::u16string NameOf(tli::ParameterInfo* p);
std::u16string NameOf(tli::TypeLibInfo* l);
std::vector<std::u16string> Names(tli::Members* members);
VARTYPE VarTypeOf(tli::VarTypeInfo* v);
SHORT PointerLevelOf(tli::VarTypeInfo* v);

}  // namespace tlitest
