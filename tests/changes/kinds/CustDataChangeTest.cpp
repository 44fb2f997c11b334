// Custom data changes: added, replaced and removed at all six levels end to
// end; the pending lists; writes that fail part way; Decimal values; the
// committed history file.
#include "changes/RegenChangesSupport.h"
#include "changes/kinds/CustDataChange.h"
#include "platform/tlbengine/TypeLibData.h"

namespace changestest {
namespace {

constexpr GUID kFirst = {0xC0DA7A01, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kSecond = {0xC0DA7A02, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

// The library, a type, an implemented interface, a variable, a function and
// a parameter (the one that already holds custom data).
ChangeTarget Level(ITypeLib* lib, int level) {
    switch (level) {
        case 0: return LibraryTarget(lib);
        case 1: return TypeTarget(lib, u"IShape");
        case 2: return ImplTarget(lib, u"Shape", 1);
        case 3: return MemberTarget(lib, u"Matrix", u"rows", 0);
        case 4: return MemberTarget(lib, u"IShape", u"Area");
        default: return ParamTarget(lib, u"IShape", u"Fill", 0);
    }
}

std::shared_ptr<CustDataChange> Edit(ChangeTarget target) {
    auto change = modCustDataChange::NewCustDataChange(false);
    change->InitFromTarget(target);
    return change;
}

std::string Text(const ole::Variant& v) {
    return v.get().vt == VT_BSTR ? Utf8(std::u16string(v.get().bstrVal)) : "vt " + std::to_string(v.get().vt);
}

class CustData : public RegenSession {};

TEST_F(CustData, AddedReplacedAndRemovedAtAllSixLevelsReplayAlike) {
    Start(Shapes());
    for (int level = 0; level < 6; ++level) {
        auto c = Edit(Level(Lib(), level));
        c->SetItem(kFirst, ole::Variant(u"first"));
        c->SetItem(kSecond, ole::Variant(int32_t{level}));
        Do(c, Level(Lib(), level));
    }
    for (int level = 0; level < 6; ++level) {
        auto c = Edit(Level(Lib(), level));
        c->SetItem(kFirst, ole::Variant(u"replaced"));
        c->RemoveItem(kSecond);
        const ComPtr<ITypeLib> before(Lib());
        Do(c, Level(Lib(), level));
        EXPECT_NE(Lib(), before.get()) << "a removal regenerates";
    }
    ExpectReplayAlike(Shapes(), 12, "custdata-session");
    for (ITypeLib* edited : {Lib(), replayed.get()}) {
        for (int level = 0; level < 6; ++level) {
            auto now = Edit(Level(edited, level));
            EXPECT_EQ(Text(now->GetItem(kFirst)), "replaced") << level;
            EXPECT_EQ(now->GetItem(kSecond).get().vt, VT_EMPTY) << level;
        }
        EXPECT_EQ(Text(Edit(Level(edited, 5))->GetItem(kCountDataGuid)), "tenth");
    }
}

TEST_F(CustData, ThePendingListsHoldOnlyRealDifferences) {
    const ComPtr<ITypeLib> lib = Shapes();
    auto c = Edit(Level(lib.get(), 5));
    c->SetItem(kCountDataGuid, ole::Variant(u"tenth"));  // the value it has
    c->SetItem(kFirst, ole::Variant(int32_t{1}));
    c->RemoveItem(kFirst);  // only pending, and not held: nothing left
    EXPECT_EQ(c->SetCount() + c->RemoveCount(), 0);
    EXPECT_FALSE(c->Differs(*c));
    const std::string before = Dump(lib.get());
    RecordingListener heard{"l"};
    ChangeTarget target = Level(lib.get(), 5);
    CustomTypeLib view;
    view.Attach(lib.get());
    EXPECT_FALSE(c->Apply(view, nullptr, target, &heard, 0));
    EXPECT_TRUE(heard.Heard().empty());
    EXPECT_EQ(Dump(lib.get()), before);

    c->SetItem(kCountDataGuid, ole::Variant(u"eleventh"));
    c->SetItem(kCountDataGuid, ole::Variant(u"tenth"));  // back to its value: the set is dropped
    EXPECT_EQ(c->SetCount(), 0);
    c->RemoveItem(kSecond);  // neither pending nor held, twice: two removals
    c->RemoveItem(kSecond);
    EXPECT_EQ(c->RemoveCount(), 2);
    c->SetItem(kSecond, ole::Variant(int32_t{2}));  // a set drops the pending removal of its GUID
    EXPECT_EQ(c->RemoveCount(), 1);
    EXPECT_EQ(c->GetItem(kSecond).get().lVal, 2);
}

TEST_F(CustData, AWriteThatFailsUndoesTheWritesBeforeIt) {
    const ComPtr<ITypeLib> lib = Shapes();
    CustomTypeLib view;
    view.Attach(lib.get());
    RecordingListener heard{"l"};
    {
        // In place: the addition fails, the replacement written before it is set back.
        ChangeTarget target = Level(lib.get(), 5);
        auto c = Edit(target);
        c->SetItem(kCountDataGuid, ole::Variant(u"changed"));
        c->SetItem(kFirst, ole::Variant(u"new"));
        const std::string before = Dump(lib.get());
        ole::testing::FailNextCall("SetParamCustData", E_OUTOFMEMORY, 1);
        EXPECT_EQ(ErrorOf([&] { c->Apply(view, nullptr, target, &heard, 0); }), E_OUTOFMEMORY);
        EXPECT_EQ(Dump(lib.get()), before);
    }
    {
        // Into the regenerated library: it is dropped, the edited one stays.
        ChangeTarget target = Level(lib.get(), 5);
        auto c = Edit(target);
        c->RemoveItem(kCountDataGuid);
        c->SetItem(kFirst, ole::Variant(u"new"));
        const std::string before = Dump(lib.get());
        ole::testing::FailNextCall("SetParamCustData", E_OUTOFMEMORY);
        EXPECT_EQ(ErrorOf([&] { c->Apply(view, nullptr, target, &heard, 0); }), E_OUTOFMEMORY);
        EXPECT_FALSE(target.ReplacementLibrary);
        EXPECT_EQ(view.ReadView().get(), lib.As<ITypeLib2>().get());
        EXPECT_EQ(Dump(lib.get()), before);
    }
    for (bool injected : {true, false}) {
        // Two new items, the second failing: the first can't be taken away
        // in place, so both go into a regenerated library, which is dropped.
        ChangeTarget target = Level(lib.get(), 1);
        auto c = Edit(target);
        c->SetItem(kFirst, injected ? ole::Variant(u"new") : ole::Variant());
        c->SetItem(kSecond, ole::Variant(u"other"));
        const std::string before = Dump(lib.get());
        if (injected) ole::testing::FailNextCall("ICreateTypeInfo2::SetCustData", E_OUTOFMEMORY, 1);
        EXPECT_NE(ErrorOf([&] { c->Apply(view, nullptr, target, &heard, 0); }), 0);
        EXPECT_FALSE(target.ReplacementLibrary);
        EXPECT_EQ(view.ReadView().get(), lib.As<ITypeLib2>().get());
        EXPECT_TRUE(Dump(lib.get()) == before);
    }
    EXPECT_TRUE(heard.Heard().empty());
    ole::testing::ClearInjectedFailures();
}

TEST_F(CustData, ADecimalIsSetAndAHistoryHoldingOneSavesAndReadsItBackExactly) {
    Start(Shapes());
    DECIMAL d{};
    d.scale = 2;
    d.sign = DECIMAL_NEG;
    d.Hi32 = 7;
    d.Lo64 = 12345;
    auto c = Edit(Level(Lib(), 0));
    c->SetItem(kFirst, ole::Variant(d));
    Do(c, Level(Lib(), 0));
    EXPECT_EQ(Edit(Level(Lib(), 0))->GetItem(kFirst).get().vt, VT_DECIMAL);
    const std::u16string folder = ole::FromUtf8(dir.path().string());
    ASSERT_TRUE(history.SaveState(folder, u"h.leh"));
    Playback reopened;
    reopened.LoadState(folder, u"h.leh");
    reopened.AttachITypeLib(Shapes().get());
    ASSERT_TRUE(reopened.ExecuteCommand(kCmdRun, -1, 0));
    const ole::Variant back = Edit(Level(reopened.CurrentITypeLib().get(), 0))->GetItem(kFirst);
    ASSERT_EQ(back.get().vt, VT_DECIMAL);
    EXPECT_EQ(std::memcmp(&back.get().decVal.scale, &d.scale, sizeof d - offsetof(DECIMAL, scale)), 0);
}

TEST(CustDataGolden, OneRemovalAndTwoSets) {
    const ComPtr<ITypeLib> lib = Shapes();
    auto c = Edit(Level(lib.get(), 1));
    c->RemoveItem(kSecond);
    c->SetItem(kFirst, ole::Variant(u"text"));
    c->SetItem(kCountDataGuid, ole::Variant(int16_t{7}));
    ExpectGolden("custdata.leh", ChangeKind::CustDataChange, lib.get(), Level(lib.get(), 1), c);
}

}  // namespace
}  // namespace changestest
