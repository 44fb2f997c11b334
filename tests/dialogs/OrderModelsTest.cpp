// The order dialogs' models without a window: moves at the ends, the vtable's
// empty slots and explicit offsets, and each result applied through its change
// kind, saved and reloaded.
#include <gtest/gtest.h>

#include "changes/kinds/ReorderTypesChange.h"
#include "changes/kinds/ReorderVTableChange.h"
#include "changes/kinds/ReorderVarsChange.h"
#include "dialogs/OrderListModel.h"
#include "dialogs/VTableOrderModel.h"
#include "DialogTestSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace dialogstest {
namespace {

using Order = std::vector<int16_t>;

std::vector<std::u16string> Rows(const OrderListModel& model) {
    std::vector<std::u16string> rows;
    for (int r = 0; r < model.Count(); ++r) rows.push_back(model.RowAt(r).Text);
    return rows;
}

std::vector<int16_t> FunctionOffsets(ITypeLib* lib, UINT typeIndex) {
    ComPtr<ITypeInfo> ti = modITypeInfoHelper::GetInterfaceTypeInfo(lib, typeIndex);
    TYPEATTR* attr = nullptr;
    EXPECT_OK(ti->GetTypeAttr(&attr));
    std::vector<int16_t> offsets;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* fd = nullptr;
        EXPECT_OK(ti->GetFuncDesc(i, &fd));
        offsets.push_back(fd->oVft);
        ti->ReleaseFuncDesc(fd);
    }
    ti->ReleaseTypeAttr(attr);
    return offsets;
}

int32_t ErrorOfMove(OrderListModel& model, int row, bool up) {
    try {
        model.Move(row, up);
    } catch (const ErrorRecord& e) {
        return e.Number;
    }
    return 0;
}

TEST(OrderListModel, MovesStopAtTheEndsAndTheOrderGivesEachIndexItsNewPosition) {
    ComPtr<ITypeLib> lib = DialogLib();
    OrderListModel model = OrderListModel::ForVariables(lib.get(), 0);
    EXPECT_FALSE(model.CanMoveUp(0));
    EXPECT_FALSE(model.CanMoveDown(2));
    EXPECT_EQ(ErrorOfMove(model, 0, true), kErrInvalidArgument);
    EXPECT_EQ(ErrorOfMove(model, 2, false), kErrInvalidArgument);
    EXPECT_EQ(model.Move(0, false), 1);
    EXPECT_EQ(model.Move(1, false), 2);
    EXPECT_EQ(model.Order(), (Order{2, 0, 1}));
    EXPECT_EQ(Rows(model), (std::vector<std::u16string>{u"Green", u"Blue", u"Red"}));
    EXPECT_EQ(model.Move(2, true), 1);
    EXPECT_EQ(model.Move(1, true), 0);
    EXPECT_EQ(model.Order(), (Order{0, 1, 2}));

    // Variables sharing a member ID (NIL until the record is laid out) keep their own names.
    EXPECT_EQ(Rows(OrderListModel::ForVariables(lib.get(), 1)), (std::vector<std::u16string>{u"a", u"b"}));
    EXPECT_EQ(Rows(OrderListModel::ForTypes(lib.get())),
              (std::vector<std::u16string>{u"Colors", u"Pair", u"IThing", u"IGappy"}));
}

