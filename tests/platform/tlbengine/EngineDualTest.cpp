// Dual interfaces: the dispatch view the library hands out once the type is
// flagged dual, and its interface half.
#include "support/EngineTestSupport.h"

using namespace enginetest;

namespace {

struct DualFixture {
    StdBases std;
    ComPtr<ICreateTypeLib2> lib = NewLib();
    ComPtr<ICreateTypeInfo2> foo;
    const GUID guid = {0x11112222, 3, 4, {5, 6, 7, 8, 9, 10, 11, 12}};

    DualFixture() {
        NewType(lib.get(), u"First", TKIND_RECORD);
        foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
        foo->SetGuid(guid);
        foo->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION);
        foo->AddImplType(0, RefTo(foo.get(), std.dispatch.get()));
        // HRESULT Method([in] long x, [in, lcid] long lcid)
        std::vector<ELEMDESC> p1{Elem(VT_I4), Elem(VT_I4, PARAMFLAG_FIN | PARAMFLAG_FLCID)};
        FUNCDESC f1 = Func(FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, p1);
        foo->AddFuncDesc(0, &f1);
        SetNames(foo.get(), 0, {u"Method", u"x", u"lcid"});
        // [propget] HRESULT Value([out, retval] BSTR* result)
        TYPEDESC bstr = Td(VT_BSTR);
        std::vector<ELEMDESC> p2{Elem(VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)};
        p2[0].tdesc.lptdesc = &bstr;
        FUNCDESC f2 = Func(FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, VT_HRESULT, p2);
        foo->AddFuncDesc(1, &f2);
        SetNames(foo.get(), 1, {u"Value", u"result"});
    }
};

// All of it holds before any LayOut, as it does after one.
TEST(EngineDual, FlaggedDualIsListedAsItsDispatchViewWithTheInterfaceHalfBehind) {
    DualFixture fx;
    auto read = fx.lib.As<ITypeLib>();
    ComPtr<ITypeInfo> item;
    ASSERT_OK(read->GetTypeInfo(1, item.put()));
    TYPEKIND kind;
    ASSERT_OK(read->GetTypeInfoType(1, &kind));
    EXPECT_EQ(TKIND_DISPATCH, kind);
    TYPEATTR v = Attr(item.get());
    EXPECT_EQ(TKIND_DISPATCH, v.typekind);
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE, v.wTypeFlags);
    EXPECT_EQ(28, v.cbSizeVft);
    EXPECT_EQ(1, v.cImplTypes);
    EXPECT_EQ(9, v.cFuncs);  // IUnknown 3 + IDispatch 4 + own 2
    FuncInfo qi = FuncAt(item.get(), 0);
    EXPECT_EQ(FUNC_DISPATCH, qi.funckind);
    EXPECT_NE(0, qi.flags & FUNCFLAG_FRESTRICTED);
    EXPECT_EQ(VT_VOID, qi.ret);
    FuncInfo method = FuncAt(item.get(), 7);
    EXPECT_EQ(VT_VOID, method.ret);
    EXPECT_EQ(1, method.cParams);  // the [lcid] parameter is hidden
    EXPECT_EQ(0x60020000, method.memid);
    FuncInfo value = FuncAt(item.get(), 8);
    EXPECT_EQ(VT_BSTR, value.ret);  // the [retval] parameter became the result
    EXPECT_EQ(0, value.cParams);
    EXPECT_EQ(std::vector<std::u16string>{u"Value"}, NamesOf(item.get(), value.memid));

    ComPtr<ITypeInfo> byGuid;
    ASSERT_OK(read->GetTypeInfoOfGuid(fx.guid, byGuid.put()));
    EXPECT_EQ(item.get(), byGuid.get());

    HREFTYPE partner = 0;
    ASSERT_OK(item->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner));
    EXPECT_EQ(0xFFFFFFFEu, partner);
    ComPtr<ITypeInfo> half;
    ASSERT_OK(item->GetRefTypeInfo(partner, half.put()));
    EXPECT_EQ(Read(fx.foo).get(), half.get());
    TYPEATTR h = Attr(half.get());
    EXPECT_EQ(TKIND_INTERFACE, h.typekind);
    EXPECT_EQ(2, h.cFuncs);
    EXPECT_EQ(36, h.cbSizeVft);
    EXPECT_EQ(32, FuncAt(half.get(), 1).oVft);
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FOLEAUTOMATION, h.wTypeFlags);
    // The interface half leads back to the dispatch half the same way.
    auto backToView = [&, view = ComPtr<ITypeInfo>()]() mutable {
        EXPECT_OK(half->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner));
        EXPECT_EQ(0xFFFFFFFEu, partner);
        EXPECT_OK(half->GetRefTypeInfo(partner, view.put()));
        EXPECT_EQ(item.get(), view.get());
    };
    backToView();

    // The dispatch view leads to the creatable type.
    ComPtr<ICreateTypeInfo2> create = item.As<ICreateTypeInfo2>();
    EXPECT_EQ(fx.foo.get(), create.get());
    UINT index = 0;
    ComPtr<ITypeLib> container;
    ASSERT_OK(item->GetContainingTypeLib(container.put(), &index));
    EXPECT_EQ(1u, index);
    ASSERT_OK(fx.foo->LayOut());
    EXPECT_EQ(36, Attr(half.get()).cbSizeVft);
    EXPECT_EQ(32, FuncAt(half.get(), 1).oVft);
    backToView();
}

