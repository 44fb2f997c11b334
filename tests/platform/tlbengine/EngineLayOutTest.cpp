// LayOut: vtable offsets, automatic member ids, record layout, alias sizes and
// the atomic failure that the layout probe relies on.
#include "support/EngineTestSupport.h"

using namespace enginetest;

namespace {

TEST(EngineLayOut, StandardBasesGetThePlatformsIdsAndVtableSizes) {
    StdBases std;
    TYPEATTR u = Attr(std.unknown.get());
    EXPECT_EQ(12, u.cbSizeVft);
    EXPECT_EQ(0, u.wTypeFlags & TYPEFLAG_FDISPATCHABLE);
    for (UINT i = 0; i < 3; ++i) {
        EXPECT_EQ(0x60000000 + static_cast<MEMBERID>(i), FuncAt(std.unknown.get(), i).memid);
        EXPECT_EQ(static_cast<SHORT>(4 * i), FuncAt(std.unknown.get(), i).oVft);
    }
    TYPEATTR d = Attr(std.dispatch.get());
    EXPECT_EQ(28, d.cbSizeVft);
    EXPECT_EQ(1, d.cImplTypes);
    // Only types derived from IDispatch are dispatchable, as the standard
    // libraries store IDispatch.
    EXPECT_EQ(0, d.wTypeFlags & TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(0x60010000, FuncAt(std.dispatch.get(), 0).memid);
    EXPECT_EQ(0x60010003, FuncAt(std.dispatch.get(), 3).memid);
    EXPECT_EQ(12, FuncAt(std.dispatch.get(), 0).oVft);
}

TEST(EngineLayOut, InterfaceOnIDispatchNumbersFromDepthTwoAndFollowsItsBase) {
    StdBases std;
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), std.dispatch.get())));
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL));
    ASSERT_OK(AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL));
    ASSERT_OK(foo->LayOut());
    auto ti = Read(foo);
    TYPEATTR a = Attr(ti.get());
    EXPECT_EQ(36, a.cbSizeVft);
    EXPECT_NE(0, a.wTypeFlags & TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(0x60020000, FuncAt(ti.get(), 0).memid);
    EXPECT_EQ(0x60020001, FuncAt(ti.get(), 1).memid);
    EXPECT_EQ(28, FuncAt(ti.get(), 0).oVft);
    EXPECT_EQ(32, FuncAt(ti.get(), 1).oVft);
    // Inherited members are found by name and id.
    std::u16string name = u"invoke";
    LPOLESTR names[] = {name.data()};
    MEMBERID id = 0;
    ASSERT_OK(ti->GetIDsOfNames(names, 1, &id));
    EXPECT_EQ(0x60010003, id);

    // Rebased onto IUnknown: FDISPATCHABLE stays, automatic offsets follow,
    // ids once assigned stay.
    ASSERT_OK(foo->DeleteImplType(0));
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), std.unknown.get())));
    ASSERT_OK(foo->LayOut());
    a = Attr(ti.get());
    EXPECT_EQ(20, a.cbSizeVft);
    EXPECT_NE(0, a.wTypeFlags & TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(12, FuncAt(ti.get(), 0).oVft);
    EXPECT_EQ(0x60020000, FuncAt(ti.get(), 0).memid);
}

TEST(EngineLayOut, ExplicitOffsetsAreKeptAndExtendTheVtable) {
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, MEMBERID_NIL,
                      static_cast<SHORT>(0xAAAC)));
    ASSERT_OK(AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, MEMBERID_NIL,
                      static_cast<SHORT>(0xAAA8)));
    EXPECT_EQ(0xAAB0, Attr(Read(foo).get()).cbSizeVft);  // before LayOut too
    ASSERT_OK(foo->LayOut());
    EXPECT_EQ(0xAAB0, Attr(Read(foo).get()).cbSizeVft);
    EXPECT_EQ(static_cast<SHORT>(0xAAAC), FuncAt(Read(foo).get(), 0).oVft);
    EXPECT_EQ(E_INVALIDARG, AddFunc(foo.get(), 2, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, MEMBERID_NIL, 6));
}