TEST(OrderListModel, VariableAndTypeOrdersApplySaveAndReload) {
    ComPtr<ITypeLib> lib = DialogLib();
    CustomTypeLib view;
    view.Attach(lib.get());

    OrderListModel vars = OrderListModel::ForVariables(lib.get(), 0);
    vars.Move(0, false);
    auto varsChange = modReorderVarsChange::NewReorderVarsChange(false);
    varsChange->NewOrder(vars.Order());
    ChangeTarget colors = TargetOf(lib.get(), 0);
    ASSERT_TRUE(varsChange->Apply(view, nullptr, colors, nullptr, 0));
    ComPtr<ITypeLib> reloaded = SaveAndReload(lib.get());
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(Rows(OrderListModel::ForVariables(reloaded.get(), 0)),
              (std::vector<std::u16string>{u"Green", u"Red", u"Blue"}));

    OrderListModel types = OrderListModel::ForTypes(lib.get());
    types.Move(3, true);
    types.Move(2, true);
    auto typesChange = modReorderTypesChange::NewReorderTypesChange(false);
    typesChange->NewOrder(types.Order());
    ChangeTarget library = TargetOf(lib.get(), -1);
    ASSERT_TRUE(typesChange->Apply(view, nullptr, library, nullptr, 0));
    ASSERT_TRUE(library.ReplacementLibrary);
    reloaded = SaveAndReload(library.ReplacementLibrary.get());
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(Rows(OrderListModel::ForTypes(reloaded.get())),
              (std::vector<std::u16string>{u"Colors", u"IGappy", u"Pair", u"IThing"}));
}

struct VTableCase {
    const char* name;
    int inherited;
    Order offsets;
    std::vector<int16_t> rows;  // function per row, -1 for an empty slot
    Order slotOffsets;        // each function's offset, that of its row
};

TEST(VTableOrderModel, RowsFollowTheOffsetsWithAnEmptyRowForEachFreeSlot) {
    const VTableCase cases[] = {
        {"contiguous", 7, {28, 32, 36}, {0, 1, 2}, {28, 32, 36}},
        {"out of index order", 7, {36, 28, 32}, {1, 2, 0}, {36, 28, 32}},
        {"gaps", 3, {12, 24}, {0, -1, -1, 1}, {12, 24}},
        {"a gap at the start", 3, {16}, {-1, 0}, {16}},
        {"two on one offset", 3, {12, 12}, {0, 1}, {12, 16}},
        {"inside the base", 5, {16, 20}, {0, 1}, {20, 24}},
    };
    for (const VTableCase& c : cases) {
        VTableOrderModel model(c.inherited, c.offsets, std::vector<std::u16string>(c.offsets.size(), u"f"));
        std::vector<int16_t> rows;
        for (int r = 0; r < model.Count(); ++r) rows.push_back(model.FunctionAt(r));
        EXPECT_EQ(rows, c.rows) << c.name;
        EXPECT_EQ(model.Offsets(), c.slotOffsets) << c.name;
    }
}

TEST(VTableOrderModel, MovesInsertsAndDeletesKeepEveryFunctionInItsOwnSlot) {
    VTableOrderModel model(7, {36, 28, 32}, {u"Function A", u"Function B", u"Function C"});
    EXPECT_EQ(model.FirstRow(), 0);
    EXPECT_EQ(model.TextAt(0), u"Function B");
    EXPECT_FALSE(model.CanMoveUp(0));
    EXPECT_FALSE(model.CanMoveDown(2));
    EXPECT_EQ(model.Move(0, false), 1);  // B and C trade slots
    EXPECT_EQ(model.Offsets(), (Order{36, 32, 28}));
    EXPECT_TRUE(model.SynchronizeFuncDescs());

    // Insert pushes the row's function and all later ones down a slot.
    EXPECT_EQ(model.Insert(1), 1);
    EXPECT_EQ(model.Offsets(), (Order{40, 36, 28}));
    EXPECT_EQ(model.TextAt(1), u"Missing Entry");
    EXPECT_FALSE(model.SynchronizeFuncDescs());
    EXPECT_FALSE(model.CanDelete(0));
    // An empty slot moves by trading places with a function, never to the end.
    EXPECT_EQ(model.Move(1, false), 2);
    EXPECT_EQ(model.Offsets(), (Order{40, 32, 28}));
    EXPECT_FALSE(model.CanMoveDown(2));
    // The last function moving up into the empty slot above it ends the vtable a slot earlier.
    EXPECT_EQ(model.Move(3, true), 2);
    EXPECT_EQ(model.Count(), 3);
    EXPECT_EQ(model.Offsets(), (Order{36, 32, 28}));
    EXPECT_TRUE(model.SynchronizeFuncDescs());

    // Delete closes the gap behind an empty slot; it refuses a function row.
    model.Insert(0);
    EXPECT_EQ(model.Offsets(), (Order{40, 36, 32}));
    EXPECT_THROW(model.Delete(1), ErrorRecord);
    EXPECT_EQ(model.Delete(0), 0);
    EXPECT_EQ(model.Offsets(), (Order{36, 32, 28}));
    // Two empty neighbours: only the selection moves.
    model.Insert(0);
    model.Insert(0);
    EXPECT_EQ(model.Move(0, false), 1);
    EXPECT_EQ(model.Offsets(), (Order{44, 40, 36}));
}

