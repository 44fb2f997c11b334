// Every edit that changes members undoes everything when a step fails: a
// failure injected at each step leaves the library exactly as it was, live
// and saved, no temporary type behind, and the first error reaches the
// caller; the same edit then succeeds.
#include "ModelTestSupport.h"

namespace modeltest {
namespace {

enum class Edit {
    PropertyFlags,       // a property's get accessor: both accessors are rebuilt
    ModuleFunctionType,  // a module function with its DLL entry
    VariableType,        // a record field
    ReorderVTable,       // synchronized: the functions move
    ResetIDs,            // every ID of an interface
    ResetDispatchIDs,    // functions, then variables, of a dispinterface
    ReorderVars,
    Flatten,             // IC : IB : IDispatch onto IDispatch
    Rebase,              // IShape : IUnknown onto IBase : IDispatch
    RebaseEmpty,         // an interface without functions
    Rename,              // a property: get and put renamed together
    RenameParameter,
    DeleteProperty,      // get and put deleted
    HelpDirect,          // a property's documentation, written on each accessor
    DefaultMember,       // the default flag moves from a variable to a function
    DefaultMethod,       // ... from a method of an interface to another (a rebuild inside the rebuild)
    DefaultField,        // ... from a record field to another changing its type
    ReorderProperty,     // a property's put moves in front of its get
};

struct Case {
    Edit edit;
    const char* method;  // the creation interface call that fails
    int skip;            // after this many successful calls
};

std::string Describe(const Case& c) {
    static const char* const kEdits[] = {"PropertyFlags", "ModuleFunctionType", "VariableType", "ReorderVTable",
                                         "ResetIDs",      "ResetDispatchIDs",   "ReorderVars",  "Flatten",
                                         "Rebase",        "RebaseEmpty",        "Rename",       "RenameParameter",
                                         "DeleteProperty", "HelpDirect",        "DefaultMember",
                                         "DefaultMethod",  "DefaultField",      "ReorderProperty"};
    std::string method = c.method;
    if (size_t colons = method.rfind("::"); colons != std::string::npos) method.erase(0, colons + 2);
    return std::string(kEdits[static_cast<int>(c.edit)]) + "_" + method + std::to_string(c.skip);
}
std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return Describe(info.param); }
void PrintTo(const Case& c, std::ostream* os) { *os << Describe(c); }

class MemberRollback : public ModelTest, public ::testing::WithParamInterface<Case> {
protected:
    // One library with a type for each edit, each with help, custom data and
    // explicit IDs where the edit must keep them.
    void Build() {
        // No help string DLL: the members' help string contexts must come
        // back all the same.
        ASSERT_OK(lib.CreateView()->SetHelpFileName(u"widgets.chm"));
        Variant tag(std::u16string_view(u"tagged"));
        HelpData hd;
        hd.DocString = u"Documented";
        hd.HelpContext = 3;
        hd.HelpStringContext = 4;
        const int32_t helpFields = HelpData::kDocString | HelpData::kHelpContext | HelpData::kHelpStringContext;

        widget = Interface(u"IWidget");
        Func(*widget, u"First");
        ModifyData first;
        first.FieldMask = ModifyData::kFlags;
        first.Flags = FUNCFLAG_FUIDEFAULT;
        widget->ModifyMember(Id(*widget, u"First"), 0, first);
        Func(*widget, u"Value", {Param(u"index", VT_I4), Param(u"v", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)},
             INVOKE_PROPERTYGET);
        Func(*widget, u"Middle");
        Func(*widget, u"Value", {Param(u"index", VT_I4), Param(u"v", VT_I4)}, INVOKE_PROPERTYPUT,
             Id(*widget, u"Value"));
        widget->ModifyMemberHelpData(Id(*widget, u"Value"), hd, helpFields);
        ASSERT_OK(widget->CreateTypeInfo()->SetFuncCustData(1, CustKey(1), tag.ptr()));
        ASSERT_OK(widget->CreateTypeInfo()->SetFuncCustData(3, CustKey(2), tag.ptr()));
        ASSERT_OK(widget->CreateTypeInfo()->SetParamCustData(3, 0, CustKey(3), tag.ptr()));

        module = Add(u"Native", TKIND_MODULE);
        Func(*module, u"Open", {Param(u"handle", VT_I4)});
        module->ModifyMemberHelpData(Id(*module, u"Open"), hd, helpFields);
        ASSERT_OK(module->CreateTypeInfo()->SetFuncCustData(0, CustKey(4), tag.ptr()));

        point = Add(u"Point", TKIND_RECORD);
        point->AddProperty(u"x", Ty(VT_I2).get(), -1, 0, -1);
        point->AddProperty(u"y", Ty(VT_I2).get(), -1, VARFLAG_FUIDEFAULT, -1);
        point->ModifyMemberHelpData(Id(*point, u"x"), hd, helpFields);
        ASSERT_OK(point->CreateTypeInfo()->SetVarCustData(0, CustKey(5), tag.ptr()));

        three = ThreeMethods(u"IThree");

        pair = Add(u"Pair", TKIND_RECORD);
        pair->AddProperty(u"x", Ty(VT_I2).get(), -1, 0, -1);
        pair->AddProperty(u"y", Ty(VT_I4).get(), 9, 0, -1);

        events = Add(u"DWidget", TKIND_DISPATCH);
        events->AddProperty(u"Width", Ty(VT_I4).get(), 0x40000007, VARFLAG_FUIDEFAULT, -1);
        Func(*events, u"Draw", {}, INVOKE_FUNC, 12);
        Func(*events, u"Undo");

        ic = InterfaceChain();

        auto base = Interface(u"IBase");
        Func(*base, u"Inherited");
        shape = Add(u"IShape", TKIND_INTERFACE);
        shape->SetBaseType(CustomTypeInfo::kBaseIUnknown, nullptr);
        Func(*shape, u"Area", {Param(u"value", VT_R8, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)});
        Func(*shape, u"Fixed", {}, INVOKE_FUNC, 5);
        Func(*shape, u"Move", {Param(u"x", VT_I4), Param(u"y", VT_I4)});
        shape->ModifyMemberHelpData(Id(*shape, u"Move"), hd, helpFields);
        ASSERT_OK(shape->CreateTypeInfo()->SetFuncCustData(2, CustKey(7), tag.ptr()));
        ASSERT_OK(shape->CreateTypeInfo()->SetParamCustData(2, 1, CustKey(8), tag.ptr()));

        empty = Add(u"IEmpty", TKIND_INTERFACE);
        empty->SetBaseType(CustomTypeInfo::kBaseIUnknown, nullptr);
        empty->LayOut();
    }

