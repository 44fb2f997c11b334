// End to end: build a library of every kind through the creation interfaces,
// save it, load it again and compare what the reading interfaces report.
#include <cstdio>
#include <string>

#include "EngineTestSupport.h"

using namespace enginetest;

namespace {

const GUID kLib = {0x5A7E0001, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID kFoo = {0x5A7E0002, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID kCls = {0x5A7E0003, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID kNote = {0x5A7E00FF, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

std::u16string TempPath(const char* name) {
    std::string p = ::testing::TempDir() + name;
    return FromUtf8(p);
}

TEST(EngineSave, ALibraryOfEveryKindReadsTheSameAfterSavingAndLoading) {
    ComPtr<ITypeLib> stdole;
    ASSERT_OK(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, stdole.put()));
    ComPtr<ITypeInfo> dispatch;
    ASSERT_OK(stdole->GetTypeInfoOfGuid(kIID_IDispatch, dispatch.put()));

    const std::u16string path = TempPath("engine_every_kind.tlb");
    ComPtr<ICreateTypeLib2> lib;
    ASSERT_OK(CreateTypeLib2(SYS_WIN32, path.c_str(), lib.put()));
    ASSERT_OK(lib->SetName(u"EveryKind"));
    ASSERT_OK(lib->SetGuid(kLib));
    ASSERT_OK(lib->SetVersion(1, 5));
    ASSERT_OK(lib->SetHelpFileName(u"every.hlp"));
    Variant yes(true);
    ASSERT_OK(lib->SetCustData(kNote, yes.ptr()));

    auto en = NewType(lib.get(), u"Shade", TKIND_ENUM);
    Variant dark = Variant::Int(-5);
    ASSERT_OK(AddVar(en.get(), 0, VAR_CONST, VT_INT, u"Dark", dark.ptr()));
    auto rec = NewType(lib.get(), u"Pair", TKIND_RECORD);
    ASSERT_OK(AddVar(rec.get(), 0, VAR_PERINSTANCE, VT_UI1, u"tag"));
    ASSERT_OK(AddVar(rec.get(), 1, VAR_PERINSTANCE, VT_R8, u"value"));
    auto alias = NewType(lib.get(), u"PairAlias", TKIND_ALIAS);
    TYPEDESC toPair{};
    toPair.vt = VT_USERDEFINED;
    toPair.hreftype = RefTo(alias.get(), Read(rec).get());
    ASSERT_OK(alias->SetTypeDescAlias(&toPair));
    auto mod = NewType(lib.get(), u"Native", TKIND_MODULE);
    ASSERT_OK(AddFunc(mod.get(), 0, FUNC_STATIC, INVOKE_FUNC, VT_I4, {VT_I4}, 7));
    ASSERT_OK(SetNames(mod.get(), 0, {u"Twice", u"n"}));
    ASSERT_OK(mod->DefineFuncAsDllEntry(0, u"native.dll", DllEntryPoint{WORD{12}}));
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(foo->SetGuid(kFoo));
    ASSERT_OK(foo->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), dispatch.get())));
    std::vector<ELEMDESC> params{Elem(VT_USERDEFINED), Elem(VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)};
    params[0].tdesc.hreftype = RefTo(foo.get(), Read(alias).get());
    PARAMDESCEX def{};
    def.cBytes = 24;
    Variant text(u"none");
    def.varDefaultValue = text.get();
    params[1].paramdesc.pparamdescex = &def;
    FUNCDESC f = Func(FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, params);
    ASSERT_OK(foo->AddFuncDesc(0, &f));
    ASSERT_OK(SetNames(foo.get(), 0, {u"Store", u"item", u"label"}));
    ASSERT_OK(foo->SetFuncDocString(0, u"Stores a pair"));
    ASSERT_OK(foo->SetParamCustData(0, 1, kNote, text.ptr()));
    auto cls = NewType(lib.get(), u"Foo", TKIND_COCLASS);
    ASSERT_OK(cls->SetGuid(kCls));
    ASSERT_OK(cls->AddImplType(0, RefTo(cls.get(), Read(foo).get())));
    ASSERT_OK(cls->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT));
    ASSERT_OK(lib->SaveAllChanges());

    ComPtr<ITypeLib> back;
    ASSERT_OK(LoadTypeLibEx(path.c_str(), REGKIND_NONE, back.put()));
    ASSERT_EQ(6u, back->GetTypeInfoCount());
    auto back2 = back.As<ITypeLib2>();
    Variant note;
    ASSERT_OK(back2->GetCustData(kNote, note.put()));
    EXPECT_EQ(VT_BOOL, note.vt());
    TLIBATTR* la = nullptr;
    ASSERT_OK(back->GetLibAttr(&la));
    EXPECT_EQ(kLib, la->guid);
    EXPECT_EQ(5, la->wMinorVerNum);
    back->ReleaseTLibAttr(la);