// Offsets are stored signed: no insert takes the vtable past 0x7FFF bytes
// (some 8,190 slots after IUnknown's). A dual interface takes no empty slot.
TEST(VTableOrderModel, InsertStopsAtTheLargestVtableAndNeverOnADual) {
    VTableOrderModel roomy(3, {0x7FF4}, {u"Function Last"});
    EXPECT_EQ(roomy.Count(), (0x7FF4 - 12) / 4 + 1);
    ASSERT_TRUE(roomy.CanInsert(0));
    roomy.Insert(0);
    EXPECT_EQ(roomy.Offsets(), (Order{0x7FF8}));  // the vtable now ends at 0x7FFC
    EXPECT_FALSE(roomy.CanInsert(0));
    EXPECT_FALSE(roomy.CanInsert(roomy.Count() - 1));
    EXPECT_THROW(roomy.Insert(0), ErrorRecord);
    EXPECT_EQ(roomy.Offsets(), (Order{0x7FF8}));
    // Deleting a free slot makes room again.
    roomy.Delete(0);
    EXPECT_TRUE(roomy.CanInsert(0));

    VTableOrderModel dual(7, {28, 32}, {u"Function A", u"Function B"}, 4, false, true);
    EXPECT_FALSE(dual.CanInsert(0));
    EXPECT_THROW(dual.Insert(1), ErrorRecord);
    dual.Move(1, true);
    EXPECT_EQ(dual.Offsets(), (Order{32, 28}));
}

TEST(VTableOrderModel, AnInterfacesSlotsApplySaveAndReload) {
    ComPtr<ITypeLib> lib = DialogLib();
    CustomTypeLib view;
    view.Attach(lib.get());
    EXPECT_FALSE(VTableOrderModel::ForInterface(lib.get(), 1));  // a record has no functions

    std::optional<VTableOrderModel> thing = VTableOrderModel::ForInterface(lib.get(), 2);
    ASSERT_TRUE(thing);
    EXPECT_EQ(thing->SlotNumber(0), 7);
    EXPECT_EQ(thing->SlotOffset(0), 28);
    EXPECT_EQ(thing->TextAt(1), u"Property Get F1");
    thing->Move(2, true);

    // IGappy: slot 4 stands empty between G0 (12) and G1 (20).
    std::optional<VTableOrderModel> gappy = VTableOrderModel::ForInterface(lib.get(), 3);
    ASSERT_TRUE(gappy);
    ASSERT_EQ(gappy->Count(), 3);
    EXPECT_EQ(gappy->TextAt(1), u"Missing Entry");
    EXPECT_TRUE(gappy->CanDelete(1));
    gappy->Delete(1);

    for (auto& [index, model] : {std::pair{2, &*thing}, std::pair{3, &*gappy}}) {
        auto change = modReorderVTableChange::NewReorderVTableChange(false);
        change->Offsets(model->Offsets());
        change->SynchronizeFuncDescs(model->SynchronizeFuncDescs());
        ChangeTarget target = TargetOf(lib.get(), index);
        ASSERT_TRUE(change->Apply(view, nullptr, target, nullptr, 0));
    }
    ComPtr<ITypeLib> reloaded = SaveAndReload(lib.get());
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(FunctionOffsets(reloaded.get(), 3), (Order{12, 16}));
    std::optional<VTableOrderModel> again = VTableOrderModel::ForInterface(reloaded.get(), 2);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->TextAt(1), u"Function F2");
    EXPECT_EQ(again->TextAt(2), u"Property Get F1");
}

