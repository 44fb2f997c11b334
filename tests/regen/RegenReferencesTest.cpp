// A reference into another library is saved so that it reloads to the library
// it names. A library file names it by GUID, so a reference into a library
// without one would be read back into another library without a GUID (the
// referring one first): such a save is refused, naming that library.
#include <map>

#include "RegenTestSupport.h"
#include "platform/tlbfiles/MsftWriter.h"

namespace regentest {
namespace {

using zephrin::ErrorReportText;

constexpr GUID kOtherGuid = {0x7B1C0E55, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

// library Other { enum Shade { Dark }; }, saved to file and loaded from there
// (with a GUID when one is given).
ComPtr<ITypeLib> Other(const fs::path& file, const GUID* guid) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Other", file.u16string());
    if (guid) {
        EXPECT_OK(lib->SetGuid(*guid));
    }
    auto shade = NewType(lib.get(), u"Shade", TKIND_ENUM);
    const Variant dark = Variant::Int(0);
    AddVar(shade.get(), 0, u"Dark", Vt(VT_INT), VAR_CONST, &dark);
    EXPECT_OK(lib->SaveAllChanges());
    return LoadFile(file);
}

// library Referring { enum Colors { Red }; typedef Other.Shade Tone; } (no GUID).
ComPtr<ITypeLib> Referring(ITypeLib* other) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Referring");
    auto colors = NewType(lib.get(), u"Colors", TKIND_ENUM);
    const Variant red = Variant::Int(0);
    AddVar(colors.get(), 0, u"Red", Vt(VT_INT), VAR_CONST, &red);
    auto tone = NewType(lib.get(), u"Tone", TKIND_ALIAS);
    ComPtr<ITypeInfo> shade;
    EXPECT_OK(other->GetTypeInfo(0, shade.put()));
    TYPEDESC target = User(RefTo(tone.get(), shade.get()));
    EXPECT_OK(tone->SetTypeDescAlias(&target));
    return AsTypeLib(lib.get());
}

// The library and the name of the type that alias index of lib stands for.
std::pair<std::u16string, std::u16string> AliasTarget(ITypeLib* lib, UINT index) {
    ComPtr<ITypeInfo> alias, target;
    ComPtr<ITypeLib> owner;
    EXPECT_OK(lib->GetTypeInfo(index, alias.put()));
    HREFTYPE href = zephrin::typelib_detail::TypeAttr(alias.get())->tdescAlias.hreftype;
    if (FAILED(alias->GetRefTypeInfo(href, target.put()))) return {};
    UINT at = 0;
    EXPECT_OK(target->GetContainingTypeLib(owner.put(), &at));
    BSTR libName = nullptr, typeName = nullptr;
    EXPECT_OK(owner->GetDocumentation(-1, &libName, nullptr, nullptr, nullptr));
    EXPECT_OK(owner->GetDocumentation(static_cast<INT>(at), &typeName, nullptr, nullptr, nullptr));
    return {TakeBstr(libName), TakeBstr(typeName)};
}

TEST(RegenReferences, AReferenceIntoALibraryWithoutAGuidIsRefusedNamingThatLibrary) {
    RegisterFileServices();
    TempDir dir;
    ComPtr<ITypeLib> other = Other(dir / "other.tlb", nullptr);
    ComPtr<ITypeLib> referring = Referring(other.get());
    const fs::path saved = dir / "referring.tlb";

    std::shared_ptr<const LibraryData> data;
    ASSERT_OK(GetLibraryData(referring.get(), true, &data));
    EXPECT_EQ(WriteMsftTypeLib(*data, saved.u16string()), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(GetLibraryWithoutGuid(), u"Other");
    EXPECT_FALSE(fs::exists(saved));

    // The program's save says which library, and writes nothing.
    TLBModifier modifier;
    modifier.StartingLibDirect(referring.get());
    const ErrorRecord e = RecordOf([&] { modifier.GenerateDirect(saved.u16string()); });
    EXPECT_EQ(e.Number, TYPE_E_LIBNOTREGISTERED);
    EXPECT_NE(ErrorReportText(e).find(u"\"Other\""), std::u16string::npos) << ToUtf8(ErrorReportText(e));
    EXPECT_FALSE(fs::exists(saved));
}

TEST(RegenReferences, AReferenceIntoALibraryWithAGuidReloadsToThatLibrary) {
    RegisterFileServices();
    TempDir dir;
    ComPtr<ITypeLib> other = Other(dir / "other.tlb", &kOtherGuid);
    ComPtr<ITypeLib> referring = Referring(other.get());
    const fs::path saved = dir / "referring.tlb";
    TLBModifier modifier;
    modifier.StartingLibDirect(referring.get());
    ASSERT_NO_THROW(modifier.GenerateDirect(saved.u16string()));
    ComPtr<ITypeLib> reloaded = LoadFile(saved);
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(AliasTarget(reloaded.get(), 1), (std::pair<std::u16string, std::u16string>{u"Other", u"Shade"}));
}


// A chain as text, its user-defined type by name and by the library that
// holds it ("PTR SAFEARRAY PTR Target@Uses").
std::u16string Shape(ITypeInfo* ti, const TYPEDESC& desc) {
    std::u16string text;
    for (const TYPEDESC* t = &desc; t;) {
        switch (t->vt) {
            case VT_PTR:
                text += u"PTR ";
                t = t->lptdesc;
                break;
            case VT_SAFEARRAY:
                text += u"SAFEARRAY ";
                t = t->lptdesc;
                break;
            case VT_CARRAY:
                text += u"CARRAY" + std::u16string(t->lpadesc->cDims, u'*') + u" ";
                t = &t->lpadesc->tdescElem;
                break;
            case VT_USERDEFINED: {
                ComPtr<ITypeInfo> ref;
                EXPECT_OK(ti->GetRefTypeInfo(t->hreftype, ref.put()));
                BSTR libName = nullptr;
                EXPECT_OK(HolderOf(ref.get())->GetDocumentation(-1, &libName, nullptr, nullptr, nullptr));
                return text + NameOf(ref.get()) + u"@" + TakeBstr(libName);
            }
            default:
                return text + u"vt" + static_cast<char16_t>(u'0' + t->vt % 10);
        }
    }
    return text;
}

// The member types of each type, as text, by the type's name.
std::map<std::u16string, std::vector<std::u16string>> MemberShapes(ITypeLib* lib) {
    std::map<std::u16string, std::vector<std::u16string>> all;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        EXPECT_OK(lib->GetTypeInfo(i, ti.put()));
        std::vector<std::u16string>& shapes = all[NameOf(ti.get())];
        const TYPEATTR attr = AttrOf(ti.get());
        for (UINT f = 0; f < attr.cFuncs; ++f) {
            FUNCDESC* fd = nullptr;
            EXPECT_OK(ti->GetFuncDesc(f, &fd));
            shapes.push_back(Shape(ti.get(), fd->elemdescFunc.tdesc));
            for (SHORT p = 0; p < fd->cParams; ++p) shapes.push_back(Shape(ti.get(), fd->lprgelemdescParam[p].tdesc));
            ti->ReleaseFuncDesc(fd);
        }
        for (UINT v = 0; v < attr.cVars; ++v) {
            VARDESC* vd = nullptr;
            EXPECT_OK(ti->GetVarDesc(v, &vd));
            shapes.push_back(Shape(ti.get(), vd->elemdescVar.tdesc));
            ti->ReleaseVarDesc(vd);
        }
    }
    return all;
}

TEST(RegenReferences, EachUseOfATypeKeepsItsShapeAndReachesItsNewPlace) {
    // Members of two types name Target and Other over and over, in every shape
    // a member type takes; a reorder moves every type to a new place.
    TempDir dir;
    ComPtr<ITypeLib> other = Other(dir / "other.tlb", &kOtherGuid);
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Uses", (dir / "uses.tlb").u16string());
    auto target = NewType(lib.get(), u"Target", TKIND_ENUM);
    const Variant one = Variant::Int(1);
    AddVar(target.get(), 0, u"T1", Vt(VT_I4), VAR_CONST, &one);
    auto uses = NewType(lib.get(), u"IUses", TKIND_INTERFACE);
    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    ComPtr<ITypeInfo> shade;
    ASSERT_OK(other->GetTypeInfo(0, shade.put()));
    TypeDescs td;
    for (ICreateTypeInfo2* type : {uses.get(), rec.get()}) {
        const TYPEDESC t = User(RefTo(type, target.As<ITypeInfo>().get()));
        const TYPEDESC s = User(RefTo(type, shade.get()));
        const std::vector<TYPEDESC> shapes = {t,
                                              td.Ptr(t),
                                              td.Ptr(td.Ptr(t)),
                                              td.Ptr(td.SafeArray(td.Ptr(t))),
                                              td.SafeArray(t),
                                              td.CArray(t, {{0, 2}}),
                                              td.CArray(td.Ptr(t), {{1, 3}, {0, 2}}),
                                              s,
                                              td.Ptr(s),
                                              td.Ptr(td.Ptr(t))};
        for (UINT k = 0; k < shapes.size(); ++k) {
            const std::u16string name = u"m" + std::u16string(1, static_cast<char16_t>(u'0' + k));
            if (type == uses.get())
                AddFunc(type, k, {name, INVOKE_FUNC, k % 2 ? shapes[k] : Vt(VT_HRESULT),
                                  {{u"a", shapes[k]}, {u"b", shapes[shapes.size() - 1 - k], PARAMFLAG_FOUT}}});
            else
                AddVar(type, k, name, shapes[k], VAR_PERINSTANCE, nullptr, static_cast<MEMBERID>(0x100 + k));
        }
    }
    ComPtr<ITypeLib> start = SaveAndLoad(lib.get(), dir / "uses.tlb");
    ASSERT_TRUE(start);
    TLBModifier modifier;
    modifier.StartingLibDirect(start.get());
    const int32_t order[] = {2, 1, 0};
    modifier.ReorderStartingTypes(order);
    ComPtr<ITypeLib> out = modifier.GenerateDirect(u"");
    ASSERT_TRUE(out);
    ASSERT_EQ(TypeNames(out.get()), (std::vector<std::u16string>{u"Rec", u"IUses", u"Target"}));
    const auto before = MemberShapes(start.get()), after = MemberShapes(out.get());
    EXPECT_EQ(after, before);
    const std::vector<std::u16string>& fields = after.at(u"Rec");
    ASSERT_EQ(fields.size(), 10u);
    EXPECT_EQ(fields[3], u"PTR SAFEARRAY PTR Target@Uses");
    EXPECT_EQ(fields[6], u"CARRAY** PTR Target@Uses");
    EXPECT_EQ(fields[8], u"PTR Shade@Other");
}

// library Uses { enum Target; typedef Target* Alias; dual IDual; interface
// IUses; struct Rec; }: the members of IUses and Rec name Target, Alias,
// Other's Shade and both halves of IDual over and over, in the chains the
// reuse takes and in those it leaves to the full mapping (pointer chains
// deeper than it takes, when deep ones are asked for; arrays of arrays; fixed
// arrays).
ComPtr<ICreateTypeLib2> ManyUses(const fs::path& file, ITypeLib* other, bool deepChains) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Uses", file.u16string());
    EXPECT_OK(lib->SetGuid({0x7B1C0E56, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 9}}));
    auto target = NewType(lib.get(), u"Target", TKIND_ENUM);
    const Variant one = Variant::Int(1);
    AddVar(target.get(), 0, u"T1", Vt(VT_I4), VAR_CONST, &one);
    auto alias = NewType(lib.get(), u"Alias", TKIND_ALIAS);
    TypeDescs td;
    TYPEDESC aliasOf = td.Ptr(User(RefTo(alias.get(), target.As<ITypeInfo>().get())));
    EXPECT_OK(alias->SetTypeDescAlias(&aliasOf));
    auto dual = NewType(lib.get(), u"IDual", TKIND_INTERFACE);
    EXPECT_OK(dual->SetGuid({0x7B1C0E57, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 9}}));
    EXPECT_OK(dual->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    EXPECT_OK(dual->AddImplType(0, RefTo(dual.get(), StdOle2Type(kIID_IDispatch).get())));
    AddFunc(dual.get(), 0, {u"Go", INVOKE_FUNC, Vt(VT_HRESULT), {}});
    ComPtr<ITypeInfo> dualView;
    HREFTYPE viewRef = 0;
    EXPECT_OK(dual.As<ITypeInfo>()->GetRefTypeOfImplType(static_cast<UINT>(-1), &viewRef));
    EXPECT_OK(dual.As<ITypeInfo>()->GetRefTypeInfo(viewRef, dualView.put()));
    auto uses = NewType(lib.get(), u"IUses", TKIND_INTERFACE);
    EXPECT_OK(uses->SetGuid({0x7B1C0E58, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 9}}));
    EXPECT_OK(uses->AddImplType(0, RefTo(uses.get(), StdOle2Type(kIID_IUnknown).get())));
    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    ComPtr<ITypeInfo> shade;
    EXPECT_OK(other->GetTypeInfo(0, shade.put()));
    auto deep = [&](TYPEDESC t, int levels) {
        for (int i = 0; i < levels; ++i) t = td.Ptr(t);
        return t;
    };
    const std::vector<int> depths = deepChains ? std::vector<int>{31, 32, 33, 40} : std::vector<int>{5, 6, 7};
    for (ICreateTypeInfo2* type : {uses.get(), rec.get()}) {
        std::vector<TYPEDESC> shapes;
        for (IUnknown* named : {static_cast<IUnknown*>(target.get()), static_cast<IUnknown*>(alias.get()),
                                static_cast<IUnknown*>(shade.get()),
                                static_cast<IUnknown*>(dual.get()), static_cast<IUnknown*>(dualView.get())}) {
            const TYPEDESC t = User(RefTo(type, named));
            shapes.insert(shapes.end(), {t, td.Ptr(t), deep(t, 2), td.SafeArray(t), td.SafeArray(td.Ptr(t)),
                                         td.Ptr(td.SafeArray(deep(t, 3))), td.SafeArray(td.SafeArray(t)),
                                         td.Ptr(td.SafeArray(td.Ptr(td.SafeArray(t)))), td.CArray(td.Ptr(t), {{1, 3}}),
                                         td.Ptr(td.Ptr(t)), t});
            for (int depth : depths) shapes.push_back(deep(t, depth));
        }
        for (UINT k = 0; k < shapes.size(); ++k) {
            std::u16string name = u"m";
            for (char c : std::to_string(k)) name += static_cast<char16_t>(c);
            if (type == uses.get())
                AddFunc(type, k, {name, INVOKE_FUNC, k % 3 ? shapes[k] : Vt(VT_HRESULT),
                                  {{u"a", shapes[k]},
                                   {u"b", shapes[(k * 7) % shapes.size()], PARAMFLAG_FOUT},
                                   {u"c", shapes[shapes.size() - 1 - k]}}});
            else
                AddVar(type, k, name, shapes[k], VAR_PERINSTANCE, nullptr, static_cast<MEMBERID>(0x100 + k));
        }
    }
    return lib;
}