    void Run(Edit edit) {
        static const int16_t kOrder[] = {36, 28, 32}, kVarOrder[] = {1, 0}, kPutFirst[] = {28, 36, 40, 32};
        ModifyData md;
        switch (edit) {
            case Edit::PropertyFlags:
                md.FieldMask = ModifyData::kFlags;
                md.Flags = FUNCFLAG_FDEFAULTBIND | FUNCFLAG_FHIDDEN;
                return widget->ModifyMember(Id(*widget, u"Value"), INVOKE_PROPERTYGET, md);
            case Edit::ModuleFunctionType: return module->SetMemberReturnType(Id(*module, u"Open"), Ty(VT_BSTR).get());
            case Edit::VariableType: return point->SetMemberReturnType(Id(*point, u"x"), Ty(VT_R8).get());
            case Edit::ReorderVTable: return three->ReorderVTable(kOrder, true);
            case Edit::ResetIDs: return three->ResetMemberIDs(true);
            case Edit::ResetDispatchIDs: return events->ResetMemberIDs(true);
            case Edit::ReorderVars: (void)pair->ReorderVars(kVarOrder); return;
            case Edit::Flatten: (void)ic->Flatten(); return;
            case Edit::Rebase: return shape->SetBaseType(CustomTypeInfo::kBaseCustom, T(u"IBase").get());
            case Edit::RebaseEmpty: return empty->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
            case Edit::Rename: return widget->SetMemberName(Id(*widget, u"Value"), u"Amount");
            case Edit::RenameParameter: return widget->SetParameterName(Id(*widget, u"Value"), 0, u"key");
            case Edit::DeleteProperty: return widget->DeleteMember(Id(*widget, u"Value"), 0);
            case Edit::HelpDirect: {
                HelpData hd;
                hd.DocString = u"Changed";
                hd.HelpContext = 8;
                return widget->ModifyMemberHelpData(Id(*widget, u"Value"), hd, HelpData::kDocString | HelpData::kHelpContext);
            }
            case Edit::DefaultMember:
                md.FieldMask = ModifyData::kFlags;
                md.Flags = FUNCFLAG_FUIDEFAULT;
                return events->ModifyMember(12, 0, md);
            case Edit::DefaultMethod:
                md.FieldMask = ModifyData::kFlags;
                md.Flags = FUNCFLAG_FUIDEFAULT;
                return widget->ModifyMember(Id(*widget, u"Middle"), 0, md);
            case Edit::DefaultField:
                md.FieldMask = ModifyData::kFlags | ModifyData::kVTInfo;
                md.Flags = VARFLAG_FUIDEFAULT;
                md.VTInfo = Ty(VT_R8);
                return point->ModifyMember(Id(*point, u"x"), 0, md);
            case Edit::ReorderProperty: return widget->ReorderVTable(kPutFirst, true);
        }
    }

