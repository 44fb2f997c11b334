// Libraries that import from libraries that can't be found: plain
// regeneration raises the lookup error; a find-unresolved regeneration points
// every such reference at a shared placeholder of the "MISSING" library; a
// save that would keep a placeholder is refused (813, no file); once the
// placeholders are redirected the library saves.
#include <cstdlib>

#include "RegenTestSupport.h"
#include "foundation/modSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace regentest {
namespace {

namespace helper = zephrin::modITypeInfoHelper;

std::u16string Text(int32_t id) { return zephrin::modSupport::LoadResStringById(id); }

fs::path Form() { return fs::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "unresolved.tlb"; }

// The name of the user-defined type of member func's parameter param, or of
// variable var of a record, or of an alias's target.
std::u16string ParamTypeName(ITypeInfo* ti, UINT func, UINT param) { return NameOf(ParamType(ti, func, param).get()); }
std::u16string FieldTypeName(ITypeInfo* ti, UINT var) {
    VARDESC* vd = nullptr;
    EXPECT_OK(ti->GetVarDesc(var, &vd));
    std::u16string name = NameOf(UserType(ti, vd->elemdescVar.tdesc).get());
    ti->ReleaseVarDesc(vd);
    return name;
}

class Unresolved : public ::testing::Test {
protected:
    void SetUp() override {
        original = LoadFile(Form());
        ASSERT_TRUE(original);
    }
    // A find-unresolved regeneration of lib into memory.
    ComPtr<ITypeLib> Find(ITypeLib* lib, ComPtr<ITypeLib>& missing) {
        TLBModifier modifier;
        modifier.StartingLibDirect(lib);
        return modifier.GenerateDirectFindUnresolved(missing);
    }

    // The library Gone { IGone : IUnknown }, saved to file, to be used and
    // then deleted.
    static ComPtr<ICreateTypeInfo2> SavedGone(const fs::path& file, uint32_t guid) {
        auto goneLib = NewLibrary(u"Gone", file.u16string());
        EXPECT_OK(goneLib->SetGuid({guid, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x15}}));
        auto igone = NewType(goneLib.get(), u"IGone", TKIND_INTERFACE);
        EXPECT_OK(igone->AddImplType(0, RefTo(igone.get(), StdOle2Type(kIID_IUnknown).get())));
        EXPECT_OK(goneLib->SaveAllChanges());
        return igone;
    }

    // Saves lib as uses.tlb, deletes the library it refers to (file gone)
    // and loads uses.tlb back, its references to that library now unresolved.
    ComPtr<ITypeLib> SaveAndLose(ICreateTypeLib2* lib, const fs::path& gone) {
        EXPECT_OK(lib->SaveAllChanges());
        fs::remove(gone);
        return LoadFile(dir / "uses.tlb");
    }

    TempDir dir;
    ComPtr<ITypeLib> original;
};

TEST_F(Unresolved, PlainRegenerationRaisesTheLookupError) {
    TLBModifier modifier;
    modifier.StartingLibDirect(original.get());
    EXPECT_LT(ErrorOf([&] { modifier.GenerateDirect((dir / "out.tlb").u16string()); }), 0);
    EXPECT_FALSE(fs::exists(dir / "out.tlb"));
}