TEST(RegenReferences, ReusedReferencesWriteTheSameFileAsMappingEachUse) {
    // A redirection of a library none of the members uses makes every use go
    // the full way: both must write the same file, from a loaded library and
    // from one in memory (which may hold chains no file could).
    TempDir dir;
    ComPtr<ITypeLib> other = Other(dir / "other.tlb", &kOtherGuid);
    ComPtr<ITypeLib> unused = Other(dir / "unused.tlb", nullptr);
    ComPtr<ITypeLib> unusedToo = Other(dir / "unused2.tlb", nullptr);
    ComPtr<ITypeLib> loaded = SaveAndLoad(ManyUses(dir / "uses.tlb", other.get(), false).get(), dir / "uses.tlb");
    ASSERT_TRUE(loaded);
    ComPtr<ICreateTypeLib2> inMemory = ManyUses(dir / "deep.tlb", other.get(), true);
    for (ITypeLib* source : {loaded.get(), AsTypeLib(inMemory.get()).get()}) {
        // Other's types stay where they are, or are pulled in when first named.
        for (bool onDemand : {false, true}) {
            const bool fromFile = source == loaded.get();
            SCOPED_TRACE(::testing::Message() << fromFile << onDemand);
            const fs::path reused = dir / "reused.tlb", mapped = dir / "mapped.tlb";
            for (const fs::path& file : {reused, mapped}) {
                TLBModifier modifier;
                modifier.StartingLibDirect(source);
                if (onDemand) modifier.AddExtraLibrary(Info(other.get()).get(), TLBModifier::kExtraOnDemand);
                if (file == mapped) modifier.RedirectImportLib(Info(unused.get()).get(), Info(unusedToo.get()).get());
                ASSERT_TRUE(modifier.GenerateDirect(file.u16string()));
            }
            EXPECT_TRUE(ReadBytes(reused) == ReadBytes(mapped));
            if (fromFile) {
                EXPECT_EQ(DumpOf(reused), DumpOf(mapped));
                EXPECT_EQ(TypeNames(LoadFile(reused).get()).size(), onDemand ? 6u : 5u);
            }
        }
    }
}

