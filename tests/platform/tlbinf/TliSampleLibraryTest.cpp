// Reading the sample library through the TypeLib Information objects, once as
// built through the creation interfaces and once saved and loaded from its file.
#include "platform/automation/Guid.h"
#include "support/ShapesLibrary.h"
#include "support/TliReading.h"

namespace {

using namespace testsupport;

class SampleLibrary : public ::testing::TestWithParam<Route> {
protected:
    void SetUp() override {
        lib_ = Reach(GetParam(), dir_, [](const std::u16string& file) { return BuildShapes(file); });
        ASSERT_TRUE(lib_);
        info_ = InfoOf(lib_.get());
        ASSERT_TRUE(info_);
    }
    ComPtr<tli::Members> Members(std::u16string_view type, bool grouped = false) {
        return MembersOf(TypeNamed(info_.get(), type).get(), grouped);
    }
    // IShape's members, read through its vtable half.
    ComPtr<tli::Members> ShapeMembers(bool grouped = false) {
        return MembersOf(Get(TypeNamed(info_.get(), u"ishape"), &tli::TypeInfo::get_VTableInterface).get(), grouped);
    }

    TempDir dir_;
    ComPtr<ITypeLib> lib_;
    ComPtr<tli::TypeLibInfo> info_;
};

TEST_P(SampleLibrary, ReportsTheLibraryAttributes) {
    EXPECT_EQ(NameOf(info_), u"Shapes");
    EXPECT_EQ(Get(info_, &tli::TypeLibInfo::get_Guid), GuidToString(kShapesLibGuid));
    EXPECT_EQ(Get(info_, &tli::TypeLibInfo::get_LCID), 0x409u);
    EXPECT_EQ(Get(info_, &tli::TypeLibInfo::get_MajorVersion), 1);
    EXPECT_EQ(Get(info_, &tli::TypeLibInfo::get_MinorVersion), 2);
    EXPECT_TRUE(Get(info_, &tli::TypeLibInfo::get_AttributeMask) & LIBFLAG_FHIDDEN);
    EXPECT_EQ(Get(info_, &tli::TypeLibInfo::get_HelpString), u"Sample shapes");
    const std::u16string file = Get(info_, &tli::TypeLibInfo::get_ContainingFile);
    if (GetParam() == Route::Loaded) {
        EXPECT_EQ(std::filesystem::path(file).filename(), "library.tlb");
    }
    EXPECT_EQ(Get(info_, &tli::TypeLibInfo::get_TypeInfoCount), 9);
}

TEST_P(SampleLibrary, FindsTypesByPositionAndByNameIgnoringCase) {
    ComPtr<tli::TypeInfos> types = Get(info_, &tli::TypeLibInfo::get_TypeInfos);
    ComPtr<tli::TypeInfo> first, byName, missing;
    ASSERT_OK(types->get_Item(1, first.put()));
    EXPECT_EQ(NameOf(first), u"Colors");
    ASSERT_OK(types->NamedItem(u"MATRIX", byName.put()));
    EXPECT_EQ(NameOf(byName), u"Matrix");
    EXPECT_EQ(Get(byName, &tli::TypeInfo::get_TypeInfoNumber), 2);
    EXPECT_EQ(types->NamedItem(u"Circle", missing.put()), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(types->get_Item(0, missing.put()), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(types->get_Item(10, missing.put()), TYPE_E_ELEMENTNOTFOUND);
}

TEST_P(SampleLibrary, DualInterfaceHandsOutItsVtableHalf) {
    ComPtr<tli::TypeInfo> item = TypeNamed(info_.get(), u"IShape");
    EXPECT_EQ(Get(item, &tli::TypeInfo::get_TypeKind), TKIND_DISPATCH);
    EXPECT_TRUE(Get(item, &tli::TypeInfo::get_AttributeMask) & TYPEFLAG_FDUAL);

    ComPtr<tli::TypeInfo> half = Get(item, &tli::TypeInfo::get_VTableInterface);
    ASSERT_TRUE(half);
    EXPECT_EQ(Get(half, &tli::TypeInfo::get_TypeKind), TKIND_INTERFACE);
    EXPECT_EQ(NameOf(half), u"IShape");
    EXPECT_EQ(Get(half, &tli::TypeInfo::get_Guid), GuidToString(kShapeIid));
    EXPECT_EQ(Get(item, &tli::TypeInfo::get_TypeInfoNumber), 3);
    EXPECT_EQ(Get(half, &tli::TypeInfo::get_TypeInfoNumber), 3);

    // The half is an interface already; plain dispinterfaces have no vtable half.
    EXPECT_EQ(Get(half, &tli::TypeInfo::get_VTableInterface), nullptr);
    EXPECT_EQ(Get(TypeNamed(info_.get(), u"DShapeEvents"), &tli::TypeInfo::get_VTableInterface), nullptr);

    // The vtable half's base is IDispatch; the parent is this library.
    ComPtr<tli::TypeInfo> base;
    ASSERT_OK(Get(half, &tli::TypeInfo::get_ImpliedInterfaces)->get_Item(1, base.put()));
    EXPECT_EQ(NameOf(base), u"IDispatch");
    bool same = false;
    EXPECT_OK(Get(half, &tli::TypeInfo::get_Parent)->IsSameLibrary(info_.get(), &same));
    EXPECT_TRUE(same);
}

TEST_P(SampleLibrary, ModuleMembersListConstantsFirstAndReportValuesAndEntries) {
    ComPtr<tli::Members> members = Members(u"Kernel");
    ASSERT_TRUE(members);
    EXPECT_EQ(Names(members.get()), (std::vector<std::u16string>{u"Answer", u"Greeting", u"Beep", u"ByOrdinal"}));
    ComPtr<tli::MemberInfo> answer = MemberNamed(members.get(), u"Answer"), beep = MemberNamed(members.get(), u"Beep");
    EXPECT_EQ(Get(answer, &tli::MemberInfo::get_InvokeKind), tli::INVOKE_CONST | INVOKE_PROPERTYGET);
    EXPECT_EQ(Get(answer, &tli::MemberInfo::get_Value), Variant(int32_t{42}));
    EXPECT_EQ(Get(MemberNamed(members.get(), u"Greeting"), &tli::MemberInfo::get_Value), Variant(u"hi"));
    EXPECT_EQ(Get(beep, &tli::MemberInfo::get_InvokeKind), INVOKE_FUNC);
    EXPECT_EQ(Get(beep, &tli::MemberInfo::get_DescKind), DESCKIND_FUNCDESC);
    EXPECT_EQ(Get(beep, &tli::MemberInfo::get_MemberNumber), 0);
    EXPECT_EQ(Get(beep, &tli::MemberInfo::get_AttributeMask), 0);
    Variant v;
    EXPECT_EQ(beep->get_Value(v.put()), TYPE_E_WRONGTYPEKIND);

    // Lookup by MEMBERID.
    ComPtr<tli::MemberInfo> again;
    ASSERT_OK(members->GetMemberById(Get(answer, &tli::MemberInfo::get_MemberId), again.put()));
    EXPECT_EQ(NameOf(again), u"Answer");
    EXPECT_EQ(members->GetMemberById(0x7777, again.put()), TYPE_E_ELEMENTNOTFOUND);

    // DLL entries by name and by ordinal.
    std::u16string dll, entry;
    WORD ordinal = 99;
    ASSERT_OK(beep->GetDllEntry(&dll, &entry, &ordinal));
    EXPECT_EQ(dll + u"|" + entry + u"|" + FromUtf8(std::to_string(ordinal)), u"kernel32.dll|Beep|0");
    ASSERT_OK(MemberNamed(members.get(), u"ByOrdinal")->GetDllEntry(&dll, &entry, &ordinal));
    EXPECT_EQ(dll + u"|" + entry + u"|" + FromUtf8(std::to_string(ordinal)), u"kernel32.dll||7");

    v = Get(MemberNamed(Members(u"Colors").get(), u"Green"), &tli::MemberInfo::get_Value);
    ASSERT_OK(v.ChangeType(VT_I4));
    EXPECT_EQ(v.get().lVal, 1);
}

TEST_P(SampleLibrary, RetvalParameterIsHiddenAndBecomesTheReturnType) {
    ComPtr<tli::Members> members = ShapeMembers();
    ASSERT_TRUE(members);
    // Area([in] double scale, [in, lcid] long lcid, [out, retval] double* area)
    ComPtr<tli::MemberInfo> area = MemberNamed(members.get(), u"Area");
    ComPtr<tli::Parameters> params = Get(area, &tli::MemberInfo::get_Parameters);
    ASSERT_EQ(Get(params, &tli::Parameters::get_Count), 2);
    ComPtr<tli::ParameterInfo> lcid, beyond;
    ASSERT_OK(params->get_Item(2, lcid.put()));
    EXPECT_EQ(NameOf(lcid), u"lcid");
    EXPECT_EQ(Get(lcid, &tli::ParameterInfo::get_Flags), PARAMFLAG_FIN | PARAMFLAG_FLCID);
    EXPECT_EQ(params->get_Item(3, beyond.put()), TYPE_E_ELEMENTNOTFOUND);
    ComPtr<tli::VarTypeInfo> ret = Get(area, &tli::MemberInfo::get_ReturnType);
    EXPECT_EQ(Get(ret, &tli::VarTypeInfo::get_VarType), VT_R8);
    EXPECT_EQ(Get(ret, &tli::VarTypeInfo::get_PointerLevel), 1);  // exactly the parameter's double*

    // Without a retval the return type is the function's own.
    ComPtr<tli::MemberInfo> zoom = MemberNamed(members.get(), u"Zoom");
    EXPECT_EQ(Get(Get(zoom, &tli::MemberInfo::get_Parameters), &tli::Parameters::get_Count), 1);
    ret = Get(zoom, &tli::MemberInfo::get_ReturnType);
    EXPECT_EQ(Get(ret, &tli::VarTypeInfo::get_VarType), VT_HRESULT);
    EXPECT_EQ(Get(ret, &tli::VarTypeInfo::get_PointerLevel), 0);

    // The property get lists nothing; the put lists its value parameter.
    ComPtr<tli::MemberInfo> get = MemberNamed(members.get(), u"Name", INVOKE_PROPERTYGET);
    ComPtr<tli::MemberInfo> put = MemberNamed(members.get(), u"Name", INVOKE_PROPERTYPUT);
    EXPECT_EQ(Get(Get(get, &tli::MemberInfo::get_Parameters), &tli::Parameters::get_Count), 0);
    EXPECT_EQ(Get(Get(get, &tli::MemberInfo::get_ReturnType), &tli::VarTypeInfo::get_VarType), VT_BSTR);
    EXPECT_EQ(Get(Get(put, &tli::MemberInfo::get_Parameters), &tli::Parameters::get_Count), 1);
}

TEST_P(SampleLibrary, ParametersReportOptionalDefaultsParamArrayAndCustomData) {
    ComPtr<tli::Members> members = ShapeMembers();
    ComPtr<tli::Parameters> params = Get(MemberNamed(members.get(), u"Fill"), &tli::MemberInfo::get_Parameters);
    EXPECT_EQ(Get(params, &tli::Parameters::get_OptionalCount), 1);
    EXPECT_FALSE(Get(params, &tli::Parameters::get_ParamArray));

    ComPtr<tli::ParameterInfo> count, extra;
    ASSERT_OK(params->get_Item(1, count.put()));
    ASSERT_OK(params->get_Item(2, extra.put()));
    EXPECT_EQ(Get(count, &tli::ParameterInfo::get_Me), count);
    EXPECT_TRUE(Get(count, &tli::ParameterInfo::get_Optional));
    EXPECT_TRUE(Get(count, &tli::ParameterInfo::get_Default));
    EXPECT_EQ(Get(count, &tli::ParameterInfo::get_DefaultValue), Variant(int32_t{5}));
    EXPECT_TRUE(Get(extra, &tli::ParameterInfo::get_Optional));
    EXPECT_FALSE(Get(extra, &tli::ParameterInfo::get_Default));
    Variant v;
    EXPECT_EQ(extra->get_DefaultValue(v.put()), tli::TLI_E_NODEFAULTVALUE);

    // Custom data of the count parameter.
    EXPECT_TRUE(Get(count, &tli::ParameterInfo::get_HasCustomData));
    ComPtr<tli::CustomDataCollection> data = Get(count, &tli::ParameterInfo::get_CustomDataCollection);
    ASSERT_EQ(Get(data, &tli::CustomDataCollection::get_Count), 1);
    ComPtr<tli::CustomDataItem> item;
    ASSERT_OK(data->get_Item(1, item.put()));
    EXPECT_EQ(Get(item, &tli::CustomDataItem::get_Guid), GuidToString(kCountDataGuid));
    EXPECT_EQ(Get(item, &tli::CustomDataItem::get_Value), Variant(u"tenth"));
    ComPtr<tli::CustomDataEnum> items = Get(data, &tli::CustomDataCollection::NewEnum);
    EXPECT_EQ(items->Next(item.put()), S_OK);
    EXPECT_EQ(items->Next(item.put()), S_FALSE);
    EXPECT_EQ(item, nullptr);
    EXPECT_FALSE(Get(extra, &tli::ParameterInfo::get_HasCustomData));
    EXPECT_EQ(Get(Get(extra, &tli::ParameterInfo::get_CustomDataCollection), &tli::CustomDataCollection::get_Count), 0);

    // [vararg]
    params = Get(MemberNamed(members.get(), u"Sum"), &tli::MemberInfo::get_Parameters);
    EXPECT_EQ(Get(params, &tli::Parameters::get_OptionalCount), -1);
    EXPECT_TRUE(Get(params, &tli::Parameters::get_ParamArray));
}

TEST_P(SampleLibrary, GroupedMembersJoinAccessorsAndFollowACustomSort) {
    ComPtr<tli::Members> grouped = ShapeMembers(true);
    ASSERT_TRUE(grouped);
    // IDispatch's own functions are inherited, not listed.
    EXPECT_EQ(Names(grouped.get()),
              (std::vector<std::u16string>{u"Name", u"Area", u"Fill", u"Sum", u"_Hidden", u"Zoom", u"Early"}));
    EXPECT_EQ(Get(MemberNamed(grouped.get(), u"_Hidden"), &tli::MemberInfo::get_AttributeMask),
              FUNCFLAG_FHIDDEN | FUNCFLAG_FRESTRICTED);
    EXPECT_EQ(Get(MemberNamed(grouped.get(), u"Name"), &tli::MemberInfo::get_InvokeKind),
              INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT);
    EXPECT_TRUE(Get(MemberNamed(Members(u"Kernel", true).get(), u"Answer"), &tli::MemberInfo::get_InvokeKind) &
                tli::INVOKE_CONST);

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
            return fail ? E_FAIL : S_OK;
        }
        bool fail = false;
    };
    ComPtr<ByStrippedName> sort(new ByStrippedName());
    ASSERT_OK(grouped->putref_CustomSort(sort.get()));
    const std::vector<std::u16string> sorted{u"Area", u"Early", u"Fill", u"_Hidden", u"Name", u"Sum", u"Zoom"};
    EXPECT_EQ(Names(grouped.get()), sorted);
    EXPECT_EQ(Get(grouped, &tli::Members::get_CustomSort).get(), static_cast<tli::CustomSort*>(sort.get()));

    // A failing comparison fails the set and keeps the order; null restores the original one.
    sort->fail = true;
    EXPECT_EQ(grouped->putref_CustomSort(sort.get()), E_FAIL);
    EXPECT_EQ(Names(grouped.get()), sorted);
    ASSERT_OK(grouped->putref_CustomSort(nullptr));
    EXPECT_EQ(Names(grouped.get()).front(), u"Name");
}

TEST_P(SampleLibrary, ArraysAndPointersDescribeTheirLevelsAndBounds) {
    ComPtr<tli::Members> fields = Members(u"Matrix");
    ASSERT_TRUE(fields);
    std::vector<tli::ArrayBound> bounds;
    SHORT dims = 0, level = -1;

    // long* cells[2][3]
    ComPtr<tli::VarTypeInfo> t = TypeOfMember(fields.get(), u"cells");
    EXPECT_EQ(Get(t, &tli::VarTypeInfo::get_VarType), VT_I4 | tli::VTI_FIXEDARRAY);
    EXPECT_EQ(Get(t, &tli::VarTypeInfo::get_PointerLevel), 0);
    EXPECT_EQ(Get(t, &tli::VarTypeInfo::get_ElementPointerLevel), 1);
    ASSERT_OK(t->ArrayBounds(&bounds, &dims));
    EXPECT_EQ(dims, 2);
    EXPECT_EQ(bounds, (std::vector<tli::ArrayBound>{{0, 1}, {0, 2}}));

    // long one[1..4]: true bounds
    ASSERT_OK(TypeOfMember(fields.get(), u"one")->ArrayBounds(&bounds, &dims));
    EXPECT_EQ(bounds, (std::vector<tli::ArrayBound>{{1, 4}}));

    // SAFEARRAY(long*)*: the pointer level is the array's own.
    t = TypeOfMember(fields.get(), u"rows");
    EXPECT_EQ(Get(t, &tli::VarTypeInfo::get_VarType), VT_I4 | tli::VTI_SAFEARRAY);
    EXPECT_EQ(Get(t, &tli::VarTypeInfo::get_PointerLevel), 1);
    EXPECT_EQ(Get(t, &tli::VarTypeInfo::get_ElementPointerLevel), 1);
    EXPECT_EQ(t->ArrayBounds(&bounds, &dims), tli::TLI_E_NOARRAYBOUNDS);

    // Not an array.
    t = TypeOfMember(fields.get(), u"shape");
    EXPECT_EQ(Get(t, &tli::VarTypeInfo::get_VarType), 0);
    EXPECT_EQ(Get(t, &tli::VarTypeInfo::get_PointerLevel), 1);
    EXPECT_EQ(t->get_ElementPointerLevel(&level), tli::TLI_E_NOTANARRAY);
    EXPECT_EQ(t->ArrayBounds(&bounds, &dims), tli::TLI_E_NOTANARRAY);
}

TEST_P(SampleLibrary, ExternalAndInternalUserTypes) {
    ComPtr<tli::Members> fields = Members(u"Matrix");
    ComPtr<tli::VarTypeInfo> owner = TypeOfMember(fields.get(), u"owner"), shape = TypeOfMember(fields.get(), u"shape");

    EXPECT_TRUE(Get(owner, &tli::VarTypeInfo::get_IsExternalType));
    EXPECT_EQ(NameOf(Get(owner, &tli::VarTypeInfo::get_TypeLibInfoExternal)), u"stdole");
    ComPtr<tli::TypeInfo> type = Get(owner, &tli::VarTypeInfo::get_TypeInfo);
    EXPECT_EQ(NameOf(type), u"IDispatch");
    EXPECT_EQ(Get(owner, &tli::VarTypeInfo::get_TypeInfoNumber), Get(type, &tli::TypeInfo::get_TypeInfoNumber));
    // That very type of the standard library.
    EXPECT_EQ(Get(type, &tli::TypeInfo::get_ITypeInfo), StdOle2Type(kIID_IDispatch));

    // A reference to the dual interface names it as written: the vtable half
    // in memory; a file keeps no such mark, so the loaded one names the library item.
    EXPECT_FALSE(Get(shape, &tli::VarTypeInfo::get_IsExternalType));
    EXPECT_EQ(Get(shape, &tli::VarTypeInfo::get_TypeLibInfoExternal), nullptr);
    type = Get(shape, &tli::VarTypeInfo::get_TypeInfo);
    EXPECT_EQ(NameOf(type), u"IShape");
    EXPECT_EQ(Get(type, &tli::TypeInfo::get_TypeKind), GetParam() == Route::Created ? TKIND_INTERFACE : TKIND_DISPATCH);
    EXPECT_EQ(Get(shape, &tli::VarTypeInfo::get_TypeInfoNumber), 3);

    // Intrinsic types name no type.
    ComPtr<tli::VarTypeInfo> cells = TypeOfMember(fields.get(), u"cells");
    EXPECT_EQ(Get(cells, &tli::VarTypeInfo::get_TypeInfo), nullptr);
    EXPECT_EQ(Get(cells, &tli::VarTypeInfo::get_TypeInfoNumber), -1);
    EXPECT_FALSE(Get(cells, &tli::VarTypeInfo::get_IsExternalType));
}

TEST_P(SampleLibrary, AnAliasReportsWhatItStandsForStoppingAtTheAliasItNames) {
    ComPtr<tli::VarTypeInfo> t = Get(TypeNamed(info_.get(), u"LongPtr"), &tli::TypeInfo::get_ResolvedType);
    EXPECT_EQ(Get(t, &tli::VarTypeInfo::get_VarType), VT_I4);
    EXPECT_EQ(Get(t, &tli::VarTypeInfo::get_PointerLevel), 1);

    t = Get(TypeNamed(info_.get(), u"LongPtrAlias"), &tli::TypeInfo::get_ResolvedType);
    ComPtr<tli::TypeInfo> named = Get(t, &tli::VarTypeInfo::get_TypeInfo);
    EXPECT_EQ(NameOf(named), u"LongPtr");
    EXPECT_EQ(Get(named, &tli::TypeInfo::get_TypeKind), TKIND_ALIAS);

    t = Get(TypeNamed(info_.get(), u"ShapeAlias"), &tli::TypeInfo::get_ResolvedType);
    EXPECT_EQ(NameOf(Get(t, &tli::VarTypeInfo::get_TypeInfo)), u"IShape");
    EXPECT_EQ(TypeNamed(info_.get(), u"Matrix")->get_ResolvedType(t.put()), TYPE_E_WRONGTYPEKIND);
}

TEST_P(SampleLibrary, CoclassListsItsInterfacesWithTheirFlags) {
    ComPtr<tli::ImpliedInterfaces> list = Get(TypeNamed(info_.get(), u"Shape"), &tli::TypeInfo::get_ImpliedInterfaces);
    ASSERT_EQ(Get(list, &tli::ImpliedInterfaces::get_Count), 2);
    ComPtr<tli::TypeInfo> second, none;
    ASSERT_OK(list->get_Item(2, second.put()));
    EXPECT_EQ(NameOf(second), u"DShapeEvents");
    LONG flags = 0;
    EXPECT_OK(list->get_Flags(2, &flags));
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    EXPECT_NE(list->get_Item(3, none.put()), S_OK);
}

TEST_P(SampleLibrary, DispinterfacePropertiesAreVariablesListedFirst) {
    ComPtr<tli::Members> members = Members(u"DShapeEvents");
    EXPECT_EQ(Names(members.get()), (std::vector<std::u16string>{u"Visible", u"Clicked"}));
    EXPECT_EQ(Get(MemberNamed(members.get(), u"Visible"), &tli::MemberInfo::get_InvokeKind),
              INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT);
}

INSTANTIATE_TEST_SUITE_P(BothRoutes, SampleLibrary, ::testing::Values(Route::Created, Route::Loaded), RouteName);

}  // namespace
