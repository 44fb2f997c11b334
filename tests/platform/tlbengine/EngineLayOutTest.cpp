// LayOut: vtable offsets, automatic member ids, record layout, alias sizes and
// the atomic failure that the layout probe relies on.
#include <cstdio>
#include <tuple>

#include "support/EngineTestSupport.h"
#include "support/ReferenceDump.h"

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
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, MEMBERID_NIL, 0x2AAC));
    ASSERT_OK(AddFunc(foo.get(), 1, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, MEMBERID_NIL, 0x2AA8));
    EXPECT_EQ(0x2AB0, Attr(Read(foo).get()).cbSizeVft);  // before LayOut too
    ASSERT_OK(foo->LayOut());
    EXPECT_EQ(0x2AB0, Attr(Read(foo).get()).cbSizeVft);
    EXPECT_EQ(0x2AAC, FuncAt(Read(foo).get(), 0).oVft);
    EXPECT_EQ(E_INVALIDARG, AddFunc(foo.get(), 2, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, MEMBERID_NIL, 6));
}

// Offsets past 0x7FFF: the creation interfaces take them as they take any
// other, and a reader gets the 16-bit value back as the signed number it is
// stored as. (Keeping them out of a library is the editor's concern.)
class EngineVtableOffsets : public ::testing::TestWithParam<SYSKIND> {
protected:
    static std::u16string TempPath(const char* name) { return FromUtf8(::testing::TempDir() + name); }
};

