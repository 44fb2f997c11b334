// Type descriptions, TYPEDESC chains, the parameter description, the base type
// cache and the type-info helpers, on libraries built and reloaded.
#include "ModelTestSupport.h"
#include "typelib/BaseTICache.h"
#include "typelib/CustParameterInfo.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/modTYPEDESC.h"

using namespace modeltest;
using zephrin::BoundsTable;
using zephrin::CustParameterInfo;
using zephrin::TypeDescOwner;
namespace helper = zephrin::modITypeInfoHelper;
namespace td = zephrin::modTYPEDESC;

namespace {

class TypeDescription : public ModelTest {
protected:
    TypeDescription() : ModelTest(u"Descriptions") {}
    void SetUp() override {
        iface = Raw(u"IThing", TKIND_INTERFACE);
        record = Raw(u"Point", TKIND_RECORD);
    }
    ComPtr<ICreateTypeInfo2> Raw(const char16_t* name, TYPEKIND kind) { return NewType(lib.CreateView().get(), name, kind); }

    ComPtr<ICreateTypeInfo2> iface, record;
};

TEST_F(TypeDescription, SetTypeDecidesBetweenIntrinsicAndUserDefined) {
    auto v = CustomVarTypeInfo::New();
    v->SetType(0, nullptr);
    EXPECT_TRUE(v->IsNothingTypeInfo());
    v->SetType(VT_I4, lib.GetTypeInfo(u"Point").get());
    EXPECT_FALSE(v->IsNothingTypeInfo());
    EXPECT_EQ(Get(v, &tli::VarTypeInfo::get_TypeInfoNumber), -1);
    v->SetType(0, lib.GetTypeInfo(u"Point").get());
    EXPECT_EQ(Get(v, &tli::VarTypeInfo::get_TypeInfoNumber), 1);
    VARIANT out;
    EXPECT_EQ(v->get_TypedVariant(&out), MakeHResult(0x800A0005));
}

TEST_F(TypeDescription, ArrayKindsTravelInTheVarTypeAndBoundsAreChecked) {
    auto v = CustomVarTypeInfo::New();
    v->SetType(VT_I2, nullptr);
    v->PointerLevel(1);
    SHORT level = 0;
    EXPECT_EQ(v->get_ElementPointerLevel(&level), tli::TLI_E_NOTANARRAY);
    std::vector<tli::ArrayBound> bounds;
    SHORT dims = 0;
    EXPECT_EQ(v->ArrayBounds(&bounds, &dims), tli::TLI_E_NOTANARRAY);

    v->SetSafeArrayData(2);
    EXPECT_EQ(Get(v, &tli::VarTypeInfo::get_VarType), VT_I2 | 0x2000);
    EXPECT_EQ(Get(v, &tli::VarTypeInfo::get_PointerLevel), 2);  // the array's own level
    EXPECT_EQ(Get(v, &tli::VarTypeInfo::get_ElementPointerLevel), 1);
    EXPECT_EQ(v->ArrayBounds(&bounds, &dims), tli::TLI_E_NOARRAYBOUNDS);

    v->SetFixedArrayData(BoundsTable{{0, 1}, {-1, 1}}, 0);
    EXPECT_EQ(Get(v, &tli::VarTypeInfo::get_VarType), VT_I2 | 0x1000);
    ASSERT_OK(v->ArrayBounds(&bounds, &dims));
    EXPECT_EQ(dims, 2);
    EXPECT_EQ(bounds, (std::vector<tli::ArrayBound>{{0, 1}, {-1, 1}}));

    // Bounds whose descriptor cannot be stored are refused and change nothing.
    EXPECT_EQ(ErrorOf([&] { v->SetFixedArrayData(BoundsTable{}, 0); }), 5);
    EXPECT_EQ(ErrorOf([&] { v->SetFixedArrayData(BoundsTable{{3, 2}}, 0); }), 5);
    EXPECT_EQ(ErrorOf([&] { v->SetFixedArrayData(BoundsTable{{INT32_MIN, INT32_MAX}}, 0); }), 5);
    EXPECT_EQ(ErrorOf([&] { v->SetFixedArrayData(BoundsTable(70000, {0, 0}), 0); }), 5);
    ASSERT_OK(v->ArrayBounds(&bounds, &dims));
    EXPECT_EQ(dims, 2);

    auto copy = CustomVarTypeInfo::New();
    copy->Duplicate(v.get());
    ASSERT_OK(copy->ArrayBounds(&bounds, &dims));
    EXPECT_EQ(bounds, (std::vector<tli::ArrayBound>{{0, 1}, {-1, 1}}));
    EXPECT_EQ(copy->PointerLevel(), 1);
    EXPECT_EQ(copy->ArrayPointerLevel(), 0);

    v->ClearArrayData();
    EXPECT_FALSE(v->IsArray());
    v->Clear();
    EXPECT_TRUE(v->IsNothingTypeInfo());
}

TEST_F(TypeDescription, ChainsRoundTripThroughAFieldOfASavedRecord) {
    // Point.grid: int* grid[2][3] (lower bounds 0); Point.list: SAFEARRAY(IThing*)*.
    auto grid = CustomVarTypeInfo::New();
    grid->SetType(VT_I4, nullptr);
    grid->SetFixedArrayData(BoundsTable{{0, 1}, {0, 2}}, 0);
    grid->PointerLevel(1);
    auto list = CustomVarTypeInfo::New();
    list->SetType(0, lib.GetTypeInfo(u"IThing").get());
    list->SetSafeArrayData(1);
    list->PointerLevel(1);

    TypeDescOwner owner;
    TYPEDESC built{};
    td::BuildTypeDesc(owner, record.get(), grid.get(), &built);
    EXPECT_EQ(owner.NodeCount(), 1u);   // the pointer below the array
    EXPECT_EQ(owner.BlockCount(), 1u);  // the ARRAYDESC hanging off our record
    ASSERT_EQ(built.vt, VT_CARRAY);
    EXPECT_EQ(built.lpadesc->cDims, 2);
    EXPECT_EQ(built.lpadesc->rgbounds[1].cElements, 3u);
    AddVar(record.get(), 0, u"grid", built);
    AddVar(record.get(), 1, u"list", *td::BuildTypeDesc(owner, record.get(), list.get()));
    EXPECT_EQ(owner.ChainCount(), 2u);
    owner.FreeTypeDesc();
    EXPECT_EQ(owner.NodeCount() + owner.BlockCount() + owner.ChainCount(), 0u);

    const std::string dump = GenerateSaveDump(lib);
    const std::string point = TypeSection(dump, "Point");
    EXPECT_NE(point.find("\"grid\" id=0x40000000 kind=0 flags=0x0 type=carray([0+2][0+3]ptr(vt3))"), std::string::npos)
        << point;
    EXPECT_NE(point.find("\"list\" id=0x40000001 kind=0 flags=0x0 type=ptr(safearray(ptr(udt(\"Descriptions\".\"IThing\"))))"),
              std::string::npos)
        << point;

    // Reading the reloaded descriptors back gives the same descriptions.
    ComPtr<ITypeLib> reloaded = SaveAndReload(lib.ReadView().get());
    ComPtr<ITypeInfo> pointType = TypeByName(reloaded.get(), u"Point");
    VARDESC* read = nullptr;
    ASSERT_OK(pointType->GetVarDesc(0, &read));
    auto back = CustomVarTypeInfo::New();
    back->DuplicateFromTypeDesc(read->elemdescVar.tdesc, reloaded.get(), pointType.get());
    pointType->ReleaseVarDesc(read);
    EXPECT_EQ(Get(back, &tli::VarTypeInfo::get_VarType), VT_I4 | 0x1000);
    EXPECT_EQ(back->PointerLevel(), 1);
    EXPECT_EQ(back->ArrayPointerLevel(), 0);
    EXPECT_EQ(back->Bounds(), (BoundsTable{{0, 1}, {0, 2}}));

    ASSERT_OK(pointType->GetVarDesc(1, &read));
    back->DuplicateFromTypeDesc(read->elemdescVar.tdesc, reloaded.get(), pointType.get());
    pointType->ReleaseVarDesc(read);
    EXPECT_EQ(back->ArrayPointerLevel(), 1);
    EXPECT_EQ(back->PointerLevel(), 1);
    EXPECT_FALSE(Get(back, &tli::VarTypeInfo::get_IsExternalType));  // it lives in the library it came from
    back->CurrentITypeLib(lib.ReadView().get());
    EXPECT_TRUE(Get(back, &tli::VarTypeInfo::get_IsExternalType));
}

// The regeneration engine's mapper: its error fails the build; a type it
// cannot name (looking for unresolved types) reaches MapReferencedType as null.
struct Mapper : zephrin::TypeReferenceMapper {
    bool fail = true;
    std::vector<tli::TypeInfo*> mapped;
    ComPtr<tli::TypeInfo> GetVarTypeTypeInfo(tli::VarTypeInfo*) override {
        if (fail) zephrin::RaiseError(TYPE_E_CANTLOADLIBRARY);
        return nullptr;
    }
    HREFTYPE MapReferencedType(tli::TypeInfo* type, ICreateTypeInfo*) override { return mapped.push_back(type), 7; }
};

TEST_F(TypeDescription, PlainTypesTakeNoNodesAndFailedBuildsLeaveNothing) {
    auto i4 = CustomVarTypeInfo::New();
    i4->SetType(VT_I4, nullptr);
    TypeDescOwner owner;
    TYPEDESC mine{};
    EXPECT_EQ(td::BuildTypeDesc(owner, record.get(), i4.get(), &mine), &mine);
    EXPECT_EQ(mine.vt, VT_I4);
    EXPECT_EQ(owner.NodeCount() + owner.ChainCount(), 0u);

    // A user-defined type without a type fails after the pointer nodes were taken.
    auto none = CustomVarTypeInfo::New();
    none->PointerLevel(2);
    EXPECT_EQ(ErrorOf([&] { td::BuildTypeDesc(owner, record.get(), none.get(), &mine); }), 91);
    Mapper m;
    EXPECT_EQ(ErrorOf([&] { td::BuildTypeDesc(owner, record.get(), none.get(), &mine, &m); }), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(owner.NodeCount() + owner.BlockCount() + owner.ChainCount(), 0u);
    EXPECT_EQ(mine.vt, VT_EMPTY);
    EXPECT_TRUE(m.mapped.empty());
    m.fail = false;
    td::BuildTypeDesc(owner, record.get(), none.get(), &mine, &m);
    EXPECT_EQ(m.mapped, std::vector<tli::TypeInfo*>{nullptr});
    EXPECT_EQ(mine.lptdesc->lptdesc->hreftype, 7u);
}

TEST_F(TypeDescription, DualInterfacesAreReferencedByTheirInterfaceHalf) {
    ComPtr<ICreateTypeInfo2> dual = Raw(u"IDual", TKIND_INTERFACE);
    ASSERT_OK(dual->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    HREFTYPE h = 0;
    ASSERT_OK(dual->AddRefTypeInfo(zephrin::BaseTICache::Instance().IDispatch().get(), &h));
    ASSERT_OK(dual->AddImplType(0, h));
    ASSERT_OK(dual->LayOut());
    ComPtr<tli::TypeInfo> item = lib.GetTypeInfo(u"IDual");
    ASSERT_EQ(Get(item, &tli::TypeInfo::get_TypeKind), TKIND_DISPATCH);
    EXPECT_EQ(helper::GetEffectiveTypeKind(lib.ReadView().get(), 2), TKIND_INTERFACE);
    TYPEATTR* a = nullptr;
    ComPtr<ITypeInfo2> half = helper::GetInterfaceTypeInfo2(lib.ReadView().get(), 2);
    ASSERT_OK(half->GetTypeAttr(&a));
    EXPECT_EQ(a->typekind, TKIND_INTERFACE);
    half->ReleaseTypeAttr(a);

    auto v = CustomVarTypeInfo::New();
    v->SetType(0, item.get());
    v->PointerLevel(1);
    TypeDescOwner owner;
    TYPEDESC mine{};
    td::BuildTypeDesc(owner, iface.get(), v.get(), &mine);
    ASSERT_EQ(mine.vt, VT_PTR);
    ComPtr<ITypeInfo> ref;
    ASSERT_OK(iface.As<ITypeInfo>()->GetRefTypeInfo(mine.lptdesc->hreftype, ref.put()));
    EXPECT_TRUE(ref.get() == half.get() || ref.As<IUnknown>().get() == half.As<IUnknown>().get());

    // The dispatch half, however reached, resolves to the interface half.
    auto same = [&](const auto& ti) { return ti && ti.template As<IUnknown>().get() == half.As<IUnknown>().get(); };
    const GUID guid = G(u"{5A170C00-60D1-4E2B-9A51-000000001701}");
    ASSERT_OK(dual->SetGuid(guid));
    EXPECT_TRUE(same(helper::GetInterfaceTypeInfoOfGuid(lib.ReadView().get(), guid)));
    ComPtr<ITypeInfo> disp;
    ASSERT_OK(lib.ReadView()->GetTypeInfo(2, disp.put()));
    ComPtr<ITypeInfo2> disp2 = disp.As<ITypeInfo2>();
    helper::ResolveDualInterface(disp);
    helper::ResolveDualInterface2(disp2);
    EXPECT_TRUE(same(disp) && same(disp2));

    // A plain dispinterface is its own item.
    Raw(u"DEvents", TKIND_DISPATCH);
    ComPtr<ITypeInfo2> events = helper::GetInterfaceTypeInfo2(lib.ReadView().get(), 3);
    ASSERT_OK(events->GetTypeAttr(&a));
    EXPECT_EQ(a->typekind, TKIND_DISPATCH);
    events->ReleaseTypeAttr(a);
    ComPtr<ITypeInfo> plain = events;
    helper::ResolveDualInterface(plain);
    EXPECT_EQ(plain.get(), events.get());
    auto co = Add(u"Thing", TKIND_COCLASS);
    co->AddImplType(item.get(), IMPLTYPEFLAG_FDEFAULT);
    EXPECT_EQ(helper::GetImplTypeName(co->ITypeInfo().get(), 0), u"IDual");
}

TEST_F(TypeDescription, MemberNamesAndIDsThroughTheHelpers) {
    AddFunc(iface.get(), 0, {u"Move", INVOKE_FUNC, Vt(VT_HRESULT), {{u"x", Vt(VT_I4)}, {u"y", Vt(VT_I4)}}, 0, 7});
    ASSERT_OK(iface->LayOut());
    ComPtr<ITypeInfo> ti = iface.As<ITypeInfo>();
    std::u16string member, param = u"kept";
    helper::GetMemberNames(ti.get(), 7, 2, member, param);  // no third parameter
    EXPECT_EQ(member + u"/" + param, u"Move/kept");
    helper::GetMemberNames(ti.get(), 7, 1, member, param);
    EXPECT_EQ(member + u"/" + param, u"Move/y");
    MEMBERID memberId = 0, paramId = 0;
    helper::GetMemberAndParamIDs(ti.get(), u"move", u"Y", memberId, paramId);
    EXPECT_EQ(memberId, 7);
    EXPECT_EQ(paramId, 1);
    EXPECT_EQ(ErrorOf([&] { helper::GetMemberAndParamIDs(ti.get(), u"Move", u"z", memberId, paramId); }),
              DISP_E_UNKNOWNNAME);
    auto point = lib.GetCustomTypeInfo(u"Point");
    point->AddProperty(u"x", Ty(VT_I4).get(), 3, 0, -1);
    EXPECT_EQ(helper::VarIndexOfMemId(record.As<ITypeInfo2>().get(), 3), 0);
    EXPECT_EQ(helper::VarIndexOfMemId(record.As<ITypeInfo2>().get(), 7), -1);
}

TEST_F(TypeDescription, ParameterDescriptionOfARetvalParameter) {
    TypeDescs td;
    AddFunc(iface.get(), 0, {u"Name", INVOKE_PROPERTYGET, Vt(VT_HRESULT), {{u"pVal", td.Ptr(Vt(VT_BSTR)), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}});
    AddFunc(iface.get(), 1, {u"Name", INVOKE_PROPERTYPUT, Vt(VT_HRESULT), {{u"value", Vt(VT_BSTR)}}, 0, FuncIdAt(iface.get(), 0)});
    AddFunc(iface.get(), 2, {u"Nothing"});
    HREFTYPE h = 0;
    ASSERT_OK(iface->AddRefTypeInfo(zephrin::BaseTICache::Instance().IUnknown().get(), &h));
    ASSERT_OK(iface->AddImplType(0, h));
    ComPtr<ITypeLib> reloaded = SaveAndReload(lib.GenerateDirect(false).get());
    ComPtr<ITypeInfo> thing = TypeByName(reloaded.get(), u"IThing");

    auto p = CustParameterInfo::New();
    p->InitParameter(thing.get(), 0);
    EXPECT_EQ(NameOf(p.get()), u"pVal");
    EXPECT_EQ(Get(p, &tli::ParameterInfo::get_Flags), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    ComPtr<tli::VarTypeInfo> a = Get(p, &tli::ParameterInfo::get_VarTypeInfo);
    EXPECT_EQ(a, Get(p, &tli::ParameterInfo::get_VarTypeInfo));
    EXPECT_EQ(Get(a, &tli::VarTypeInfo::get_VarType), VT_BSTR);
    EXPECT_EQ(Get(a, &tli::VarTypeInfo::get_PointerLevel), 1);
    EXPECT_FALSE(Get(p, &tli::ParameterInfo::get_Optional));
    VARIANT dv;
    EXPECT_EQ(p->get_DefaultValue(&dv), tli::TLI_E_NODEFAULTVALUE);
    EXPECT_EQ(Get(p, &CustParameterInfo::get_Count), 0);
    ComPtr<tli::CustomDataItem> item;
    EXPECT_EQ(Get(p, &CustParameterInfo::NewEnum)->Next(item.put()), S_FALSE);

    // A function without parameters has no last parameter.
    EXPECT_EQ(ErrorOf([&] { CustParameterInfo::New()->InitParameter(thing.get(), 2); }), 9);
}

TEST_F(TypeDescription, HiddenParameterCounts) {
    ELEMDESC params[2]{};
    FUNCDESC f{};
    f.invkind = INVOKE_PROPERTYGET;
    f.cParams = 1;
    f.lprgelemdescParam = params;
    params[0].paramdesc.wParamFlags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    EXPECT_EQ(helper::HiddenParamCount(f), 1);
    f.invkind = INVOKE_FUNC;
    f.cParams = 2;
    params[0].paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FLCID;
    params[1].paramdesc.wParamFlags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    EXPECT_EQ(helper::HiddenParamCount(f), 2);
    f.invkind = INVOKE_PROPERTYPUT;
    params[1].paramdesc.wParamFlags = PARAMFLAG_FIN;
    params[0].paramdesc.wParamFlags = PARAMFLAG_FIN;
    EXPECT_EQ(helper::HiddenParamCount(f), 1);
    f.cParams = 0;
    f.invkind = INVOKE_FUNC;
    EXPECT_EQ(helper::HiddenParamCount(f), 0);
}

TEST_F(TypeDescription, LayoutProbeAnswersAsTheTrialAndLeavesTheTypeAsItWas) {
    AddFunc(iface.get(), 0, {u"First"});
    AddFunc(iface.get(), 1, {u"Second"});
    ASSERT_OK(iface->LayOut());
    // A base of this library with offsets off the automatic slots, and an
    // interface on it: only the derived one takes one more automatic function.
    auto fixed = Raw(u"IFixed", TKIND_INTERFACE);
    auto derived = Raw(u"IDerived", TKIND_INTERFACE);
    HREFTYPE href = 0;
    ASSERT_OK(fixed->AddRefTypeInfo(zephrin::BaseTICache::Instance().IUnknown().get(), &href));
    ASSERT_OK(fixed->AddImplType(0, href));
    AddFunc(fixed.get(), 0, {.name = u"At20", .oVft = 20});
    AddFunc(fixed.get(), 1, {.name = u"At12", .oVft = 12});
    ASSERT_OK(fixed->LayOut());
    ASSERT_OK(derived->AddRefTypeInfo(fixed.As<ITypeInfo>().get(), &href));
    ASSERT_OK(derived->AddImplType(0, href));
    AddFunc(derived.get(), 0, {u"Own"});
    ASSERT_OK(derived->LayOut());

    const std::string before = Snapshot();
    EXPECT_TRUE(helper::CanLayOut(iface.As<ITypeInfo>().get()));
    EXPECT_FALSE(helper::CanLayOut(fixed.As<ITypeInfo>().get()));
    EXPECT_TRUE(helper::CanLayOut(derived.As<ITypeInfo>().get()));
    EXPECT_EQ(Snapshot(), before);
    // A function added now gets the ID it gets on a type that was never probed.
    AddFunc(derived.get(), 1, {u"Later"});
    auto twin = Raw(u"ITwin", TKIND_INTERFACE);
    ASSERT_OK(twin->AddImplType(0, href));
    AddFunc(twin.get(), 0, {u"Own"});
    AddFunc(twin.get(), 1, {u"Later"});
    ASSERT_OK(derived->LayOut());
    ASSERT_OK(twin->LayOut());
    FUNCDESC* a = nullptr;
    FUNCDESC* b = nullptr;
    ASSERT_OK(derived.As<ITypeInfo>()->GetFuncDesc(1, &a));
    ASSERT_OK(twin.As<ITypeInfo>()->GetFuncDesc(1, &b));
    EXPECT_EQ(a->memid, b->memid);
    derived.As<ITypeInfo>()->ReleaseFuncDesc(a);
    twin.As<ITypeInfo>()->ReleaseFuncDesc(b);
    // The trial on the types themselves agrees.
    EXPECT_TRUE(helper::ProbeLayOut(iface.get(), iface.As<ITypeInfo>().get(), true));
    EXPECT_FALSE(helper::ProbeLayOut(fixed.get(), fixed.As<ITypeInfo>().get(), true));
    EXPECT_TRUE(helper::ProbeLayOut(derived.get(), derived.As<ITypeInfo>().get(), true));
    // A base that grew after the interface on it was laid out: the
    // interface's automatic slots are stale, and it still lays out.
    auto grown = Raw(u"IGrown", TKIND_INTERFACE);
    ASSERT_OK(grown->AddRefTypeInfo(zephrin::BaseTICache::Instance().IUnknown().get(), &href));
    ASSERT_OK(grown->AddImplType(0, href));
    AddFunc(grown.get(), 0, {u"One"});
    ASSERT_OK(grown->LayOut());
    auto onGrown = Raw(u"IOnGrown", TKIND_INTERFACE);
    ASSERT_OK(onGrown->AddRefTypeInfo(grown.As<ITypeInfo>().get(), &href));
    ASSERT_OK(onGrown->AddImplType(0, href));
    AddFunc(onGrown.get(), 0, {u"Own"});
    ASSERT_OK(onGrown->LayOut());
    AddFunc(grown.get(), 1, {u"Two"});
    ASSERT_OK(grown->LayOut());
    EXPECT_TRUE(helper::CanLayOut(onGrown.As<ITypeInfo>().get()));
    EXPECT_TRUE(helper::ProbeLayOut(onGrown.get(), onGrown.As<ITypeInfo>().get(), true));
    // One that shrank likewise; but slots left free behind a base of another
    // library are explicit, and stay where they are.
    ASSERT_OK(grown->DeleteFuncDesc(1));
    ASSERT_OK(grown->DeleteFuncDesc(0));
    ASSERT_OK(grown->LayOut());
    EXPECT_TRUE(helper::CanLayOut(onGrown.As<ITypeInfo>().get()));
    auto gap = Raw(u"IGap", TKIND_INTERFACE);
    ASSERT_OK(gap->AddRefTypeInfo(zephrin::BaseTICache::Instance().IUnknown().get(), &href));
    ASSERT_OK(gap->AddImplType(0, href));
    AddFunc(gap.get(), 0, {.name = u"At20", .oVft = 20});
    AddFunc(gap.get(), 1, {.name = u"At24", .oVft = 24});
    ASSERT_OK(gap->LayOut());
    EXPECT_FALSE(helper::CanLayOut(gap.As<ITypeInfo>().get()));

    // A loaded library is read-only.
    ComPtr<ITypeLib> reloaded = SaveAndReload(lib.GenerateDirect(false).get());
    EXPECT_FALSE(helper::CanLayOut(TypeByName(reloaded.get(), u"IThing").get()));
}

TEST_F(TypeDescription, UnresolvedTypesMarkerSurvivesASave) {
    EXPECT_FALSE(helper::IsUnresolvedTypesLib(lib.ReadView().get()));
    helper::MarkUnresolvedTypesLib(lib.CreateView().get());
    ComPtr<ITypeLib> reloaded = SaveAndReload(lib.GenerateDirect(false).get());
    EXPECT_TRUE(helper::IsUnresolvedTypesLib(reloaded.get()));
}

TEST_F(TypeDescription, CustomDataCopiesCallNoSetterForNone) {
    int calls = 0;
    helper::CopyCustData(helper::GetTypeCustData(iface.As<ITypeInfo2>().get()),
                         [&](const GUID&, VARIANT&) { ++calls; });
    EXPECT_EQ(calls, 0);

    Variant one(int32_t{1}), two(std::u16string_view(u"two"));
    ASSERT_OK(iface->SetCustData(G(u"{5A170960-60D1-4E2B-9A51-000000001701}"), one.ptr()));
    ASSERT_OK(iface->SetCustData(G(u"{5A170961-60D1-4E2B-9A51-000000001701}"), two.ptr()));
    helper::CopyCustData(helper::GetTypeCustData(iface.As<ITypeInfo2>().get()),
                         helper::SetTypeCustData(record.get()));
    // A modifier may drop items and keep the block.
    bool released = false;
    helper::CopyCustDataModified(
        helper::GetTypeCustData(iface.As<ITypeInfo2>().get()), helper::SetLibCustData(lib.CreateView().get()),
        [](CUSTDATA& cd) {
            VariantClear(&cd.prgCustData[1].varValue);
            cd.cCustData = 1;
            return false;
        },
        [&](CUSTDATA&) { released = true; });
    EXPECT_FALSE(released);
    // A modifier that keeps the block gets it back whole, instead of it being cleared.
    DWORD kept = 0;
    helper::CopyCustDataModified(
        helper::GetTypeCustData(iface.As<ITypeInfo2>().get()), helper::SetTypeCustData(record.get()),
        [](CUSTDATA&) { return true; },
        [&](CUSTDATA& cd) {
            kept = cd.cCustData;
            ClearCustData(&cd);
        });
    EXPECT_EQ(kept, 2u);
    const std::string dump = GenerateSaveDump(lib);
    EXPECT_NE(TypeSection(dump, "Point").find("custdata {5A170961-60D1-4E2B-9A51-000000001701} = vt=8:\"two\""),
              std::string::npos);
    const std::string head = dump.substr(0, dump.find("\ntype "));
    EXPECT_NE(head.find("custdata {5A170960-60D1-4E2B-9A51-000000001701} = vt=3:\"1\""), std::string::npos);
    EXPECT_EQ(head.find("5A170961"), std::string::npos);
}

TEST(TypeInfoHelper, InheritanceDepthStopsAtTheRoot) {
    CustomTypeLib lib;
    lib.LibName(u"Depth");
    auto a = lib.AddCustomTypeInfo(u"IA", TKIND_INTERFACE, kNoGuid);
    a->SetBaseType(CustomTypeInfo::kBaseIDispatch, nullptr);
    auto b = lib.AddCustomTypeInfo(u"IB", TKIND_INTERFACE, kNoGuid);
    b->SetBaseType(CustomTypeInfo::kBaseCustom, lib.GetTypeInfo(u"IA").get());
    EXPECT_EQ(helper::GetInheritanceDepth(lib.ReadView().get(), 1), 3);
    EXPECT_EQ(helper::GetBaseTypeName(b->ITypeInfo().get(), 0), u"IA");
    // IA deriving from IB would close a cycle.
    EXPECT_EQ(ErrorOf([&] { a->SetBaseType(CustomTypeInfo::kBaseCustom, lib.GetTypeInfo(u"IB").get()); }),
              TYPE_E_CIRCULARTYPE);
    EXPECT_EQ(helper::GetBaseTypeName(a->ITypeInfo().get(), 0), u"IDispatch");
}

}  // namespace
