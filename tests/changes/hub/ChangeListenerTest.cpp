// The hub, its registrations, the hook and the dirty-flag listener, and the
// change kind factory.
#include "changes/hub/ChangeListenerHook.h"
#include "changes/ChangesTestSupport.h"

namespace changestest {
namespace {

using Heard = std::vector<std::string>;

class HubTest : public ::testing::Test {
protected:
    HubTest() {
        hub->AddListenerNode(nodeA, a);
        hub->AddListenerNode(nodeB, b);
        hub->AddListenerNode(nodeC, c);
    }
    // One change notification through the hub.
    void Broadcast() {
        ChangeTarget t;
        hub->OnRenameChange(t, change, 2, 99);
    }
    Heard Take() { return std::exchange(heard, {}); }

    Heard heard;
    RecordingListener a{"A", &heard}, b{"B", &heard}, c{"C", &heard};
    FakeStateless change{ChangeKind::RenameChange};
    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    SMNode nodeA, nodeB, nodeC;
};

TEST_F(HubTest, CallsNewestFirstAndAppliesEachMarkToOneBroadcast) {
    Broadcast();
    EXPECT_EQ(Take(), (Heard{"C:OnRenameChange flags=2", "B:OnRenameChange flags=2", "A:OnRenameChange flags=2"}));

    hub->SkipListenerOnce(nodeB);
    Broadcast();
    Broadcast();
    EXPECT_EQ(Take().size(), 5u);

    hub->TagListenerOnce(nodeB, 7);
    hub->RefreshCurrentSelection(0);
    hub->RefreshCurrentSelection(0);
    EXPECT_EQ(Take(), (Heard{"C:Refresh", "B:Refresh tag=7", "A:Refresh", "C:Refresh", "B:Refresh", "A:Refresh"}));

    // A tag set after a skip replaces it.
    hub->SkipListenerOnce(nodeB);
    hub->TagListenerOnce(nodeA, 3);
    hub->RefreshCurrentSelection(0);
    EXPECT_EQ(Take(), (Heard{"C:Refresh", "B:Refresh", "A:Refresh tag=3"}));
}

TEST_F(HubTest, SkipLastsThroughTheQuestionBeforeATypeChange) {
    hub->SkipListenerOnce(nodeB);
    ChangeTarget t;
    bool cancel = false;
    hub->OnBeforeTypeChange(t, change, cancel, 0);
    hub->OnTypeChange(t, change, 0, 0);
    for (const std::string& line : Take()) EXPECT_NE(line[0], 'B') << line;
}

TEST_F(HubTest, RegistrationsEndedDuringABroadcastAreNotCalled) {
    // C runs first and ends B's registration and its own.
    c.onCall = [&] {
        nodeB.Release();
        nodeC.Release();
    };
    Broadcast();
    EXPECT_EQ(Take(), (Heard{"C:OnRenameChange flags=2", "A:OnRenameChange flags=2"}));
    c.onCall = nullptr;
    Broadcast();
    EXPECT_EQ(Take(), (Heard{"A:OnRenameChange flags=2"}));
}

TEST_F(HubTest, ANewRegistrationDoesNotInheritTheMarkOfAnEndedOne) {
    hub->SkipListenerOnce(nodeB);
    nodeB.Release();
    RecordingListener d{"D", &heard};
    hub->AddListenerNode(nodeB, d);
    Broadcast();
    EXPECT_EQ(Take().front(), "D:OnRenameChange flags=2");
}

TEST_F(HubTest, AFailingListenerDoesNotKeepTheOthersFromHearing) {
    b.fail = true;
    c.fail = true;
    const ErrorRecord error = RecordOf([&] { Broadcast(); });
    EXPECT_EQ(error.Number, kErrInvalidArgument);
    EXPECT_EQ(error.Description, u"C");  // the first error
    EXPECT_EQ(Take().size(), 3u);
}

TEST_F(HubTest, DestroyingTheHubEndsEveryRegistration) {
    auto strong = std::make_shared<RecordingListener>("S", &heard);
    std::weak_ptr<RecordingListener> watch = strong;
    SMNode nodeS;
    hub->AddListenerNode(nodeS, std::move(strong));
    hub.reset();
    EXPECT_FALSE(nodeA.Registered());
    EXPECT_TRUE(watch.expired());
    nodeS.Release();  // harmless afterwards
}

struct DirtyCount : IChangeListenerNotifyDirty {
    int count = 0;
    void ItemChanged() override { ++count; }
};

TEST(ChangeListenerHookTest, DirtyOnlyRegistrationCountsEachChangeOnceAndEndsWithTheHook) {
    auto hub1 = std::make_shared<ChangeListener>(), hub2 = std::make_shared<ChangeListener>();
    DirtyCount window;
    FakeStateless change{ChangeKind::TypeChange};
    ChangeTarget t;
    bool cancel = false;
    {
        ChangeListenerHook hook;
        hook.AttachDirtyOnly(hub1, &window);
        hub1->OnBeforeTypeChange(t, change, cancel, 0);
        hub1->OnTypeChange(t, change, 0, 0);
        hub1->SelectTarget(t, 0);
        EXPECT_EQ(window.count, 1);
        hook.AttachDirtyOnly(hub2, &window);  // moves the registration
        hub1->OnTypeChange(t, change, 0, 0);
        hub2->OnTypeChange(t, change, 0, 0);
        EXPECT_EQ(window.count, 2);
    }
    hub2->OnTypeChange(t, change, 0, 0);
    EXPECT_EQ(window.count, 2);
}

TEST(ChangeKindTest, TheFactoryMakesExactlyTheRegisteredKinds) {
    const std::vector<ChangeKind> registered = modRecorder::RegisteredChangeKinds();
    for (int code = 0; code < 256; ++code) {
        const bool isRegistered =
            std::find(registered.begin(), registered.end(), static_cast<ChangeKind>(code)) != registered.end();
        EXPECT_EQ(modRecorder::CreateChangeFromKind(static_cast<uint8_t>(code)) != nullptr, isRegistered) << code;
        if (isRegistered) {
            EXPECT_TRUE(IsChangeKind(static_cast<uint8_t>(code))) << code;
            EXPECT_FALSE(IsStatelessKind(static_cast<uint8_t>(code)) && CapturesTarget(static_cast<uint8_t>(code)));
        }
    }
}

}  // namespace
}  // namespace changestest
