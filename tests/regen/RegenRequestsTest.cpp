// Regeneration requests on libraries built for the purpose: reordering,
// removing and replacing types, redirecting an import library, taking in an
// extra library on demand or all at once, and the errors of each request.
#include "RegenTestSupport.h"
#include "foundation/modSupport.h"
#include "platform/tlbengine/TypeLibData.h"

namespace regentest {
namespace {

constexpr GUID G(uint32_t n) { return GUID{0x5E1A5000u + n, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x15}}; }

std::u16string Text(int32_t id) { return zephrin::modSupport::LoadResStringById(id); }

// Counts the redirections reported, by their flags.
struct Watcher : RefCounted<zephrin::IExternalTypeRedirection> {
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return QueryInterfaceFor<zephrin::IExternalTypeRedirection>(this, riid, ppv);
    }
    HRESULT OnTypeRedirection(LONG flags, tli::TypeInfo*, tli::TypeInfo*) override {
        seen.push_back(flags);
        return S_OK;
    }
    std::vector<LONG> seen;
};

// dep (v1 and v2, one library GUID): IDep : IUnknown, a dual IDepDual,
// DepKind, DepUnused and Shared; DepKind and Shared have no GUID, and v2's
// DepKind is a record, not an enum. user imports dep v1:
//   interface IUser : IDep { HRESULT Use(DepKind k, IDepDual* d, dep.Shared s, Local l); }
//   enum Shared; enum Local; record Unused; interface IDerived : IUser; coclass Thing { IDerived }
class Requests : public ::testing::Test {
protected:
    void SetUp() override {
        BuildDep(dir / "dep1.tlb", 1);
        BuildDep(dir / "dep2.tlb", 2);
        dep1 = LoadFile(dir / "dep1.tlb");
        dep2 = LoadFile(dir / "dep2.tlb");
        auto lib = NewLibrary(u"User", (dir / "user.tlb").u16string());
        ASSERT_OK(lib->SetGuid(G(0x100)));
        auto user = NewType(lib.get(), u"IUser", TKIND_INTERFACE);
        auto shared = NewType(lib.get(), u"Shared", TKIND_ENUM);
        auto local = NewType(lib.get(), u"Local", TKIND_ENUM);
        auto unused = NewType(lib.get(), u"Unused", TKIND_RECORD);
        auto derived = NewType(lib.get(), u"IDerived", TKIND_INTERFACE);
        auto thing = NewType(lib.get(), u"Thing", TKIND_COCLASS);
        ASSERT_OK(user->SetGuid(G(0x101)));
        ASSERT_OK(derived->SetGuid(G(0x102)));
        ASSERT_OK(thing->SetGuid(G(0x103)));
        AddVar(shared.get(), 0, u"S1", Vt(VT_I4), VAR_CONST, &one);
        AddVar(local.get(), 0, u"L1", Vt(VT_I4), VAR_CONST, &one);
        AddVar(unused.get(), 0, u"x", Vt(VT_I4));
        ASSERT_OK(user->AddImplType(0, RefTo(user.get(), TypeNamed(dep1.get(), u"IDep").get())));
        TypeDescs td;
        AddFunc(user.get(), 0,
                {u"Use", INVOKE_FUNC, Vt(VT_HRESULT),
                 {{u"k", User(RefTo(user.get(), TypeNamed(dep1.get(), u"DepKind").get()))},
                  {u"d", td.Ptr(User(RefTo(user.get(), ImplType(TypeNamed(dep1.get(), u"IDepDual").get(), -1).get())))},
                  {u"s", User(RefTo(user.get(), TypeNamed(dep1.get(), u"Shared").get()))},
                  {u"l", User(RefTo(user.get(), local.get()))}}});
        ASSERT_OK(derived->AddImplType(0, RefTo(derived.get(), user.get())));
        AddFunc(derived.get(), 0, {u"Make", INVOKE_FUNC, Vt(VT_HRESULT),
                                   {{u"r", td.Ptr(td.Ptr(User(RefTo(derived.get(), user.get())))),
                                     PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
        ASSERT_OK(thing->AddImplType(0, RefTo(thing.get(), derived.get())));
        ASSERT_OK(thing->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT));
        start = SaveAndLoad(lib.get(), dir / "user.tlb");
        ASSERT_TRUE(start);
        modifier.StartingLibDirect(start.get());
    }

    void BuildDep(const fs::path& file, WORD version) {
        auto lib = NewLibrary(u"Dep", file.u16string());
        ASSERT_OK(lib->SetGuid(G(0)));
        ASSERT_OK(lib->SetVersion(version, 0));
        auto dep = NewType(lib.get(), u"IDep", TKIND_INTERFACE);
        auto dual = NewType(lib.get(), u"IDepDual", TKIND_INTERFACE);
        auto kind = NewType(lib.get(), u"DepKind", version == 1 ? TKIND_ENUM : TKIND_RECORD);
        auto unused = NewType(lib.get(), u"DepUnused", TKIND_RECORD);
        auto shared = NewType(lib.get(), u"Shared", TKIND_ENUM);
        ASSERT_OK(dep->SetGuid(G(1)));
        ASSERT_OK(dual->SetGuid(G(2)));
        ASSERT_OK(unused->SetGuid(G(4)));
        ASSERT_OK(dep->AddImplType(0, RefTo(dep.get(), StdOle2Type(kIID_IUnknown).get())));
        AddFunc(dep.get(), 0, {u"Go"});
        if (version == 2) AddFunc(dep.get(), 1, {u"Go2"});
        ASSERT_OK(dual->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
        ASSERT_OK(dual->AddImplType(0, RefTo(dual.get(), StdOle2Type(kIID_IDispatch).get())));
        AddFunc(dual.get(), 0, {u"Run"});
        if (version == 1)
            AddVar(kind.get(), 0, u"K1", Vt(VT_I4), VAR_CONST, &one);
        else
            AddVar(kind.get(), 0, u"k", Vt(VT_I4));
        AddVar(unused.get(), 0, u"x", Vt(VT_I4));
        AddVar(shared.get(), 0, u"D1", Vt(VT_I4), VAR_CONST, &one);
        ASSERT_OK(lib->SaveAllChanges());
    }

    ComPtr<ITypeLib> Generate() { return modifier.GenerateDirect((dir / "out.tlb").u16string()); }
    ComPtr<tli::TypeInfo> Start(std::u16string_view name) { return Tli(TypeNamed(start.get(), name).get()); }

    const Variant one = Variant::Int(1);
    TempDir dir;
    ComPtr<ITypeLib> dep1, dep2, start;
    TLBModifier modifier;
};

TEST_F(Requests, RequestsAreCheckedAndRefusedWithTheirMessages) {
    TLBModifier fresh;
    auto message = [](auto&& f) { return RecordOf(f).Description; };
    EXPECT_EQ(message([&] { fresh.AddExtraLibrary(Info(dep1.get()).get(), 2); }), Text(801));
    EXPECT_EQ(message([&] { modifier.StartingLibDirect(dep1.get()); }), Text(802));
    EXPECT_EQ(NameOf(TypeNamed(start.get(), u"IUser").get()), u"IUser");  // still the first library
    EXPECT_EQ(message([&] { modifier.LibGUID(u"5E1A5100-0000-4000-8000-000000000015"); }), Text(800));
    modifier.LibGUID(u"{5E1A5999-0000-4000-8000-000000000015}");
    modifier.LibGUID(u"");
    EXPECT_EQ(modifier.LibGUID(), u"{5E1A5100-0000-4000-8000-000000000015}");
    EXPECT_EQ(message([&] { modifier.RedirectType(Start(u"Local").get(), nullptr, false); }), Text(807));
    modifier.RedirectImportLib(Info(dep1.get()).get(), Info(dep2.get()).get());
    EXPECT_EQ(message([&] { modifier.RedirectImportLib(Info(dep1.get()).get(), Info(dep2.get()).get()); }), Text(805));
    // The order must name each of the six positions once.
    EXPECT_EQ(ErrorOf([&] { modifier.ReorderStartingTypes(std::vector<int32_t>{0, 1, 2}); }), 9);
    const ErrorRecord twice = RecordOf([&] { modifier.ReorderStartingTypes(std::vector<int32_t>{0, 1, 2, 3, 3, 5}); });
    EXPECT_EQ(twice.Number, 9);
    EXPECT_EQ(twice.Description, Text(811));
    EXPECT_TRUE(modifier.FinalTypeList().empty());
    modifier.AddExtraType(Tli(TypeNamed(dep1.get(), u"DepUnused").get()).get(), 0);
    EXPECT_EQ(message([&] { modifier.AddExtraType(Tli(TypeNamed(dep1.get(), u"Shared").get()).get(), 0); }), Text(804));
    EXPECT_EQ(message([&] { modifier.ReorderStartingTypes(std::vector<int32_t>{0, 1, 2, 3, 4, 5}); }), Text(810));
    // Either half of a dual names the same type.
    ComPtr<ITypeInfo> dual = TypeNamed(dep1.get(), u"IDepDual");
    modifier.RedirectType(Tli(dual.get()).get(), Tli(TypeNamed(dep2.get(), u"IDepDual").get()).get(), false);
    EXPECT_EQ(message([&] { modifier.RedirectType(Tli(ImplType(dual.get(), -1).get()).get(), nullptr, true); }),
              Text(806));
}

TEST_F(Requests, ARedirectionToATypeOfAnotherKindIsRefusedAndRecordsNothing) {
    const struct {
        const char16_t* source;
        const char16_t* dest;
        bool replace;
    } cases[] = {{u"IUser", u"DepKind", false}, {u"Local", u"IDep", true}, {u"Unused", u"Shared", true}};
    for (const auto& c : cases) {
        ComPtr<tli::TypeInfo> dest = Tli(TypeNamed(dep1.get(), c.dest).get());
        const ErrorRecord e = RecordOf([&] { modifier.RedirectType(Start(c.source).get(), dest.get(), c.replace); });
        EXPECT_EQ(e.Number, 5);
        EXPECT_EQ(e.Description, zephrin::modSupport::LoadResStringFormat(
                                     815, {u"User." + std::u16string(c.source), u"Dep." + std::u16string(c.dest)}));
    }
    // Nothing was recorded: the list is not built and the sources can still be redirected.
    EXPECT_TRUE(modifier.FinalTypeList().empty());
    modifier.RedirectType(Start(u"Local").get(), Tli(TypeNamed(dep1.get(), u"Shared").get()).get(), false);
    modifier.RedirectType(Start(u"IUser").get(), Tli(TypeNamed(dep1.get(), u"IDep").get()).get(), false);
}

TEST_F(Requests, AReorderPutsADerivedInterfaceBeforeItsBase) {
    // IUser Shared Local Unused IDerived Thing -> IDerived Thing IUser Local Shared Unused
    modifier.ReorderStartingTypes(std::vector<int32_t>{2, 4, 3, 5, 0, 1});
    ComPtr<ITypeLib> out = Generate();
    EXPECT_EQ(TypeNames(out.get()),
              (std::vector<std::u16string>{u"IDerived", u"Thing", u"IUser", u"Local", u"Shared", u"Unused"}));
    ComPtr<ITypeLib> saved = LoadFile(dir / "out.tlb");
    EXPECT_EQ(TypeNames(saved.get()), TypeNames(out.get()));
    ComPtr<ITypeInfo> derived = TypeNamed(saved.get(), u"IDerived"), user = TypeNamed(saved.get(), u"IUser");
    ComPtr<ITypeInfo> base = ImplType(derived.get(), 0);
    EXPECT_EQ(NameOf(base.get()), u"IUser");
    EXPECT_EQ(HolderOf(base.get()).get(), saved.get());
    EXPECT_EQ(ParamType(derived.get(), 0, 0).get(), user.get());
    EXPECT_EQ(ParamType(user.get(), 0, 3).get(), TypeNamed(saved.get(), u"Local").get());
    EXPECT_EQ(AttrOf(derived.get()).cbSizeVft, AttrOf(user.get()).cbSizeVft + 4);
    EXPECT_EQ(NameOf(ImplType(TypeNamed(saved.get(), u"Thing").get(), 0).get()), u"IDerived");
}

TEST_F(Requests, RemovingAnUnusedTypeDropsItButAUsedOneRaises808AndWritesNothing) {
    modifier.RedirectType(Start(u"Unused").get(), nullptr, true);
    EXPECT_EQ(modifier.FinalTypeList().size(), 5u);
    ComPtr<ITypeLib> out = Generate();
    EXPECT_EQ(TypeNames(out.get()),
              (std::vector<std::u16string>{u"IUser", u"Shared", u"Local", u"IDerived", u"Thing"}));
    EXPECT_EQ(ParamType(TypeNamed(out.get(), u"IDerived").get(), 0, 0).get(), TypeNamed(out.get(), u"IUser").get());

    const std::string before = ReadText(dir / "out.tlb");
    TLBModifier used;
    used.StartingLibDirect(start.get());
    used.RedirectType(Start(u"Local").get(), nullptr, true);
    const ErrorRecord e = RecordOf([&] { used.GenerateDirect((dir / "out.tlb").u16string()); });
    EXPECT_EQ(e.Number, 5);
    EXPECT_EQ(e.Description, u"Type 'Local' is still used by other types of the library, so it can't be deleted; the "
                             u"library was not changed.");
    EXPECT_EQ(ReadText(dir / "out.tlb"), before);
}

TEST_F(Requests, AReplacementFromAnotherLibraryTakesTheTypesPlace) {
    modifier.RedirectType(Start(u"Unused").get(), Tli(TypeNamed(dep1.get(), u"DepUnused").get()).get(), true);
    ComPtr<ITypeLib> out = Generate();
    EXPECT_EQ(TypeNames(out.get()),
              (std::vector<std::u16string>{u"IUser", u"Shared", u"Local", u"DepUnused", u"IDerived", u"Thing"}));
    EXPECT_EQ(AttrOf(TypeNamed(out.get(), u"DepUnused").get()).guid, G(4));
}

TEST_F(Requests, ARedirectedImportLibraryServesItsNewerTypesAndKeepsTheHalfOfADual) {
    auto watcher = MakeCom<Watcher>();
    modifier.RedirectionWatcher(watcher.get());
    modifier.RedirectImportLib(Info(dep1.get()).get(), Info(dep2.get()).get());
    ComPtr<ITypeLib> out = Generate();
    ComPtr<ITypeInfo> user = TypeNamed(out.get(), u"IUser");
    ComPtr<ITypeInfo> base = ImplType(user.get(), 0), dual = ParamType(user.get(), 0, 1);
    EXPECT_EQ(HolderOf(base.get()).get(), dep2.get());
    EXPECT_EQ(AttrOf(base.get()).cFuncs, 2);  // v2's IDep
    EXPECT_EQ(HolderOf(dual.get()).get(), dep2.get());
    EXPECT_EQ(AttrOf(dual.get()).typekind, TKIND_INTERFACE);
    // Types without a GUID are found by name: Shared moves, v2's DepKind is
    // of another kind and that reference stays with v1.
    EXPECT_EQ(HolderOf(ParamType(user.get(), 0, 2).get()).get(), dep2.get());
    EXPECT_EQ(HolderOf(ParamType(user.get(), 0, 0).get()).get(), dep1.get());
    // IDep, IDepDual and Shared, each seen from elsewhere to elsewhere.
    EXPECT_EQ(watcher->seen, (std::vector<LONG>{2 + 8, 2 + 8, 2 + 8}));
}

TEST_F(Requests, AnOnDemandLibraryGivesOnlyTheTypesInUseAtTheEnd) {
    modifier.AddExtraLibrary(Info(dep1.get()).get(), TLBModifier::kExtraOnDemand | TLBModifier::kExtraNoDual);
    ComPtr<ITypeLib> out = Generate();
    // IDep, DepKind and IDepDual in the order they are met; dep's Shared is
    // the starting Shared (an enum both).
    EXPECT_EQ(TypeNames(out.get()), (std::vector<std::u16string>{u"IUser", u"Shared", u"Local", u"Unused", u"IDerived",
                                                                  u"Thing", u"IDep", u"DepKind", u"IDepDual"}));
    ComPtr<ITypeInfo> user = TypeNamed(out.get(), u"IUser");
    EXPECT_EQ(ImplType(user.get(), 0).get(), TypeNamed(out.get(), u"IDep").get());
    EXPECT_EQ(ParamType(user.get(), 0, 2).get(), TypeNamed(out.get(), u"Shared").get());
    const TYPEATTR dual = AttrOf(TypeNamed(out.get(), u"IDepDual").get());
    EXPECT_EQ(dual.typekind, TKIND_INTERFACE);
    EXPECT_EQ(dual.wTypeFlags & TYPEFLAG_FDUAL, 0);
    EXPECT_EQ(NameOf(ImplType(TypeNamed(out.get(), u"IDepDual").get(), 0).get()), u"IDispatch");
}

TEST_F(Requests, AllTypesAtOnceKeepAStartingTypeOfTheSameNameAndTakeTheirFlags) {
    modifier.AddExtraLibrary(Info(dep1.get()).get(), TLBModifier::kExtraAllTypes | TLBModifier::kExtraProxy);
    // A second request for a library already taken in changes nothing.
    modifier.AddExtraLibrary(Info(dep1.get()).get(), TLBModifier::kExtraOnDemand | TLBModifier::kExtraNoDual);
    modifier.AddExtraLibrary(Info(start.get()).get(), TLBModifier::kExtraAllTypes);
    ComPtr<ITypeLib> out = Generate();
    EXPECT_EQ(TypeNames(out.get()), (std::vector<std::u16string>{u"IUser", u"Shared", u"Local", u"Unused", u"IDerived",
                                                                  u"Thing", u"IDep", u"IDepDual", u"DepKind",
                                                                  u"DepUnused"}));
    EXPECT_EQ(AttrOf(TypeNamed(out.get(), u"IDep").get()).wTypeFlags & TYPEFLAG_FPROXY, TYPEFLAG_FPROXY);
    const TYPEATTR dual = AttrOf(ImplType(TypeNamed(out.get(), u"IDepDual").get(), -1).get());
    EXPECT_EQ(dual.typekind, TKIND_INTERFACE);
    EXPECT_EQ(dual.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FPROXY), TYPEFLAG_FDUAL | TYPEFLAG_FPROXY);
    EXPECT_EQ(AttrOf(TypeNamed(out.get(), u"DepUnused").get()).wTypeFlags & TYPEFLAG_FPROXY, 0);
    EXPECT_EQ(ParamType(TypeNamed(out.get(), u"IUser").get(), 0, 1).get(),
              ImplType(TypeNamed(out.get(), u"IDepDual").get(), -1).get());
}

TEST_F(Requests, ALibraryMetThroughOneOfItsTypesIsStillTakenIn) {
    modifier.AddExtraType(Tli(TypeNamed(dep1.get(), u"DepUnused").get()).get(), 0);
    modifier.AddExtraLibrary(Info(dep1.get()).get(), TLBModifier::kExtraAllTypes);
    EXPECT_EQ(TypeNames(Generate().get()),
              (std::vector<std::u16string>{u"IUser", u"Shared", u"Local", u"Unused", u"IDerived", u"Thing",
                                           u"DepUnused", u"IDep", u"IDepDual", u"DepKind"}));
}

TEST_F(Requests, ANameHeldByAStartingTypeOfAnotherKindRaises809) {
    auto lib = NewLibrary(u"Clash");
    auto shared = NewType(lib.get(), u"Shared", TKIND_RECORD);
    auto user = NewType(lib.get(), u"IClash", TKIND_INTERFACE);
    AddVar(shared.get(), 0, u"x", Vt(VT_I4));
    AddFunc(user.get(), 0, {u"Use", INVOKE_FUNC, Vt(VT_HRESULT),
                            {{u"s", User(RefTo(user.get(), TypeNamed(dep1.get(), u"Shared").get()))}}});
    TLBModifier clash;
    clash.StartingLibDirect(AsTypeLib(lib.get()).get());
    clash.AddExtraLibrary(Info(dep1.get()).get(), TLBModifier::kExtraOnDemand);
    const ErrorRecord e = RecordOf([&] { clash.GenerateDirect(u""); });
    EXPECT_EQ(e.Description, zephrin::modSupport::LoadResStringFormat(809, {u"Shared"}));
}

TEST_F(Requests, EqualGuidOverridesRaise812NamingBothTypes) {
    modifier.TypeInfoGUID(u"Local", u"{5E1A5101-0000-4000-8000-000000000015}");
    EXPECT_EQ(modifier.TypeInfoGUID(u"local"), u"{5E1A5101-0000-4000-8000-000000000015}");
    EXPECT_EQ(modifier.TypeInfoGUID(u"IDerived"), u"{5E1A5102-0000-4000-8000-000000000015}");
    const ErrorRecord e = RecordOf([&] { Generate(); });
    EXPECT_EQ(e.Description, zephrin::modSupport::LoadResStringFormat(812, {u"Local", u"IUser"}));
    EXPECT_FALSE(fs::exists(dir / "out.tlb"));
}

TEST_F(Requests, APlatformErrorOfSetGuidIsRaisedAsItIsEvenForATypeMadeOnDemand) {
    // The sixth SetGuid is that of IDep, made on demand while IUser is filled.
    for (int skip : {0, 6}) {
        TLBModifier m;
        m.StartingLibDirect(start.get());
        m.AddExtraLibrary(Info(dep1.get()).get(), TLBModifier::kExtraOnDemand);
        ole::testing::FailNextCall("ICreateTypeInfo2::SetGuid", E_OUTOFMEMORY, skip);
        EXPECT_EQ(ErrorOf([&] { m.GenerateDirect((dir / "out.tlb").u16string()); }), E_OUTOFMEMORY) << skip;
        ole::testing::ClearInjectedFailures();
        EXPECT_FALSE(fs::exists(dir / "out.tlb"));
    }
    // A failing write leaves the file that was there.
    Generate();
    const std::string before = ReadText(dir / "out.tlb");
    TLBModifier m;
    m.StartingLibDirect(start.get());
    m.SetLibVersion(7, 1);
    ole::testing::FailNextCall("SaveAllChanges", E_ACCESSDENIED);
    EXPECT_EQ(ErrorOf([&] { m.GenerateDirect((dir / "out.tlb").u16string()); }), E_ACCESSDENIED);
    ole::testing::ClearInjectedFailures();
    EXPECT_EQ(ReadText(dir / "out.tlb"), before);
}

// Room for a type's members is only asked for: refused for any type, the
// regeneration goes on and writes what it writes without it.
TEST_F(Requests, RoomRefusedForTheMembersOfAnyTypeChangesNothingWritten) {
    const fs::path out = dir / "out.tlb";
    Generate();
    const std::string good = ReadText(out);
    const std::string startBefore = tlbtools::DumpTypeLib(start.get());
    for (int skip = 0; skip < 8; ++skip) {
        fs::remove(out);
        TLBModifier m;
        m.StartingLibDirect(start.get());
        ole::testing::FailNextCall("ReserveMembers", E_OUTOFMEMORY, skip);
        EXPECT_EQ(ErrorOf([&] { m.GenerateDirect(out.u16string()); }), 0) << skip;
        ole::testing::ClearInjectedFailures();
        EXPECT_EQ(ReadText(out), good) << skip;
        EXPECT_EQ(tlbtools::DumpTypeLib(start.get()), startBefore) << skip;
    }
}

TEST(RequestsOnChains, AReferenceAtTheEndOfTheDeepestPointerChainIsMapped) {
    auto lib = NewLibrary(u"Deep");
    ASSERT_OK(lib->SetGuid(G(0x200)));
    auto target = NewType(lib.get(), u"Target", TKIND_ENUM);
    const Variant one = Variant::Int(1);
    AddVar(target.get(), 0, u"T1", Vt(VT_I4), VAR_CONST, &one);
    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    TypeDescs td;
    TYPEDESC chain = User(RefTo(rec.get(), target.As<ITypeInfo>().get()));
    for (int i = 0; i < 64; ++i) chain = td.Ptr(chain);  // as deep as the engine takes
    AddVar(rec.get(), 0, u"p", chain);
    TLBModifier modifier;
    modifier.StartingLibDirect(lib.As<ITypeLib>().get());
    const int32_t order[] = {1, 0};
    modifier.ReorderStartingTypes(order);
    ComPtr<ITypeLib> out = modifier.GenerateDirect(u"");
    ComPtr<ITypeInfo> copied = TypeNamed(out.get(), u"Rec");
    VARDESC* vd = nullptr;
    ASSERT_OK(copied->GetVarDesc(0, &vd));
    EXPECT_EQ(UserType(copied.get(), vd->elemdescVar.tdesc).get(), TypeNamed(out.get(), u"Target").get());
    copied->ReleaseVarDesc(vd);
}

// A library being edited is regenerated with requests (a new order, types made
// on demand): a platform error at any call that names a type or a variable, or
// that copies a type's attributes (a dual's from its interface half), is
// raised as it is, leaves the edited library as it was and writes no file; the
// run that finally gets through writes what a run without failures writes.
TEST_F(Requests, AFailingCallAnywhereInARegenerationLeavesTheEditedLibraryAsItWas) {
    auto lib = NewLibrary(u"Live");
    ASSERT_OK(lib->SetGuid(G(0x300)));
    auto dual = NewType(lib.get(), u"IDual", TKIND_INTERFACE);
    ASSERT_OK(dual->SetGuid(G(0x301)));
    ASSERT_OK(dual->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FHIDDEN));
    ASSERT_OK(dual->SetVersion(3, 4));
    ASSERT_OK(dual->AddImplType(0, RefTo(dual.get(), StdOle2Type(kIID_IDispatch).get())));
    AddFunc(dual.get(), 0, {u"Run", INVOKE_FUNC, Vt(VT_HRESULT), {{u"k", User(RefTo(dual.get(), TypeNamed(dep1.get(), u"DepKind").get()))}}});
    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    AddVar(rec.get(), 0, u"first", Vt(VT_I4), VAR_PERINSTANCE, nullptr, 1);
    AddVar(rec.get(), 1, u"", Vt(VT_I2), VAR_PERINSTANCE, nullptr, 2);  // unnamed
    AddVar(rec.get(), 2, u"kind", User(RefTo(rec.get(), TypeNamed(dep1.get(), u"DepKind").get())), VAR_PERINSTANCE,
           nullptr, 3);
    auto kinds = NewType(lib.get(), u"Kinds", TKIND_ENUM);
    AddVar(kinds.get(), 0, u"K0", Vt(VT_I4), VAR_CONST, &one, 4);
    auto coclass = NewType(lib.get(), u"Thing", TKIND_COCLASS);
    ASSERT_OK(coclass->SetGuid(G(0x302)));
    ASSERT_OK(coclass->AddImplType(0, RefTo(coclass.get(), dual.get())));
    ComPtr<ITypeLib> live = AsTypeLib(lib.get());
    // The dispatch half of the dual is what the library lists.
    ASSERT_EQ(AttrOf(TypeNamed(live.get(), u"IDual").get()).typekind, TKIND_DISPATCH);
    const std::string before = tlbtools::DumpTypeLib(live.get());
    const fs::path out = dir / "live-out.tlb";
    auto run = [&] {
        TLBModifier m;
        m.StartingLibDirect(live.get());
        const int32_t order[] = {3, 1, 0, 2};
        m.ReorderStartingTypes(order);
        m.AddExtraLibrary(Info(dep1.get()).get(), TLBModifier::kExtraOnDemand);
        m.GenerateDirect(out.u16string());
    };
    run();
    const std::string good = ReadText(out);
    const ComPtr<ITypeLib> written = LoadFile(out);
    EXPECT_EQ(TypeNames(written.get()), (std::vector<std::u16string>{u"Kinds", u"Rec", u"Thing", u"IDual", u"DepKind"}));
    const TYPEATTR dualAttr = AttrOf(ImplType(TypeNamed(written.get(), u"IDual").get(), -1).get());
    EXPECT_EQ(dualAttr.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN), TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN);
    EXPECT_EQ(dualAttr.wMajorVerNum, 3);
    EXPECT_EQ(dualAttr.wMinorVerNum, 4);
    auto nameOf = [&](MEMBERID id) {
        BSTR name = nullptr;
        UINT got = 0;
        EXPECT_OK(TypeNamed(written.get(), u"Rec")->GetNames(id, &name, 1, &got));
        return got ? TakeBstr(name) : std::u16string(u"(none)");
    };
    EXPECT_EQ(nameOf(2), u"(none)");
    EXPECT_EQ(nameOf(3), u"kind");
    fs::remove(out);
    for (const char* method : {"SetVarName", "SetTypeFlags", "SetVersion", "SetAlignment", "CreateTypeInfo"}) {
        int failed = 0;
        for (int skip = 0; skip < 50; ++skip, ++failed) {
            ole::testing::FailNextCall(method, E_OUTOFMEMORY, skip);
            const int32_t hr = ErrorOf(run);
            ole::testing::ClearInjectedFailures();
            EXPECT_EQ(tlbtools::DumpTypeLib(live.get()), before) << method << " " << skip;
            if (hr == 0) {
                EXPECT_EQ(ReadText(out), good) << method << " " << skip;
                fs::remove(out);
                break;
            }
            EXPECT_EQ(hr, E_OUTOFMEMORY) << method << " " << skip;
            EXPECT_FALSE(fs::exists(out)) << method << " " << skip;
        }
        EXPECT_GT(failed, 0) << method;
    }
}

TEST(RequestsOnDuals, ARedirectReachesBothHalvesOfADual) {
    ComPtr<ITypeLib> lib = LoadFile(fs::path(ZEPHRIN_TEST_DATA_DIR) / "golden" / "interfaces.tlb");
    TLBModifier m;
    m.StartingLibDirect(lib.get());
    // The coclass Widget names IWidget's dispatch half, IGadget derives from its interface half.
    m.RedirectType(Tli(TypeNamed(lib.get(), u"IWidget").get()).get(), Tli(TypeNamed(lib.get(), u"IShape").get()).get(),
                   false);
    ComPtr<ITypeLib> out = m.GenerateDirect(u"");
    EXPECT_EQ(NameOf(ImplType(TypeNamed(out.get(), u"Widget").get(), 0).get()), u"IShape");
    EXPECT_EQ(NameOf(ImplType(TypeNamed(out.get(), u"IGadget").get(), 0).get()), u"IShape");
}

}  // namespace
}  // namespace regentest