// A base added after the functions, or removed: the vtable and the automatic
// offsets follow it at once (at the library's pointer size), and an id not
// yet fixed takes the new depth.
TEST(EngineDual, ABaseAddedAfterTheFunctionsRefitsTheVtableAtOnce) {
    StdBases std;
    auto lib = NewLib(SYS_WIN64);
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(foo->SetTypeFlags(TYPEFLAG_FDUAL));
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL));
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), std.dispatch.get())));
    EXPECT_EQ(8 * 8, Attr(Read(foo).get()).cbSizeVft);
    EXPECT_EQ(7 * 8, FuncAt(Read(foo).get(), 0).oVft);
    EXPECT_EQ(0x60020000, FuncAt(Read(foo).get(), 0).memid);
    // Removing the base gives its slots back at once too.
    ASSERT_OK(foo->DeleteImplType(0));
    EXPECT_EQ(8, Attr(Read(foo).get()).cbSizeVft);
    EXPECT_EQ(0, FuncAt(Read(foo).get(), 0).oVft);
}

TEST(EngineDual, EditsAfterLayOutShowInTheDispatchView) {
    DualFixture fx;
    ASSERT_OK(fx.foo->LayOut());
    ComPtr<ITypeInfo> item;
    ASSERT_OK(fx.lib.As<ITypeLib>()->GetTypeInfo(1, item.put()));
    ASSERT_OK(AddFunc(fx.foo.get(), 2, FUNC_PUREVIRTUAL));
    ASSERT_OK(SetNames(fx.foo.get(), 2, {u"Third"}));
    EXPECT_EQ(10, Attr(item.get()).cFuncs);
    std::u16string name = u"THIRD";
    LPOLESTR names[] = {name.data()};
    MEMBERID id = 0;
    ASSERT_OK(item->GetIDsOfNames(names, 1, &id));
    EXPECT_EQ(0x60020002, id);  // fixed when first read, before any layout
}

TEST(EngineDual, DualFlagWithoutAnIDispatchBaseStillLaysOut) {
    auto lib = NewLib();
    auto temp = NewType(lib.get(), u"ITemp", TKIND_INTERFACE);
    ASSERT_OK(temp->SetTypeFlags(TYPEFLAG_FDUAL));
    ASSERT_OK(AddFunc(temp.get(), 0, FUNC_PUREVIRTUAL));
    ASSERT_OK(temp->LayOut());
    ComPtr<ITypeInfo> item;
    ASSERT_OK(lib.As<ITypeLib>()->GetTypeInfo(0, item.put()));
    EXPECT_EQ(1, Attr(item.get()).cFuncs);
    EXPECT_EQ(0, Attr(Read(temp).get()).wTypeFlags & TYPEFLAG_FDISPATCHABLE);
    // SetTypeFlags takes FDISPATCHABLE as given, so read flags can be put back.
    ASSERT_OK(temp->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE));
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE, Attr(Read(temp).get()).wTypeFlags);
    ASSERT_OK(temp->SetTypeFlags(TYPEFLAG_FDUAL));
    ASSERT_OK(temp->LayOut());
    EXPECT_EQ(TYPEFLAG_FDUAL, Attr(Read(temp).get()).wTypeFlags);
}