TEST(VTableOrderModel, A64BitInterfaceCountsEightByteSlots) {
    ComPtr<ICreateTypeLib2> lib;
    ASSERT_OK(CreateTypeLib2(SYS_WIN64, u"", lib.put()));
    auto wide = NewType(lib.get(), u"IWide", TKIND_INTERFACE);
    EXPECT_OK(wide->AddImplType(0, RefTo(wide.get(), StdOle2Type(kIID_IDispatch).get())));
    AddFunc(wide.get(), 0, {.name = u"A"});
    AddFunc(wide.get(), 1, {.name = u"B"});
    ComPtr<ITypeLib> tl = AsTypeLib(lib.get());
    std::optional<VTableOrderModel> model = VTableOrderModel::ForInterface(tl.get(), 0);
    ASSERT_TRUE(model);
    ASSERT_EQ(model->Count(), 2);
    EXPECT_EQ(model->SlotNumber(0), 7);
    EXPECT_EQ(model->SlotOffset(0), 56);
    model->Move(1, true);
    model->Insert(0);
    EXPECT_EQ(model->Offsets(), (Order{72, 64}));

    CustomTypeLib view;
    view.Attach(tl.get());
    auto change = modReorderVTableChange::NewReorderVTableChange(false);
    change->Offsets(model->Offsets());
    change->SynchronizeFuncDescs(model->SynchronizeFuncDescs());
    ChangeTarget target = TargetOf(tl.get(), 0);
    ASSERT_TRUE(change->Apply(view, nullptr, target, nullptr, 0));
    ComPtr<ITypeLib> reloaded = SaveAndReload(tl.get());
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(FunctionOffsets(reloaded.get(), 0), (Order{72, 64}));
}

// An interface laid out automatically keeps the slots of its last layout
// until it is laid out again; the base has changed since.
TEST(VTableOrderModel, AutomaticSlotsFollowABaseThatGrewOrShrank) {
    for (bool grew : {true, false}) {
        ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Changed");
        auto base = NewType(lib.get(), u"IBase", TKIND_INTERFACE);
        auto derived = NewType(lib.get(), u"IDerived", TKIND_INTERFACE);
        EXPECT_OK(base->AddImplType(0, RefTo(base.get(), StdOle2Type(kIID_IUnknown).get())));
        AddFunc(base.get(), 0, {.name = u"B0"});
        if (!grew) AddFunc(base.get(), 1, {.name = u"B1"});
        EXPECT_OK(derived->AddImplType(0, RefTo(derived.get(), base.As<ITypeInfo>().get())));
        AddFunc(derived.get(), 0, {.name = u"D0"});
        AddFunc(derived.get(), 1, {.name = u"D1"});
        EXPECT_OK(derived->LayOut());
        if (grew)
            AddFunc(base.get(), 1, {.name = u"B1"});  // IDerived still reads 16 and 20
        else
            EXPECT_OK(base->DeleteFuncDesc(1));  // IDerived still reads 20 and 24
        EXPECT_OK(base->LayOut());
        ComPtr<ITypeLib> tl = AsTypeLib(lib.get());
        std::optional<VTableOrderModel> model = VTableOrderModel::ForInterface(tl.get(), 1);
        ASSERT_TRUE(model);
        EXPECT_EQ(model->Count(), 2) << grew;  // no free slot shown where the layout leaves none
        if (grew) model->Insert(0);
        CustomTypeLib view;
        view.Attach(tl.get());
        auto change = modReorderVTableChange::NewReorderVTableChange(false);
        change->Offsets(model->Offsets());
        change->SynchronizeFuncDescs(model->SynchronizeFuncDescs());
        ChangeTarget target = TargetOf(tl.get(), 1);
        ASSERT_TRUE(change->Apply(view, nullptr, target, nullptr, 0));
        ComPtr<ITypeLib> reloaded = SaveAndReload(tl.get());
        ASSERT_TRUE(reloaded);
        EXPECT_EQ(FunctionOffsets(reloaded.get(), 1), grew ? (Order{24, 28}) : (Order{16, 20})) << grew;
    }
}

}  // namespace
}  // namespace dialogstest
