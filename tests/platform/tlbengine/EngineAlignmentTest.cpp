// Each type's alignment setting (SetAlignment) caps the natural alignment of
// what it holds: records and unions lay out their fields by it, an alias
// reports the aliased type's alignment under it, and a dispinterface widens
// to the alignment of its properties. A module has no instance. The values
// below are those the reference dumper reads from the saved file, and a copy
// made through the creation interfaces (tlbcopy) saves the same layout.
#include <cstdio>
#include <string>

#include "support/EngineTestSupport.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "tools/CopyTypeLib.h"
#include "tools/DumpTypeLib.h"

using namespace enginetest;

namespace {

std::u16string TempPath(const std::string& name) { return FromUtf8(::testing::TempDir() + name); }

TYPEDESC UserType(ICreateTypeInfo* from, ITypeInfo* target) { return User(RefTo(from, target)); }

void ExpectLayout(ITypeInfo* ti, ULONG size, WORD align, std::vector<ULONG> offsets = {}) {
    TYPEATTR a = Attr(ti);
    EXPECT_EQ(size, a.cbSizeInstance) << ole::ToUtf8(NameOf(ti));
    EXPECT_EQ(align, a.cbAlignment) << ole::ToUtf8(NameOf(ti));
    for (UINT i = 0; i < offsets.size(); ++i) EXPECT_EQ(offsets[i], VarAt(ti, i).oInst) << ole::ToUtf8(NameOf(ti)) << i;
}

// {long a; double b; VARIANT v; short s; CURRENCY c} with the given setting.
ComPtr<ICreateTypeInfo2> Sample(ICreateTypeLib2* lib, const char16_t* name, WORD alignment) {
    auto rec = NewType(lib, name, TKIND_RECORD);
    EXPECT_OK(rec->SetAlignment(alignment));
    const VARTYPE fields[] = {VT_I4, VT_R8, VT_VARIANT, VT_I2, VT_CY};
    const char16_t* names[] = {u"a", u"b", u"v", u"s", u"c"};
    for (UINT i = 0; i < 5; ++i) EXPECT_OK(AddVar(rec.get(), i, VAR_PERINSTANCE, fields[i], names[i]));
    return rec;
}

// A library holding every case, laid out by saving.
void BuildAlignedLibrary(ICreateTypeLib2* lib) {
    ComPtr<ITypeLib> stdole;
    ASSERT_OK(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, stdole.put()));
    ComPtr<ITypeInfo> dispatch;
    ASSERT_OK(stdole->GetTypeInfoOfGuid(kIID_IDispatch, dispatch.put()));
    ASSERT_OK(lib->SetName(u"Aligned"));
    ASSERT_OK(lib->SetGuid(GUID{0x5A7E0A00, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}}));

    auto wide = Sample(lib, u"Wide", 8);
    Sample(lib, u"Plain", 4);
    Sample(lib, u"Tight", 2);

    // A record holding the 8-aligned one: its own setting caps the member.
    for (WORD setting : {WORD{4}, WORD{8}}) {
        auto outer = NewType(lib, setting == 4 ? u"Holder" : u"WideHolder", TKIND_RECORD);
        ASSERT_OK(outer->SetAlignment(setting));
        ASSERT_OK(AddVar(outer.get(), 0, VAR_PERINSTANCE, VT_I2, u"tag"));
        ASSERT_NO_FATAL_FAILURE(testsupport::AddVar(outer.get(), 1, u"body", UserType(outer.get(), Read(wide).get())));
    }

    // {char c; double d; BYTE bytes[9]} as a union.
    auto either = NewType(lib, u"Either", TKIND_UNION);
    ASSERT_OK(either->SetAlignment(8));
    ASSERT_OK(AddVar(either.get(), 0, VAR_PERINSTANCE, VT_I1, u"c"));
    ASSERT_OK(AddVar(either.get(), 1, VAR_PERINSTANCE, VT_R8, u"d"));
    TypeDescs d;
    ASSERT_NO_FATAL_FAILURE(testsupport::AddVar(either.get(), 2, u"bytes", d.CArray(Td(VT_UI1), {{0, 9}})));

    auto money = NewType(lib, u"Money", TKIND_ALIAS);
    ASSERT_OK(money->SetAlignment(8));
    TYPEDESC cy = Td(VT_CY);
    ASSERT_OK(money->SetTypeDescAlias(&cy));
    auto wideAlias = NewType(lib, u"WideAlias", TKIND_ALIAS);
    TYPEDESC toWide = UserType(wideAlias.get(), Read(wide).get());
    ASSERT_OK(wideAlias->SetTypeDescAlias(&toWide));

    // Dispinterfaces: a VARIANT property under setting 8, a double under the
    // default, a short under 8, and no property under 8.
    struct Disp {
        const char16_t* name;
        WORD setting;
        VARTYPE property;
    } disps[] = {{u"DWide", 8, VT_VARIANT}, {u"DPlain", 4, VT_R8}, {u"DShort", 8, VT_I2}, {u"DEmpty", 8, VT_EMPTY}};
    for (const Disp& d : disps) {
        auto disp = NewType(lib, d.name, TKIND_DISPATCH);
        ASSERT_OK(disp->SetAlignment(d.setting));
        ASSERT_OK(disp->AddImplType(0, RefTo(disp.get(), dispatch.get())));
        ASSERT_OK(AddFunc(disp.get(), 0, FUNC_DISPATCH, INVOKE_FUNC, VT_VOID, {}, 1));
        ASSERT_OK(SetNames(disp.get(), 0, {u"Run"}));
        if (d.property != VT_EMPTY) {
            ASSERT_OK(AddVar(disp.get(), 0, VAR_DISPATCH, d.property, u"Value", nullptr, 2));
        }
    }

    auto mod = NewType(lib, u"Native", TKIND_MODULE);
    ASSERT_OK(AddFunc(mod.get(), 0, FUNC_STATIC, INVOKE_FUNC, VT_I4, {}, 1));
    ASSERT_OK(AddFunc(mod.get(), 1, FUNC_STATIC, INVOKE_FUNC, VT_I4, {}, 2));
    ASSERT_OK(SetNames(mod.get(), 0, {u"First"}));
    ASSERT_OK(SetNames(mod.get(), 1, {u"Second"}));
    ASSERT_OK(mod->DefineFuncAsDllEntry(0, u"native.dll", DllEntryPoint{WORD{1}}));
    ASSERT_OK(mod->DefineFuncAsDllEntry(1, u"native.dll", DllEntryPoint{WORD{2}}));
    Variant three = Variant::Int(3);
    ASSERT_OK(AddVar(mod.get(), 0, VAR_CONST, VT_INT, u"Three", three.ptr()));
}