TEST(EngineDual, NamesInTheDispatchViewPreferTheTypesOwnMembers) {
    DualFixture fx;
    ASSERT_OK(fx.foo->LayOut());
    auto derived = NewType(fx.lib.get(), u"IDerived", TKIND_INTERFACE);
    ASSERT_OK(derived->SetTypeFlags(TYPEFLAG_FDUAL));
    ASSERT_OK(derived->AddImplType(0, RefTo(derived.get(), Read(fx.foo).get())));
    // A put accessor with the id of the inherited get "Value".
    MEMBERID valueId = FuncAt(Read(fx.foo).get(), 1).memid;
    ASSERT_OK(AddFunc(derived.get(), 0, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT, VT_HRESULT, {VT_BSTR}, valueId));
    ASSERT_OK(SetNames(derived.get(), 0, {u"Value"}));
    ASSERT_OK(derived->LayOut());
    ComPtr<ITypeInfo> view;
    ASSERT_OK(fx.lib.As<ITypeLib>()->GetTypeInfo(2, view.put()));
    EXPECT_EQ(10, Attr(view.get()).cFuncs);
    EXPECT_EQ(36, FuncAt(Read(derived).get(), 0).oVft);
    EXPECT_EQ(INVOKE_PROPERTYGET, FuncAt(view.get(), 8).invkind);
    EXPECT_EQ(INVOKE_PROPERTYPUT, FuncAt(view.get(), 9).invkind);
    BStr doc;
    ASSERT_OK(derived->SetFuncDocString(0, u"own"));
    ASSERT_OK(view->GetDocumentation(valueId, nullptr, doc.put(), nullptr, nullptr));
    EXPECT_EQ(u"own", doc.view());
}

// Whichever of its interfaces a caller holds, a type is one object: one
// IUnknown, one reference count, and every creation interface reached from
// the dispatch view of its dual too.
TEST(EngineDual, EveryInterfaceOfATypeLeadsToTheSameObjectAndCount) {
    DualFixture fx;
    ComPtr<ITypeInfo> view;
    ASSERT_OK(fx.lib.As<ITypeLib>()->GetTypeInfo(1, view.put()));
    ComPtr<ICreateTypeInfoRoom> room;
    ASSERT_OK(fx.foo->QueryInterface(ICreateTypeInfoRoom::kIID, room.put_void()));
    ComPtr<ICreateTypeInfoRoom> roomOfView;
    ASSERT_OK(view->QueryInterface(ICreateTypeInfoRoom::kIID, roomOfView.put_void()));
    EXPECT_EQ(room.get(), roomOfView.get());
    ComPtr<ICreateTypeInfo2> back;
    ASSERT_OK(room->QueryInterface(ICreateTypeInfo2::kIID, back.put_void()));
    EXPECT_EQ(fx.foo.get(), back.get());
    auto identity = [](IUnknown* p) {
        ComPtr<IUnknown> unk;
        EXPECT_OK(p->QueryInterface(IUnknown::kIID, unk.put_void()));
        return unk.get();
    };
    auto half = Read(fx.foo);
    EXPECT_EQ(identity(fx.foo.get()), identity(room.get()));
    EXPECT_EQ(identity(fx.foo.get()), identity(half.get()));
    EXPECT_EQ(identity(fx.foo.get()), static_cast<IUnknown*>(half.get()));
    const ULONG count = fx.foo->AddRef();
    EXPECT_EQ(count + 1, room->AddRef());
    EXPECT_EQ(count + 2, half->AddRef());
    EXPECT_EQ(count + 1, fx.foo->Release());
    EXPECT_EQ(count, room->Release());
    EXPECT_EQ(count - 1, half->Release());
}

// Room asked for after the dispatch views were read moves the functions they
// show (the dual's own and a derived dual's inherited ones): the views read
// the moved functions, as after any edit.
TEST(EngineDual, RoomForMoreMembersKeepsTheDispatchViewsReadingTheFunctions) {
    DualFixture fx;
    auto derived = NewType(fx.lib.get(), u"IDerived", TKIND_INTERFACE);
    ASSERT_OK(derived->SetTypeFlags(TYPEFLAG_FDUAL));
    ASSERT_OK(derived->AddImplType(0, RefTo(derived.get(), Read(fx.foo).get())));
    ComPtr<ITypeInfo> view, derivedView;
    ASSERT_OK(fx.lib.As<ITypeLib>()->GetTypeInfo(1, view.put()));
    ASSERT_OK(fx.lib.As<ITypeLib>()->GetTypeInfo(2, derivedView.put()));
    ASSERT_EQ(0x60020001, FuncAt(view.get(), 8).memid);
    ASSERT_EQ(0x60020001, FuncAt(derivedView.get(), 8).memid);
    ComPtr<ICreateTypeInfoRoom> room;
    ASSERT_OK(fx.foo->QueryInterface(ICreateTypeInfoRoom::kIID, room.put_void()));
    ASSERT_OK(room->ReserveMembers(200, 0));
    for (ITypeInfo* v : {view.get(), derivedView.get()}) {
        const FuncInfo value = FuncAt(v, 8);
        EXPECT_EQ(0x60020001, value.memid);
        EXPECT_EQ(VT_BSTR, value.ret);
        EXPECT_EQ(std::vector<std::u16string>{u"Value"}, NamesOf(v, 0x60020001));
    }
}

}  // namespace
