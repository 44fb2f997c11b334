// Reading the sample library through the TypeLib Information objects, once as
// built through the creation interfaces and once saved and loaded from its file.
#include <filesystem>

#include "TliTestLibrary.h"
#include "platform/oleauto/Guid.h"
#include "platform/oleauto/TypeLibFiles.h"

namespace tlitest {
namespace {

enum class Route { Created, Loaded };

class SampleLibrary : public ::testing::TestWithParam<Route> {
protected:
    void SetUp() override {
        if (GetParam() == Route::Created) {
            created_ = BuildShapes();
            ASSERT_TRUE(created_);
            info_ = InfoOf(AsTypeLib(created_.get()).get());
        } else {
            RegisterFileServices();
            path_ = std::filesystem::temp_directory_path() /
                    ("tli_shapes_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".tlb");
            created_ = BuildShapes(path_.u16string());
            ASSERT_TRUE(created_);
            ASSERT_OK(created_->SaveAllChanges());
            created_ = nullptr;
            ASSERT_OK(App()->TypeLibInfoFromFile(path_.u16string(), info_.put()));
        }
        ASSERT_TRUE(info_);
    }
    void TearDown() override {
        info_ = nullptr;
        if (!path_.empty()) std::filesystem::remove(path_);
    }
    ComPtr<tli::Members> MembersOf(std::u16string_view type, bool grouped = false) {
        ComPtr<tli::TypeInfo> t = TypeNamed(info_.get(), type);
        ComPtr<tli::Members> m;
        if (t) {
            EXPECT_OK(grouped ? t->GetGroupedMembers(m.put()) : t->get_Members(m.put()));
        }
        return m;
    }
    // IShape's members, read through its vtable half.
    ComPtr<tli::Members> ShapeMembers(bool grouped = false) {
        ComPtr<tli::TypeInfo> item = TypeNamed(info_.get(), u"ishape"), half;
        EXPECT_OK(item->get_VTableInterface(half.put()));
        ComPtr<tli::Members> m;
        if (half) {
            EXPECT_OK(grouped ? half->GetGroupedMembers(m.put()) : half->get_Members(m.put()));
        }
        return m;
    }

    ComPtr<ICreateTypeLib2> created_;
    ComPtr<tli::TypeLibInfo> info_;
    std::filesystem::path path_;
};

TEST_P(SampleLibrary, ReportsTheLibraryAttributes) {
    EXPECT_EQ(NameOf(info_.get()), u"Shapes");
    std::u16string text;
    EXPECT_OK(info_->get_Guid(&text));
    EXPECT_EQ(text, GuidToString(kSampleLibGuid));
    LCID lcid = 0;
    EXPECT_OK(info_->get_LCID(&lcid));
    EXPECT_EQ(lcid, 0x409u);
    SHORT major = 0, minor = 0, flags = 0;
    EXPECT_OK(info_->get_MajorVersion(&major));
    EXPECT_OK(info_->get_MinorVersion(&minor));
    EXPECT_OK(info_->get_AttributeMask(&flags));
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 2);
    EXPECT_TRUE(flags & LIBFLAG_FHIDDEN);
    EXPECT_OK(info_->get_HelpString(&text));
    EXPECT_EQ(text, u"Sample shapes");
    EXPECT_OK(info_->get_ContainingFile(&text));
    if (GetParam() == Route::Loaded) {
        EXPECT_EQ(std::filesystem::path(text).filename(), path_.filename());
    }
    LONG count = 0;
    EXPECT_OK(info_->get_TypeInfoCount(&count));
    EXPECT_EQ(count, 9);
}

TEST_P(SampleLibrary, FindsTypesByPositionAndByNameIgnoringCase) {
    ComPtr<tli::TypeInfos> types;
    ASSERT_OK(info_->get_TypeInfos(types.put()));
    ComPtr<tli::TypeInfo> first, byName, missing;
    ASSERT_OK(types->get_Item(1, first.put()));
    EXPECT_EQ(NameOf(first.get()), u"Colors");
    ASSERT_OK(types->NamedItem(u"MATRIX", byName.put()));
    EXPECT_EQ(NameOf(byName.get()), u"Matrix");
    LONG number = -1;
    EXPECT_OK(byName->get_TypeInfoNumber(&number));
    EXPECT_EQ(number, 2);
    EXPECT_EQ(types->NamedItem(u"Circle", missing.put()), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(types->get_Item(0, missing.put()), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(types->get_Item(10, missing.put()), TYPE_E_ELEMENTNOTFOUND);
}

TEST_P(SampleLibrary, DualInterfaceHandsOutItsVtableHalf) {
    ComPtr<tli::TypeInfo> item = TypeNamed(info_.get(), u"IShape"), half, none;
    ASSERT_TRUE(item);
    TYPEKIND kind{};
    SHORT flags = 0;
    EXPECT_OK(item->get_TypeKind(&kind));
    EXPECT_OK(item->get_AttributeMask(&flags));
    EXPECT_EQ(kind, TKIND_DISPATCH);
    EXPECT_TRUE(flags & TYPEFLAG_FDUAL);

    ASSERT_OK(item->get_VTableInterface(half.put()));
    ASSERT_TRUE(half);
    EXPECT_OK(half->get_TypeKind(&kind));
    EXPECT_EQ(kind, TKIND_INTERFACE);
    EXPECT_EQ(NameOf(half.get()), u"IShape");
    std::u16string guid;
    EXPECT_OK(half->get_Guid(&guid));
    EXPECT_EQ(guid, GuidToString(kShapeIid));
    LONG a = -1, b = -2;
    EXPECT_OK(item->get_TypeInfoNumber(&a));
    EXPECT_OK(half->get_TypeInfoNumber(&b));
    EXPECT_EQ(a, 3);
    EXPECT_EQ(b, 3);

    // The half is an interface already; plain dispinterfaces have no vtable half.
    EXPECT_OK(half->get_VTableInterface(none.put()));
    EXPECT_EQ(none, nullptr);
    ComPtr<tli::TypeInfo> events = TypeNamed(info_.get(), u"DShapeEvents");
    EXPECT_OK(events->get_VTableInterface(none.put()));
    EXPECT_EQ(none, nullptr);

    // The vtable half's base is IDispatch; the parent is this library.
    ComPtr<tli::ImpliedInterfaces> bases;
    ComPtr<tli::TypeInfo> base;
    ASSERT_OK(half->get_ImpliedInterfaces(bases.put()));
    ASSERT_OK(bases->get_Item(1, base.put()));
    EXPECT_EQ(NameOf(base.get()), u"IDispatch");
    ComPtr<tli::TypeLibInfo> parent;
    ASSERT_OK(half->get_Parent(parent.put()));
    bool same = false;
    EXPECT_OK(parent->IsSameLibrary(info_.get(), &same));
    EXPECT_TRUE(same);
}

TEST_P(SampleLibrary, MembersListVariablesFirstThenFunctions) {
    ComPtr<tli::Members> members = MembersOf(u"Kernel");
    ASSERT_TRUE(members);
    EXPECT_EQ(Names(members.get()), (std::vector<std::u16string>{u"Answer", u"Greeting", u"Beep", u"ByOrdinal"}));
    ComPtr<tli::MemberInfo> answer, beep;
    ASSERT_OK(members->get_Item(1, answer.put()));
    ASSERT_OK(members->get_Item(3, beep.put()));
    LONG kind = 0, number = -1;
    DESCKIND desc{};
    EXPECT_OK(answer->get_InvokeKind(&kind));
    EXPECT_EQ(kind, tli::INVOKE_CONST | INVOKE_PROPERTYGET);
    EXPECT_OK(beep->get_InvokeKind(&kind));
    EXPECT_EQ(kind, INVOKE_FUNC);
    EXPECT_OK(beep->get_DescKind(&desc));
    EXPECT_EQ(desc, DESCKIND_FUNCDESC);
    EXPECT_OK(beep->get_MemberNumber(&number));
    EXPECT_EQ(number, 0);
    SHORT memberFlags = -1;
    EXPECT_OK(beep->get_AttributeMask(&memberFlags));
    EXPECT_EQ(memberFlags, 0);

    // Lookup by MEMBERID.
    MEMBERID id = 0;
    ASSERT_OK(answer->get_MemberId(&id));
    ComPtr<tli::MemberInfo> again;
    ASSERT_OK(members->GetMemberById(id, again.put()));
    EXPECT_EQ(NameOf(again.get()), u"Answer");
    EXPECT_EQ(members->GetMemberById(0x7777, again.put()), TYPE_E_ELEMENTNOTFOUND);
}

TEST_P(SampleLibrary, ConstantsReportTheirValuesAndModuleFunctionsTheirEntries) {
    ComPtr<tli::Members> members = MembersOf(u"Kernel");
    Variant v;
    ComPtr<tli::MemberInfo> answer = MemberNamed(members.get(), u"Answer");
    ASSERT_OK(answer->get_Value(v.put()));
    EXPECT_EQ(v.vt(), VT_I4);
    EXPECT_EQ(v.get().lVal, 42);
    ASSERT_OK(MemberNamed(members.get(), u"Greeting")->get_Value(v.put()));
    EXPECT_EQ(v, Variant(u"hi"));

    std::u16string dll, entry;
    WORD ordinal = 99;
    ComPtr<tli::MemberInfo> beep = MemberNamed(members.get(), u"Beep");
    ASSERT_OK(beep->GetDllEntry(&dll, &entry, &ordinal));
    EXPECT_EQ(dll, u"kernel32.dll");
    EXPECT_EQ(entry, u"Beep");
    EXPECT_EQ(ordinal, 0);
    ASSERT_OK(MemberNamed(members.get(), u"ByOrdinal")->GetDllEntry(&dll, &entry, &ordinal));
    EXPECT_EQ(dll, u"kernel32.dll");
    EXPECT_EQ(entry, u"");
    EXPECT_EQ(ordinal, 7);
    EXPECT_EQ(beep->get_Value(v.put()), TYPE_E_WRONGTYPEKIND);

    ComPtr<tli::Members> colors = MembersOf(u"Colors");
    ASSERT_OK(MemberNamed(colors.get(), u"Green")->get_Value(v.put()));
    ASSERT_OK(v.ChangeType(VT_I4));
    EXPECT_EQ(v.get().lVal, 1);
}

TEST_P(SampleLibrary, RetvalParameterIsHiddenAndBecomesTheReturnType) {
    ComPtr<tli::Members> members = ShapeMembers();
    ASSERT_TRUE(members);
    // Area([in] double scale, [in, lcid] long lcid, [out, retval] double* area)
    ComPtr<tli::MemberInfo> area = MemberNamed(members.get(), u"Area");
    ComPtr<tli::Parameters> params;
    ASSERT_OK(area->get_Parameters(params.put()));
    LONG count = 0;
    EXPECT_OK(params->get_Count(&count));
    ASSERT_EQ(count, 2);
    ComPtr<tli::ParameterInfo> lcid, beyond;
    ASSERT_OK(params->get_Item(2, lcid.put()));
    EXPECT_EQ(NameOf(lcid.get()), u"lcid");
    USHORT flags = 0;
    EXPECT_OK(lcid->get_Flags(&flags));
    EXPECT_EQ(flags, PARAMFLAG_FIN | PARAMFLAG_FLCID);
    EXPECT_EQ(params->get_Item(3, beyond.put()), TYPE_E_ELEMENTNOTFOUND);
    ComPtr<tli::VarTypeInfo> ret;
    ASSERT_OK(area->get_ReturnType(ret.put()));
    EXPECT_EQ(VarTypeOf(ret.get()), VT_R8);
    EXPECT_EQ(PointerLevelOf(ret.get()), 1);  // exactly the parameter's double*

    // Without a retval the return type is the function's own.
    ComPtr<tli::MemberInfo> zoom = MemberNamed(members.get(), u"Zoom");
    ASSERT_OK(zoom->get_Parameters(params.put()));
    EXPECT_OK(params->get_Count(&count));
    EXPECT_EQ(count, 1);
    ASSERT_OK(zoom->get_ReturnType(ret.put()));
    EXPECT_EQ(VarTypeOf(ret.get()), VT_HRESULT);
    EXPECT_EQ(PointerLevelOf(ret.get()), 0);

    // The property get lists nothing; the put lists its value parameter.
    ComPtr<tli::MemberInfo> get = MemberNamed(members.get(), u"Name", INVOKE_PROPERTYGET);
    ComPtr<tli::MemberInfo> put = MemberNamed(members.get(), u"Name", INVOKE_PROPERTYPUT);
    ASSERT_OK(get->get_Parameters(params.put()));
    EXPECT_OK(params->get_Count(&count));
    EXPECT_EQ(count, 0);
    ASSERT_OK(get->get_ReturnType(ret.put()));
    EXPECT_EQ(VarTypeOf(ret.get()), VT_BSTR);
    ASSERT_OK(put->get_Parameters(params.put()));
    EXPECT_OK(params->get_Count(&count));
    EXPECT_EQ(count, 1);
}

TEST_P(SampleLibrary, ParametersReportOptionalDefaultsParamArrayAndCustomData) {
    ComPtr<tli::Members> members = ShapeMembers();
    ComPtr<tli::Parameters> params;
    ASSERT_OK(MemberNamed(members.get(), u"Fill")->get_Parameters(params.put()));
    LONG optional = -5;
    bool paramArray = true;
    EXPECT_OK(params->get_OptionalCount(&optional));
    EXPECT_OK(params->get_ParamArray(&paramArray));
    EXPECT_EQ(optional, 1);
    EXPECT_FALSE(paramArray);

    ComPtr<tli::ParameterInfo> count, extra, me;
    ASSERT_OK(params->get_Item(1, count.put()));
    ASSERT_OK(params->get_Item(2, extra.put()));
    ASSERT_OK(count->get_Me(me.put()));
    EXPECT_EQ(me.get(), count.get());
    bool b = false;
    EXPECT_OK(count->get_Optional(&b));
    EXPECT_TRUE(b);
    EXPECT_OK(count->get_Default(&b));
    EXPECT_TRUE(b);
    Variant v;
    ASSERT_OK(count->get_DefaultValue(v.put()));
    EXPECT_EQ(v, Variant(int32_t{5}));
    EXPECT_OK(extra->get_Optional(&b));
    EXPECT_TRUE(b);
    EXPECT_OK(extra->get_Default(&b));
    EXPECT_FALSE(b);
    EXPECT_EQ(extra->get_DefaultValue(v.put()), tli::TLI_E_NODEFAULTVALUE);

    // Custom data of the count parameter.
    EXPECT_OK(count->get_HasCustomData(&b));
    EXPECT_TRUE(b);
    ComPtr<tli::CustomDataCollection> data;
    ASSERT_OK(count->get_CustomDataCollection(data.put()));
    LONG n = 0;
    EXPECT_OK(data->get_Count(&n));
    ASSERT_EQ(n, 1);
    ComPtr<tli::CustomDataItem> item;
    ASSERT_OK(data->get_Item(1, item.put()));
    std::u16string guid;
    EXPECT_OK(item->get_Guid(&guid));
    EXPECT_EQ(guid, GuidToString(kCountDataGuid));
    ASSERT_OK(item->get_Value(v.put()));
    EXPECT_EQ(v, Variant(u"tenth"));
    ComPtr<tli::CustomDataEnum> items;
    ASSERT_OK(data->NewEnum(items.put()));
    EXPECT_EQ(items->Next(item.put()), S_OK);
    EXPECT_EQ(items->Next(item.put()), S_FALSE);
    EXPECT_EQ(item, nullptr);
    EXPECT_OK(extra->get_HasCustomData(&b));
    EXPECT_FALSE(b);
    ASSERT_OK(extra->get_CustomDataCollection(data.put()));
    EXPECT_OK(data->get_Count(&n));
    EXPECT_EQ(n, 0);

    // [vararg]
    ASSERT_OK(MemberNamed(members.get(), u"Sum")->get_Parameters(params.put()));
    EXPECT_OK(params->get_OptionalCount(&optional));
    EXPECT_OK(params->get_ParamArray(&paramArray));
    EXPECT_EQ(optional, -1);
    EXPECT_TRUE(paramArray);
}

TEST_P(SampleLibrary, GroupedMembersJoinAccessorsAndFollowACustomSort) {
    ComPtr<tli::Members> grouped = ShapeMembers(true);
    ASSERT_TRUE(grouped);
    // IDispatch's own functions are inherited, not listed.
    EXPECT_EQ(Names(grouped.get()),
              (std::vector<std::u16string>{u"Name", u"Area", u"Fill", u"Sum", u"_Hidden", u"Zoom"}));
    SHORT flags = 0;
    EXPECT_OK(MemberNamed(grouped.get(), u"_Hidden")->get_AttributeMask(&flags));
    EXPECT_EQ(flags, FUNCFLAG_FHIDDEN | FUNCFLAG_FRESTRICTED);
    LONG kind = 0;
    EXPECT_OK(MemberNamed(grouped.get(), u"Name")->get_InvokeKind(&kind));
    EXPECT_EQ(kind, INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT);

    ComPtr<tli::Members> kernel = MembersOf(u"Kernel", true);
    EXPECT_OK(MemberNamed(kernel.get(), u"Answer")->get_InvokeKind(&kind));
    EXPECT_TRUE(kind & tli::INVOKE_CONST);

    // Sorted by name with leading underscores ignored.
    struct ByStrippedName : RefCounted<tli::CustomSort> {
        HRESULT QueryInterface(const IID& riid, void** ppv) override {
            return QueryInterfaceFor<tli::CustomSort>(this, riid, ppv);
        }
        HRESULT Compare(tli::MemberInfo* a, tli::MemberInfo* b, LONG* r) override {
            std::u16string x = NameOf(a), y = NameOf(b);
            x.erase(0, x.find_first_not_of(u'_'));
            y.erase(0, y.find_first_not_of(u'_'));
            *r = x < y ? -1 : x > y ? 1 : 0;
            ++calls;
            return fail ? E_FAIL : S_OK;
        }
        int calls = 0;
        bool fail = false;
    };
    ComPtr<ByStrippedName> sort(new ByStrippedName());
    ASSERT_OK(grouped->putref_CustomSort(sort.get()));
    const std::vector<std::u16string> sorted{u"Area", u"Fill", u"_Hidden", u"Name", u"Sum", u"Zoom"};
    EXPECT_EQ(Names(grouped.get()), sorted);
    ComPtr<tli::CustomSort> held;
    EXPECT_OK(grouped->get_CustomSort(held.put()));
    EXPECT_EQ(held.get(), static_cast<tli::CustomSort*>(sort.get()));

    // A failing comparison fails the set and keeps the order; null restores the original one.
    sort->fail = true;
    EXPECT_EQ(grouped->putref_CustomSort(sort.get()), E_FAIL);
    EXPECT_EQ(Names(grouped.get()), sorted);
    ASSERT_OK(grouped->putref_CustomSort(nullptr));
    EXPECT_EQ(Names(grouped.get()).front(), u"Name");
}

TEST_P(SampleLibrary, ArraysAndPointersDescribeTheirLevelsAndBounds) {
    ComPtr<tli::Members> fields = MembersOf(u"Matrix");
    ASSERT_TRUE(fields);
    ComPtr<tli::VarTypeInfo> t;
    std::vector<tli::ArrayBound> bounds;
    SHORT dims = 0, level = -1;

    // long* cells[2][3]
    ASSERT_OK(MemberNamed(fields.get(), u"cells")->get_ReturnType(t.put()));
    EXPECT_EQ(VarTypeOf(t.get()), VT_I4 | tli::VTI_FIXEDARRAY);
    EXPECT_EQ(PointerLevelOf(t.get()), 0);
    EXPECT_OK(t->get_ElementPointerLevel(&level));
    EXPECT_EQ(level, 1);
    ASSERT_OK(t->ArrayBounds(&bounds, &dims));
    EXPECT_EQ(dims, 2);
    EXPECT_EQ(bounds, (std::vector<tli::ArrayBound>{{0, 1}, {0, 2}}));

    // long one[1..4]: true bounds
    ASSERT_OK(MemberNamed(fields.get(), u"one")->get_ReturnType(t.put()));
    ASSERT_OK(t->ArrayBounds(&bounds, &dims));
    EXPECT_EQ(bounds, (std::vector<tli::ArrayBound>{{1, 4}}));

    // SAFEARRAY(long*)*: the pointer level is the array's own.
    ASSERT_OK(MemberNamed(fields.get(), u"rows")->get_ReturnType(t.put()));
    EXPECT_EQ(VarTypeOf(t.get()), VT_I4 | tli::VTI_SAFEARRAY);
    EXPECT_EQ(PointerLevelOf(t.get()), 1);
    EXPECT_OK(t->get_ElementPointerLevel(&level));
    EXPECT_EQ(level, 1);
    EXPECT_EQ(t->ArrayBounds(&bounds, &dims), tli::TLI_E_NOARRAYBOUNDS);

    // Not an array.
    ASSERT_OK(MemberNamed(fields.get(), u"shape")->get_ReturnType(t.put()));
    EXPECT_EQ(VarTypeOf(t.get()), 0);
    EXPECT_EQ(PointerLevelOf(t.get()), 1);
    EXPECT_EQ(t->get_ElementPointerLevel(&level), tli::TLI_E_NOTANARRAY);
    EXPECT_EQ(t->ArrayBounds(&bounds, &dims), tli::TLI_E_NOTANARRAY);
}

TEST_P(SampleLibrary, ExternalAndInternalUserTypes) {
    ComPtr<tli::Members> fields = MembersOf(u"Matrix");
    ComPtr<tli::VarTypeInfo> owner, shape;
    ASSERT_OK(MemberNamed(fields.get(), u"owner")->get_ReturnType(owner.put()));
    ASSERT_OK(MemberNamed(fields.get(), u"shape")->get_ReturnType(shape.put()));

    bool external = false;
    ComPtr<tli::TypeInfo> type;
    ComPtr<tli::TypeLibInfo> lib;
    EXPECT_OK(owner->get_IsExternalType(&external));
    EXPECT_TRUE(external);
    ASSERT_OK(owner->get_TypeLibInfoExternal(lib.put()));
    ASSERT_TRUE(lib);
    EXPECT_EQ(NameOf(lib.get()), u"stdole");
    ASSERT_OK(owner->get_TypeInfo(type.put()));
    EXPECT_EQ(NameOf(type.get()), u"IDispatch");
    LONG number = -5, stdNumber = -6;
    EXPECT_OK(owner->get_TypeInfoNumber(&number));
    EXPECT_OK(type->get_TypeInfoNumber(&stdNumber));
    EXPECT_EQ(number, stdNumber);
    // That very type of the standard library.
    ComPtr<ITypeInfo> ti;
    ASSERT_OK(type->get_ITypeInfo(ti.put()));
    EXPECT_EQ(ti, StdOle2Type(kIID_IDispatch));

    // A reference to the dual interface names it as written: the vtable half
    // in memory; a file keeps no such mark, so the loaded one names the library item.
    EXPECT_OK(shape->get_IsExternalType(&external));
    EXPECT_FALSE(external);
    EXPECT_OK(shape->get_TypeLibInfoExternal(lib.put()));
    EXPECT_EQ(lib, nullptr);
    ASSERT_OK(shape->get_TypeInfo(type.put()));
    EXPECT_EQ(NameOf(type.get()), u"IShape");
    TYPEKIND kind{};
    EXPECT_OK(type->get_TypeKind(&kind));
    EXPECT_EQ(kind, GetParam() == Route::Created ? TKIND_INTERFACE : TKIND_DISPATCH);
    EXPECT_OK(shape->get_TypeInfoNumber(&number));
    EXPECT_EQ(number, 3);

    // Intrinsic types name no type.
    ComPtr<tli::VarTypeInfo> cells;
    ASSERT_OK(MemberNamed(fields.get(), u"cells")->get_ReturnType(cells.put()));
    EXPECT_OK(cells->get_TypeInfo(type.put()));
    EXPECT_EQ(type, nullptr);
    EXPECT_OK(cells->get_TypeInfoNumber(&number));
    EXPECT_EQ(number, -1);
    EXPECT_OK(cells->get_IsExternalType(&external));
    EXPECT_FALSE(external);
}

TEST_P(SampleLibrary, AnAliasReportsItselfAndWhatItStandsFor) {
    ComPtr<tli::TypeInfo> longPtr = TypeNamed(info_.get(), u"LongPtr");
    ComPtr<tli::VarTypeInfo> t;
    ASSERT_OK(longPtr->get_ResolvedType(t.put()));
    EXPECT_EQ(VarTypeOf(t.get()), VT_I4);
    EXPECT_EQ(PointerLevelOf(t.get()), 1);

    // An alias of an alias stops at the alias it names.
    ASSERT_OK(TypeNamed(info_.get(), u"LongPtrAlias")->get_ResolvedType(t.put()));
    ComPtr<tli::TypeInfo> named;
    ASSERT_OK(t->get_TypeInfo(named.put()));
    EXPECT_EQ(NameOf(named.get()), u"LongPtr");
    TYPEKIND kind{};
    EXPECT_OK(named->get_TypeKind(&kind));
    EXPECT_EQ(kind, TKIND_ALIAS);

    ASSERT_OK(TypeNamed(info_.get(), u"ShapeAlias")->get_ResolvedType(t.put()));
    ASSERT_OK(t->get_TypeInfo(named.put()));
    EXPECT_EQ(NameOf(named.get()), u"IShape");

    EXPECT_EQ(TypeNamed(info_.get(), u"Matrix")->get_ResolvedType(t.put()), TYPE_E_WRONGTYPEKIND);
}

TEST_P(SampleLibrary, CoclassListsItsInterfacesWithTheirFlags) {
    ComPtr<tli::ImpliedInterfaces> list;
    ASSERT_OK(TypeNamed(info_.get(), u"Shape")->get_ImpliedInterfaces(list.put()));
    LONG count = 0, flags = 0;
    EXPECT_OK(list->get_Count(&count));
    ASSERT_EQ(count, 2);
    ComPtr<tli::TypeInfo> second, none;
    ASSERT_OK(list->get_Item(2, second.put()));
    EXPECT_EQ(NameOf(second.get()), u"DShapeEvents");
    EXPECT_OK(list->get_Flags(2, &flags));
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    EXPECT_NE(list->get_Item(3, none.put()), S_OK);
}

TEST_P(SampleLibrary, DispinterfacePropertiesAreVariablesListedFirst) {
    ComPtr<tli::Members> members = MembersOf(u"DShapeEvents");
    EXPECT_EQ(Names(members.get()), (std::vector<std::u16string>{u"Visible", u"Clicked"}));
    LONG kind = 0;
    EXPECT_OK(MemberNamed(members.get(), u"Visible")->get_InvokeKind(&kind));
    EXPECT_EQ(kind, INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT);
}

INSTANTIATE_TEST_SUITE_P(BothRoutes, SampleLibrary, ::testing::Values(Route::Created, Route::Loaded),
                         [](const auto& info) { return info.param == Route::Created ? "Created" : "Loaded"; });

}  // namespace
}  // namespace tlitest