    // Both libraries answer the same for every type.
    auto read = lib.As<ITypeLib>();
    for (UINT i = 0; i < 6; ++i) {
        ComPtr<ITypeInfo> a, b;
        ASSERT_OK(read->GetTypeInfo(i, a.put()));
        ASSERT_OK(back->GetTypeInfo(i, b.put()));
        TYPEATTR x = Attr(a.get()), y = Attr(b.get());
        EXPECT_EQ(NameOf(a.get()), NameOf(b.get()));
        EXPECT_EQ(x.typekind, y.typekind) << i;
        EXPECT_EQ(x.cFuncs, y.cFuncs) << i;
        EXPECT_EQ(x.cVars, y.cVars) << i;
        EXPECT_EQ(x.cImplTypes, y.cImplTypes) << i;
        EXPECT_EQ(x.cbSizeInstance, y.cbSizeInstance) << i;
        EXPECT_EQ(x.cbSizeVft, y.cbSizeVft) << i;
        EXPECT_EQ(x.wTypeFlags, y.wTypeFlags) << i;
        EXPECT_EQ(x.guid, y.guid) << i;
        for (UINT k = 0; k < x.cFuncs; ++k) {
            FuncInfo fa = FuncAt(a.get(), k), fb = FuncAt(b.get(), k);
            EXPECT_EQ(fa.memid, fb.memid) << i << ":" << k;
            EXPECT_EQ(fa.oVft, fb.oVft) << i << ":" << k;
            EXPECT_EQ(fa.cParams, fb.cParams) << i << ":" << k;
            EXPECT_EQ(NamesOf(a.get(), fa.memid), NamesOf(b.get(), fb.memid));
        }
        for (UINT k = 0; k < x.cVars; ++k) {
            EXPECT_EQ(VarIdAt(a.get(), k), VarIdAt(b.get(), k));
            EXPECT_EQ(OInstAt(a.get(), k), OInstAt(b.get(), k));
        }
    }

    // Details a user edits: the record offset, the constant, the DLL entry,
    // the alias target, the default value and the custom data of a parameter.
    ComPtr<ITypeInfo> pair, shade, native, foo2, half;
    ASSERT_OK(back->GetTypeInfo(1, pair.put()));
    EXPECT_EQ(4u, OInstAt(pair.get(), 1));
    ASSERT_OK(back->GetTypeInfo(0, shade.put()));
    VARDESC* vd = nullptr;
    ASSERT_OK(shade->GetVarDesc(0, &vd));
    EXPECT_EQ(-5, vd->lpvarValue->intVal);
    shade->ReleaseVarDesc(vd);
    ASSERT_OK(back->GetTypeInfo(3, native.put()));
    BStr dll;
    WORD ordinal = 0;
    ASSERT_OK(native->GetDllEntry(7, INVOKE_FUNC, dll.put(), nullptr, &ordinal));
    EXPECT_EQ(u"native.dll", dll.view());
    EXPECT_EQ(12, ordinal);
    ASSERT_OK(back->GetTypeInfo(4, foo2.put()));
    HREFTYPE h = 0;
    ASSERT_OK(foo2->GetRefTypeOfImplType(static_cast<UINT>(-1), &h));
    ASSERT_OK(foo2->GetRefTypeInfo(h, half.put()));
    FUNCDESC* fd = nullptr;
    ASSERT_OK(half->GetFuncDesc(0, &fd));
    ComPtr<ITypeInfo> target;
    ASSERT_OK(half->GetRefTypeInfo(fd->lprgelemdescParam[0].tdesc.hreftype, target.put()));
    EXPECT_EQ(u"PairAlias", NameOf(target.get()));
    ASSERT_NE(nullptr, fd->lprgelemdescParam[1].paramdesc.pparamdescex);
    EXPECT_EQ(u"none", BstrView(fd->lprgelemdescParam[1].paramdesc.pparamdescex->varDefaultValue.bstrVal));
    EXPECT_NE(0, fd->lprgelemdescParam[1].paramdesc.wParamFlags & PARAMFLAG_FHASCUSTDATA);
    half->ReleaseFuncDesc(fd);
    ComPtr<ITypeInfo> base;
    ASSERT_OK(half->GetRefTypeOfImplType(0, &h));
    ASSERT_OK(half->GetRefTypeInfo(h, base.put()));
    EXPECT_EQ(dispatch.get(), base.get());  // the import resolves to the same stdole2 object
    BStr doc;
    ASSERT_OK(half->GetDocumentation(0x60020000, nullptr, doc.put(), nullptr, nullptr));
    EXPECT_EQ(u"Stores a pair", doc.view());
    std::remove(ToUtf8(path).c_str());
}

TEST(EngineSave, AnUnnamedFileCannotBeSavedAndAFailedLayOutStopsTheSave) {
    auto lib = NewLib();
    EXPECT_EQ(TYPE_E_IOERROR, lib->SaveAllChanges());
    const std::u16string path = TempPath("engine_bad_layout.tlb");
    ComPtr<ICreateTypeLib2> named;
    ASSERT_OK(CreateTypeLib2(SYS_WIN32, path.c_str(), named.put()));
    ASSERT_OK(named->SetName(u"Bad"));
    auto dup = NewType(named.get(), u"IDup", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(dup.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 1, 8));
    ASSERT_OK(AddFunc(dup.get(), 1, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 2, 8));
    EXPECT_EQ(TYPE_E_INVALIDSTATE, named->SaveAllChanges());
    FILE* f = std::fopen(ToUtf8(path).c_str(), "rb");
    EXPECT_EQ(nullptr, f);
    if (f) std::fclose(f);
}

}  // namespace