// The layout probe: add an automatic function, lay out, delete it again.
HRESULT Probe(ICreateTypeInfo2* ti) {
    UINT n = Attr(Read(ComPtr<ICreateTypeInfo2>(ti)).get()).cFuncs;
    EXPECT_OK(AddFunc(ti, n, FUNC_PUREVIRTUAL));
    HRESULT hr = ti->LayOut();
    EXPECT_OK(ti->DeleteFuncDesc(n));
    return hr;
}

TEST(EngineLayOut, ProbeFailsOnAHandOrderedVtableAndChangesNothing) {
    StdBases std;
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), std.unknown.get())));
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 1, 16));
    ASSERT_OK(AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 2, 12));
    ASSERT_OK(foo->LayOut());
    auto ti = Read(foo);
    TYPEATTR before = Attr(ti.get());
    EXPECT_EQ(20, before.cbSizeVft);

    EXPECT_EQ(TYPE_E_INVALIDSTATE, Probe(foo.get()));
    TYPEATTR after = Attr(ti.get());
    EXPECT_EQ(before.cbSizeVft, after.cbSizeVft);
    EXPECT_EQ(2, after.cFuncs);
    EXPECT_EQ(16, FuncAt(ti.get(), 0).oVft);
    EXPECT_EQ(12, FuncAt(ti.get(), 1).oVft);
    ASSERT_OK(foo->LayOut());  // re-runnable
    EXPECT_EQ(16, FuncAt(ti.get(), 0).oVft);

    // Offsets in canonical order let the probe succeed.
    auto bar = NewType(lib.get(), u"IBar", TKIND_INTERFACE);
    ASSERT_OK(bar->AddImplType(0, RefTo(bar.get(), std.unknown.get())));
    ASSERT_OK(AddFunc(bar.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 1, 12));
    ASSERT_OK(AddFunc(bar.get(), 1, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 2, 16));
    EXPECT_OK(Probe(bar.get()));
    EXPECT_OK(bar->LayOut());
    EXPECT_EQ(20, Attr(Read(bar).get()).cbSizeVft);

    // Two functions in one slot never lay out.
    auto dup = NewType(lib.get(), u"IDup", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(dup.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 1, 8));
    ASSERT_OK(AddFunc(dup.get(), 1, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 2, 8));
    EXPECT_EQ(TYPE_E_INVALIDSTATE, dup->LayOut());
}

TEST(EngineLayOut, ABaseNotYetLaidOutIsComputedNotReadStale) {
    StdBases std;
    auto lib = NewLib();
    auto base = NewType(lib.get(), u"IBase", TKIND_INTERFACE);
    ASSERT_OK(base->AddImplType(0, RefTo(base.get(), std.unknown.get())));
    ASSERT_OK(AddFunc(base.get(), 0, FUNC_PUREVIRTUAL));
    ASSERT_OK(AddFunc(base.get(), 1, FUNC_PUREVIRTUAL));
    auto derived = NewType(lib.get(), u"IDerived", TKIND_INTERFACE);
    ASSERT_OK(derived->AddImplType(0, RefTo(derived.get(), Read(base).get())));
    ASSERT_OK(AddFunc(derived.get(), 0, FUNC_PUREVIRTUAL));
    ASSERT_OK(derived->LayOut());
    EXPECT_EQ(20, FuncAt(Read(derived).get(), 0).oVft);
    EXPECT_EQ(24, Attr(Read(derived).get()).cbSizeVft);
    EXPECT_EQ(0x60020000, FuncAt(Read(derived).get(), 0).memid);

    ASSERT_OK(base->DeleteImplType(0));
    EXPECT_EQ(TYPE_E_CIRCULARTYPE, base->AddImplType(0, RefTo(base.get(), Read(derived).get())));
    EXPECT_EQ(TYPE_E_CIRCULARTYPE, base->AddImplType(0, RefTo(base.get(), Read(base).get())));
    EXPECT_EQ(0, Attr(Read(base).get()).cImplTypes);
}

