// The callbacks of a generation: the help-data provider and the custom-data
// modifier see every item with the masks and contexts they are promised, and
// what they change is written; the redirection watcher is told where each
// redirected type lies; a callback's error ends the generation unchanged and
// nothing is saved. The wait cursor shows while a generation runs.
#include <map>

#include "RegenTestSupport.h"
#include "foundation/modHourGlass.h"

namespace regentest {
namespace {

namespace hourglass = zephrin::modHourGlass;
using zephrin::CustDataContext;
using zephrin::HelpData;

fs::path Golden(const char* name) { return fs::path(ZEPHRIN_TEST_DATA_DIR) / "golden" / (std::string(name) + ".tlb"); }

struct HelpProvider : RefCounted<zephrin::IModifyHelpData> {
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return QueryInterfaceFor<zephrin::IModifyHelpData>(this, riid, ppv);
    }
    HRESULT ModifyLibHelp(tli::TypeLibInfo*, HelpData& help) override {
        ++lib;
        pointer = hourglass::kDefaultPointer;
        if (hook) pointer = current;
        help.DocString = u"Rewritten";
        return S_OK;
    }
    HRESULT ModifyTypeHelp(tli::TypeInfo* type, LONG mask, HelpData& help) override {
        ++masks[mask];
        std::u16string name;
        EXPECT_OK(type->get_Name(&name));
        if (name == u"Note" && mask == 25) help.HelpContext = 0;
        if (mask == 6) help.HelpFile = help.HelpStringDll = u"other";
        if (failure && name == u"Helper") {
            if (failure > 0) throw ErrorRecord(failure, u"The provider gave up");
            return failure;
        }
        return S_OK;
    }
    HRESULT ModifyMemberHelp(tli::TypeInfo*, tli::MemberInfo* member, HelpData& help) override {
        ++members;
        std::u16string name;
        EXPECT_OK(member->get_Name(&name));
        if (name == u"Quiet") help.DocString = u"Now documented";
        help.HelpFile = help.HelpStringDll = u"other";
        return S_OK;
    }
    int lib = 0, members = 0;
    std::map<LONG, int> masks;
    int32_t failure = 0;
    bool hook = false;
    int16_t current = 0, pointer = -1;
};

struct CustModifier : RefCounted<zephrin::IModifyCustData> {
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return QueryInterfaceFor<zephrin::IModifyCustData>(this, riid, ppv);
    }
    HRESULT ModifyCustData(const CustDataContext& context, CUSTDATA& data, bool& owns) override {
        ++kinds[context.ItemKind];
        EXPECT_TRUE(context.Source && context.Destination);
        if (context.ItemKind == CustDataContext::kFunction) ClearCustData(&data);
        if (context.ItemKind == CustDataContext::kLibrary) {
            // The library's items are replaced by one item of the modifier's own.
            ClearCustData(&data);
            item.guid = {0x5E1A5300, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x15}};
            item.varValue = value.get();
            data.cCustData = 1;
            data.prgCustData = &item;
            owns = true;
        }
        return S_OK;
    }
    HRESULT FreeCustData(CUSTDATA& data) override {
        ++freed;
        data = CUSTDATA{};
        return S_OK;
    }
    std::map<int32_t, int> kinds;
    int freed = 0;
    Variant value = Variant(u"replaced");
    CUSTDATAITEM item{};
};

struct Watcher : RefCounted<zephrin::IExternalTypeRedirection> {
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return QueryInterfaceFor<zephrin::IExternalTypeRedirection>(this, riid, ppv);
    }
    HRESULT OnTypeRedirection(LONG flags, tli::TypeInfo*, tli::TypeInfo*) override {
        seen.push_back(flags);
        return E_FAIL;  // not used
    }
    std::vector<LONG> seen;
};

class Callbacks : public ::testing::Test {
protected:
    TempDir dir;
    TLBModifier modifier;
};

