// Helpers for the member tests: a library with editable types, type
// descriptions and parameter records, and reading back what a saved and
// reloaded library reports.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ModelTestSupport.h"
#include "typelib/CustomTypeInfo.h"
#include "typelib/modITypeInfoHelper.h"

namespace membertest {

using namespace modeltest;
using zephrin::CustomTypeInfo;
using zephrin::CustomTypeLib;
using zephrin::CustomVarTypeInfo;
using zephrin::FuncData;
using zephrin::HelpData;
using zephrin::ModifyData;
using zephrin::ParamData;

inline constexpr const char16_t* kNoGuid = u"{00000000-0000-0000-0000-000000000000}";

// An intrinsic type description.
inline ComPtr<tli::VarTypeInfo> Ty(VARTYPE vt, int16_t pointers = 0) {
    auto v = CustomVarTypeInfo::New();
    v->SetType(vt, nullptr);
    v->PointerLevel(pointers);
    return v->GetVarTypeInfo();
}

inline ParamData Param(std::u16string name, VARTYPE vt, int32_t flags = PARAMFLAG_FIN, int16_t pointers = 0) {
    ParamData p;
    p.Name = std::move(name);
    p.VTInfo = Ty(vt, pointers);
    p.Flags = flags;
    return p;
}

inline GUID CustKey(int n) {
    GUID g = G(u"{5A170800-60D1-4E2B-9A51-000000001701}");
    g.Data1 += static_cast<uint32_t>(n);
    return g;
}

class MemberTest : public ::testing::Test {
protected:
    void SetUp() override { lib.LibName(u"Members"); }
    void TearDown() override { ole::testing::ClearInjectedFailures(); }

    std::shared_ptr<CustomTypeInfo> Add(const char16_t* name, TYPEKIND kind) {
        return lib.AddCustomTypeInfo(name, kind, kNoGuid);
    }
    // An interface deriving from IDispatch.
    std::shared_ptr<CustomTypeInfo> Interface(const char16_t* name) {
        auto t = Add(name, TKIND_INTERFACE);
        t->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
        return t;
    }
    void Func(CustomTypeInfo& t, const char16_t* name, std::vector<ParamData> params = {},
              int32_t invoke = INVOKE_FUNC, int32_t memid = MEMBERID_NIL, VARTYPE ret = VT_HRESULT) {
        FuncData fd = CustomTypeInfo::DefaultFuncData();
        fd.InvokeKind = invoke;
        fd.MemID = memid;
        if (t.TypeKind() == TKIND_MODULE) {
            fd.DllName = u"widgets.dll";
            fd.DllEntry = Variant(std::u16string_view(name));
        }
        t.AddFunctionEx(name, Ty(ret).get(), params, fd);
        t.LayOut();
    }
    MEMBERID Id(CustomTypeInfo& t, const char16_t* name) {
        return zephrin::modITypeInfoHelper::MemberIDFromName(t.ITypeInfo().get(), name);
    }
    std::string Dump() { return GenerateSaveDump(lib, "members"); }
    std::string Section(const std::string& type) { return TypeSection(Dump(), type); }

    CustomTypeLib lib;
};

// True when text holds every line, each after the one before.
inline ::testing::AssertionResult HasInOrder(const std::string& text, const std::vector<std::string>& lines) {
    size_t pos = 0;
    for (const std::string& l : lines) {
        size_t at = text.find(l, pos);
        if (at == std::string::npos) return ::testing::AssertionFailure() << "missing \"" << l << "\" in\n" << text;
        pos = at + l.size();
    }
    return ::testing::AssertionSuccess();
}

}  // namespace membertest
