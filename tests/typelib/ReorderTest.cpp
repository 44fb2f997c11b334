// Reordering functions and variables, resetting member IDs and the vtable
// layout probe, saved and reloaded (their rollback: MemberRollbackTest).
#include "ModelTestSupport.h"

namespace modeltest {
namespace {

class Reorder : public ModelTest {
protected:
    std::shared_ptr<CustomTypeInfo> ThreeMethods() { return ModelTest::ThreeMethods(u"IWidget"); }
};

TEST_F(Reorder, SynchronizedVtableOrderMovesTheFunctions) {
    auto t = ThreeMethods();
    const int16_t order[] = {36, 28, 32};  // A last, B first
    t->ReorderVTable(order, true);
    EXPECT_TRUE(HasInOrder(Section("IWidget"), {"func 0 \"B\" id=0x00000005", "vtoff=28", "func 1 \"C\"", "vtoff=32",
                                                "doc=\"Sees\"", "func 2 \"A\"", "vtoff=36", "vt=3:\"7\"",
                                                "param 0 \"value\""}));
    EXPECT_EQ(TypeCount(), 1u);

    // A get behind its put keeps its parameter names (read by member ID, they
    // show once the put is gone).
    auto p = Interface(u"IValue");
    Func(*p, u"Size", {Param(u"v", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)}, INVOKE_PROPERTYGET);
    Func(*p, u"Size", {Param(u"v", VT_I4)}, INVOKE_PROPERTYPUT);
    const int16_t swap[] = {32, 28};
    p->ReorderVTable(swap, true);
    p->DeleteMember(Id(*p, u"Size"), INVOKE_PROPERTYPUT);
    EXPECT_TRUE(HasInOrder(Section("IValue"), {"func 0 \"Size\"", "invoke=2", "param 0 \"v\""}));
}

// A put moved before its Get gives the names the property is read with: its
// value takes the name the Get's return value had.
TEST_F(Reorder, APutMovedBeforeItsGetKeepsTheValuesName) {
    auto p = Interface(u"IValue");
    Func(*p, u"Size", {Param(u"v", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)}, INVOKE_PROPERTYGET);
    Func(*p, u"Size", {Param(u"v", VT_I4)}, INVOKE_PROPERTYPUT);
    const int16_t swap[] = {32, 28};
    p->ReorderVTable(swap, true);
    EXPECT_TRUE(HasInOrder(Section("IValue"), {"func 0 \"Size\"", "invoke=4", "param 0 \"v\"", "func 1 \"Size\"",
                                               "invoke=2", "param 0 \"v\""}));
}

TEST_F(Reorder, UnsynchronizedOrderKeepsIndexesAndExplicitOffsetsSurviveLaterEdits) {
    auto t = ThreeMethods();
    const int16_t order[] = {36, 28, 32};
    t->ReorderVTable(order, false);
    const std::vector<std::string> expected{"func 0 \"A\"", "vtoff=36", "func 1 \"B\"", "vtoff=28", "func 2 \"C\"",
                                            "vtoff=32"};
    EXPECT_TRUE(HasInOrder(Section("IWidget"), expected));
    // Later edits rebuild members in place; the hand-placed slots stay.
    t->SetMemberReturnType(Id(*t, u"A"), Ty(VT_I4).get());
    ParamData p = Param(u"b", VT_BSTR);
    t->InsertParameter(5, 0, p, false);
    t->SetMemberID(5, 6);
    EXPECT_TRUE(HasInOrder(Section("IWidget"), expected));
    EXPECT_EQ(ErrorOf([&] { t->ReorderVTable(std::span<const int16_t>(order, 2), false); }), 9);
    EXPECT_EQ(RecordOf([&] { t->ReorderVTable(std::span<const int16_t>(order, 2), false); }).Description,
              u"The size of the order array does not match the number of members in the type.");
    EXPECT_EQ(ErrorOf([&] { Add(u"DWidget", TKIND_DISPATCH)->ReorderVTable(order, true); }), 5);
}

TEST_F(Reorder, VariablesTakeTheirNewOrder) {
    auto r = Add(u"Point", TKIND_RECORD);
    r->AddProperty(u"x", Ty(VT_I2).get(), -1, 0, -1);
    r->AddProperty(u"y", Ty(VT_I4).get(), 9, 0, -1);
    r->AddProperty(u"z", Ty(VT_I2).get(), -1, 0, -1);
    const std::string before = Dump();
    const int16_t identity[] = {0, 1, 2};
    EXPECT_FALSE(r->ReorderVars(identity));
    EXPECT_EQ(Dump(), before);
    const int16_t order[] = {2, 0, 1};  // x goes last
    EXPECT_TRUE(r->ReorderVars(order));
    EXPECT_TRUE(HasInOrder(Section("Point"), {"var 0 \"y\" id=0x00000009", "offset=0", "var 1 \"z\"", "offset=4",
                                              "var 2 \"x\"", "offset=6"}));
    EXPECT_EQ(ErrorOf([&] { r->ReorderVars(std::span<const int16_t>(order, 2)); }), 9);
    EXPECT_EQ(ErrorOf([&] { Interface(u"IWidget")->ReorderVars(order); }), 5);
}

TEST_F(Reorder, ResettingMemberIDsRenumbersAutomaticOnesOrAll) {
    auto t = Interface(u"IWidget");
    Func(*t, u"A", {}, INVOKE_FUNC, 0x60020003);
    Func(*t, u"B", {}, INVOKE_FUNC, 5);
    // Re-added functions take automatic IDs by their positions.
    t->ResetMemberIDs(false);
    EXPECT_TRUE(HasInOrder(Section("IWidget"), {"func 0 \"A\" id=0x60020000", "func 1 \"B\" id=0x00000005"}));
    t->ResetMemberIDs(true);
    EXPECT_TRUE(HasInOrder(Section("IWidget"), {"func 0 \"A\" id=0x60020000", "func 1 \"B\" id=0x60020001"}));

    auto d = Add(u"DWidget", TKIND_DISPATCH);
    d->AddProperty(u"Width", Ty(VT_I4).get(), 0x40000007, 0, -1);
    Func(*d, u"Draw", {}, INVOKE_FUNC, 12);
    d->ResetMemberIDs(true);
    EXPECT_TRUE(HasInOrder(Section("DWidget"), {"func 0 \"Draw\" id=0x60020000", "var 0 \"Width\" id=0x40020000"}));
    Add(u"Thing", TKIND_COCLASS)->ResetMemberIDs(true);
    EXPECT_EQ(ErrorOf([&] { Add(u"Alias", TKIND_ALIAS)->ResetMemberIDs(false); }), 5);
    EXPECT_EQ(lib.ReadView()->GetTypeInfoCount(), 4u);
}

TEST_F(Reorder, ResettingMemberIDsKeepsAPropertysAccessorsTogether) {
    auto t = Interface(u"IWidget");
    Func(*t, u"Value", {Param(u"v", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, 1)}, INVOKE_PROPERTYGET);
    Func(*t, u"Value", {Param(u"v", VT_I4)}, INVOKE_PROPERTYPUT, Id(*t, u"Value"));
    t->ResetMemberIDs(true);
    EXPECT_TRUE(HasInOrder(Section("IWidget"), {"func 0 \"Value\" id=0x60020000 kind=1 invoke=2",
                                                "func 1 \"Value\" id=0x60020000 kind=1 invoke=4"}))
        << Section("IWidget");
}

TEST_F(Reorder, TheLayoutProbeLeavesNoTrace) {
    auto t = Interface(u"IWidget");
    Func(*t, u"First");
    Func(*t, u"Second");
    auto m = Add(u"Native", TKIND_MODULE);
    const std::string before = Snapshot();
    int16_t offset = 99;
    EXPECT_FALSE(t->NextVTableOffset(offset));  // automatic slots: the layout assigns one
    EXPECT_EQ(offset, 0);
    offset = 99;
    EXPECT_FALSE(m->NextVTableOffset(offset));
    EXPECT_EQ(offset, 99);
    EXPECT_EQ(Snapshot(), before);

    // Hand-placed slots: the next one is the end of the vtable.
    const int16_t order[] = {32, 28};
    t->ReorderVTable(order, false);
    const std::string reordered = Snapshot();
    EXPECT_TRUE(t->NextVTableOffset(offset));
    EXPECT_EQ(offset, 36);
    EXPECT_EQ(Snapshot(), reordered);
}

}  // namespace
}  // namespace modeltest