TEST(RegenReferences, AFailureAnywhereAmongReusedReferencesRaisesAndWritesNothing) {
    // Every reference made, member added and member named in turn fails once;
    // the next generation by a new modifier writes the file of one without failures.
    TempDir dir;
    ComPtr<ITypeLib> other = Other(dir / "other.tlb", &kOtherGuid);
    ComPtr<ITypeLib> source = SaveAndLoad(ManyUses(dir / "uses.tlb", other.get(), false).get(), dir / "uses.tlb");
    ASSERT_TRUE(source);
    const fs::path out = dir / "out.tlb", good = dir / "good.tlb";
    auto generate = [&](const fs::path& file) {
        TLBModifier modifier;
        modifier.StartingLibDirect(source.get());
        modifier.AddExtraLibrary(Info(other.get()).get(), TLBModifier::kExtraOnDemand);
        return ErrorOf([&] { modifier.GenerateDirect(file.u16string()); });
    };
    ASSERT_EQ(generate(good), 0);
    for (const char* method : {"AddRefTypeInfo", "AddFuncDesc", "AddVarDesc", "SetFuncAndParamNames"}) {
        int failures = 0;
        for (int skip = 0;; skip += failures < 8 ? 1 : 7, ++failures) {
            SCOPED_TRACE(::testing::Message() << method << " " << skip);
            ole::testing::FailNextCall(method, E_OUTOFMEMORY, skip);
            const int32_t error = generate(out);
            ole::testing::ClearInjectedFailures();
            if (error == 0) break;
            EXPECT_EQ(error, E_OUTOFMEMORY);
            EXPECT_FALSE(fs::exists(out));
        }
        EXPECT_GT(failures, 1) << method;
        EXPECT_TRUE(ReadBytes(out) == ReadBytes(good)) << method;
        fs::remove(out);
    }
}

}  // namespace
}  // namespace regentest