TEST_F(Callbacks, TheHelpProviderSeesEveryItemWithItsMaskAndWhatItChangesIsWritten) {
    ComPtr<ITypeLib> lib = LoadFile(Golden("helpdata"));
    auto provider = MakeCom<HelpProvider>();
    modifier.StartingLibDirect(lib.get());
    modifier.HelpModifier(provider.get());
    ComPtr<ITypeLib> out = modifier.GenerateDirect(u"");
    // IHelpful (3 functions), Note (2 fields), Helper, HelpModule (a function and a constant).
    EXPECT_EQ(provider->lib, 1);
    EXPECT_EQ(provider->masks, (std::map<LONG, int>{{6, 4}, {25, 4}}));
    EXPECT_EQ(provider->members, 7);
    // The help files the types and members were created under are not the library's.
    BSTR doc = nullptr, file = nullptr, dll = nullptr;
    DWORD context = 7;
    ASSERT_OK(out->GetDocumentation(-1, nullptr, &doc, nullptr, &file));
    EXPECT_EQ(TakeBstr(doc), u"Rewritten");
    EXPECT_EQ(TakeBstr(file), u"golden.chm");
    ASSERT_OK(out.As<ITypeLib2>()->GetDocumentation2(-1, 0, nullptr, nullptr, &dll));
    EXPECT_EQ(TakeBstr(dll), u"goldenres.dll");
    ASSERT_OK(TypeNamed(out.get(), u"Note")->GetDocumentation(MEMBERID_NIL, nullptr, nullptr, &context, nullptr));
    EXPECT_EQ(context, 0u);
    ComPtr<ITypeInfo> helpful = TypeNamed(out.get(), u"IHelpful");
    FUNCDESC* fd = nullptr;
    ASSERT_OK(helpful->GetFuncDesc(1, &fd));
    ASSERT_OK(helpful->GetDocumentation(fd->memid, nullptr, &doc, nullptr, nullptr));
    helpful->ReleaseFuncDesc(fd);
    EXPECT_EQ(TakeBstr(doc), u"Now documented");
}

TEST_F(Callbacks, ACallbacksErrorEndsTheGenerationUnchangedAndSavesNothing) {
    ComPtr<ITypeLib> lib = LoadFile(Golden("helpdata"));
    auto provider = MakeCom<HelpProvider>();
    provider->failure = 1234;
    modifier.StartingLibDirect(lib.get());
    modifier.HelpModifier(provider.get());
    const ErrorRecord e = RecordOf([&] { modifier.GenerateDirect((dir / "out.tlb").u16string()); });
    EXPECT_EQ(e.Number, 1234);
    EXPECT_EQ(e.Description, u"The provider gave up");
    EXPECT_FALSE(fs::exists(dir / "out.tlb"));
    // A failing result of a component: run-time error 9 carried as an HRESULT.
    provider->failure = static_cast<int32_t>(0x800A0009);
    TLBModifier again;
    again.StartingLibDirect(lib.get());
    again.HelpModifier(provider.get());
    EXPECT_EQ(ErrorOf([&] { again.GenerateDirect((dir / "out.tlb").u16string()); }), 9);
    EXPECT_FALSE(fs::exists(dir / "out.tlb"));
}

// A provider that documents every member with text the file can't hold.
struct ForeignHelp : RefCounted<zephrin::IModifyHelpData> {
    HRESULT QueryInterface(const IID& riid, void** ppv) override {
        return QueryInterfaceFor<zephrin::IModifyHelpData>(this, riid, ppv);
    }
    HRESULT ModifyLibHelp(tli::TypeLibInfo*, HelpData&) override { return S_OK; }
    HRESULT ModifyTypeHelp(tli::TypeInfo*, LONG, HelpData&) override { return S_OK; }
    HRESULT ModifyMemberHelp(tli::TypeInfo*, tli::MemberInfo*, HelpData& help) override {
        help.DocString = u"Größe 日本語";
        return S_OK;
    }
};

TEST_F(Callbacks, AProvidersTextTheFileCantHoldEndsTheGenerationNamingTheCharacter) {
    ComPtr<ITypeLib> lib = LoadFile(Golden("helpdata"));
    modifier.StartingLibDirect(lib.get());
    modifier.HelpModifier(MakeCom<ForeignHelp>().get());
    const ErrorRecord e = RecordOf([&] { modifier.GenerateDirect((dir / "out.tlb").u16string()); });
    EXPECT_EQ(e.Number, zephrin::kErrInvalidArgument);
    EXPECT_NE(e.Description.find(u"'日' (U+65E5)"), std::u16string::npos);
    EXPECT_FALSE(fs::exists(dir / "out.tlb"));
}