TEST_F(Unresolved, TheLookupErrorNamesTheTypeAndTheReference) {
    // Gone holds IGone and the enum GoneKind; it is saved, used, then deleted.
    const fs::path gone = dir / "gone.tlb";
    auto goneLib = NewLibrary(u"Gone", gone.u16string());
    ASSERT_OK(goneLib->SetGuid({0x5E1A5201, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x15}}));
    auto iGone = NewType(goneLib.get(), u"IGone", TKIND_INTERFACE);
    ASSERT_OK(iGone->SetGuid({0x5E1A5202, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x15}}));
    ASSERT_OK(iGone->AddImplType(0, RefTo(iGone.get(), StdOle2Type(kIID_IUnknown).get())));
    auto goneKind = NewType(goneLib.get(), u"GoneKind", TKIND_ENUM);
    const Variant one = Variant::Int(1);
    AddVar(goneKind.get(), 0, u"G1", Vt(VT_I4), VAR_CONST, &one);
    ASSERT_OK(goneLib->SaveAllChanges());
    // Each type refers to Gone in one way; the walk meets them in this order.
    auto lib = NewLibrary(u"Uses", (dir / "uses.tlb").u16string());
    const struct {
        const char16_t* name;
        TYPEKIND kind;
        const char16_t* where;
    } types[] = {{u"IBase", TKIND_INTERFACE, u"base interface"},
                 {u"Cls", TKIND_COCLASS, u"implemented interface 2"},
                 {u"Alias", TKIND_ALIAS, u"alias target"},
                 {u"Rec", TKIND_RECORD, u"member 'k'"},
                 {u"IPut", TKIND_INTERFACE, u"member 'Put', parameter 'k'"},
                 {u"IGet", TKIND_INTERFACE, u"member 'Get', return type"},
                 {u"DOver", TKIND_DISPATCH, u"interface it is declared over"}};
    std::vector<ComPtr<ICreateTypeInfo2>> made;
    for (const auto& t : types) made.push_back(NewType(lib.get(), t.name, t.kind));
    auto local = NewType(lib.get(), u"ILocal", TKIND_INTERFACE);
    const auto kind = [&](ICreateTypeInfo2* from) { return User(RefTo(from, goneKind.get())); };
    ASSERT_OK(made[0]->AddImplType(0, RefTo(made[0].get(), iGone.get())));
    ASSERT_OK(made[1]->AddImplType(0, RefTo(made[1].get(), local.get())));
    ASSERT_OK(made[1]->AddImplType(1, RefTo(made[1].get(), iGone.get())));
    TYPEDESC aliased = kind(made[2].get());
    ASSERT_OK(made[2]->SetTypeDescAlias(&aliased));
    AddVar(made[3].get(), 0, u"a", Vt(VT_I4));
    AddVar(made[3].get(), 1, u"k", kind(made[3].get()));
    for (ICreateTypeInfo2* ti : {made[4].get(), made[5].get(), local.get()})
        ASSERT_OK(ti->AddImplType(0, RefTo(ti, StdOle2Type(kIID_IUnknown).get())));
    AddFunc(made[4].get(), 0, {u"Put", INVOKE_FUNC, Vt(VT_HRESULT), {{u"a", Vt(VT_I4)}, {u"k", kind(made[4].get())}}});
    AddFunc(made[5].get(), 0, {u"Get", INVOKE_FUNC, kind(made[5].get())});
    ASSERT_OK(made[6]->AddImplType(0, RefTo(made[6].get(), StdOle2Type(kIID_IDispatch).get())));
    ASSERT_OK(made[6]->AddImplType(1, RefTo(made[6].get(), iGone.get())));
    ComPtr<ITypeLib> uses = SaveAndLose(lib.get(), gone);

    // The types before the one looked at are left out: none uses them.
    for (size_t k = 0; k < std::size(types); ++k) {
        TLBModifier modifier;
        modifier.StartingLibDirect(uses.get());
        for (size_t j = 0; j < k; ++j)
            modifier.RedirectType(Tli(TypeNamed(uses.get(), types[j].name).get()).get(), nullptr, true);
        const ErrorRecord e = RecordOf([&] { modifier.GenerateDirect(u""); });
        EXPECT_LT(e.Number, 0);
        EXPECT_EQ(e.Description, u"Type '" + std::u16string(types[k].name) + u"', " + types[k].where +
                                     u": the type it refers to can't be found: " + ErrorReportText(ErrorRecord(e.Number)));
    }
    // Looking for unresolved types, the dispinterface is declared over a placeholder.
    ComPtr<ITypeLib> missing;
    ComPtr<ITypeInfo> over = TypeNamed(Find(uses.get(), missing).get(), u"DOver");
    EXPECT_EQ(NameOf(ImplType(over.get(), static_cast<UINT>(-1)).get()), Text(797));
}

