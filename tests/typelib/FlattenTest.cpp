// Flattening an interface onto its standard base, saved and reloaded (its
// rollback: MemberRollbackTest).
#include "ModelTestSupport.h"

namespace modeltest {
namespace {

class Flatten : public ModelTest {
protected:
    void Chain() {
        ic = InterfaceChain();
        ib = lib.GetCustomTypeInfo(u"IB");
    }
    std::shared_ptr<CustomTypeInfo> ib, ic;
};

TEST_F(Flatten, AnInterfaceTakesItsBasesFunctionsAndDerivesFromIDispatch) {
    Chain();
    EXPECT_TRUE(ic->Flatten());
    EXPECT_EQ(ic->FuncCount(), 4);
    const std::string s = Section("IC");
    // Automatic IDs follow the positions the functions take.
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

}  // namespace
}  // namespace modeltest