TEST_P(EngineVtableOffsets, PastTheSignedRangeAreAcceptedAndReadBackSigned) {
    const SYSKIND sys = GetParam();
    const int ptr = sys == SYS_WIN64 ? 8 : 4;
    const std::u16string path = TempPath(sys == SYS_WIN64 ? "engine_vtoff64.tlb" : "engine_vtoff32.tlb");
    ComPtr<ICreateTypeLib2> lib;
    ASSERT_OK(CreateTypeLib2(sys, path.c_str(), lib.put()));
    ASSERT_OK(lib->SetName(u"VtOff"));
    auto foo = NewType(lib.get(), u"IFoo", TKIND_INTERFACE);
    // 0xAAAC is no multiple of a Win64 pointer; 0xAAB0 is.
    const HRESULT odd = AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 1, static_cast<SHORT>(0xAAAC));
    if (sys == SYS_WIN64) {
        EXPECT_EQ(E_INVALIDARG, odd);
        EXPECT_EQ(0u, Attr(Read(foo).get()).cFuncs);
        ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 1, static_cast<SHORT>(0xAAB0)));
    } else {
        ASSERT_OK(odd);
    }
    ASSERT_OK(AddFunc(foo.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 2, static_cast<SHORT>(0xAAA8)));
    ASSERT_OK(SetNames(foo.get(), 0, {u"A"}));
    ASSERT_OK(SetNames(foo.get(), 1, {u"B"}));
    EXPECT_EQ(static_cast<SHORT>(0xAAA8), FuncAt(Read(foo).get(), 0).oVft);
    // The last slot that reads positive, and the first end past it.
    ASSERT_OK(AddFunc(foo.get(), 2, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 3, 0x7FF8));
    ASSERT_OK(SetNames(foo.get(), 2, {u"C"}));
    ASSERT_OK(foo->LayOut());
    const SHORT second = static_cast<SHORT>(sys == SYS_WIN64 ? 0xAAB0 : 0xAAAC);
    EXPECT_EQ(static_cast<SHORT>(0xAAA8), FuncAt(Read(foo).get(), 0).oVft);
    EXPECT_EQ(second, FuncAt(Read(foo).get(), 1).oVft);
    EXPECT_EQ(0x7FF8, FuncAt(Read(foo).get(), 2).oVft);
    EXPECT_EQ(static_cast<USHORT>(second) + ptr, Attr(Read(foo).get()).cbSizeVft);

    // 0x7FFC (no Win64 slot): accepted, it ends the vtable at 0x8000.
    auto edge = NewType(lib.get(), u"IEdge", TKIND_INTERFACE);
    const HRESULT last = AddFunc(edge.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 1, 0x7FFC);
    if (sys == SYS_WIN64) {
        EXPECT_EQ(E_INVALIDARG, last);
        ASSERT_OK(AddFunc(edge.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 1, 0x7FF8));
    } else {
        ASSERT_OK(last);
    }
    ASSERT_OK(SetNames(edge.get(), 0, {u"Last"}));
    ASSERT_OK(edge->LayOut());
    const SHORT edgeSlot = sys == SYS_WIN64 ? 0x7FF8 : 0x7FFC;
    EXPECT_EQ(edgeSlot, FuncAt(Read(edge).get(), 0).oVft);
    EXPECT_EQ(edgeSlot + ptr, Attr(Read(edge).get()).cbSizeVft);

    // Automatic slots after that base run on past 0x7FFF as well.
    auto derived = NewType(lib.get(), u"IDerived", TKIND_INTERFACE);
    ASSERT_OK(derived->AddImplType(0, RefTo(derived.get(), Read(edge).get())));
    ASSERT_OK(AddFunc(derived.get(), 0, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 1));
    ASSERT_OK(SetNames(derived.get(), 0, {u"Next"}));
    ASSERT_OK(derived->LayOut());
    EXPECT_EQ(static_cast<SHORT>(edgeSlot + ptr), FuncAt(Read(derived).get(), 0).oVft);
    EXPECT_EQ(edgeSlot + 2 * ptr, Attr(Read(derived).get()).cbSizeVft);

    // Read back after a save: the platform gives
    // (short)(offset * host pointer size / the library's pointer size); the
    // engine reads a library at its own platform's pointer size, so the two
    // sizes are one and the offset comes back as it was stored.
    ASSERT_OK(lib->SaveAllChanges());
    ComPtr<ITypeLib> back;
    ASSERT_OK(LoadTypeLibEx(path.c_str(), REGKIND_NONE, back.put()));
    ComPtr<ITypeInfo> loaded, loadedEdge, loadedDerived;
    ASSERT_OK(back->GetTypeInfo(0, loaded.put()));
    ASSERT_OK(back->GetTypeInfo(1, loadedEdge.put()));
    ASSERT_OK(back->GetTypeInfo(2, loadedDerived.put()));
    const int hostPtr = ptr;
    EXPECT_EQ(static_cast<SHORT>(0xAAA8 * hostPtr / ptr), FuncAt(loaded.get(), 0).oVft);
    EXPECT_EQ(second, FuncAt(loaded.get(), 1).oVft);
    EXPECT_EQ(0x7FF8, FuncAt(loaded.get(), 2).oVft);
    EXPECT_EQ(static_cast<USHORT>(second) + ptr, Attr(loaded.get()).cbSizeVft);
    EXPECT_EQ(edgeSlot, FuncAt(loadedEdge.get(), 0).oVft);
    EXPECT_EQ(static_cast<SHORT>(edgeSlot + ptr), FuncAt(loadedDerived.get(), 0).oVft);

    // The platform itself, a 32-bit process, reads the file so: each stored
    // offset as the signed number it is, at its own pointer size.
    if (const std::optional<std::string> platform = testsupport::ReferenceDump(ToUtf8(path))) {
        for (const int stored : {0xAAA8, static_cast<int>(static_cast<USHORT>(second)), 0x7FF8}) {
            const std::string text = "vtoff=" + std::to_string(static_cast<SHORT>(stored) * 4 / ptr) + " ";
            EXPECT_NE(platform->find(text), std::string::npos) << text << "\n" << *platform;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothPointerSizes, EngineVtableOffsets, ::testing::Values(SYS_WIN32, SYS_WIN64),
                         [](const ::testing::TestParamInfo<SYSKIND>& info) {
                             return std::string(info.param == SYS_WIN64 ? "Win64" : "Win32");
                         });

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

// Automatic function ids as the platform gives them. They are fixed the
// first time the functions are read, or at layout: each function still
// without one takes 0x60000000 | depth << 16 | its index when that is free,
// else the first free id counting up from the number of functions; once
// fixed, an id stays where its function goes.
TEST(EngineLayOut, AutomaticFunctionIdsAreFixedWhenFirstReadOrLaidOut) {
    ComPtr<ITypeLib> stdole;
    ASSERT_OK(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, stdole.put()));
    ComPtr<ITypeInfo> unknown;
    ASSERT_OK(stdole->GetTypeInfoOfGuid(kIID_IUnknown, unknown.put()));
    const std::string path = ::testing::TempDir() + "engine_automatic_ids.tlb";
    ComPtr<ICreateTypeLib2> lib;
    ASSERT_OK(CreateTypeLib2(SYS_WIN32, FromUtf8(path).c_str(), lib.put()));
    ASSERT_OK(lib->SetName(u"Ids"));
    auto one = NewType(lib.get(), u"IOne", TKIND_INTERFACE);
    ASSERT_OK(one->AddImplType(0, RefTo(one.get(), unknown.get())));
    // Explicit ids first: a function, a put and a putref with id 0, a function with id 1.
    const std::tuple<UINT, INVOKEKIND, MEMBERID> explicitIds[] = {
        {0, INVOKE_FUNC, 0}, {1, INVOKE_PROPERTYPUT, 0}, {0, INVOKE_PROPERTYPUTREF, 0}, {1, INVOKE_FUNC, 1}};
    for (auto [at, kind, id] : explicitIds)
        ASSERT_OK(AddFunc(one.get(), at, FUNC_PUREVIRTUAL, kind, VT_HRESULT, {VT_I4}, id));
    // Then automatic ones, each read back at once but the third at 3 (0: not read).
    const std::pair<UINT, MEMBERID> automatic[] = {{1, 0x60010001}, {4, 0x60010004}, {4, 0x60010007},
                                                   {3, 0x60010003}, {3, 0x60010009}, {3, 0},
                                                   {3, 0x6001000B}, {5, 0x60010005}, {6, 0x60010006}};
    for (auto [at, read] : automatic) {
        ASSERT_OK(AddFunc(one.get(), at, FUNC_PUREVIRTUAL));
        if (read) {
            EXPECT_EQ(read, FuncAt(Read(one).get(), at).memid) << at;
        }
    }
    auto two = NewType(lib.get(), u"ITwo", TKIND_INTERFACE);
    ASSERT_OK(two->AddImplType(0, RefTo(two.get(), Read(one).get())));
    ASSERT_OK(AddFunc(two.get(), 0, FUNC_PUREVIRTUAL));
    ASSERT_OK(AddFunc(two.get(), 0, FUNC_PUREVIRTUAL));
    EXPECT_EQ(0x60020000, FuncAt(Read(two).get(), 0).memid);
    ASSERT_OK(lib->SaveAllChanges());

    // After saving and loading: {type, index, id}.
    ComPtr<ITypeLib> back;
    ASSERT_OK(LoadTypeLibEx(FromUtf8(path).c_str(), REGKIND_NONE, back.put()));
    const std::tuple<UINT, UINT, MEMBERID> saved[] = {
        {0, 1, 0x60010001}, {0, 3, 0x6001000B}, {0, 4, 0x6001000C},  {0, 5, 0x60010005},  {0, 6, 0x60010006},
        {0, 7, 0x60010009}, {0, 8, 0x60010003}, {0, 10, 0x60010007}, {0, 11, 0x60010004}, {1, 0, 0x60020000},
        {1, 1, 0x60020001}};
    for (auto [type, at, id] : saved) {
        ComPtr<ITypeInfo> ti;
        ASSERT_OK(back->GetTypeInfo(type, ti.put()));
        EXPECT_EQ(id, FuncAt(ti.get(), at).memid) << type << " " << at;
    }
    std::remove(path.c_str());
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