TEST_F(Unresolved, MissingTypesShareThePlaceholdersOfTheMissingLibrary) {
    ComPtr<ITypeLib> missing;
    ComPtr<ITypeLib> edited = Find(original.get(), missing);
    ASSERT_TRUE(edited && missing);
    EXPECT_TRUE(helper::IsUnresolvedTypesLib(missing.get()));
    BSTR name = nullptr;
    ASSERT_OK(missing->GetDocumentation(-1, &name, nullptr, nullptr, nullptr));
    EXPECT_EQ(TakeBstr(name), Text(796));
    EXPECT_EQ(TypeNames(missing.get()), (std::vector<std::u16string>{Text(797), Text(799)}));
    ComPtr<ITypeInfo> placeholder = TypeNamed(missing.get(), Text(797));
    EXPECT_EQ(NameOf(ImplType(placeholder.get(), 0).get()), u"IUnknown");

    // IStays : IGone { Use([in] GoneKind, [in] GonePoint*, [out, retval] IGoneDual**) }
    ComPtr<ITypeInfo> stays = TypeNamed(edited.get(), u"IStays");
    EXPECT_EQ(ImplType(stays.get(), 0).get(), placeholder.get());
    EXPECT_EQ(ParamTypeName(stays.get(), 0, 0), Text(799));
    EXPECT_EQ(ParamTypeName(stays.get(), 0, 1), Text(797));
    EXPECT_EQ(ParamTypeName(stays.get(), 0, 2), Text(797));
    EXPECT_EQ(NameOf(UserType(TypeNamed(edited.get(), u"Place").get(),
                              AttrOf(TypeNamed(edited.get(), u"Place").get()).tdescAlias).get()),
              Text(799));
    EXPECT_EQ(FieldTypeName(TypeNamed(edited.get(), u"Holder").get(), 0), Text(799));

    // The same library is handed in again and grows no second placeholder.
    ComPtr<ITypeLib> again = missing;
    Find(original.get(), again);
    EXPECT_EQ(again.get(), missing.get());
    EXPECT_EQ(missing->GetTypeInfoCount(), 2u);
}

TEST_F(Unresolved, ASaveKeepingAPlaceholderIsRefusedAndOneAfterRedirectionSucceeds) {
    ComPtr<ITypeLib> missing;
    ComPtr<ITypeLib> edited = Find(original.get(), missing);
    const fs::path out = dir / "out.tlb";
    TLBModifier refused;
    refused.StartingLibDirect(edited.get());
    const ErrorRecord e = RecordOf([&] { refused.GenerateDirectTestUnresolved(missing.get(), out.u16string()); });
    EXPECT_EQ(e.Number, 5);
    EXPECT_EQ(e.Description, Text(813));
    EXPECT_FALSE(fs::exists(out));
    // Without the companion the references into it are refused all the same.
    TLBModifier plain;
    plain.StartingLibDirect(edited.get());
    EXPECT_EQ(RecordOf([&] { plain.GenerateDirect(out.u16string()); }).Description, Text(813));
    EXPECT_FALSE(fs::exists(out));

    // The user points the placeholders at real types.
    ComPtr<ITypeLib> std = StdOle2();
    TLBModifier redirect;
    redirect.StartingLibDirect(edited.get());
    redirect.RedirectType(Tli(TypeNamed(missing.get(), Text(797)).get()).get(),
                          Tli(StdOle2Type(kIID_IDispatch).get()).get(), false);
    redirect.RedirectType(Tli(TypeNamed(missing.get(), Text(799)).get()).get(),
                          Tli(TypeNamed(std.get(), u"OLE_COLOR").get()).get(), false);
    ComPtr<ITypeLib> fixed = redirect.GenerateDirectFindUnresolved(missing);
    // A type of the edited library named like a placeholder is not one.
    ComPtr<ICreateTypeInfo> named;
    ASSERT_OK(fixed.As<ICreateTypeLib2>()->CreateTypeInfo(Text(799).c_str(), TKIND_ENUM, named.put()));

    TLBModifier save;
    save.StartingLibDirect(fixed.get());
    save.GenerateDirectTestUnresolved(missing.get(), out.u16string());
    ComPtr<ITypeLib> saved = LoadFile(out);
    ASSERT_TRUE(saved);
    EXPECT_EQ(TypeNames(saved.get()),
              (std::vector<std::u16string>{u"IStays", u"Place", u"Holder", u"Remains", Text(799)}));
    ComPtr<ITypeInfo> stays = TypeNamed(saved.get(), u"IStays");
    EXPECT_EQ(NameOf(ImplType(stays.get(), 0).get()), u"IDispatch");
    EXPECT_EQ(ParamTypeName(stays.get(), 0, 0), u"OLE_COLOR");
}