void ExpectAlignedLibrary(ITypeLib* lib) {
    auto type = [&](const char16_t* name) {
        ComPtr<ITypeInfo> ti;
        ComPtr<ITypeComp> comp;
        EXPECT_OK(lib->GetTypeComp(comp.put()));
        ComPtr<ITypeComp> unused;
        if (comp) {
            EXPECT_OK(comp->BindType(const_cast<LPOLESTR>(name), 0, ti.put(), unused.put()));
        }
        return ti;
    };
    ExpectLayout(type(u"Wide").get(), 48, 8, {0, 8, 16, 32, 40});
    ExpectLayout(type(u"Plain").get(), 40, 4, {0, 4, 12, 28, 32});
    ExpectLayout(type(u"Tight").get(), 38, 2, {0, 4, 12, 28, 30});
    ExpectLayout(type(u"Holder").get(), 52, 4, {0, 4});
    ExpectLayout(type(u"WideHolder").get(), 56, 8, {0, 8});
    ExpectLayout(type(u"Either").get(), 16, 8, {0, 0, 0});
    ExpectLayout(type(u"Money").get(), 8, 8);
    ExpectLayout(type(u"WideAlias").get(), 48, 4);
    ExpectLayout(type(u"DWide").get(), 8, 8);
    ExpectLayout(type(u"DPlain").get(), 4, 4);
    ExpectLayout(type(u"DShort").get(), 4, 4);
    ExpectLayout(type(u"DEmpty").get(), 4, 4);
    ExpectLayout(type(u"Native").get(), 2, 1);
}

