// The member rebuild engine undoes everything when a step fails: injected
// failures at each step leave the saved library exactly as it was, and the
// first error reaches the caller. The layout probe leaves no trace.
#include "MemberTestSupport.h"

namespace membertest {
namespace {

enum class Target { Property, ModuleFunction, Variable };

struct Step {
    const char* method;
    int skip;
    Target target;
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
    return os << s.method << "+" << s.skip << "/" << static_cast<int>(s.target);
}

class RebuildRollback : public MemberTest, public ::testing::WithParamInterface<Step> {
protected:
    void Build() {
        ASSERT_OK(lib.CreateView()->SetHelpFileName(u"widgets.chm"));
        ASSERT_OK(lib.CreateView()->SetHelpStringDll(u"widgetsui.dll"));
        Variant tag(std::u16string_view(u"tagged"));
        HelpData hd;
        hd.DocString = u"Documented";
        hd.HelpContext = 3;
        hd.HelpStringContext = 4;
        const int32_t helpFields = HelpData::kDocString | HelpData::kHelpContext | HelpData::kHelpStringContext;

        iface = Interface(u"IWidget");
        Func(*iface, u"First");
        Func(*iface, u"Value", {Param(u"index", VT_I4), Param(u"v", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)},
             INVOKE_PROPERTYGET);
        Func(*iface, u"Middle");
        Func(*iface, u"Value", {Param(u"index", VT_I4), Param(u"v", VT_I4)}, INVOKE_PROPERTYPUT);
        valueId = Id(*iface, u"Value");
        iface->ModifyMemberHelpData(valueId, hd, helpFields);
        ASSERT_OK(iface->CreateTypeInfo()->SetFuncCustData(1, CustKey(1), tag.ptr()));
        ASSERT_OK(iface->CreateTypeInfo()->SetFuncCustData(3, CustKey(2), tag.ptr()));
        ASSERT_OK(iface->CreateTypeInfo()->SetParamCustData(3, 0, CustKey(3), tag.ptr()));

        module = Add(u"Native", TKIND_MODULE);
        Func(*module, u"Open", {Param(u"handle", VT_I4)});
        openId = Id(*module, u"Open");
        module->ModifyMemberHelpData(openId, hd, helpFields);
        ASSERT_OK(module->CreateTypeInfo()->SetFuncCustData(0, CustKey(4), tag.ptr()));

        record = Add(u"Point", TKIND_RECORD);
        record->AddProperty(u"x", Ty(VT_I2).get(), -1, 0, -1);
        record->AddProperty(u"y", Ty(VT_I2).get(), -1, 0, -1);
        xId = Id(*record, u"x");
        record->ModifyMemberHelpData(xId, hd, helpFields);
        ASSERT_OK(record->CreateTypeInfo()->SetVarCustData(0, CustKey(5), tag.ptr()));
    }

    void Edit(Target target) {
        switch (target) {
            case Target::Property: {
                ModifyData md;
                md.FieldMask = ModifyData::kFlags;
                md.Flags = FUNCFLAG_FDEFAULTBIND | FUNCFLAG_FHIDDEN;
                iface->ModifyMember(valueId, INVOKE_PROPERTYGET, md);
                break;
            }
            case Target::ModuleFunction:
                module->SetMemberReturnType(openId, Ty(VT_BSTR).get());
                break;
            case Target::Variable:
                record->SetMemberReturnType(xId, Ty(VT_R8).get());
                break;
        }
    }

    std::shared_ptr<CustomTypeInfo> iface, module, record;
    MEMBERID valueId = 0, openId = 0, xId = 0;
};

TEST_P(RebuildRollback, AFailedStepRestoresTheLibraryExactly) {
    Build();
    const std::string before = Dump();
    const Step& step = GetParam();
    ole::testing::FailNextCall(step.method, E_OUTOFMEMORY, step.skip);
    const ErrorRecord err = RecordOf([&] { Edit(step.target); });
    EXPECT_EQ(err.Number, E_OUTOFMEMORY);
    ole::testing::ClearInjectedFailures();
    EXPECT_EQ(Dump(), before);
    // And the same edit then succeeds.
    Edit(step.target);
    EXPECT_NE(Dump(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, RebuildRollback,
    ::testing::Values(Step{"AddFuncDesc", 1, Target::Property}, Step{"AddFuncDesc", 2, Target::Property},
                      Step{"SetFuncAndParamNames", 0, Target::Property},
                      Step{"SetFuncAndParamNames", 1, Target::Property},
                      Step{"SetFuncAndParamNames", 2, Target::Property},
                      Step{"SetFuncAndParamNames", 3, Target::Property}, Step{"SetFuncCustData", 1, Target::Property},
                      Step{"SetParamCustData", 0, Target::Property}, Step{"SetFuncDocString", 1, Target::Property},
                      Step{"SetFuncHelpStringContext", 0, Target::Property},
                      Step{"DeleteFuncDesc", 1, Target::Property}, Step{"DeleteFuncDesc", 2, Target::Property},
                      Step{"SetHelpStringDll", 0, Target::Property},
                      Step{"DefineFuncAsDllEntry", 0, Target::ModuleFunction},
                      Step{"SetFuncCustData", 0, Target::ModuleFunction},
                      Step{"SetFuncAndParamNames", 1, Target::ModuleFunction},
                      Step{"AddVarDesc", 0, Target::Variable}, Step{"SetVarCustData", 0, Target::Variable},
                      Step{"SetVarDocString", 0, Target::Variable}, Step{"SetVarName", 1, Target::Variable},
                      Step{"DeleteVarDesc", 0, Target::Variable}, Step{"LayOut", 0, Target::Variable}));

TEST_F(MemberTest, TheLayoutProbeLeavesNoTrace) {
    auto t = Interface(u"IWidget");
    Func(*t, u"First");
    Func(*t, u"Second");
    auto m = Add(u"Native", TKIND_MODULE);
    const std::string before = Dump();
    int16_t offset = 99;
    EXPECT_FALSE(t->NextVTableOffset(offset));  // automatic slots: the layout assigns one
    EXPECT_EQ(offset, 0);
    offset = 99;
    EXPECT_FALSE(m->NextVTableOffset(offset));
    EXPECT_EQ(offset, 99);
    EXPECT_EQ(Dump(), before);

    // Hand-placed slots: the next one is the end of the vtable.
    const int16_t order[] = {32, 28};
    t->ReorderVTable(order, false);
    const std::string reordered = Dump();
    EXPECT_TRUE(t->NextVTableOffset(offset));
    EXPECT_EQ(offset, 36);
    EXPECT_EQ(Dump(), reordered);
}

}  // namespace
}  // namespace membertest