// A function added without an id gets one at once, readable before any
// layout: 0x60000000, the inheritance depth, and the number of functions
// added to the type before it (not its index; deleted ones keep their
// numbers), moving past ids in use. A later base change or layout keeps it.
TEST(EngineLayOut, AutomaticFunctionIdsCountAdditionsAndAreGivenAtOnce) {
    StdBases std;
    auto lib = NewLib();
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), std.unknown.get())));
    auto ti = Read(foo);
    auto add = [&](UINT at, const char16_t* name, MEMBERID memid = MEMBERID_NIL) {
        ASSERT_OK(AddFunc(foo.get(), at, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, memid));
        ASSERT_OK(SetNames(foo.get(), at, {name}));
    };
    for (UINT i = 0; i < 4; ++i) add(i, std::u16string(1, static_cast<char16_t>(u'A' + i)).c_str());
    add(4, u"E");  // the 5th addition
    ASSERT_OK(foo->DeleteFuncDesc(0));
    ASSERT_OK(foo->DeleteFuncDesc(0));
    add(3, u"F");
    add(4, u"G");
    add(4, u"H");  // the 8th addition, at index 4
    add(6, u"I", 0x60010009);
    add(7, u"J");  // its number is taken: the next free one
    const std::vector<std::pair<const char16_t*, MEMBERID>> expected = {
        {u"C", 0x60010002}, {u"D", 0x60010003}, {u"E", 0x60010004}, {u"F", 0x60010005}, {u"H", 0x60010007},
        {u"G", 0x60010006}, {u"I", 0x60010009}, {u"J", 0x6001000A}};
    auto check = [&] {
        ASSERT_EQ(expected.size(), Attr(ti.get()).cFuncs);
        for (UINT i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(expected[i].second, FuncAt(ti.get(), i).memid) << i;
            EXPECT_EQ(std::vector<std::u16string>{expected[i].first}, NamesOf(ti.get(), expected[i].second)) << i;
        }
    };
    check();  // before any layout
    ASSERT_OK(foo->LayOut());
    check();
    // Rebased onto IDispatch: the ids stay; a function added now is one level deeper.
    ASSERT_OK(foo->DeleteImplType(0));
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), std.dispatch.get())));
    check();
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL));
    EXPECT_EQ(0x6002000A, FuncAt(ti.get(), 0).memid);

    // Without a base the depth is 0; a dispinterface stands on IDispatch.
    auto bare = NewType(lib.get(), u"IBare", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(bare.get(), 0, FUNC_PUREVIRTUAL));
    EXPECT_EQ(0x60000000, FuncAt(Read(bare).get(), 0).memid);
    auto disp = NewType(lib.get(), u"DFoo", TKIND_DISPATCH);
    ASSERT_OK(AddFunc(disp.get(), 0, FUNC_DISPATCH));
    EXPECT_EQ(0x60020000, FuncAt(Read(disp).get(), 0).memid);
}

TEST(EngineLayOut, RecordOffsetsFollowWin32AlignmentCappedByThePacking) {
    auto lib = NewLib();
    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    const VARTYPE fields[] = {VT_I2, VT_I4, VT_BOOL, VT_R8, VT_BSTR, VT_UI1};
    const char16_t* names[] = {u"a", u"b", u"c", u"d", u"e", u"f"};
    for (UINT i = 0; i < 6; ++i) ASSERT_OK(AddVar(rec.get(), i, VAR_PERINSTANCE, fields[i], names[i]));
    ASSERT_OK(rec->LayOut());
    auto ti = Read(rec);
    const ULONG expected[] = {0, 4, 8, 12, 20, 24};
    for (UINT i = 0; i < 6; ++i) EXPECT_EQ(expected[i], VarAt(ti.get(), i).oInst) << i;
    TYPEATTR a = Attr(ti.get());
    EXPECT_EQ(28u, a.cbSizeInstance);
    EXPECT_EQ(4, a.cbAlignment);
    EXPECT_EQ(0x40000000, VarAt(ti.get(), 0).memid);
    EXPECT_EQ(0x40000005, VarAt(ti.get(), 5).memid);

    ASSERT_OK(rec->SetAlignment(1));
    ASSERT_OK(rec->LayOut());
    const ULONG packed[] = {0, 2, 6, 8, 16, 20};
    for (UINT i = 0; i < 6; ++i) EXPECT_EQ(packed[i], VarAt(ti.get(), i).oInst) << i;
    a = Attr(ti.get());
    EXPECT_EQ(21u, a.cbSizeInstance);
    EXPECT_EQ(1, a.cbAlignment);

    // A record holding a not yet laid out record and a fixed array of it.
    auto inner = NewType(lib.get(), u"Inner", TKIND_RECORD);
    ASSERT_OK(AddVar(inner.get(), 0, VAR_PERINSTANCE, VT_I2, u"x"));
    ASSERT_OK(AddVar(inner.get(), 1, VAR_PERINSTANCE, VT_UI1, u"y"));
    auto outer = NewType(lib.get(), u"Outer", TKIND_RECORD);
    HREFTYPE h = RefTo(outer.get(), Read(inner).get());
    ASSERT_OK(AddVar(outer.get(), 0, VAR_PERINSTANCE, VT_UI1, u"tag"));
    TypeDescs d;
    ASSERT_NO_FATAL_FAILURE(testsupport::AddVar(outer.get(), 1, u"items", d.CArray(User(h), {{0, 3}})));
    ASSERT_OK(outer->LayOut());
    EXPECT_EQ(2u, VarAt(Read(outer).get(), 1).oInst);
    EXPECT_EQ(14u, Attr(Read(outer).get()).cbSizeInstance);  // 2 + 3 x 4

    auto uni = NewType(lib.get(), u"Uni", TKIND_UNION);
    ASSERT_OK(AddVar(uni.get(), 0, VAR_PERINSTANCE, VT_UI1, u"b"));
    ASSERT_OK(AddVar(uni.get(), 1, VAR_PERINSTANCE, VT_R8, u"d"));
    ASSERT_OK(uni->LayOut());
    EXPECT_EQ(0u, VarAt(Read(uni).get(), 1).oInst);
    EXPECT_EQ(8u, Attr(Read(uni).get()).cbSizeInstance);
}