TEST_F(Callbacks, TheCustomDataModifierSeesEachLevelAndMayDropOrReplaceItems) {
    ComPtr<ITypeLib> lib = LoadFile(Golden("helpdata"));
    auto cust = MakeCom<CustModifier>();
    modifier.StartingLibDirect(lib.get());
    modifier.CustDataModifier(cust.get());
    ComPtr<ITypeLib> out = modifier.GenerateDirect(u"");
    // Once per item: the library, 4 types, the coclass entry, 3 variables,
    // 4 functions and their 3 parameters.
    EXPECT_EQ(cust->kinds, (std::map<int32_t, int>{{1, 1}, {2, 4}, {3, 1}, {4, 3}, {5, 4}, {6, 3}}));
    EXPECT_EQ(cust->freed, 1);
    CUSTDATA data{};
    ASSERT_OK(out.As<ITypeLib2>()->GetAllCustData(&data));
    ASSERT_EQ(data.cCustData, 1u);
    EXPECT_EQ(data.prgCustData[0].varValue.vt, VT_BSTR);
    ClearCustData(&data);
    ComPtr<ITypeInfo2> helpful = TypeNamed(out.get(), u"IHelpful").As<ITypeInfo2>();
    ASSERT_OK(helpful->GetAllFuncCustData(0, &data));
    EXPECT_EQ(data.cCustData, 0u);  // dropped
    ASSERT_OK(helpful->GetAllParamCustData(0, 1, &data));
    EXPECT_EQ(data.cCustData, 1u);  // kept
    ClearCustData(&data);
}

TEST_F(Callbacks, TheWatcherIsToldWhereEachRedirectedTypeLies) {
    ComPtr<ITypeLib> lib = LoadFile(Golden("helpdata"));
    auto watcher = MakeCom<Watcher>();
    modifier.StartingLibDirect(lib.get());
    modifier.RedirectionWatcher(watcher.get());
    // The coclass entry IHelpful, first to a type of its own library, then
    // (another request on stdole) from stdole's IUnknown to IPicture.
    modifier.RedirectType(Tli(TypeNamed(lib.get(), u"IHelpful").get()).get(),
                          Tli(TypeNamed(lib.get(), u"IHelpful").get()).get(), false);
    modifier.RedirectType(Tli(StdOle2Type(kIID_IUnknown).get()).get(),
                          Tli(TypeNamed(StdOle2().get(), u"IPicture").get()).get(), false);
    ComPtr<ITypeLib> out = modifier.GenerateDirect(u"");
    using W = zephrin::IExternalTypeRedirection;
    EXPECT_EQ(watcher->seen, (std::vector<LONG>{W::kSourceElsewhere + W::kDestElsewhere,
                                                W::kSourceInStartingLib + W::kDestInStartingLib}));
    EXPECT_EQ(NameOf(ImplType(TypeNamed(out.get(), u"IHelpful").get(), 0).get()), u"IPicture");
}

TEST_F(Callbacks, TheWaitCursorShowsWhileAGenerationRuns) {
    auto provider = MakeCom<HelpProvider>();
    provider->hook = true;
    int16_t& current = provider->current;
    current = 3;
    hourglass::SetMousePointerHook({[&] { return current; }, [&](int16_t p) { current = p; }});
    ComPtr<ITypeLib> lib = LoadFile(Golden("kinds"));
    modifier.StartingLibDirect(lib.get());
    modifier.HelpModifier(provider.get());
    modifier.GenerateDirect(u"");
    hourglass::SetMousePointerHook({});
    EXPECT_EQ(provider->pointer, hourglass::kHourGlassPointer);
    EXPECT_EQ(current, 3);
}

TEST_F(Callbacks, DocStringsGiveWayToAHelpStringDllWhenAsked) {
    for (const char* name : {"helpdata", "kinds"}) {
        ComPtr<ITypeLib> lib = LoadFile(Golden(name));
        TLBModifier m;
        m.StartingLibDirect(lib.get());
        m.HelpGeneration(TLBModifier::kNoDocStringWithDll);
        ComPtr<ITypeLib> out = m.GenerateDirect(u"");
        BSTR doc = nullptr;
        ASSERT_OK(out->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr));
        // helpdata names a help string DLL, kinds none.
        EXPECT_EQ(TakeBstr(doc).empty(), std::string(name) == "helpdata") << name;
        EXPECT_EQ(m.HelpGeneration() & TLBModifier::kLibraryHasHelpStringDll,
                  std::string(name) == "helpdata" ? TLBModifier::kLibraryHasHelpStringDll : 0);
    }
}

}  // namespace
}  // namespace regentest