    std::shared_ptr<CustomTypeInfo> widget, module, point, three, pair, events, ic, shape, empty;
};

TEST_P(MemberRollback, AFailedStepRestoresTheLibraryExactly) {
    Build();
    const std::string before = Dump(), live = Snapshot();  // saving lays every type out
    const UINT types = TypeCount();
    ole::testing::FailNextCall(GetParam().method, E_OUTOFMEMORY, GetParam().skip);
    EXPECT_EQ(ErrorOf([&] { Run(GetParam().edit); }), E_OUTOFMEMORY);
    ole::testing::ClearInjectedFailures();
    EXPECT_EQ(Snapshot(), live);
    EXPECT_EQ(Dump(), before);
    EXPECT_EQ(TypeCount(), types);
    Run(GetParam().edit);
    EXPECT_NE(Dump(), before);
    EXPECT_EQ(TypeCount(), types);
}

std::vector<Case> Cases() {
    std::vector<Case> all;
    auto add = [&](Edit edit, std::initializer_list<std::pair<const char*, int>> steps) {
        for (const auto& [method, skip] : steps) all.push_back({edit, method, skip});
    };
    add(Edit::PropertyFlags, {{"AddFuncDesc", 1},           {"AddFuncDesc", 2},
                              {"SetFuncAndParamNames", 0},  {"SetFuncAndParamNames", 1},
                              {"SetFuncAndParamNames", 2},  {"SetFuncAndParamNames", 3},
                              {"SetFuncCustData", 1},       {"SetParamCustData", 0},
                              {"SetFuncDocString", 1},
                              {"DeleteFuncDesc", 0},        // the layout probe's trial function
                              {"DeleteFuncDesc", 1},        {"DeleteFuncDesc", 2},
                              {"SetHelpStringDll", 0},      {"LayOut", 1}});  // the final layout
    add(Edit::ModuleFunctionType, {{"DefineFuncAsDllEntry", 0}, {"SetFuncCustData", 0}, {"SetFuncAndParamNames", 1}});
    add(Edit::VariableType, {{"AddVarDesc", 0}, {"SetVarCustData", 0}, {"SetVarDocString", 0}, {"SetVarName", 1},
                             {"DeleteVarDesc", 0}, {"LayOut", 0}});
    for (Edit edit : {Edit::ReorderVTable, Edit::ResetIDs})
        add(edit, {{"DeleteFuncDesc", 0}, {"LayOut", 1},  // the layout probe
                   {"CreateTypeInfo", 0}, {"AddFuncDesc", 2}, {"AddFuncDesc", 4}, {"AddFuncDesc", 5},
                   {"DeleteFuncDesc", 2}, {"SetFuncAndParamNames", 4}, {"SetFuncCustData", 1},
                   {"SetFuncDocString", 1}, {"DeleteTypeInfo", 0}});
    add(Edit::ResetDispatchIDs, {{"AddVarDesc", 1}});  // the functions have their new IDs by then
    add(Edit::ReorderVars, {{"CreateTypeInfo", 0}, {"AddVarDesc", 1}, {"AddVarDesc", 3}, {"SetVarName", 2},
                            {"DeleteVarDesc", 1}, {"DeleteTypeInfo", 0}});
    // The base's layout probe runs on a stand-in of two functions, made before the temporary type.
    add(Edit::Flatten, {{"DeleteFuncDesc", 0}, {"LayOut", 1},  // the type's own layout probe
                        {"CreateTypeInfo", 1}, {"AddFuncDesc", 4}, {"AddFuncDesc", 7}, {"AddFuncDesc", 9},
                        {"DeleteFuncDesc", 2}, {"DeleteImplType", 0}, {"ICreateTypeInfo2::SetTypeFlags", 1},
                        {"AddImplType", 2}, {"SetFuncAndParamNames", 5}, {"SetFuncDocString", 1},
                        {"DeleteTypeInfo", 0}});
    add(Edit::Rebase, {{"DeleteFuncDesc", 0},           // the layout probe
                       {"CreateTypeInfo", 0},           // the temporary type
                       {"AddFuncDesc", 1},              // copying out (after the layout probe)
                       {"DeleteFuncDesc", 2},           // deleting the originals halfway
                       {"DeleteImplType", 0},           // dropping the old base
                       {"AddImplType", 1},              // giving the type its new base
                       {"AddFuncDesc", 5},              // copying back halfway
                       {"SetFuncAndParamNames", 4},     // naming a copied-back function
                       {"SetParamCustData", 1},         // custom data of a copied-back parameter
                       {"LayOut", 2},                   // the final layout
                       {"DeleteTypeInfo", 0}});         // removing the temporary type
    add(Edit::RebaseEmpty, {{"LayOut", 0}});
    add(Edit::Rename, {{"SetFuncAndParamNames", 1}});           // the put, after the get
    add(Edit::RenameParameter, {{"SetFuncAndParamNames", 1}});
    add(Edit::DeleteProperty, {{"DeleteFuncDesc", 0}, {"LayOut", 1},  // the layout probe
                               {"DeleteFuncDesc", 2}});          // the put, after the get
    add(Edit::HelpDirect, {{"SetFuncDocString", 1}, {"SetFuncHelpContext", 1}});
    add(Edit::DefaultMember, {{"AddVarDesc", 0}, {"LayOut", 1}});  // clearing the variable's flag
    add(Edit::DefaultMethod, {{"DeleteFuncDesc", 2}});  // the probe of the old default's rebuild
    add(Edit::DefaultField, {{"AddVarDesc", 1}, {"SetVarName", 3}, {"LayOut", 1}});  // after the field was laid out
    add(Edit::ReorderProperty, {{"AddFuncDesc", 6}});  // copying back: the get's names come from the temporary type
    return all;
}

INSTANTIATE_TEST_SUITE_P(Steps, MemberRollback, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
}  // namespace modeltest