TEST(EngineAlignment, TheAlignmentSettingCapsNaturalAlignmentInEveryKindThatHasOne) {
    auto lib = NewLib();
    BuildAlignedLibrary(lib.get());
    if (HasFatalFailure()) return;
    const UINT n = lib.As<ITypeLib>()->GetTypeInfoCount();
    for (UINT i = 0; i < n; ++i) {
        ComPtr<ITypeInfo> ti;
        ASSERT_OK(lib.As<ITypeLib>()->GetTypeInfo(i, ti.put()));
        ASSERT_OK(ti.As<ICreateTypeInfo>()->LayOut());
    }
    ExpectAlignedLibrary(lib.As<ITypeLib>().get());

    // Changing the setting and laying out again moves the fields.
    ComPtr<ITypeInfo> wide;
    ASSERT_OK(lib.As<ITypeLib>()->GetTypeInfo(0, wide.put()));
    ASSERT_OK(wide.As<ICreateTypeInfo>()->SetAlignment(1));
    ASSERT_OK(wide.As<ICreateTypeInfo>()->LayOut());
    ExpectLayout(wide.get(), 38, 1, {0, 4, 12, 28, 30});

    // The natural alignment, whatever the setting: the widest field's, a
    // record field's being the one it has (Holder: its short, Wide now 1).
    WORD natural[3] = {};
    for (UINT i : {0u, 3u, 6u}) {
        ComPtr<ITypeInfo> ti;
        ASSERT_OK(lib.As<ITypeLib>()->GetTypeInfo(i, ti.put()));
        (void)ti.As<ICreateTypeInfoAlignment>()->GetNaturalAlignment(&natural[i / 3]);
    }
    EXPECT_EQ(std::vector<WORD>(natural, natural + 3), (std::vector<WORD>{8, 2, 0}));  // Money: an alias
}

TEST(EngineAlignment, ACopyThroughTheCreationInterfacesSavesTheSameLayout) {
    RegisterFileServices();
    const std::u16string original = TempPath("engine_aligned.tlb");
    const std::u16string copy = TempPath("engine_aligned_copy.tlb");
    ComPtr<ICreateTypeLib2> lib;
    ASSERT_OK(CreateTypeLib2(SYS_WIN32, original.c_str(), lib.put()));
    BuildAlignedLibrary(lib.get());
    if (HasFatalFailure()) return;
    ASSERT_OK(lib->SaveAllChanges());

    ComPtr<ITypeLib> loaded;
    ASSERT_OK(LoadTypeLibEx(original.c_str(), REGKIND_NONE, loaded.put()));
    ExpectAlignedLibrary(loaded.get());

    ComPtr<ICreateTypeLib2> dst;
    ASSERT_OK(CreateTypeLib2(SYS_WIN32, copy.c_str(), dst.put()));
    std::string what;
    ASSERT_OK(tlbtools::CopyTypeLib(loaded.get(), dst.get(), &what)) << what;
    ASSERT_OK(dst->SaveAllChanges());
    std::string before, after;
    ASSERT_OK(tlbtools::DumpTypeLibFile(original, &before));
    ASSERT_OK(tlbtools::DumpTypeLibFile(copy, &after));
    EXPECT_EQ(before, after);
    std::remove(ToUtf8(original).c_str());
    std::remove(ToUtf8(copy).c_str());
}

}  // namespace
