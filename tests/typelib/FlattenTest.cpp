// Flattening an interface onto its standard base, saved and reloaded, and
// its rollback when a step fails.
#include "MemberTestSupport.h"

namespace membertest {
namespace {

class Flatten : public MemberTest {
protected:
    // IC derives from IB, which derives from IDispatch.
    void Chain() {
        ib = Interface(u"IB");
        Func(*ib, u"B1", {Param(u"x", VT_I4)}, INVOKE_FUNC, 7);
        Func(*ib, u"B2");
        HelpData hd;
        hd.DocString = u"From B";
        ib->ModifyMemberHelpData(Id(*ib, u"B2"), hd, HelpData::kDocString);
        ic = Add(u"IC", TKIND_INTERFACE);
        ic->SetBaseType(CustomTypeInfo::kBaseCustom, lib.GetTypeInfo(u"IB").get());
        Func(*ic, u"C1");
        Func(*ic, u"C2", {}, INVOKE_FUNC, 9);
    }
    std::shared_ptr<CustomTypeInfo> ib, ic;
};

TEST_F(Flatten, AnInterfaceTakesItsBasesFunctionsAndDerivesFromIDispatch) {
    Chain();
    EXPECT_TRUE(ic->Flatten());
    EXPECT_EQ(ic->FuncCount(), 4);
    const std::string s = Section("IC");
    EXPECT_TRUE(HasInOrder(s, {"vtbl=44 funcs=4", "impl 0 \"IDispatch\"", "func 0 \"B1\" id=0x00000007", "vtoff=28",
                               "param 0 \"x\"", "func 1 \"B2\" id=0x60020001", "vtoff=32", "doc=\"From B\"",
                               "func 2 \"C1\" id=0x60020002", "vtoff=36", "func 3 \"C2\" id=0x00000009", "vtoff=40"}))
        << s;
    EXPECT_EQ(lib.ReadView()->GetTypeInfoCount(), 2u);
}

TEST_F(Flatten, NothingToFlattenChangesNothing) {
    Chain();
    const std::string before = Dump();
    EXPECT_FALSE(ib->Flatten());
    EXPECT_EQ(Dump(), before);
    EXPECT_EQ(ErrorOf([&] { Add(u"DWidget", TKIND_DISPATCH)->Flatten(); }), 5);
}

TEST_F(Flatten, AChainWithoutAStandardBaseEndsWithoutBase) {
    auto ix = Add(u"IX", TKIND_INTERFACE);
    Func(*ix, u"X1");
    auto iy = Add(u"IY", TKIND_INTERFACE);
    iy->SetBaseType(CustomTypeInfo::kBaseCustom, lib.GetTypeInfo(u"IX").get());
    Func(*iy, u"Y1");
    EXPECT_TRUE(iy->Flatten());
    const std::string s = Section("IY");
    EXPECT_TRUE(HasInOrder(s, {"vtbl=8 funcs=2 vars=0 impl=0", "func 0 \"X1\"", "vtoff=0", "func 1 \"Y1\"", "vtoff=4"}))
        << s;
}

struct Injected {
    const char* method;
    int skip;
};

class FlattenRollback : public Flatten, public ::testing::WithParamInterface<Injected> {};

TEST_P(FlattenRollback, AFailedFlattenRestoresTheLibraryExactly) {
    Chain();
    const std::string before = Dump();
    ole::testing::FailNextCall(GetParam().method, E_OUTOFMEMORY, GetParam().skip);
    EXPECT_EQ(ErrorOf([&] { ic->Flatten(); }), E_OUTOFMEMORY);
    ole::testing::ClearInjectedFailures();
    EXPECT_EQ(Dump(), before);
    EXPECT_EQ(lib.ReadView()->GetTypeInfoCount(), 2u);
    EXPECT_TRUE(ic->Flatten());
}

INSTANTIATE_TEST_SUITE_P(Steps, FlattenRollback,
                         ::testing::Values(Injected{"CreateTypeInfo", 0}, Injected{"AddFuncDesc", 2},
                                           Injected{"AddFuncDesc", 5}, Injected{"AddFuncDesc", 7},
                                           Injected{"DeleteFuncDesc", 2}, Injected{"DeleteImplType", 0},
                                           Injected{"ICreateTypeInfo2::SetTypeFlags", 1},
                                           Injected{"AddImplType", 1}, Injected{"SetFuncAndParamNames", 5},
                                           Injected{"SetFuncDocString", 1}, Injected{"DeleteTypeInfo", 0}));

}  // namespace
}  // namespace membertest
