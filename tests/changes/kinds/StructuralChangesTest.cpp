// The structural change kinds one by one on the Shapes library: what each
// does to the library, the names it makes up, what it tells the listener and
// how it describes itself; the values it refuses; and, with failures injected
// into the library, that a change that fails leaves the live library as it was.
#include <tuple>

#include "changes/ChangesTestSupport.h"
#include "changes/kinds/AddImplTypeChange.h"
#include "changes/kinds/AddMemberChange.h"
#include "changes/kinds/AddTypeChange.h"
#include "changes/kinds/CopyMemberChange.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/CustDataChange.h"
#include "changes/kinds/FlattenChange.h"
#include "changes/kinds/HelpChange.h"
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/kinds/InsertParamChange.h"
#include "changes/kinds/MemberChange.h"
#include "changes/kinds/ParamChange.h"
#include "changes/kinds/RemoveParamArrayChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/kinds/ReorderTypesChange.h"
#include "changes/kinds/ReorderVTableChange.h"
#include "changes/kinds/ReorderVarsChange.h"
#include "changes/kinds/ResetIDsChange.h"
#include "changes/kinds/TypeChange.h"
#include "changes/hub/VTICache.h"
#include "regen/TLBModifier.h"

namespace changestest {
namespace {

// Notes what it hears and keeps the target it was handed last.
class CatchingListener : public RecordingListener {
public:
    CatchingListener() : RecordingListener("heard") {}
    ChangeTarget last;
#define CHANGESTEST_CATCH(method)                                                             \
    void method(ChangeTarget& t, IChange& c, int32_t flags, ListenerTag tag) override {       \
        last = t;                                                                             \
        RecordingListener::method(t, c, flags, tag);                                          \
    }
    CHANGESTEST_CATCH(OnDeleteChange)
    CHANGESTEST_CATCH(OnAddTypeChange)
    CHANGESTEST_CATCH(OnAddImplTypeChange)
    CHANGESTEST_CATCH(OnRenameChange)
    CHANGESTEST_CATCH(OnReorderTypesChange)
#undef CHANGESTEST_CATCH
};

// The lines of a dump that belong to the type named name.
std::string TypeLines(const std::string& dump, const std::string& name) {
    const size_t start = dump.find("\"" + name + "\" kind=");
    if (start == std::string::npos) return "<no type " + name + ">";
    const size_t end = dump.find("\ntype ", start);
    return dump.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class StructuralChanges : public ::testing::Test {
protected:
    StructuralChanges() { view.Attach(lib.get()); }

    bool Apply(IChange& change, ChangeTarget& target) { return change.Apply(view, nullptr, target, &listener, 0); }
    bool Apply(IChange& change, ChangeTarget&& target) { return Apply(change, target); }
    std::string Type(const std::string& name) { return TypeLines(Dump(lib.get()), name); }
    const std::vector<std::string>& Heard() const { return listener.Heard(); }

    ComPtr<ITypeLib> lib = Shapes();
    CustomTypeLib view;
    CatchingListener listener;
};

template <class C, class... Set>
std::shared_ptr<C> Make(std::shared_ptr<C> change, Set&&... set) {
    (set(*change), ...);
    return change;
}
auto Kind(int32_t k) {
    return [=](auto& c) { c.InvokeKind(k); };
}

// ---- Texts and notifications ----

TEST_F(StructuralChanges, EachKindDescribesItselfAndNotifiesItsListenerMethod) {
    const auto member = [&](const char16_t* type, const char16_t* name, int32_t kind = INVOKE_FUNC) {
        return MemberTarget(lib.get(), type, name, kind);
    };
    auto rename = modRenameChange::NewRenameChange(false);
    rename->NewName(u"Magnify");
    auto vars = modReorderVarsChange::NewReorderVarsChange(false);
    vars->NewOrder({1, 0, 2, 3, 4});
    auto vtable = modReorderVTableChange::NewReorderVTableChange(false);
    vtable->Offsets({28, 32, 36, 40, 44, 48, 52, 56});
    auto addType = modAddTypeChange::NewAddTypeChange(false);
    addType->TypeKind(TKIND_UNION);
    auto impl = modAddImplTypeChange::NewAddImplTypeChange(false);
    impl->VarTypeInfo(TypeDescOf(lib.get(), u"DShapeEvents").get());
    auto param = modInsertParamChange::NewInsertParamChange(false);
    param->ParamForm(InsertParamChange::kLcid);
    auto nullParam = modInsertParamChange::NewInsertParamChange(false);
    nullParam->ParamForm(InsertParamChange::kNullOptional);
    auto copy = modCopyMemberChange::NewCopyMemberChange(false);
    copy->VarTypeInfo(TypeDescOf(lib.get(), u"IShape").get());
    copy->SourceMemberId(member(u"IShape", u"Area").MemberId);
    copy->InvokeKinds(INVOKE_FUNC);
    struct Row {
        ChangePtr change;
        ChangeTarget target;
        const char* text;
        const char* heard;
    };
    const std::vector<Row> rows = {
        {rename, member(u"IShape", u"Zoom"), "Rename interface method IShape.Zoom to 'Magnify'", "OnRenameChange"},
        {modResetIDsChange::GetResetAutomaticIDsChange(), TypeTarget(lib.get(), u"Matrix"),
         "Reset automatically generated MemberIDs for record Matrix", "OnResetAutomaticIDsChange"},
        {modResetIDsChange::GetResetAllIDsChange(), TypeTarget(lib.get(), u"Matrix"),
         "Reset explicitly set and automatically generated MemberIDs for record Matrix", "OnResetAllIDsChange"},
        {vars, TypeTarget(lib.get(), u"Matrix"), "Reorder member variables for record Matrix", "OnReorderVarsChange"},
        {vtable, TypeTarget(lib.get(), u"IShape"), "Reorder VTable for interface IShape", "OnReorderVTableChange"},
        {modRemoveParamArrayChange::GetRemoveParamArrayChange(), member(u"IShape", u"Sum"),
         "Remove ParamArray attribute from interface method IShape.Sum", "OnRemoveParamArrayChange"},
        {addType, LibraryTarget(lib.get()), "Add union type", "OnAddTypeChange"},
        {impl, TypeTarget(lib.get(), u"Shape"), "Add implied interface DShapeEvents to coclass Shape",
         "OnAddImplTypeChange"},
        {param, ParamTarget(lib.get(), u"IShape", u"Zoom", 0),
         "Add LCID parameter after parameter factor of IShape.Zoom",
         "OnInsertParamChange"},
        {nullParam, member(u"IShape", u"Fill"),
         "Add typed optional parameter as first parameter of interface method IShape.Fill",
         "OnInsertParamChange"},
        {Make(modAddMemberChange::NewAddMemberChange(false), Kind(6)), TypeTarget(lib.get(), u"IShape"),
         "Add Property Get/Let function to interface IShape", "OnAddMemberChange"},
        {Make(modAddMemberChange::NewAddMemberChange(false), Kind(0)), member(u"Colors", u"Red", 0),
         "Add value after enum value Colors.Red", "OnAddMemberChange"},
        {copy, TypeTarget(lib.get(), u"IShape"), "Copy interface method IShape.Area to interface IShape",
         "OnCopyMemberChange"},
        {modFlattenChange::GetFlattenChange(), TypeTarget(lib.get(), u"IShape"),
         "Directly include non-standard base interfaces on interface IShape", "OnFlattenInterfaceChange"},
        {modDeleteChange::GetDeleteChange(), member(u"IShape", u"Zoom"), "Delete interface method IShape.Zoom",
         "OnDeleteChange"},
    };
    for (const Row& row : rows) {
        ChangeTarget target = row.target;
        EXPECT_EQ(Utf8(row.change->Describe(target)), row.text);
        const size_t before = Heard().size();
        EXPECT_TRUE(Apply(*row.change, target)) << row.text;
        EXPECT_EQ(std::vector<std::string>(Heard().begin() + static_cast<long>(before), Heard().end()),
                  std::vector<std::string>{std::string("heard:") + row.heard})
            << row.text;
    }
    ChangeTarget anyTarget = LibraryTarget(lib.get());
    EXPECT_EQ(Utf8(modReorderTypesChange::NewReorderTypesChange(false)->Describe(anyTarget)),
              "Reorder Types within Library");

    // An interface of another library is named with its library.
    ComPtr<ICreateTypeLib2> ext = NewLibrary(u"Ext");
    NewType(ext.get(), u"IExt", TKIND_INTERFACE);
    ComPtr<CustomVarTypeInfo> external = CustomVarTypeInfo::New();
    external->CurrentITypeLib(lib.get());
    external->SetType(0, testsupport::TypeNamed(InfoOf(AsTypeLib(ext.get()).get()).get(), u"IExt").get());
    impl->VarTypeInfo(external.get());
    ChangeTarget shape = TypeTarget(lib.get(), u"Shape");
    EXPECT_EQ(Utf8(impl->Describe(shape)), "Add implied interface Ext.IExt to coclass Shape");
}

// ---- Delete and rename ----

TEST_F(StructuralChanges, ADeleteHandsTheListenerTheNamesOfWhatIsGone) {
    const ChangePtr del = modDeleteChange::GetDeleteChange();
    ChangeTarget param = ParamTarget(lib.get(), u"IShape", u"Area", 0);
    ASSERT_TRUE(Apply(*del, param));
    EXPECT_EQ(Utf8(listener.last.MemberName + u"/" + listener.last.ParamName), "Area/scale");
    EXPECT_FALSE(Has(Type("IShape"), "\"scale\""));

    ASSERT_TRUE(Apply(*del, ImplTarget(lib.get(), u"Shape", 1)));
    EXPECT_EQ(Utf8(listener.last.TypeName + u"/" + listener.last.MemberName), "Shape/DShapeEvents");
    EXPECT_FALSE(Has(Type("Shape"), "DShapeEvents"));
    EXPECT_FALSE(listener.last.ReplacementLibrary);

    // Of a property, only the accessors named.
    ASSERT_TRUE(Apply(*del, MemberTarget(lib.get(), u"IShape", u"Name", INVOKE_PROPERTYPUT)));
    EXPECT_EQ(Utf8(listener.last.MemberName), "Name");
    EXPECT_TRUE(Has(Type("IShape"), "\"Name\" id=0x60020000 kind=1 invoke=2"));
    EXPECT_FALSE(Has(Type("IShape"), "invoke=4"));

    // A type: the library is regenerated without it, and the view edits the new one.
    ChangeTarget colors = TypeTarget(lib.get(), u"Colors");
    ASSERT_TRUE(Apply(*del, colors));
    ASSERT_TRUE(colors.ReplacementLibrary);
    EXPECT_EQ(listener.last.ReplacementLibrary.get(), colors.ReplacementLibrary.get());
    EXPECT_EQ(Utf8(listener.last.TypeName), "Colors");
    EXPECT_TRUE(Edits(view, colors.ReplacementLibrary.get()));
    EXPECT_EQ(TypeLines(Dump(colors.ReplacementLibrary.get()), "Colors"), "<no type Colors>");
}

TEST_F(StructuralChanges, ADeleteOfWhatIsNotThereFailsAndALibraryTargetIsRefused) {
    const ChangePtr del = modDeleteChange::GetDeleteChange();
    const std::string before = Dump(lib.get());
    ChangeTarget library = LibraryTarget(nullptr);  // not even looked at
    EXPECT_EQ(ErrorOf([&] { del->Apply(view, nullptr, library, &listener, 0); }), kErrInvalidArgument);
    ChangeTarget gone = MemberTarget(lib.get(), u"IShape", u"Zoom");
    gone.MemberId = 0x7777;
    EXPECT_EQ(ErrorOf([&] { del->Apply(view, nullptr, gone, nullptr, 0); }), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_NE(ErrorOf([&] { Apply(*del, ImplTarget(lib.get(), u"Shape", 5)); }), 0);
    // A type that another type uses.
    EXPECT_EQ(ErrorOf([&] { Apply(*del, TypeTarget(lib.get(), u"LongPtr")); }), kErrInvalidArgument);
    EXPECT_TRUE(Edits(view, lib.get()));
    EXPECT_TRUE(Heard().empty());
    EXPECT_EQ(Dump(lib.get()), before);
}

TEST_F(StructuralChanges, ARenameKeepsTheMemberIdAndCapturesPresentNames) {
    auto rename = modRenameChange::NewRenameChange(false);
    ChangeTarget zoom = MemberTarget(lib.get(), u"IShape", u"Zoom");
    rename->NewName(u"Magnify");
    ASSERT_TRUE(Apply(*rename, zoom));
    EXPECT_EQ(Utf8(listener.last.MemberName), "Zoom");  // the target as it was passed
    EXPECT_EQ(MemberTarget(lib.get(), u"IShape", u"Magnify").MemberId, zoom.MemberId);

    const auto captured = [&](ChangeTarget t) {
        auto c = modRenameChange::NewRenameChange(false);
        c->InitFromTarget(t);
        return Utf8(c->NewName());
    };
    EXPECT_EQ(captured(LibraryTarget(lib.get())), "Shapes");
    EXPECT_EQ(captured(TypeTarget(lib.get(), u"Matrix")), "Matrix");
    EXPECT_EQ(captured(MemberTarget(lib.get(), u"IShape", u"Magnify")), "Magnify");
    EXPECT_EQ(captured(ParamTarget(lib.get(), u"Kernel", u"Beep", 0)), "freq");
    EXPECT_EQ(ErrorOf([&] { captured(ImplTarget(lib.get(), u"Shape", 0)); }), kErrInvalidArgument);
    EXPECT_EQ(ErrorOf([&] { Apply(*rename, ImplTarget(lib.get(), u"Shape", 0)); }), kErrInvalidArgument);

    auto other = modRenameChange::NewRenameChange(false);
    other->NewName(u"magnify");
    EXPECT_TRUE(rename->Differs(*other));
    other->NewName(u"Magnify");
    EXPECT_FALSE(rename->Differs(*other));
    EXPECT_TRUE(rename->Differs(*modAddTypeChange::NewAddTypeChange(false)));
}

// Edits that would leave a broken library are refused before anything changes;
// a parameter may still go unnamed, and two unnamed ones don't clash.
TEST_F(StructuralChanges, EditsThatWouldBreakTheLibraryAreRefusedBeforeAnythingChanges) {
    const std::string before = Dump(lib.get());
    const auto rename = [](const char16_t* name) {
        return Make(modRenameChange::NewRenameChange(false), [=](RenameChange& c) { c.NewName(name); });
    };
    const auto insert = [](int32_t form) {
        return Make(modInsertParamChange::NewInsertParamChange(false), [=](auto& c) { c.ParamForm(form); });
    };
    const auto order = Make(modReorderVarsChange::NewReorderVarsChange(false), [](auto& c) { c.NewOrder({0, 0, 1}); });
    const auto record = Make(modAddImplTypeChange::NewAddImplTypeChange(false),
                             [&](auto& c) { c.VarTypeInfo(TypeDescOf(lib.get(), u"Matrix").get()); });
    const ChangeTarget area = MemberTarget(lib.get(), u"IShape", u"Area");
    const ChangeTarget zoom = MemberTarget(lib.get(), u"IShape", u"Zoom");
    const std::vector<std::tuple<ChangePtr, ChangeTarget, int32_t>> rows = {
        {rename(u""), LibraryTarget(lib.get()), 5},
        {rename(u""), zoom, 5},
        {rename(u""), MemberTarget(lib.get(), u"Matrix", u"rows", 0), 5},
        {insert(InsertParamChange::kReturnValue), ParamTarget(lib.get(), u"IShape", u"Area", 2), 5},
        {insert(InsertParamChange::kReturnValue), zoom, 5},
        {insert(InsertParamChange::kLcid), area, 5},
        {rename(u"LCID"), ParamTarget(lib.get(), u"IShape", u"Area", 0), TYPE_E_AMBIGUOUSNAME},
        {rename(u"Invoke"), zoom, TYPE_E_AMBIGUOUSNAME},
        {record, TypeTarget(lib.get(), u"Shape"), 5},
        {order, TypeTarget(lib.get(), u"Matrix"), 5},
    };
    for (auto [change, target, error] : rows)
        EXPECT_EQ(ErrorOf([&] { Apply(*change, target); }), error) << Utf8(change->Describe(target));
    EXPECT_TRUE(Heard().empty());
    EXPECT_EQ(Dump(lib.get()), before);
    ASSERT_TRUE(Apply(*rename(u""), ParamTarget(lib.get(), u"IShape", u"Early", 0)));
    ASSERT_TRUE(Apply(*rename(u""), ParamTarget(lib.get(), u"IShape", u"Early", 1)));
    // A function may have a name one of its parameters has.
    EXPECT_TRUE(Apply(*rename(u"NAME"), MemberTarget(lib.get(), u"IShape", u"Name", INVOKE_PROPERTYGET)));
    EXPECT_TRUE(Apply(*rename(u"Factor"), MemberTarget(lib.get(), u"IShape", u"Zoom")));
}

// A return value or locale parameter inserted is named like the others when
// another parameter of the function has its usual name.
TEST_F(StructuralChanges, AnInsertedReturnValueOrLocaleTakesANameNoOtherParameterHas) {
    for (auto [member, form, clash] : {std::tuple{u"Zoom", InsertParamChange::kReturnValue, u"RETVAL"},
                                       std::tuple{u"Early", InsertParamChange::kLcid, u"lcid"}}) {
        auto rename = modRenameChange::NewRenameChange(false);
        rename->NewName(clash);
        ASSERT_TRUE(Apply(*rename, ParamTarget(lib.get(), u"IShape", member, 0)));
        auto insert = modInsertParamChange::NewInsertParamChange(false);
        insert->ParamForm(form);
        ASSERT_TRUE(Apply(*insert, ParamTarget(lib.get(), u"IShape", member, 0)));
        EXPECT_EQ(Utf8(insert->NewParamName()), Utf8(form == InsertParamChange::kLcid ? u"LCID1" : u"retVal1"));
    }
}

// ---- Reorders ----

TEST_F(StructuralChanges, ReordersRefuseOrdersOfTheWrongSizeAndAnUnchangedOrderIsNoChange) {
    const std::string before = Dump(lib.get());
    auto vars = modReorderVarsChange::NewReorderVarsChange(false);
    EXPECT_FALSE(Apply(*vars, TypeTarget(lib.get(), u"Matrix")));  // no order given
    vars->NewOrder({0, 1, 2, 3, 4});
    EXPECT_FALSE(Apply(*vars, TypeTarget(lib.get(), u"Matrix")));
    vars->NewOrder({1, 0});
    const ErrorRecord size = RecordOf([&] { Apply(*vars, TypeTarget(lib.get(), u"Matrix")); });
    EXPECT_EQ(size.Number, kErrSubscriptOutOfRange);
    EXPECT_EQ(Utf8(size.Description), "The size of the order array does not match the number of members in the type.");
    auto vtable = modReorderVTableChange::NewReorderVTableChange(false);
    EXPECT_EQ(ErrorOf([&] { Apply(*vtable, TypeTarget(lib.get(), u"IShape")); }), kErrSubscriptOutOfRange);

    auto types = modReorderTypesChange::NewReorderTypesChange(false);
    types->NewOrder({0, 1, 2});
    const ErrorRecord count = RecordOf([&] { Apply(*types, LibraryTarget(lib.get())); });
    EXPECT_EQ(count.Number, kErrSubscriptOutOfRange);
    EXPECT_EQ(Utf8(count.Description),
              "The size of the order array does not match the number of types in the library.");
    for (std::vector<int16_t> bad : {std::vector<int16_t>{0, 1, 2, 3, 4, 5, 6, 7, 7},
                                     std::vector<int16_t>{0, 1, 2, 3, 4, 5, 6, 7, 9},
                                     std::vector<int16_t>{-1, 0, 1, 2, 3, 4, 5, 6, 7}}) {
        types->NewOrder(bad);
        EXPECT_EQ(ErrorOf([&] { Apply(*types, LibraryTarget(lib.get())); }), kErrInvalidArgument);
    }
    EXPECT_TRUE(Heard().empty());
    EXPECT_EQ(Dump(lib.get()), before);

    // The types in a new order: the library is regenerated, references and all.
    types->NewOrder({8, 7, 6, 5, 4, 3, 2, 1, 0});
    ChangeTarget library = LibraryTarget(lib.get());
    ASSERT_TRUE(Apply(*types, library));
    ASSERT_TRUE(library.ReplacementLibrary);
    EXPECT_EQ(listener.last.ReplacementLibrary.get(), library.ReplacementLibrary.get());
    EXPECT_TRUE(Edits(view, library.ReplacementLibrary.get()));
    const ComPtr<ITypeLib> reordered = library.ReplacementLibrary;
    const std::string dump = Dump(reordered.get());
    EXPECT_TRUE(Has(dump, "type 0 \"Shape\"") && Has(dump, "type 8 \"Colors\"")) << dump;
    EXPECT_EQ(TypeLines(dump, "Matrix"), Type("Matrix"));
    EXPECT_EQ(Heard().size(), 1u);

    // An order that changes nothing is still a vtable reorder.
    vtable->Offsets({28, 32, 36, 40, 44, 48, 52, 56});
    EXPECT_TRUE(Apply(*vtable, TypeTarget(reordered.get(), u"IShape")));
    EXPECT_EQ(Heard().size(), 2u);
}

TEST(StructuralPayloads, OrdersAndNamesSaveAsCountedRecordsAndEmptyOnesLoadBackEmpty) {
    VTICache cache;
    auto vtable = modReorderVTableChange::NewReorderVTableChange(false);
    vtable->SynchronizeFuncDescs(true);
    auto vars = modReorderVarsChange::NewReorderVarsChange(false);
    auto rename = modRenameChange::NewRenameChange(false);
    for (const auto& [change, bytes] : std::vector<std::pair<ChangePtr, std::vector<uint8_t>>>{
             {vtable, {0, 0, 0xFF, 0xFF}}, {vars, {0, 0}}, {rename, {0, 0}}}) {
        HistoryFileWriter out(cache, 4);
        change->Save(out, 4);
        const std::vector<std::byte> written = out.Bytes();
        EXPECT_EQ(written.size(), bytes.size());
        for (size_t i = 0; i < written.size() && i < bytes.size(); ++i)
            EXPECT_EQ(static_cast<uint8_t>(written[i]), bytes[i]) << i;
        HistoryFileReader in(written);
        ChangePtr loaded = change->Clone();
        loaded->Load(in, 4, cache);
        EXPECT_EQ(in.Remaining(), 0u);
    }
    // A negative count is refused.
    const std::vector<std::byte> negative = {std::byte{0xFE}, std::byte{0xFF}};
    HistoryFileReader in(negative);
    EXPECT_EQ(ErrorOf([&] { vars->Load(in, 4, cache); }), kErrInvalidArgument);
}

// ---- Additions ----

TEST_F(StructuralChanges, AddedTypesAreNumberedAndInterfacesGetGuidsAndBases) {
    auto add = modAddTypeChange::NewAddTypeChange(false);
    const UINT count = lib->GetTypeInfoCount();
    add->TypeKind(TKIND_INTERFACE);
    ChangeTarget first = LibraryTarget(lib.get()), second = LibraryTarget(lib.get());
    ASSERT_TRUE(Apply(*add, first));
    ASSERT_TRUE(Apply(*add, second));
    EXPECT_EQ(first.Kind, kTargetLibrary);
    EXPECT_EQ(first.TypeIndex, static_cast<int32_t>(count));
    EXPECT_EQ(second.TypeIndex, static_cast<int32_t>(count + 1));
    EXPECT_EQ(first.TypeKind, TKIND_INTERFACE);
    EXPECT_EQ(listener.last.TypeIndex, second.TypeIndex);
    const std::string one = Type("Interface1"), two = Type("Interface2");
    EXPECT_TRUE(Has(one, "kind=3 {")) << one;
    EXPECT_FALSE(Has(one, "{00000000-0000-0000-0000-000000000000}"));
    EXPECT_NE(one.substr(one.find('{'), 38), two.substr(two.find('{'), 38));
    EXPECT_TRUE(Has(one, "flags=0x80 ")) << one;
    EXPECT_TRUE(Has(one, "impl 0 \"IUnknown\"")) << one;

    for (TYPEKIND kind :
         {TKIND_ENUM, TKIND_RECORD, TKIND_MODULE, TKIND_DISPATCH, TKIND_COCLASS, TKIND_ALIAS, TKIND_UNION})
    {
        add->TypeKind(kind);
        ASSERT_TRUE(Apply(*add, LibraryTarget(lib.get())));
    }
    EXPECT_TRUE(Has(Type("Enum1"), "{00000000-0000-0000-0000-000000000000}"));
    EXPECT_TRUE(Has(Type("Alias1"), "alias vt3"));
    EXPECT_TRUE(Has(Type("Dispinterface1"), "impl 0 \"IDispatch\""));
    EXPECT_FALSE(Has(Type("Dispinterface1"), "{00000000-0000-0000-0000-000000000000}"));
    EXPECT_TRUE(Has(Type("Coclass1"), "flags=0x2 "));

    const std::string before = Dump(lib.get());
    add->TypeKind(8);
    EXPECT_EQ(ErrorOf([&] { Apply(*add, LibraryTarget(lib.get())); }), kErrInvalidArgument);
    EXPECT_EQ(Dump(lib.get()), before);
}

TEST_F(StructuralChanges, InsertedParametersTakeTheirFormAndPlace) {
    auto insert = modInsertParamChange::NewInsertParamChange(false);
    insert->ParamForm(InsertParamChange::kReturnValue);
    ASSERT_TRUE(Apply(*insert, ParamTarget(lib.get(), u"IShape", u"Zoom", 0)));
    EXPECT_EQ(Utf8(insert->NewParamName()), "retVal");
    insert->ParamForm(InsertParamChange::kParamArray);
    ASSERT_TRUE(Apply(*insert, MemberTarget(lib.get(), u"IShape", u"Early")));
    const std::string shape = Type("IShape");
    EXPECT_TRUE(Has(shape, "param 1 \"retVal\" pflags=0xa type=ptr(vt3)")) << shape;
    EXPECT_TRUE(Has(shape, "pflags=0x3 type=ptr(safearray(vt12))")) << shape;
    insert->DetachFromLibrary(*std::make_shared<FakeCache>());
    EXPECT_TRUE(insert->NewParamName().empty());

    const std::string before = Dump(lib.get());
    insert->ParamForm(0x80000);
    EXPECT_EQ(ErrorOf([&] { Apply(*insert, MemberTarget(lib.get(), u"IShape", u"Zoom")); }), kErrInvalidArgument);
    EXPECT_EQ(Dump(lib.get()), before);
}

TEST_F(StructuralChanges, AddedMembersGetNumberedNamesAndPlaceholderTypes) {
    auto add = modAddMemberChange::NewAddMemberChange(false);
    add->InvokeKind(6);
    ASSERT_TRUE(Apply(*add, TypeTarget(lib.get(), u"IShape")));
    EXPECT_EQ(Utf8(add->NewMemberName()), "Property1");
    const std::string shape = Type("IShape");
    EXPECT_TRUE(Has(shape, "\"Property1\" id=0x" )) << shape;
    EXPECT_TRUE(Has(shape, "invoke=2 cc=4 params=1 opt=0 vtoff=60")) << shape;
    EXPECT_TRUE(Has(shape, "param 0 \"retVal\" pflags=0xa type=ptr(vt3)")) << shape;
    EXPECT_TRUE(Has(shape, "invoke=4 cc=4 params=1 opt=0 vtoff=64 flags=0x0 ret=vt25")) << shape;
    EXPECT_EQ(MemberTarget(lib.get(), u"IShape", u"Property1").MemberId, add->NewMemberId());

    add->InvokeKind(INVOKE_FUNC);
    ASSERT_TRUE(Apply(*add, TypeTarget(lib.get(), u"Kernel")));
    EXPECT_TRUE(Has(Type("Kernel"), "\"Function1\"")) << Type("Kernel");
    ComPtr<ICreateTypeLib2> created = NewLibrary(u"Mods");
    NewType(created.get(), u"Api", TKIND_MODULE);
    ComPtr<ITypeLib> mods = AsTypeLib(created.get());
    CustomTypeLib modsView;
    modsView.Attach(mods.get());
    ChangeTarget api = TypeTarget(mods.get(), u"Api");
    ASSERT_TRUE(add->Apply(modsView, nullptr, api, nullptr, 0));
    ComPtr<ITypeInfo> apiInfo = TypeNamed(mods.get(), u"Api");
    BSTR dll = nullptr, entry = nullptr;
    WORD ordinal = 0;
    ASSERT_OK(apiInfo->GetDllEntry(add->NewMemberId(), INVOKE_FUNC, &dll, &entry, &ordinal));
    EXPECT_EQ(Utf8(std::u16string(BstrView(dll)) + u"!" + std::u16string(BstrView(entry))), "RENAMEME.DLL!RenameEntry");
    SysFreeString(dll);
    SysFreeString(entry);
    EXPECT_TRUE(Has(Dump(mods.get()),
                    "\"Function1\" id=0x60000000 kind=3 invoke=1 cc=4 params=0 opt=0 vtoff=0 flags=0x0 ret=vt24"));

    // Enum values: first with the enum as target, after a value with the value as target.
    add->InvokeKind(0);
    ASSERT_TRUE(Apply(*add, TypeTarget(lib.get(), u"Colors")));
    ASSERT_TRUE(Apply(*add, MemberTarget(lib.get(), u"Colors", u"Red", 0)));
    const std::string colors = Type("Colors");
    EXPECT_TRUE(Has(colors, "var 0 \"Value1\"") && Has(colors, "var 2 \"Value2\"")) << colors;
    EXPECT_TRUE(Has(colors, "var 1 \"Red\"")) << colors;
}

TEST_F(StructuralChanges, TheMissingAccessorOfAPropertyIsDerivedFromTheOther) {
    // IShape.Name: get HRESULT Name([out, retval] BSTR*), put HRESULT Name([in] BSTR).
    auto del = modDeleteChange::GetDeleteChange();
    ASSERT_TRUE(Apply(*del, MemberTarget(lib.get(), u"IShape", u"Name", INVOKE_PROPERTYPUT)));
    auto add = modAddMemberChange::NewAddMemberChange(false);
    add->InvokeKind(INVOKE_PROPERTYPUT);
    ASSERT_TRUE(Apply(*add, MemberTarget(lib.get(), u"IShape", u"Name", INVOKE_PROPERTYGET)));
    std::string shape = Type("IShape");
    EXPECT_TRUE(Has(shape, "\"Name\" id=0x60020000 kind=1 invoke=4 cc=4 params=1")) << shape;
    EXPECT_TRUE(Has(shape, "pflags=0x1 type=vt8")) << shape;
    // A putref beside a get; then a get beside a put alone.
    add->InvokeKind(INVOKE_PROPERTYPUTREF);
    ASSERT_TRUE(Apply(*add, MemberTarget(lib.get(), u"IShape", u"Name", INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT)));
    EXPECT_TRUE(Has(Type("IShape"), "\"Name\" id=0x60020000 kind=1 invoke=8")) << Type("IShape");
    ASSERT_TRUE(Apply(*del, MemberTarget(lib.get(), u"IShape", u"Name", INVOKE_PROPERTYGET | INVOKE_PROPERTYPUTREF)));
    add->InvokeKind(INVOKE_PROPERTYGET);
    ASSERT_TRUE(Apply(*add, MemberTarget(lib.get(), u"IShape", u"Name", INVOKE_PROPERTYPUT)));
    shape = Type("IShape");
    EXPECT_TRUE(Has(shape, "\"Name\" id=0x60020000 kind=1 invoke=2")) << shape;
    EXPECT_TRUE(Has(shape, "pflags=0xa type=ptr(vt8)")) << shape;
}

TEST_F(StructuralChanges, AddMemberRefusesWhatNoMenuOffersBeforeChangingAnything) {
    const std::string before = Dump(lib.get());
    auto add = modAddMemberChange::NewAddMemberChange(false);
    const std::vector<std::pair<int32_t, ChangeTarget>> refused = {
        {6, MemberTarget(lib.get(), u"IShape", u"Name", INVOKE_PROPERTYGET)},
        {1, MemberTarget(lib.get(), u"IShape", u"Zoom")},
        {0, TypeTarget(lib.get(), u"IShape")},
        {0, TypeTarget(lib.get(), u"Shape")},
        {0, TypeTarget(lib.get(), u"LongPtr")},
        {16, TypeTarget(lib.get(), u"IShape")},
        {0x20, TypeTarget(lib.get(), u"IShape")},
    };
    for (const auto& [kinds, target] : refused) {
        add->InvokeKind(kinds);
        EXPECT_EQ(ErrorOf([&] { Apply(*add, ChangeTarget(target)); }), kErrInvalidArgument) << kinds;
    }
    EXPECT_TRUE(Heard().empty());
    EXPECT_EQ(Dump(lib.get()), before);
}

TEST_F(StructuralChanges, CopiedFieldsLandFirstOrAfterTheTargetAndOtherTargetsAreRefused) {
    auto copy = modCopyMemberChange::NewCopyMemberChange(false);
    copy->VarTypeInfo(TypeDescOf(lib.get(), u"Matrix").get());
    copy->SourceMemberId(MemberTarget(lib.get(), u"Matrix", u"one", 0).MemberId);
    ASSERT_TRUE(Apply(*copy, TypeTarget(lib.get(), u"Matrix")));
    EXPECT_EQ(Utf8(copy->NewMemberName()), "one1");
    ASSERT_TRUE(Apply(*copy, MemberTarget(lib.get(), u"Matrix", u"rows", 0)));
    const std::string matrix = Type("Matrix");
    EXPECT_TRUE(Has(matrix, "var 0 \"one1\"") && Has(matrix, "var 3 \"one2\"")) << matrix;

    const std::string before = Dump(lib.get());
    for (ChangeTarget t : {LibraryTarget(lib.get()), ImplTarget(lib.get(), u"Shape", 0),
                           ParamTarget(lib.get(), u"IShape", u"Zoom", 0)})
        EXPECT_EQ(ErrorOf([&] { Apply(*copy, t); }), kErrInvalidArgument);
    copy->VarTypeInfo(nullptr);  // not even looked at
    EXPECT_EQ(ErrorOf([&] { Apply(*copy, LibraryTarget(nullptr)); }), kErrInvalidArgument);
    EXPECT_EQ(Heard().size(), 2u);
    EXPECT_EQ(Dump(lib.get()), before);
}

// A dispinterface declared over an interface ("dispinterface D { interface I; }")
// has I's functions as its members: accessors added to it and edits of its
// members are made in the interface of the library that declares them, where
// it shows them (what a function returns as its return value parameter). What
// can't be made there (a member of its own, an edit of another library's
// interface, a Get that returns nothing) is refused with a message before
// anything changes.
// An editable copy of the library with the dispinterfaces declared over interfaces.
ComPtr<ITypeLib> EditableDispatchLibrary() {
    ComPtr<ITypeLib> loaded;
    EXPECT_OK(LoadTypeLibEx(ole::FromUtf8(std::string(ZEPHRIN_TEST_DATA_DIR) + "/forms/dispatch.tlb").c_str(),
                            REGKIND_NONE, loaded.put()));
    TLBModifier editable;
    editable.StartingLibDirect(loaded.get());
    return editable.GenerateDirect(u"");
}

TEST(DispatchedInterfaceEdits, AreMadeInTheDeclaringInterfaceOrRefusedBeforeAnythingChanges) {
    const ComPtr<ITypeLib> lib = EditableDispatchLibrary();
    {  // dispinterface DOverUnknown { interface IUnknown; }, over stdole's IUnknown
        auto over = NewType(lib.As<ICreateTypeLib2>().get(), u"DOverUnknown", TKIND_DISPATCH);
        ASSERT_OK(over->AddImplType(0, RefTo(over.get(), StdOle2Type(kIID_IDispatch).get())));
        ASSERT_OK(over->AddImplType(1, RefTo(over.get(), StdOle2Type(kIID_IUnknown).get())));
        ASSERT_OK(over->LayOut());
    }
    CustomTypeLib view;
    view.Attach(lib.get());
    CatchingListener listener;
    const auto apply = [&](IChange& change, ChangeTarget target) { change.Apply(view, nullptr, target, &listener, 0); };
    const auto plain = [&](const char16_t* member, int32_t kind = INVOKE_FUNC) {
        return MemberTarget(lib.get(), u"DOverPlain", member, kind);
    };
    const auto edit = [&](auto change, ChangeTarget target, auto set) {
        change->InitFromTarget(target);
        set(*change);
        apply(*change, target);
    };
    const auto typed = [&](VARTYPE vt) {
        return [&lib, vt](IAttributeChange& c) {
            ComPtr<CustomVarTypeInfo> type = CustomVarTypeInfo::New();
            type->CurrentITypeLib(lib.get());
            type->SetType(vt, nullptr);
            c.VarTypeInfo(type.get());
        };
    };
    const auto has = [&](const char* type, const char* made) { return Has(TypeLines(Dump(lib.get()), type), made); };
    apply(*Make(modAddMemberChange::NewAddMemberChange(false), Kind(INVOKE_PROPERTYPUT)),
          plain(u"Count", INVOKE_PROPERTYGET));
    EXPECT_TRUE(has("IPlain", "\"Count\" id=0x60010001 kind=1 invoke=4"));
    edit(modMemberChange::NewMemberChange(false), plain(u"Name"), typed(VT_VARIANT));
    EXPECT_TRUE(has("IPlain", "param 1 \"r\" pflags=0xa type=ptr(vt12)"));
    edit(modMemberChange::NewMemberChange(false), plain(u"Name"), typed(VT_VOID));
    EXPECT_TRUE(has("DOverPlain", "\"Name\" id=0x60010002 kind=4 invoke=1 cc=4 params=1 opt=0 vtoff=20 flags=0x0 ret=vt24"));
    ChangeTarget a = plain(u"Ping");
    a.Kind = kTargetParam;
    edit(modParamChange::NewParamChange(false), a, typed(VT_I2));
    EXPECT_TRUE(has("IPlain", "\"a\" pflags=0x1 type=vt2"));
    edit(modHelpChange::NewHelpChange(false), a = plain(u"Ping"), [](HelpChange& c) { c.HelpStringContext(6); });
    auto help = modHelpChange::NewHelpChange(false);
    help->InitFromTarget(a);
    EXPECT_EQ(Utf8(help->Help().DocString) + " " + std::to_string(help->Help().HelpStringContext), "Pings 6");
    edit(modCustDataChange::NewCustDataChange(false), a,
         [](CustDataChange& c) { c.SetItem({0x5E1A1199, 0, 0x4000, {0x80}}, ole::Variant(u"kept")); });
    EXPECT_TRUE(has("IPlain", "custdata {5E1A1199-0000-4000-8000-000000000000} = vt=8:\"kept\""));
    edit(modMemberChange::NewMemberChange(false), a, [](IAttributeChange& c) { c.MemberId(0x55); });
    EXPECT_TRUE(has("IPlain", "\"Ping\" id=0x00000055"));
    apply(*modResetIDsChange::GetResetAllIDsChange(), TypeTarget(lib.get(), u"DOverPlain"));
    EXPECT_TRUE(has("IPlain", "\"Ping\" id=0x60010000"));
    // Copied out of it, a member comes as it shows it.
    auto copy = modCopyMemberChange::NewCopyMemberChange(false);
    copy->VarTypeInfo(TypeDescOf(lib.get(), u"DOverPlain").get());
    copy->SourceMemberId(a.MemberId);
    apply(*copy, TypeTarget(lib.get(), u"DText"));
    EXPECT_TRUE(has("DText", "\"Ping\" id=0x60020007 kind=4 invoke=1 cc=4 params=1 opt=0 vtoff=0 flags=0x0 ret=vt24"));
    EXPECT_EQ(listener.Heard().size(), 9u);

    const std::string before = Dump(lib.get());
    const auto refusal = [&](IChange& change, ChangeTarget target) {
        return Utf8(RecordOf([&] { apply(change, target); }).Description);
    };
    const std::string own = "A dispinterface declared over an interface has no members of its own: its members are "
                            "the interface's functions.";
    EXPECT_EQ(refusal(*Make(modAddMemberChange::NewAddMemberChange(false), Kind(0)), TypeTarget(lib.get(), u"DOverPlain")),
              own);
    copy->VarTypeInfo(TypeDescOf(lib.get(), u"DText").get());
    EXPECT_EQ(refusal(*copy, TypeTarget(lib.get(), u"DOverPlain")), own);
    auto retype = modMemberChange::NewMemberChange(false);
    retype->InitFromTarget(a = plain(u"Count", INVOKE_PROPERTYGET));
    typed(VT_VOID)(*retype);
    EXPECT_EQ(refusal(*retype, a), "The accessor returns its value through a return value parameter in the interface "
                                   "over which the dispinterface is declared; it can't return nothing.");
    retype->InitFromTarget(a = plain(u"QueryInterface"));
    retype->Flags(FUNCFLAG_FHIDDEN);
    EXPECT_EQ(refusal(*retype, a), "The member belongs to IUnknown of another library, over which the dispinterface "
                                   "is declared; it can't be changed in this library.");
    const std::string foreign =
        "The dispinterface is declared over IUnknown of another library; its functions can't be changed in this library.";
    EXPECT_EQ(refusal(*Make(modAddMemberChange::NewAddMemberChange(false), Kind(INVOKE_FUNC)),
                      TypeTarget(lib.get(), u"DOverUnknown")),
              foreign);
    EXPECT_EQ(refusal(*modResetIDsChange::GetResetAllIDsChange(), TypeTarget(lib.get(), u"DOverUnknown")), foreign);
    EXPECT_EQ(listener.Heard().size(), 9u);
    EXPECT_EQ(Dump(lib.get()), before);
}

// A method of the interface made to return nothing through the dispinterface
// loses its return value parameter; should the rest of the edit fail, the
// parameter comes back whole, with its custom data.
TEST(DispatchedInterfaceEdits, AReturnValueTakenAwayComesBackWholeWhenTheEditFails) {
    int failed = 0;
    for (int skip = 0; skip < 12; ++skip) {
        const ComPtr<ITypeLib> lib = EditableDispatchLibrary();
        CustomTypeLib view;
        view.Attach(lib.get());
        CatchingListener listener;
        ChangeTarget r = MemberTarget(lib.get(), u"IPlain", u"Name");
        r.Kind = kTargetParam;
        r.ParamIndex = 1;
        auto tagged = modCustDataChange::NewCustDataChange(false);
        tagged->InitFromTarget(r);
        tagged->SetItem({0x5E1A1199, 0, 0x4000, {0x80}}, ole::Variant(u"kept"));
        tagged->Apply(view, nullptr, r, &listener, 0);
        const std::string before = Dump(lib.get());
        ASSERT_TRUE(
            Has(TypeLines(before, "IPlain"), "custdata {5E1A1199-0000-4000-8000-000000000000} = vt=8:\"kept\""));
        ChangeTarget name = MemberTarget(lib.get(), u"DOverPlain", u"Name");
        auto change = modMemberChange::NewMemberChange(false);
        change->InitFromTarget(name);
        ComPtr<CustomVarTypeInfo> none = CustomVarTypeInfo::New();
        none->CurrentITypeLib(lib.get());
        none->SetType(VT_VOID, nullptr);
        change->VarTypeInfo(none.get());
        change->SetFlags(FUNCFLAG_FHIDDEN, true);
        ole::testing::FailNextCall("LayOut", E_OUTOFMEMORY, skip);
        const int32_t error = ErrorOf([&] { change->Apply(view, nullptr, name, &listener, 0); });
        ole::testing::ClearInjectedFailures();
        if (error == 0) continue;
        ++failed;
        EXPECT_EQ(error, E_OUTOFMEMORY) << skip;
        EXPECT_EQ(Dump(lib.get()), before) << skip;
    }
    EXPECT_GT(failed, 1);
}

// ---- Rollback ----

struct Failure {
    const char* name;
    std::function<ChangePtr(ITypeLib*)> change;
    std::function<ChangeTarget(ITypeLib*)> target;
    const char* method;  // the creation-interface call made to fail, at each of its calls in turn
};
void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }

template <class C>
std::function<ChangePtr(ITypeLib*)> With(std::function<std::shared_ptr<C>()> create,
                                         std::function<void(C&, ITypeLib*)> set) {
    return [=](ITypeLib* lib) -> ChangePtr {
        auto c = create();
        set(*c, lib);
        return c;
    };
}
std::function<ChangePtr(ITypeLib*)> AddType(TYPEKIND kind, bool helpFiles = false) {
    return With<AddTypeChange>([] { return modAddTypeChange::NewAddTypeChange(false); },
                               [=](AddTypeChange& c, ITypeLib*) {
                                   c.TypeKind(kind);
                                   c.UseLibraryHelpFiles(helpFiles);
                               });
}
std::function<ChangePtr(ITypeLib*)> AddMember(int32_t kinds, bool helpFiles = false) {
    return With<AddMemberChange>([] { return modAddMemberChange::NewAddMemberChange(false); },
                                 [=](AddMemberChange& c, ITypeLib*) {
                                     c.InvokeKind(kinds);
                                     c.UseLibraryHelpFiles(helpFiles);
                                 });
}
auto Lib() {
    return [](ITypeLib* lib) { return LibraryTarget(lib); };
}
auto OnType(const char16_t* type) {
    return [=](ITypeLib* lib) { return TypeTarget(lib, type); };
}
auto OnMember(const char16_t* type, const char16_t* member, int32_t kind = INVOKE_FUNC) {
    return [=](ITypeLib* lib) { return MemberTarget(lib, type, member, kind); };
}

class StructuralRollback : public ::testing::TestWithParam<Failure> {};

// Each call of the method is made to fail in turn, on a fresh library: a
// change that then fails leaves the library as it was, live, with its help
// files; notifies no one; and hands on the first error.
TEST_P(StructuralRollback, AChangeThatFailsLeavesTheLiveLibraryAsItWas) {
    const Failure& f = GetParam();
    int failed = 0;
    for (int skip = 0; skip < 24; ++skip) {
        const ComPtr<ITypeLib> lib = Shapes();
        ASSERT_OK(lib.As<ICreateTypeLib2>()->SetHelpFileName(u"/docs/shapes.chm"));
        CustomTypeLib view;
        view.Attach(lib.get());
        RecordingListener listener("heard");
        const std::string before = Dump(lib.get());
        const ChangePtr change = f.change(lib.get());
        ChangeTarget target = f.target(lib.get());
        ole::testing::FailNextCall(f.method, E_OUTOFMEMORY, skip);
        const int32_t error = ErrorOf([&] { change->Apply(view, nullptr, target, &listener, 0); });
        ole::testing::ClearInjectedFailures();
        if (error == 0) continue;  // not reached, or a probe that may fail
        ++failed;
        EXPECT_EQ(error, E_OUTOFMEMORY) << skip;
        EXPECT_EQ(Dump(lib.get()), before) << skip;
        EXPECT_TRUE(Edits(view, lib.get())) << skip;
        EXPECT_FALSE(target.ReplacementLibrary) << skip;
        // A type change asks its listeners first.
        EXPECT_TRUE(listener.Heard().empty() || listener.Heard() == std::vector<std::string>{"heard:Before"})
            << skip;
    }
    EXPECT_GT(failed, 0);
}

const Failure kFailures[] = {
    {"AddInterfaceGuid", AddType(TKIND_INTERFACE, true), Lib(), "ICreateTypeInfo2::SetGuid"},
    {"AddInterfaceBase", AddType(TKIND_INTERFACE), Lib(), "AddImplType"},
    {"AddInterfaceFlags", AddType(TKIND_INTERFACE, true), Lib(), "SetTypeFlags"},
    {"AddDispinterfaceBase", AddType(TKIND_DISPATCH), Lib(), "AddImplType"},
    {"AddAlias", AddType(TKIND_ALIAS), Lib(), "SetTypeDescAlias"},
    {"AddCoclassFlags", AddType(TKIND_COCLASS), Lib(), "SetTypeFlags"},
    {"AddPropertyAccessors", AddMember(6, true), OnType(u"IShape"), "AddFuncDesc"},
    {"AddPropertyLayOut", AddMember(10), OnType(u"IShape"), "LayOut"},
    {"AddModuleFunctionEntry", AddMember(1), OnType(u"Kernel"), "DefineFuncAsDllEntry"},
    {"AddEnumValueLayOut", AddMember(0, true), OnType(u"Colors"), "LayOut"},
    {"AddDispatchPropertyLayOut", AddMember(0), OnType(u"DShapeEvents"), "LayOut"},
    {"AddAccessorLayOut", AddMember(INVOKE_PROPERTYPUTREF),
     OnMember(u"IShape", u"Name", INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT), "LayOut"},
    {"AddImplType",
     With<AddImplTypeChange>([] { return modAddImplTypeChange::NewAddImplTypeChange(false); },
                             [](AddImplTypeChange& c, ITypeLib* lib) {
                                 c.VarTypeInfo(TypeDescOf(lib, u"IShape").get());
                             }),
     OnType(u"Shape"), "AddImplType"},
    {"InsertParam",
     With<InsertParamChange>([] { return modInsertParamChange::NewInsertParamChange(false); },
                             [](InsertParamChange& c, ITypeLib*) { c.ParamForm(InsertParamChange::kTypedOptional); }),
     OnMember(u"IShape", u"Zoom"), "SetFuncAndParamNames"},
    {"CopyProperty",
     With<CopyMemberChange>([] { return modCopyMemberChange::NewCopyMemberChange(false); },
                            [](CopyMemberChange& c, ITypeLib* lib) {
                                c.VarTypeInfo(TypeDescOf(lib, u"IShape").get());
                                c.SourceMemberId(MemberTarget(lib, u"IShape", u"Name").MemberId);
                            }),
     OnType(u"IShape"), "AddFuncDesc"},
    {"RenameMember",
     With<RenameChange>([] { return modRenameChange::NewRenameChange(false); },
                        [](RenameChange& c, ITypeLib*) { c.NewName(u"Label"); }),
     OnMember(u"IShape", u"Name", INVOKE_PROPERTYGET), "SetFuncAndParamNames"},
    {"DeleteProperty", [](ITypeLib*) { return modDeleteChange::GetDeleteChange(); },
     OnMember(u"IShape", u"Name", INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT), "DeleteFuncDesc"},
    {"ReorderVars",
     With<ReorderVarsChange>([] { return modReorderVarsChange::NewReorderVarsChange(false); },
                             [](ReorderVarsChange& c, ITypeLib*) { c.NewOrder({4, 3, 2, 1, 0}); }),
     OnType(u"Matrix"), "AddVarDesc"},
    {"ResetIDs", [](ITypeLib*) { return modResetIDsChange::GetResetAllIDsChange(); }, OnType(u"DShapeEvents"),
     "AddVarDesc"},
    {"RemoveParamArray", [](ITypeLib*) { return modRemoveParamArrayChange::GetRemoveParamArrayChange(); },
     OnMember(u"IShape", u"Sum"), "LayOut"},
    // The regenerating kinds: failures in the regeneration, and (for the dual
    // flag, with a new GUID) in the edits of the regenerated library.
    {"DeleteType", [](ITypeLib*) { return modDeleteChange::GetDeleteChange(); }, OnType(u"Colors"), "LayOut"},
    {"ReorderTypes",
     With<ReorderTypesChange>([] { return modReorderTypesChange::NewReorderTypesChange(false); },
                              [](ReorderTypesChange& c, ITypeLib*) { c.NewOrder({8, 0, 1, 2, 3, 4, 5, 6, 7}); }),
     Lib(), "AddFuncDesc"},
    {"RemoveDual",
     With<IAttributeChange>([] { return modTypeChange::NewTypeChange(false); },
                            [](IAttributeChange& c, ITypeLib* lib) {
                                ChangeTarget shape = TypeTarget(lib, u"IShape");
                                c.InitFromTarget(shape);
                                c.SetFlags(TYPEFLAG_FDUAL, false);
                                c.Guid({0x5E55101, 1, 2, {3}});
                            }),
     OnType(u"IShape"), "ICreateTypeInfo2::SetGuid"},
};

INSTANTIATE_TEST_SUITE_P(Kinds, StructuralRollback, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace changestest