TEST(EngineLayOut, DeeplyNestedRecordsAreSizedOncePerLevelUpTo256Levels) {
    // Nine levels of eight fields: level 0 holds eight longs, each level above
    // eight of the level below (without sizing each type once per pass, this
    // is 8^9 layouts).
    auto lib = NewLib();
    std::vector<ComPtr<ICreateTypeInfo2>> levels;
    for (int k = 0; k < 9; ++k) {
        std::u16string name = u"Level" + std::u16string(1, static_cast<char16_t>(u'0' + k));
        levels.push_back(NewType(lib.get(), name.c_str(), TKIND_RECORD));
        const HREFTYPE below = k == 0 ? 0 : RefTo(levels[k].get(), Read(levels[k - 1]).get());
        for (UINT i = 0; i < 8; ++i) {
            const std::u16string field(1, static_cast<char16_t>(u'a' + i));
            ASSERT_NO_FATAL_FAILURE(testsupport::AddVar(levels[k].get(), i, field, k == 0 ? Td(VT_I4) : User(below)));
        }
    }
    ASSERT_OK(levels[8]->LayOut());
    auto top = Read(levels[8]);
    EXPECT_EQ(32u << 24, Attr(top.get()).cbSizeInstance);  // 32 bytes x 8^8
    EXPECT_EQ(4, Attr(top.get()).cbAlignment);
    EXPECT_EQ(7u * (32u << 21), VarAt(top.get(), 7).oInst);

    // A cycle through the chain is still found, and the failed layout changes nothing.
    ASSERT_NO_FATAL_FAILURE(testsupport::AddVar(levels[0].get(), 8, u"loop", User(RefTo(levels[0].get(), top.get()))));
    EXPECT_EQ(TYPE_E_CIRCULARTYPE, levels[8]->LayOut());
    EXPECT_EQ(32u << 24, Attr(top.get()).cbSizeInstance);

    // Nesting deeper than 256 levels is refused rather than sized on an exhausted stack.
    std::vector<ComPtr<ICreateTypeInfo2>> chain;
    for (int k = 0; k < 257; ++k) {
        const std::string digits = std::to_string(k);
        chain.push_back(NewType(lib.get(), (u"Chain" + std::u16string(digits.begin(), digits.end())).c_str(), TKIND_RECORD));
        const TYPEDESC field = k == 0 ? Td(VT_I4) : User(RefTo(chain[k].get(), Read(chain[k - 1]).get()));
        ASSERT_NO_FATAL_FAILURE(testsupport::AddVar(chain[k].get(), 0, u"f", field));
    }
    EXPECT_EQ(TYPE_E_SIZETOOBIG, chain[256]->LayOut());
    EXPECT_OK(chain[255]->LayOut());
}