TEST_F(Unresolved, APlaceholderUsedAsABaseInterfaceIsNotSentToAnEnum) {
    ComPtr<ITypeLib> missing;
    ComPtr<ITypeLib> edited = Find(original.get(), missing);
    ComPtr<ITypeLib> std = StdOle2();
    TLBModifier redirect;
    redirect.StartingLibDirect(edited.get());
    redirect.RedirectType(Tli(TypeNamed(missing.get(), Text(797)).get()).get(),
                          Tli(TypeNamed(std.get(), u"OLE_TRISTATE").get()).get(), false);
    redirect.RedirectType(Tli(TypeNamed(missing.get(), Text(799)).get()).get(),
                          Tli(TypeNamed(std.get(), u"OLE_COLOR").get()).get(), false);
    const fs::path out = dir / "out.tlb";
    const ErrorRecord e = RecordOf([&] { redirect.GenerateDirect(out.u16string()); });
    EXPECT_EQ(e.Number, 5);
    EXPECT_EQ(e.Description, zephrin::modSupport::LoadResStringFormat(
                                 815, {Text(796) + u"." + Text(797), u"stdole.OLE_TRISTATE"}));
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(Unresolved, TheCommandLineToolRefusesTheSaveCleanly) {
    const fs::path out = dir / "out.tlb", err = dir / "err.txt";
    const std::string command = std::string(ZEPHRIN_BIN_DIR) + "/tlbregen --unresolved '" + Form().string() + "' '" +
                                out.string() + "' 2> '" + err.string() + "'";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_NE(ReadText(err).find(ToUtf8(Text(813))), std::string::npos) << ReadText(err);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(Unresolved, PlaceholdersFollowHowTheMissingTypeIsUsed) {
    // A library of interfaces that is saved, used, then deleted.
    const fs::path gone = dir / "gone.tlb";
    auto goneLib = NewLibrary(u"Gone", gone.u16string());
    ASSERT_OK(goneLib->SetGuid({0x5E1A5200, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x15}}));
    std::vector<ComPtr<ICreateTypeInfo2>> gones;
    for (const char16_t* n : {u"IGoneA", u"IGoneB", u"IGoneC"}) {
        gones.push_back(NewType(goneLib.get(), n, TKIND_INTERFACE));
        ASSERT_OK(gones.back()->AddImplType(0, RefTo(gones.back().get(), StdOle2Type(kIID_IUnknown).get())));
    }
    ASSERT_OK(goneLib->SaveAllChanges());
    auto lib = NewLibrary(u"Uses", (dir / "uses.tlb").u16string());
    auto cls = NewType(lib.get(), u"Uses", TKIND_COCLASS);
    const INT flags[] = {IMPLTYPEFLAG_FDEFAULT, IMPLTYPEFLAG_FSOURCE,
                         IMPLTYPEFLAG_FSOURCE | IMPLTYPEFLAG_FDEFAULTVTABLE};
    for (UINT i = 0; i < 3; ++i) {
        ASSERT_OK(cls->AddImplType(i, RefTo(cls.get(), gones[i].get())));
        ASSERT_OK(cls->SetImplTypeFlags(i, flags[i]));
    }
    // A return type after an [out] parameter is mapped as a return type.
    auto getter = NewType(lib.get(), u"IGetter", TKIND_INTERFACE);
    TypeDescs td;
    AddFunc(getter.get(), 0, {u"Get", INVOKE_FUNC, td.Ptr(User(RefTo(getter.get(), gones[0].get()))),
                              {{u"x", td.Ptr(Vt(VT_I4)), PARAMFLAG_FOUT}}});
    ComPtr<ITypeLib> uses = SaveAndLose(lib.get(), gone);

    ComPtr<ITypeLib> missing;
    ComPtr<ITypeLib> edited = Find(uses.get(), missing);
    ComPtr<ITypeInfo> coclass = TypeNamed(edited.get(), u"Uses");
    EXPECT_EQ(NameOf(ImplType(coclass.get(), 0).get()), Text(797));
    EXPECT_EQ(NameOf(ImplType(coclass.get(), 1).get()), Text(798));
    EXPECT_EQ(NameOf(ImplType(coclass.get(), 2).get()), Text(797));
    EXPECT_EQ(NameOf(ImplType(TypeNamed(missing.get(), Text(798)).get(), 0).get()), u"IDispatch");
    FUNCDESC* fd = nullptr;
    ComPtr<ITypeInfo> get = TypeNamed(edited.get(), u"IGetter");
    ASSERT_OK(get->GetFuncDesc(0, &fd));
    EXPECT_EQ(NameOf(UserType(get.get(), fd->elemdescFunc.tdesc).get()), Text(797));
    get->ReleaseFuncDesc(fd);
}

TEST_F(Unresolved, TheCompanionIsCheckedAndOnlyASuccessHandsOneBack) {
    ComPtr<ITypeLib> ordinary = LoadFile(fs::path(ZEPHRIN_TEST_DATA_DIR) / "golden" / "regen.tlb");
    ComPtr<ITypeLib> given = ordinary;
    EXPECT_EQ(RecordOf([&] { Find(original.get(), given); }).Description, Text(814));
    // Every import resolves: no companion is made.
    ComPtr<ITypeLib> none;
    Find(ordinary.get(), none);
    EXPECT_FALSE(none);
    // A failed generation leaves the caller's variable as it was.
    TLBModifier failing;
    failing.StartingLibDirect(original.get());
    failing.RedirectType(Tli(TypeNamed(original.get(), u"IStays").get()).get(), nullptr, true);
    ComPtr<ITypeLib> stillNone;
    EXPECT_EQ(RecordOf([&] { failing.GenerateDirectFindUnresolved(stillNone); }).Description,
              zephrin::modSupport::LoadResStringFormat(808, {u"IStays"}));
    EXPECT_FALSE(stillNone);
    // ... and a companion given in without the placeholders the failed
    // generation added to it.
    ComPtr<ICreateTypeLib2> empty = NewLibrary(Text(796));
    helper::MarkUnresolvedTypesLib(empty.get());
    ComPtr<ITypeLib> companion = empty.As<ITypeLib>(), held = companion;
    const std::string before = tlbtools::DumpTypeLib(companion.get());
    ole::testing::FailNextCall("SetHelpFileName", E_OUTOFMEMORY, 1);  // the generation's last step
    EXPECT_EQ(RecordOf([&] { Find(original.get(), held); }).Number, static_cast<int32_t>(E_OUTOFMEMORY));
    ole::testing::ClearInjectedFailures();
    EXPECT_EQ(held.get(), companion.get());
    EXPECT_EQ(tlbtools::DumpTypeLib(companion.get()), before);
    Find(original.get(), held);
    EXPECT_EQ(TypeNames(held.get()), (std::vector<std::u16string>{Text(797), Text(799)}));
}

TEST_F(Unresolved, EachUseOfAMissingTypeGetsThePlaceholderOfItsOwnUse) {
    // One missing interface, named by one function three times: as an
    // interface, as a pointer to one (taken for an enum) and as an interface again.
    const fs::path gone = dir / "gone.tlb";
    auto igone = SavedGone(gone, 0x5E1A5202);
    auto lib = NewLibrary(u"Uses", (dir / "uses.tlb").u16string());
    auto user = NewType(lib.get(), u"IUser", TKIND_INTERFACE);
    TypeDescs td;
    const TYPEDESC it = User(RefTo(user.get(), igone.As<ITypeInfo>().get()));
    AddFunc(user.get(), 0, {u"Use", INVOKE_FUNC, Vt(VT_HRESULT),
                            {{u"a", td.Ptr(it)}, {u"b", td.Ptr(td.Ptr(it))}, {u"c", td.Ptr(it)}}});
    AddFunc(user.get(), 1, {u"Again", INVOKE_FUNC, Vt(VT_HRESULT), {{u"d", td.Ptr(td.Ptr(it))}, {u"e", td.Ptr(it)}}});
    ComPtr<ITypeLib> uses = SaveAndLose(lib.get(), gone);

    ComPtr<ITypeLib> missing;
    ComPtr<ITypeLib> edited = Find(uses.get(), missing);
    ComPtr<ITypeInfo> copied = TypeNamed(edited.get(), u"IUser");
    EXPECT_EQ(ParamTypeName(copied.get(), 0, 0), Text(797));
    EXPECT_EQ(ParamTypeName(copied.get(), 0, 1), Text(799));
    EXPECT_EQ(ParamTypeName(copied.get(), 0, 2), Text(797));
    EXPECT_EQ(ParamTypeName(copied.get(), 1, 0), Text(799));
    EXPECT_EQ(ParamTypeName(copied.get(), 1, 1), Text(797));
}

TEST_F(Unresolved, OutParametersAndArraysOfAMissingTypeGetTheirOwnPlaceholdersAmongFoundTypes) {
    // A missing interface and a type that is found, each named again and
    // again: an [out] parameter counts one pointer less, an array's element
    // counts its own pointers. A redirection of a library nothing uses (which
    // maps every use in full) gives the same.
    const fs::path gone = dir / "gone.tlb";
    auto igone = SavedGone(gone, 0x5E1A5203);
    auto lib = NewLibrary(u"Uses", (dir / "uses.tlb").u16string());
    auto kept = NewType(lib.get(), u"Kept", TKIND_ENUM);
    const Variant one = Variant::Int(1);
    AddVar(kept.get(), 0, u"K1", Vt(VT_I4), VAR_CONST, &one);
    auto user = NewType(lib.get(), u"IUser", TKIND_INTERFACE);
    TypeDescs td;
    const TYPEDESC it = User(RefTo(user.get(), igone.As<ITypeInfo>().get()));
    const TYPEDESC k = User(RefTo(user.get(), kept.As<ITypeInfo>().get()));
    const USHORT out = PARAMFLAG_FOUT;
    AddFunc(user.get(), 0, {u"Use", INVOKE_FUNC, Vt(VT_HRESULT),
                            {{u"a", td.Ptr(td.Ptr(it)), out},
                             {u"b", td.Ptr(k)},
                             {u"c", td.Ptr(it), out},
                             {u"d", td.Ptr(td.Ptr(it))},
                             {u"e", td.SafeArray(td.Ptr(it)), out},
                             {u"f", td.Ptr(k), out},
                             {u"g", td.Ptr(it)},
                             {u"h", td.SafeArray(it)}}});
    ComPtr<ITypeLib> uses = SaveAndLose(lib.get(), gone);
    ComPtr<ITypeLib> unused = LoadFile(Form());
    ComPtr<ITypeLib> unusedToo = LoadFile(Form());

    const std::vector<std::u16string> expected = {Text(797), u"Kept",    Text(799), Text(799),
                                                  Text(797), u"Kept",    Text(797), Text(799)};
    for (bool redirected : {false, true}) {
        SCOPED_TRACE(redirected);
        TLBModifier modifier;
        modifier.StartingLibDirect(uses.get());
        if (redirected) modifier.RedirectImportLib(Info(unused.get()).get(), Info(unusedToo.get()).get());
        ComPtr<ITypeLib> missing;
        ComPtr<ITypeLib> edited = modifier.GenerateDirectFindUnresolved(missing);
        ASSERT_TRUE(edited);
        ComPtr<ITypeInfo> copied = TypeNamed(edited.get(), u"IUser");
        std::vector<std::u16string> found;
        for (UINT p = 0; p < expected.size(); ++p) found.push_back(ParamTypeName(copied.get(), 0, p));
        EXPECT_EQ(found, expected);
    }
}

}  // namespace
}  // namespace regentest
