// The application object, re-pointing a library view, the standard library and
// objects that outlive their library.
#include "TliTestLibrary.h"

namespace tlitest {
namespace {

TEST(TliApplication, IsOneObjectThatNeverResolvesAliases) {
    ComPtr<tli::TLIApplication> a, b;
    ASSERT_OK(tli::GetTLIApplication(a.put()));
    ASSERT_OK(tli::GetTLIApplication(b.put()));
    EXPECT_EQ(a, b);
    EXPECT_OK(a->put_ResolveAliases(false));
    EXPECT_EQ(a->put_ResolveAliases(true), E_NOTIMPL);
    bool resolve = true;
    EXPECT_OK(a->get_ResolveAliases(&resolve));
    EXPECT_FALSE(resolve);
    ComPtr<tli::TypeInfo> none;
    EXPECT_EQ(a->TypeInfoFromITypeInfo(nullptr, none.put()), E_INVALIDARG);
    ComPtr<tli::TypeLibInfo> missing;
    EXPECT_NE(a->TypeLibInfoFromFile(u"/nonexistent/none.tlb", missing.put()), S_OK);
    EXPECT_EQ(missing, nullptr);
}

TEST(TliApplication, TypeInfoFromITypeInfoViewsExactlyThatType) {
    ComPtr<ITypeInfo> dispatch = StdOle2Type(kIID_IDispatch);
    ComPtr<tli::TypeInfo> view;
    ASSERT_OK(App()->TypeInfoFromITypeInfo(dispatch.get(), view.put()));
    ComPtr<ITypeInfo> back;
    ASSERT_OK(view->get_ITypeInfo(back.put()));
    EXPECT_EQ(back, dispatch);
}

TEST(TliApplication, StandardLibraryFromItsBareFileName) {
    ComPtr<tli::TypeLibInfo> std;
    ASSERT_OK(App()->TypeLibInfoFromFile(u"stdole2.tlb", std.put()));
    EXPECT_EQ(NameOf(std.get()), u"stdole");
    ComPtr<ITypeLib> lib;
    ASSERT_OK(std->get_ITypeLib(lib.put()));
    EXPECT_EQ(lib, StdOle2());

    // Item 1 of IDispatch's implied interfaces is IUnknown, the same object the library hands out.
    ComPtr<tli::TypeInfo> dispatch = TypeNamed(std.get(), u"IDispatch"), unknown;
    ASSERT_TRUE(dispatch);
    ComPtr<tli::ImpliedInterfaces> implied;
    ASSERT_OK(dispatch->get_ImpliedInterfaces(implied.put()));
    LONG count = 0;
    EXPECT_OK(implied->get_Count(&count));
    EXPECT_EQ(count, 1);
    ASSERT_OK(implied->get_Item(1, unknown.put()));
    EXPECT_EQ(NameOf(unknown.get()), u"IUnknown");
    ComPtr<ITypeInfo> ti;
    ASSERT_OK(unknown->get_ITypeInfo(ti.put()));
    EXPECT_EQ(ti, StdOle2Type(kIID_IUnknown));
    ComPtr<tli::ImpliedInterfaces> none;
    ASSERT_OK(unknown->get_ImpliedInterfaces(none.put()));
    EXPECT_OK(none->get_Count(&count));
    EXPECT_EQ(count, 0);
}

TEST(TypeLibInfo, ValuesAreThoseOfTheLastRepointing) {
    ComPtr<ICreateTypeLib2> first = NewLibrary(u"First"), second = NewLibrary(u"Second");
    ComPtr<ITypeLib> firstLib = AsTypeLib(first.get()), secondLib = AsTypeLib(second.get());
    NewType(second.get(), u"OnlyInSecond", TKIND_ENUM);
    ComPtr<tli::TypeLibInfo> view = InfoOf(firstLib.get());
    ASSERT_OK(view->put_LibNum(3));

    // A change made afterwards shows after the next re-pointing only.
    ASSERT_OK(first->SetName(u"Renamed"));
    EXPECT_EQ(NameOf(view.get()), u"First");
    ASSERT_OK(view->putref_ITypeLib(firstLib.get()));
    EXPECT_EQ(NameOf(view.get()), u"Renamed");

    // Another library.
    ASSERT_OK(view->putref_ITypeLib(secondLib.get()));
    EXPECT_EQ(NameOf(view.get()), u"Second");
    ComPtr<tli::TypeInfo> t = TypeNamed(view.get(), u"onlyinsecond");
    ASSERT_TRUE(t);
    ComPtr<tli::TypeLibInfo> parent;
    ASSERT_OK(t->get_Parent(parent.put()));
    bool same = false;
    EXPECT_OK(view->IsSameLibrary(parent.get(), &same));
    EXPECT_TRUE(same);
    EXPECT_OK(view->IsSameLibrary(InfoOf(firstLib.get()).get(), &same));
    EXPECT_FALSE(same);
    LONG num = 0;
    EXPECT_OK(view->get_LibNum(&num));
    EXPECT_EQ(num, 3);

    // Types added later are found without re-pointing: the collection is live.
    NewType(second.get(), u"AddedLater", TKIND_RECORD);
    EXPECT_TRUE(TypeNamed(view.get(), u"AddedLater"));

    // No library: an empty view.
    ASSERT_OK(view->putref_ITypeLib(nullptr));
    EXPECT_EQ(NameOf(view.get()), u"");
    LONG count = -1;
    EXPECT_OK(view->get_TypeInfoCount(&count));
    EXPECT_EQ(count, 0);
    ComPtr<ITypeLib> lib;
    EXPECT_OK(view->get_ITypeLib(lib.put()));
    EXPECT_EQ(lib, nullptr);
    ComPtr<tli::TypeInfos> types;
    ComPtr<tli::TypeInfo> none;
    ASSERT_OK(view->get_TypeInfos(types.put()));
    EXPECT_EQ(types->NamedItem(u"OnlyInSecond", none.put()), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_OK(view->IsSameLibrary(view.get(), &same));
    EXPECT_FALSE(same);
    ComPtr<tli::TypeLibInfo> me;
    ASSERT_OK(view->get_Me(me.put()));
    EXPECT_EQ(me, view);
}

TEST(TypeLibInfo, AnEmptyViewFromNoLibraryCanBePointedLater) {
    ComPtr<tli::TypeLibInfo> view = InfoOf(nullptr);
    ASSERT_TRUE(view);
    EXPECT_EQ(NameOf(view.get()), u"");
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Later");
    ASSERT_OK(view->putref_ITypeLib(AsTypeLib(lib.get()).get()));
    EXPECT_EQ(NameOf(view.get()), u"Later");
}

TEST(VarTypeInfo, ATypeOfAnotherOpenLibraryIsExternal) {
    ComPtr<ICreateTypeLib2> other = NewLibrary(u"Other"), mine = NewLibrary(u"Mine");
    ComPtr<ICreateTypeInfo2> foreign = NewType(other.get(), u"IForeign", TKIND_INTERFACE);
    ComPtr<ICreateTypeInfo2> record = NewType(mine.get(), u"Holder", TKIND_RECORD);
    ComPtr<ICreateTypeInfo2> local = NewType(mine.get(), u"Local", TKIND_RECORD);
    TypeDescs td;
    AddVar(local.get(), 0, u"x", td.Base(VT_I4), VAR_PERINSTANCE);
    AddVar(record.get(), 0, u"far", td.Ptr(td.User(RefTo(record.get(), AsTypeInfo(foreign.get()).get()))),
           VAR_PERINSTANCE);
    AddVar(record.get(), 1, u"near", td.User(RefTo(record.get(), AsTypeInfo(local.get()).get())), VAR_PERINSTANCE);
    for (auto* t : {foreign.get(), local.get(), record.get()}) ASSERT_OK(t->LayOut());

    ComPtr<tli::Members> fields;
    ASSERT_OK(TypeNamed(InfoOf(AsTypeLib(mine.get()).get()).get(), u"Holder")->get_Members(fields.put()));
    ComPtr<tli::VarTypeInfo> far, near;
    ASSERT_OK(MemberNamed(fields.get(), u"far")->get_ReturnType(far.put()));
    ASSERT_OK(MemberNamed(fields.get(), u"near")->get_ReturnType(near.put()));
    bool external = false;
    ComPtr<tli::TypeLibInfo> lib;
    EXPECT_OK(far->get_IsExternalType(&external));
    EXPECT_TRUE(external);
    ASSERT_OK(far->get_TypeLibInfoExternal(lib.put()));
    ASSERT_TRUE(lib);
    EXPECT_EQ(NameOf(lib.get()), u"Other");
    LONG number = -1;
    EXPECT_OK(far->get_TypeInfoNumber(&number));
    EXPECT_EQ(number, 0);
    EXPECT_OK(near->get_IsExternalType(&external));
    EXPECT_FALSE(external);
    EXPECT_OK(near->get_TypeInfoNumber(&number));
    EXPECT_EQ(number, 1);
    ComPtr<tli::TypeInfo> a, b;
    ASSERT_OK(near->get_TypeInfo(a.put()));
    ASSERT_OK(near->get_TypeInfo(b.put()));
    EXPECT_EQ(a, b);  // resolved once
}

TEST(TliLifetime, ObjectsOutlivingTheirLibraryFailCleanlyOrAnswer) {
    ComPtr<tli::TypeInfo> type;
    ComPtr<tli::Members> members;
    ComPtr<tli::MemberInfo> area;
    ComPtr<tli::Parameters> params;
    ComPtr<tli::VarTypeInfo> ret;
    ComPtr<tli::TypeInfos> types;
    {
        ComPtr<ICreateTypeLib2> lib = BuildShapes();
        ASSERT_TRUE(lib);
        ComPtr<tli::TypeLibInfo> view = InfoOf(AsTypeLib(lib.get()).get());
        ASSERT_OK(view->get_TypeInfos(types.put()));
        ComPtr<tli::TypeInfo> item = TypeNamed(view.get(), u"IShape");
        ASSERT_OK(item->get_VTableInterface(type.put()));
        ASSERT_OK(type->get_Members(members.put()));
        area = MemberNamed(members.get(), u"Area");
        ASSERT_OK(area->get_Parameters(params.put()));
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
    EXPECT_EQ(NameOf(area.get()), u"Area");  // read when the list was made
    EXPECT_OK(params->get_Count(&n));
    EXPECT_EQ(n, 2);
    ComPtr<tli::ParameterInfo> p;
    ASSERT_OK(params->get_Item(1, p.put()));
    (void)p->get_Name(&name);
    ComPtr<tli::CustomDataCollection> data;
    (void)p->get_CustomDataCollection(data.put());
    ASSERT_OK(area->get_ReturnType(ret.put()));
    EXPECT_EQ(VarTypeOf(ret.get()), VT_R8);
    (void)area->get_HelpString(&name);
    EXPECT_OK(types->get_Count(&n));
    EXPECT_EQ(n, 8);
    ComPtr<tli::TypeInfo> gone;
    EXPECT_EQ(types->NamedItem(u"IShape", gone.put()), TYPE_E_ELEMENTNOTFOUND);
}

}  // namespace
}  // namespace tlitest
