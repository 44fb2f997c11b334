// Taking in and redirecting imported types, end to end against libraries
// saved as files (so that a replay finds them again): one type, the
// referenced types and the whole library, as proxies and not; one type
// redirected, a whole import library redirected to its newer version, a type
// replaced within the library. A library whose imports can't be found gets
// its "MISSING" companion, and it saves only once the placeholders are
// redirected. Then the committed history files.
#include "changes/RedirectionLibraries.h"
#include "changes/RegenChangesSupport.h"
#include "changes/kinds/InternalizeTypesChange.h"
#include "changes/kinds/RedirectTypesChange.h"
#include "regen/TLBModifier.h"
#include "typelib/TypeLibSupport.h"

namespace changestest {
namespace {

// A type of another library as the editor view describes it for lib.
ComPtr<tli::VarTypeInfo> Desc(ITypeLib* lib, ITypeInfo* type) {
    ComPtr<CustomVarTypeInfo> v = CustomVarTypeInfo::New();
    v->CurrentITypeLib(lib);
    v->SetType(0, typelib_detail::TliTypeInfo(type).get());
    return v->GetVarTypeInfo();
}

// The library that holds the user-defined type of IUser.Use's parameter.
ComPtr<ITypeInfo> UseParamType(ITypeLib* lib, UINT param) {
    ComPtr<ITypeInfo> user = TypeNamed(lib, u"IUser");
    typelib_detail::FuncDescHolder fd(user.get(), 0);
    const TYPEDESC* t = &fd->lprgelemdescParam[param].tdesc;
    while (t->vt == VT_PTR) t = t->lptdesc;
    ComPtr<ITypeInfo> ref;
    EXPECT_OK(user->GetRefTypeInfo(t->hreftype, ref.put()));
    return ref;
}

ComPtr<ITypeLib> HolderOf(ITypeInfo* type) { return modITypeInfoHelper::GetContainingTypeLib(type); }

ComPtr<ITypeInfo> ImplTypeOf(ITypeInfo* type, UINT index) {
    HREFTYPE href = 0;
    EXPECT_OK(type->GetRefTypeOfImplType(index, &href));
    ComPtr<ITypeInfo> ref;
    EXPECT_OK(type->GetRefTypeInfo(href, ref.put()));
    return ref;
}

ComPtr<ITypeLib> LoadFile(const fs::path& file) {
    ole::RegisterFileServices();
    ComPtr<ITypeLib> lib;
    EXPECT_OK(LoadTypeLibEx(file.u16string().c_str(), REGKIND_NONE, lib.put()));
    return lib;
}

std::vector<std::u16string> TypeNames(ITypeLib* lib) {
    std::vector<std::u16string> names;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i)
        names.push_back(modITypeInfoHelper::GetTypeInfoName(modITypeInfoHelper::GetInterfaceTypeInfo(lib, i).get()));
    return names;
}

class TypeRedirection : public RegenSession {
protected:
    void SetUp() override {
        ole::RegisterFileServices();
        base1 = BaseLibrary(dir / "base1.tlb", 1);
    }
    void Redirect(int32_t flags, tli::VarTypeInfo* source, tli::VarTypeInfo* dest, ChangeTarget target) {
        auto c = modRedirectTypesChange::NewRedirectTypesChange(false);
        c->Flags(flags);
        c->SourceVarTypeInfo(source);
        c->DestVarTypeInfo(dest);
        Do(c, std::move(target));
    }
    void Internalize(int32_t flags, const char16_t* type) {
        auto c = modInternalizeTypesChange::NewInternalizeTypesChange(false);
        c->Flags(flags);
        c->VarTypeInfo(Desc(Lib(), TypeNamed(base1.get(), type).get()).get());
        Do(c, LibraryTarget(Lib()));
    }
    ComPtr<ITypeLib> base1;
};

class Internalizing : public TypeRedirection, public ::testing::WithParamInterface<std::vector<int32_t>> {};

TEST_P(Internalizing, TakesTheTypesInAndReplaysAlike) {
    Start(UserLibrary(base1.get()));
    const std::vector<int32_t> steps = GetParam();
    for (int32_t flags : steps) Internalize(flags, u"IBase");
    ExpectReplayAlike(UserLibrary(base1.get()), steps.size());
    const bool proxy = (steps[0] & InternalizeTypesChange::kAsProxy) != 0;
    for (const char16_t* name : {u"IBase", u"BaseKind", u"BasePoint"}) {
        const ComPtr<ITypeInfo> type = TypeNamed(Lib(), name);
        EXPECT_EQ(HolderOf(type.get()).get(), Lib()) << Utf8(name);
    }
    EXPECT_EQ((typelib_detail::TypeAttr(TypeNamed(Lib(), u"IBase").get())->wTypeFlags & TYPEFLAG_FPROXY) != 0, proxy);
    EXPECT_EQ(HolderOf(UseParamType(Lib(), 1).get()).get(), Lib());
    EXPECT_EQ(HolderOf(ImplTypeOf(TypeNamed(Lib(), u"IUser").get(), 0).get()).get(), Lib());
}

INSTANTIATE_TEST_SUITE_P(Forms, Internalizing,
                         ::testing::Values(std::vector<int32_t>{0, 1}, std::vector<int32_t>{4, 5},
                                           std::vector<int32_t>{2}, std::vector<int32_t>{6}));

TEST_F(TypeRedirection, RedirectsOneTypeALibraryAndReplacesATypeAndReplaysAlike) {
    const ComPtr<ITypeLib> base2 = BaseLibrary(dir / "base2.tlb", 2);
    Start(UserLibrary(base1.get()));
    Redirect(0, Desc(Lib(), TypeNamed(base1.get(), u"BasePoint").get()).get(), TypeDescOf(Lib(), u"LocalPoint").get(),
             LibraryTarget(Lib()));
    EXPECT_EQ(Utf8(modITypeInfoHelper::GetTypeInfoName(UseParamType(Lib(), 1).get())), "LocalPoint");
    Redirect(RedirectTypesChange::kWholeLibrary, Desc(Lib(), TypeNamed(base1.get(), u"IBase").get()).get(),
             Desc(Lib(), TypeNamed(base2.get(), u"IBase").get()).get(), LibraryTarget(Lib()));
    EXPECT_EQ(HolderOf(ImplTypeOf(TypeNamed(Lib(), u"IUser").get(), 0).get()).get(), base2.get());
    EXPECT_EQ(HolderOf(UseParamType(Lib(), 0).get()).get(), base2.get());
    auto replace = modRedirectTypesChange::NewRedirectTypesChange(false);
    replace->Flags(RedirectTypesChange::kReplaceDefinition);
    replace->SourceVarTypeInfo(TypeDescOf(Lib(), u"IOld").get());
    replace->DestVarTypeInfo(TypeDescOf(Lib(), u"INew").get());
    ChangeTarget target = TypeTarget(Lib(), u"IOld");
    Do(replace, target);
    EXPECT_EQ(replace->Flags(), 6);
    EXPECT_EQ(Utf8(replace->Describe(target)), "Delete interface IOld and replace references with INew");
    EXPECT_EQ(TypeNames(Lib()), (std::vector<std::u16string>{u"IUser", u"LocalPoint", u"INew", u"IHolder"}));
    ExpectReplayAlike(UserLibrary(base1.get()), 3);
}

TEST_F(TypeRedirection, AChangeWithoutASideIsRefusedAndDescribedWithoutIt) {
    Start(UserLibrary(base1.get()));
    const std::string before = Dump(Lib());
    auto c = modRedirectTypesChange::NewRedirectTypesChange(false);
    c->SourceVarTypeInfo(TypeDescOf(Lib(), u"IOld").get());
    ChangeTarget target = LibraryTarget(Lib());
    EXPECT_EQ(Utf8(c->Describe(target)), "Replace all references to type IOld with ");
    EXPECT_EQ(ErrorOf([&] { c->Apply(view, nullptr, target, hub.get(), 0); }), 5);
    EXPECT_EQ(history.ItemCount(), 0);
    EXPECT_EQ(Dump(Lib()), before);
    auto none = modInternalizeTypesChange::NewInternalizeTypesChange(false);
    EXPECT_EQ(ErrorOf([&] { none->Apply(view, nullptr, target, hub.get(), 0); }), 5);
}

// A type redirected to itself (a description of its own, not the same
// object), or a library to itself by way of another of its types, is no
// change: nothing is regenerated, and nothing reaches the history.
TEST_F(TypeRedirection, ATypeOrALibraryRedirectedToItselfIsNoChange) {
    Start(UserLibrary(base1.get()));
    const std::string before = Dump(Lib());
    const ComPtr<ITypeLib> start(Lib());
    struct Case {
        int32_t flags;
        ComPtr<tli::VarTypeInfo> source, dest;
        ChangeTarget target;
    };
    const Case cases[] = {
        {0, TypeDescOf(Lib(), u"IOld"), TypeDescOf(Lib(), u"IOld"), LibraryTarget(Lib())},
        {0, Desc(Lib(), TypeNamed(base1.get(), u"BasePoint").get()),
         Desc(Lib(), TypeNamed(base1.get(), u"BasePoint").get()), LibraryTarget(Lib())},
        {RedirectTypesChange::kWholeLibrary, Desc(Lib(), TypeNamed(base1.get(), u"BasePoint").get()),
         Desc(Lib(), TypeNamed(base1.get(), u"BaseKind").get()), LibraryTarget(Lib())},
        {RedirectTypesChange::kReplaceDefinition, TypeDescOf(Lib(), u"IOld"), TypeDescOf(Lib(), u"IOld"),
         TypeTarget(Lib(), u"IOld")},
    };
    for (const Case& c : cases) {
        auto change = modRedirectTypesChange::NewRedirectTypesChange(false);
        change->Flags(c.flags);
        change->SourceVarTypeInfo(c.source.get());
        change->DestVarTypeInfo(c.dest.get());
        ChangeTarget target = c.target;
        EXPECT_FALSE(change->Apply(view, nullptr, target, hub.get(), 0)) << c.flags;
        EXPECT_FALSE(target.ReplacementLibrary) << c.flags;
        EXPECT_EQ(change->Flags(), c.flags);
    }
    EXPECT_EQ(history.ItemCount(), 0);
    EXPECT_EQ(Lib(), start.get());
    EXPECT_EQ(Dump(Lib()), before);
}

TEST_F(TypeRedirection, MissingImportsGetACompanionAndSaveOnlyOnceRedirected) {
    Start(Shapes());
    const ComPtr<ITypeLib> unresolved = LoadFile(fs::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "unresolved.tlb");
    auto c = modInternalizeTypesChange::NewInternalizeTypesChange(false);
    c->Flags(InternalizeTypesChange::kAllTypes);
    c->VarTypeInfo(Desc(Lib(), TypeNamed(unresolved.get(), u"IStays").get()).get());
    Do(c, LibraryTarget(Lib()));
    const ComPtr<ITypeLib> missing = history.UnresolvedITypeLib();
    ASSERT_TRUE(missing);
    EXPECT_TRUE(modITypeInfoHelper::IsUnresolvedTypesLib(missing.get()));
    const auto save = [&] {
        TLBModifier engine;
        engine.StartingLibDirect(Lib());
        engine.GenerateDirectTestUnresolved(missing.get(), (dir / "out.tlb").u16string());
    };
    const auto text = [](int32_t id) { return modSupport::LoadResStringById(id); };
    EXPECT_EQ(RecordOf(save).Description, text(813));
    EXPECT_FALSE(fs::exists(dir / "out.tlb"));

    const ComPtr<ITypeLib> std = StdOle2();
    Redirect(0, Desc(Lib(), TypeNamed(missing.get(), text(797).c_str()).get()).get(),
             Desc(Lib(), StdOle2Type(kIID_IDispatch).get()).get(), LibraryTarget(Lib()));
    EXPECT_EQ(history.UnresolvedITypeLib().get(), missing.get());
    EXPECT_EQ(RecordOf(save).Description, text(813));
    Redirect(0, Desc(Lib(), TypeNamed(missing.get(), text(799).c_str()).get()).get(),
             Desc(Lib(), TypeNamed(std.get(), u"OLE_COLOR").get()).get(), LibraryTarget(Lib()));
    save();
    const ComPtr<ITypeLib> saved = LoadFile(dir / "out.tlb");
    ASSERT_TRUE(saved);
    EXPECT_EQ(Dump(saved.get()).find(Utf8(text(796))), std::string::npos);
    EXPECT_EQ(Utf8(modITypeInfoHelper::GetTypeInfoName(ImplTypeOf(TypeNamed(saved.get(), u"IStays").get(), 0).get())),
              "IDispatch");
}

TEST(TypeRedirectionGolden, InternalizeReferencedTypesAsProxies) {
    const ComPtr<ITypeLib> lib = Shapes();
    auto c = modInternalizeTypesChange::NewInternalizeTypesChange(false);
    c->Flags(InternalizeTypesChange::kReferencedTypes | InternalizeTypesChange::kAsProxy);
    c->VarTypeInfo(TypeDescOf(lib.get(), u"IShape").get());
    ExpectGolden("internalize-types.leh", ChangeKind::InternalizeTypesChange, lib.get(), LibraryTarget(lib.get()), c);
}

TEST(TypeRedirectionGolden, ReplaceATypeWithinTheLibrary) {
    const ComPtr<ITypeLib> lib = Shapes();
    auto c = modRedirectTypesChange::NewRedirectTypesChange(false);
    c->Flags(RedirectTypesChange::kReplaceDefinition | RedirectTypesChange::kSameLibrary);
    c->SourceVarTypeInfo(TypeDescOf(lib.get(), u"LongPtr").get());
    c->DestVarTypeInfo(TypeDescOf(lib.get(), u"LongPtrAlias").get());
    const ChangeTarget target = TypeTarget(lib.get(), u"LongPtr");
    ExpectGolden("redirect-types.leh", ChangeKind::RedirectTypesChange, lib.get(), target, c);
}

}  // namespace
}  // namespace changestest