TEST(EngineLayOut, PointerSizedFieldsFollowTheLibrarysPlatform) {
    auto lib = NewLib(SYS_WIN64);
    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    ASSERT_OK(AddVar(rec.get(), 0, VAR_PERINSTANCE, VT_BSTR, u"s"));
    ASSERT_OK(AddVar(rec.get(), 1, VAR_PERINSTANCE, VT_VARIANT, u"v"));
    ASSERT_OK(rec->LayOut());
    EXPECT_EQ(8u, VarAt(Read(rec).get(), 1).oInst);
    EXPECT_EQ(32u, Attr(Read(rec).get()).cbSizeInstance);
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL));
    ASSERT_OK(AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL));
    EXPECT_EQ(E_INVALIDARG, AddFunc(foo.get(), 2, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, MEMBERID_NIL, 12));
    ASSERT_OK(foo->LayOut());
    EXPECT_EQ(8, FuncAt(Read(foo).get(), 1).oVft);
    EXPECT_EQ(16, Attr(Read(foo).get()).cbSizeVft);
}

// The standard library is a Win32 one: a Win64 interface on IUnknown or
// IDispatch still counts their slots with 8-byte pointers.
TEST(EngineLayOut, Win64InterfacesOnTheStandardLibraryCountInheritedSlotsAtEightBytes) {
    ComPtr<ITypeLib> stdole;
    ASSERT_OK(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, stdole.put()));
    ComPtr<ITypeInfo> unknown, dispatch;
    ASSERT_OK(stdole->GetTypeInfoOfGuid(kIID_IUnknown, unknown.put()));
    ASSERT_OK(stdole->GetTypeInfoOfGuid(kIID_IDispatch, dispatch.put()));
    auto lib = NewLib(SYS_WIN64);
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    ASSERT_OK(foo->AddImplType(0, RefTo(foo.get(), unknown.get())));
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL));
    ASSERT_OK(AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL));
    ASSERT_OK(foo->LayOut());
    EXPECT_EQ(24, FuncAt(Read(foo).get(), 0).oVft);
    EXPECT_EQ(32, FuncAt(Read(foo).get(), 1).oVft);
    EXPECT_EQ(40, Attr(Read(foo).get()).cbSizeVft);

    auto dual = NewType(lib.get(), u"IDual", TKIND_INTERFACE);
    ASSERT_OK(dual->SetTypeFlags(TYPEFLAG_FDUAL));
    ASSERT_OK(dual->AddImplType(0, RefTo(dual.get(), dispatch.get())));
    ASSERT_OK(AddFunc(dual.get(), 0, FUNC_PUREVIRTUAL));
    ASSERT_OK(dual->LayOut());
    EXPECT_EQ(56, FuncAt(Read(dual).get(), 0).oVft);
    EXPECT_EQ(64, Attr(Read(dual).get()).cbSizeVft);
    ComPtr<ITypeInfo> view;
    ASSERT_OK(lib.As<ITypeLib>()->GetTypeInfo(1, view.put()));
    ASSERT_EQ(8, Attr(view.get()).cFuncs);
    for (UINT i = 0; i < 8; ++i) EXPECT_EQ(static_cast<SHORT>(8 * i), FuncAt(view.get(), i).oVft) << i;
}

