// Libraries wrapped from data (as the file readers make them): read-only
// siblings of created libraries, with the same answers.
#include "support/EngineTestSupport.h"

using namespace enginetest;

namespace {

// A created library with a dual interface, a coclass and a record, laid out.
ComPtr<ICreateTypeLib2> BuildSample(StdBases& std) {
    auto lib = NewLib();
    lib->SetName(u"Sample");
    auto rec = NewType(lib.get(), u"Point", TKIND_RECORD);
    AddVar(rec.get(), 0, VAR_PERINSTANCE, VT_I2, u"x");
    AddVar(rec.get(), 1, VAR_PERINSTANCE, VT_I4, u"y");
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    foo->SetGuid(GUID{0xF00, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}});
    foo->SetTypeFlags(TYPEFLAG_FDUAL);
    foo->AddImplType(0, RefTo(foo.get(), std.dispatch.get()));
    std::vector<ELEMDESC> params{Elem(VT_USERDEFINED)};
    params[0].tdesc.hreftype = RefTo(foo.get(), Read(rec).get());
    FUNCDESC f = Func(FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, params);
    foo->AddFuncDesc(0, &f);
    SetNames(foo.get(), 0, {u"Move", u"to"});
    auto cls = NewType(lib.get(), u"Foo", TKIND_COCLASS);
    cls->AddImplType(0, RefTo(cls.get(), Read(foo).get()));
    cls->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT);
    return lib;
}

TEST(EngineLoaded, ALibraryMadeFromDataIsReadOnlyAndReadsLikeTheOriginal) {
    StdBases std;
    auto created = BuildSample(std);
    std::shared_ptr<const LibraryData> data;
    ASSERT_OK(GetLibraryData(created.As<ITypeLib>().get(), true, &data));
    ASSERT_EQ(3u, data->types.size());
    EXPECT_EQ(TKIND_INTERFACE, data->types[1].kind);  // the dual is held as its interface half

    ComPtr<ITypeLib> loaded;
    ASSERT_OK(CreateLoadedTypeLib(data, u"/tmp/sample.tlb", loaded.put()));
    EXPECT_FALSE(loaded.As<ICreateTypeLib2>());
    EXPECT_FALSE(loaded.As<ICreateTypeLib>());
    EXPECT_TRUE(loaded.As<ITypeLib2>());
    std::u16string path;
    ASSERT_OK(GetTypeLibFilePath(loaded.get(), &path));
    EXPECT_EQ(u"/tmp/sample.tlb", path);
    TLIBATTR* attr = nullptr;
    ASSERT_OK(loaded->GetLibAttr(&attr));
    EXPECT_EQ(LIBFLAG_FHASDISKIMAGE, attr->wLibFlags);
    loaded->ReleaseTLibAttr(attr);

    ComPtr<ITypeInfo> rec, item, cls;
    ASSERT_OK(loaded->GetTypeInfo(0, rec.put()));
    ASSERT_OK(loaded->GetTypeInfo(1, item.put()));
    ASSERT_OK(loaded->GetTypeInfo(2, cls.put()));
    EXPECT_FALSE(rec.As<ICreateTypeInfo2>());
    EXPECT_FALSE(item.As<ICreateTypeInfo>());

    // The dual: the dispatch view first, its interface half behind it.
    EXPECT_EQ(TKIND_DISPATCH, Attr(item.get()).typekind);
    HREFTYPE partner = 0;
    ASSERT_OK(item->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner));
    ComPtr<ITypeInfo> half;
    ASSERT_OK(item->GetRefTypeInfo(partner, half.put()));
    EXPECT_EQ(TKIND_INTERFACE, Attr(half.get()).typekind);
    EXPECT_FALSE(half.As<ICreateTypeInfo2>());
    ASSERT_OK(half->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner));
    ComPtr<ITypeInfo> view;
    ASSERT_OK(half->GetRefTypeInfo(partner, view.put()));
    EXPECT_EQ(item.get(), view.get());

    // References lead to the same objects as the library's own list.
    FUNCDESC* fd = nullptr;
    ASSERT_OK(half->GetFuncDesc(0, &fd));
    ComPtr<ITypeInfo> viaRef;
    ASSERT_OK(half->GetRefTypeInfo(fd->lprgelemdescParam[0].tdesc.hreftype, viaRef.put()));
    half->ReleaseFuncDesc(fd);
    EXPECT_EQ(rec.get(), viaRef.get());
    HREFTYPE h = 0;
    ASSERT_OK(cls->GetRefTypeOfImplType(0, &h));
    ASSERT_OK(cls->GetRefTypeInfo(h, viaRef.put()));
    EXPECT_EQ(half.get(), viaRef.get());
    ASSERT_OK(half->GetRefTypeOfImplType(0, &h));
    ASSERT_OK(half->GetRefTypeInfo(h, viaRef.put()));
    EXPECT_EQ(std.dispatch.get(), viaRef.get());
}

TEST(EngineLoaded, BrokenReferencesInDataFailOnlyWhenFollowed) {
    auto data = std::make_shared<LibraryData>();
    data->name = u"Broken";
    TypeData t;
    t.name = u"IThing";
    t.kind = TKIND_INTERFACE;
    t.implTypes.push_back(ImplTypeData{100, 0, {}});
    FuncData f;
    f.memid = 0x60010000;
    f.returnType.vt = VT_USERDEFINED;
    f.returnType.href = 200;
    t.funcs.push_back(f);
    data->types.push_back(t);
    RefData bad;
    bad.href = 100;
    bad.kind = RefKind::Internal;
    bad.typeIndex = 7;  // no such type
    data->refs.push_back(bad);
    RefData imported;
    imported.href = 200;
    imported.kind = RefKind::Imported;
    imported.importLib = 0;
    imported.typeGuid = GUID{0xBAD, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    data->refs.push_back(imported);
    data->imports.push_back(ImportLibData{GUID{0xBAD, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}}, 0, 1, 0, u"missing.tlb"});

    ComPtr<ITypeLib> lib;
    ASSERT_OK(CreateLoadedTypeLib(data, u"broken.tlb", lib.put()));
    ComPtr<ITypeInfo> ti;
    ASSERT_OK(lib->GetTypeInfo(0, ti.put()));
    EXPECT_EQ(1, Attr(ti.get()).cFuncs);
    ComPtr<ITypeInfo> target;
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, ti->GetRefTypeInfo(100, target.put()));
    EXPECT_TRUE(FAILED(ti->GetRefTypeInfo(200, target.put())));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, ti->GetRefTypeInfo(300, target.put()));
    // Inherited lookups through the broken base fail cleanly too.
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, ti->GetDocumentation(0x123, nullptr, nullptr, nullptr, nullptr));
}

}  // namespace
