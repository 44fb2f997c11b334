// The application object, re-pointing a library view, the standard library and
// objects that outlive their library.
#include "support/ShapesLibrary.h"
#include "support/TliReading.h"

namespace {

using namespace testsupport;

TEST(TliApplication, IsOneObjectThatNeverResolvesAliasesAndViewsExactlyTheTypeGiven) {
    ComPtr<tli::TLIApplication> a, b;
    ASSERT_OK(tli::GetTLIApplication(a.put()));
    ASSERT_OK(tli::GetTLIApplication(b.put()));
    EXPECT_EQ(a, b);
    EXPECT_OK(a->put_ResolveAliases(false));
    EXPECT_EQ(a->put_ResolveAliases(true), E_NOTIMPL);
    EXPECT_FALSE(Get(a, &tli::TLIApplication::get_ResolveAliases));
    ComPtr<tli::TypeInfo> none;
    EXPECT_EQ(a->TypeInfoFromITypeInfo(nullptr, none.put()), E_INVALIDARG);
    ComPtr<tli::TypeLibInfo> missing;
    EXPECT_NE(a->TypeLibInfoFromFile(u"/nonexistent/none.tlb", missing.put()), S_OK);
    EXPECT_EQ(missing, nullptr);

    // A view of a type hands back exactly that type.
    ComPtr<ITypeInfo> dispatch = StdOle2Type(kIID_IDispatch);
    ComPtr<tli::TypeInfo> view;
    ASSERT_OK(App()->TypeInfoFromITypeInfo(dispatch.get(), view.put()));
    EXPECT_EQ(Get(view, &tli::TypeInfo::get_ITypeInfo), dispatch);
}

TEST(TliApplication, StandardLibraryFromItsBareFileName) {
    ComPtr<tli::TypeLibInfo> std;
    ASSERT_OK(App()->TypeLibInfoFromFile(u"stdole2.tlb", std.put()));
    EXPECT_EQ(NameOf(std), u"stdole");
    EXPECT_EQ(Get(std, &tli::TypeLibInfo::get_ITypeLib), StdOle2());

    // Item 1 of IDispatch's implied interfaces is IUnknown, the same object the library hands out.
    ComPtr<tli::ImpliedInterfaces> implied = Get(TypeNamed(std.get(), u"IDispatch"), &tli::TypeInfo::get_ImpliedInterfaces);
    EXPECT_EQ(Get(implied, &tli::ImpliedInterfaces::get_Count), 1);
    ComPtr<tli::TypeInfo> unknown;
    ASSERT_OK(implied->get_Item(1, unknown.put()));
    EXPECT_EQ(NameOf(unknown), u"IUnknown");
    EXPECT_EQ(Get(unknown, &tli::TypeInfo::get_ITypeInfo), StdOle2Type(kIID_IUnknown));
    EXPECT_EQ(Get(Get(unknown, &tli::TypeInfo::get_ImpliedInterfaces), &tli::ImpliedInterfaces::get_Count), 0);
}

TEST(TypeLibInfo, ValuesAreThoseOfTheLastRepointing) {
    ComPtr<ICreateTypeLib2> first = NewLibrary(u"First"), second = NewLibrary(u"Second");
    ComPtr<ITypeLib> firstLib = AsTypeLib(first.get()), secondLib = AsTypeLib(second.get());
    NewType(second.get(), u"OnlyInSecond", TKIND_ENUM);
    ComPtr<tli::TypeLibInfo> view = InfoOf(firstLib.get());
    ASSERT_OK(view->put_LibNum(3));

    // A change made afterwards shows after the next re-pointing only.
    ASSERT_OK(first->SetName(u"Renamed"));
    EXPECT_EQ(NameOf(view), u"First");
    ASSERT_OK(view->putref_ITypeLib(firstLib.get()));
    EXPECT_EQ(NameOf(view), u"Renamed");

    // Another library.
    ASSERT_OK(view->putref_ITypeLib(secondLib.get()));
    EXPECT_EQ(NameOf(view), u"Second");
    bool same = false;
    EXPECT_OK(view->IsSameLibrary(Get(TypeNamed(view.get(), u"onlyinsecond"), &tli::TypeInfo::get_Parent).get(), &same));
    EXPECT_TRUE(same);
    EXPECT_OK(view->IsSameLibrary(InfoOf(firstLib.get()).get(), &same));
    EXPECT_FALSE(same);
    EXPECT_EQ(Get(view, &tli::TypeLibInfo::get_LibNum), 3);

    // Types added later are found without re-pointing: the collection is live.
    NewType(second.get(), u"AddedLater", TKIND_RECORD);
    EXPECT_TRUE(TypeNamed(view.get(), u"AddedLater"));

    // No library: an empty view.
    ASSERT_OK(view->putref_ITypeLib(nullptr));
    EXPECT_EQ(NameOf(view), u"");
    EXPECT_EQ(Get(view, &tli::TypeLibInfo::get_TypeInfoCount), 0);
    EXPECT_EQ(Get(view, &tli::TypeLibInfo::get_ITypeLib), nullptr);
    ComPtr<tli::TypeInfo> none;
    EXPECT_EQ(Get(view, &tli::TypeLibInfo::get_TypeInfos)->NamedItem(u"OnlyInSecond", none.put()), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_OK(view->IsSameLibrary(view.get(), &same));
    EXPECT_FALSE(same);
    EXPECT_EQ(Get(view, &tli::TypeLibInfo::get_Me), view);

    // A view made from no library can be pointed later.
    ComPtr<tli::TypeLibInfo> empty = InfoOf(nullptr);
    ASSERT_TRUE(empty);
    EXPECT_EQ(NameOf(empty), u"");
    ASSERT_OK(empty->putref_ITypeLib(firstLib.get()));
    EXPECT_EQ(NameOf(empty), u"Renamed");
}

TEST(VarTypeInfo, ATypeOfAnotherOpenLibraryIsExternal) {
    ComPtr<ICreateTypeLib2> other = NewLibrary(u"Other"), mine = NewLibrary(u"Mine");
    ComPtr<ICreateTypeInfo2> foreign = NewType(other.get(), u"IForeign", TKIND_INTERFACE);
    ComPtr<ICreateTypeInfo2> record = NewType(mine.get(), u"Holder", TKIND_RECORD);
    ComPtr<ICreateTypeInfo2> local = NewType(mine.get(), u"Local", TKIND_RECORD);
    TypeDescs td;
    AddVar(local.get(), 0, u"x", Vt(VT_I4));
    AddVar(record.get(), 0, u"far", td.Ptr(User(RefTo(record.get(), foreign.get()))));
    AddVar(record.get(), 1, u"near", User(RefTo(record.get(), local.get())));
    for (auto* t : {foreign.get(), local.get(), record.get()}) ASSERT_OK(t->LayOut());

    ComPtr<tli::Members> fields = MembersOf(TypeNamed(InfoOf(AsTypeLib(mine.get()).get()).get(), u"Holder").get());
    ComPtr<tli::VarTypeInfo> far = TypeOfMember(fields.get(), u"far"), near = TypeOfMember(fields.get(), u"near");
    EXPECT_TRUE(Get(far, &tli::VarTypeInfo::get_IsExternalType));
    EXPECT_EQ(NameOf(Get(far, &tli::VarTypeInfo::get_TypeLibInfoExternal)), u"Other");
    EXPECT_EQ(Get(far, &tli::VarTypeInfo::get_TypeInfoNumber), 0);
    EXPECT_FALSE(Get(near, &tli::VarTypeInfo::get_IsExternalType));
    EXPECT_EQ(Get(near, &tli::VarTypeInfo::get_TypeInfoNumber), 1);
    EXPECT_EQ(Get(near, &tli::VarTypeInfo::get_TypeInfo), Get(near, &tli::VarTypeInfo::get_TypeInfo));  // resolved once
}

TEST(TliLifetime, ObjectsOutlivingTheirLibraryFailCleanlyOrAnswer) {
    ComPtr<tli::TypeInfo> type;
    ComPtr<tli::MemberInfo> area;
    ComPtr<tli::Parameters> params;
    ComPtr<tli::TypeInfos> types;
    {
        ComPtr<ICreateTypeLib2> lib = BuildShapes();
        ASSERT_TRUE(lib);
        ComPtr<tli::TypeLibInfo> view = InfoOf(AsTypeLib(lib.get()).get());
        types = Get(view, &tli::TypeLibInfo::get_TypeInfos);
        type = Get(TypeNamed(view.get(), u"IShape"), &tli::TypeInfo::get_VTableInterface);
        area = MemberNamed(MembersOf(type.get()).get(), u"Area");
        params = Get(area, &tli::MemberInfo::get_Parameters);
        // The type is deleted and every reference to the library dropped.
        ASSERT_OK(lib->DeleteTypeInfo(u"IShape"));
        ASSERT_OK(view->putref_ITypeLib(nullptr));
    }
    // Whatever still answers must answer sensibly; the rest fails with an error.
    std::u16string name;
    (void)type->get_Name(&name);
    TYPEKIND kind{};
    (void)type->get_TypeKind(&kind);
    LONG n = 0;
    (void)type->get_TypeInfoNumber(&n);
    ComPtr<tli::TypeLibInfo> parent;
    (void)type->get_Parent(parent.put());
    ComPtr<tli::Members> again;
    (void)type->get_Members(again.put());
    EXPECT_EQ(NameOf(area), u"Area");  // read when the list was made
    EXPECT_EQ(Get(params, &tli::Parameters::get_Count), 2);
    ComPtr<tli::ParameterInfo> p;
    ASSERT_OK(params->get_Item(1, p.put()));
    (void)p->get_Name(&name);
    ComPtr<tli::CustomDataCollection> data;
    (void)p->get_CustomDataCollection(data.put());
    EXPECT_EQ(Get(Get(area, &tli::MemberInfo::get_ReturnType), &tli::VarTypeInfo::get_VarType), VT_R8);
    (void)area->get_HelpString(&name);
    EXPECT_EQ(Get(types, &tli::TypeInfos::get_Count), 8);
    ComPtr<tli::TypeInfo> gone;
    EXPECT_EQ(types->NamedItem(u"IShape", gone.put()), TYPE_E_ELEMENTNOTFOUND);
}

}  // namespace