TEST(EngineLayOut, AliasTakesTheSizeOfTheAliasedType) {
    auto lib = NewLib();
    struct Case {
        VARTYPE vt;
        ULONG size;
        WORD align;
    } cases[] = {{VT_R8, 8, 4}, {VT_VARIANT, 16, 4}, {VT_BOOL, 2, 2}, {VT_UI1, 1, 1}, {VT_BSTR, 4, 4}};
    int n = 0;
    for (const Case& c : cases) {
        std::u16string name = u"Alias" + std::u16string(1, static_cast<char16_t>(u'A' + n++));
        auto alias = NewType(lib.get(), name.c_str(), TKIND_ALIAS);
        TYPEDESC td = Td(c.vt);
        ASSERT_OK(alias->SetTypeDescAlias(&td));
        ASSERT_OK(alias->LayOut());
        TYPEATTR a = Attr(Read(alias).get());
        EXPECT_EQ(c.size, a.cbSizeInstance) << c.vt;
        EXPECT_EQ(c.align, a.cbAlignment) << c.vt;
    }
    // The chain reads back pointer-linked.
    auto ptr = NewType(lib.get(), u"PtrAlias", TKIND_ALIAS);
    TYPEDESC target = Td(VT_I2);
    TYPEDESC td{};
    td.vt = VT_PTR;
    td.lptdesc = &target;
    ASSERT_OK(ptr->SetTypeDescAlias(&td));
    TYPEATTR* a = nullptr;
    ASSERT_OK(Read(ptr)->GetTypeAttr(&a));
    EXPECT_EQ(VT_PTR, a->tdescAlias.vt);
    ASSERT_NE(nullptr, a->tdescAlias.lptdesc);
    EXPECT_EQ(VT_I2, a->tdescAlias.lptdesc->vt);
    Read(ptr)->ReleaseTypeAttr(a);

    auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
    EXPECT_EQ(TYPE_E_BADMODULEKIND, rec->SetTypeDescAlias(&td));
    EXPECT_EQ(E_INVALIDARG, ptr->SetTypeDescAlias(nullptr));
}

TEST(EngineLayOut, EnumsModulesAndDispinterfacesGetTheirKindsSizesAndIds) {
    StdBases std;
    auto lib = NewLib();
    auto en = NewType(lib.get(), u"Colors", TKIND_ENUM);
    Variant one = Variant::Int(1), two = Variant::Int(2);
    ASSERT_OK(AddVar(en.get(), 0, VAR_CONST, VT_INT, u"Red", one.ptr()));
    ASSERT_OK(AddVar(en.get(), 1, VAR_CONST, VT_INT, u"Green", two.ptr()));
    EXPECT_EQ(TYPE_E_BADMODULEKIND, AddVar(en.get(), 2, VAR_PERINSTANCE, VT_INT, u"Blue"));
    ASSERT_OK(en->LayOut());
    EXPECT_EQ(0x40000001, VarAt(Read(en).get(), 1).memid);
    EXPECT_EQ(4u, Attr(Read(en).get()).cbSizeInstance);

    auto mod = NewType(lib.get(), u"Funcs", TKIND_MODULE);
    ASSERT_OK(AddFunc(mod.get(), 0, FUNC_STATIC, INVOKE_FUNC, VT_I4, {}, MEMBERID_NIL, 40));
    EXPECT_EQ(TYPE_E_BADMODULEKIND, AddFunc(mod.get(), 1, FUNC_PUREVIRTUAL));
    ASSERT_OK(mod->LayOut());
    EXPECT_EQ(0, FuncAt(Read(mod).get(), 0).oVft);
    EXPECT_EQ(0, Attr(Read(mod).get()).cbSizeVft);

    auto disp = NewType(lib.get(), u"DFoo", TKIND_DISPATCH);
    HREFTYPE h = RefTo(disp.get(), std.dispatch.get());
    ASSERT_OK(disp->AddImplType(0, h));
    ASSERT_OK(AddFunc(disp.get(), 0, FUNC_DISPATCH, INVOKE_FUNC, VT_VOID));
    ASSERT_OK(AddVar(disp.get(), 0, VAR_DISPATCH, VT_BSTR, u"Name"));
    EXPECT_EQ(TYPE_E_BADMODULEKIND, AddFunc(disp.get(), 1, FUNC_PUREVIRTUAL));
    ASSERT_OK(disp->LayOut());
    auto dti = Read(disp);
    TYPEATTR a = Attr(dti.get());
    EXPECT_EQ(TKIND_DISPATCH, a.typekind);
    EXPECT_EQ(28, a.cbSizeVft);
    EXPECT_NE(0, a.wTypeFlags & TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(0x60020000, FuncAt(dti.get(), 0).memid);
    EXPECT_EQ(0x40020000, VarAt(dti.get(), 0).memid);
    HREFTYPE partner = 0;
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, dti->GetRefTypeOfImplType(static_cast<UINT>(-1), &partner));
    ASSERT_OK(disp->AddImplType(1, h));
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, disp->AddImplType(2, h));
}

}  // namespace
