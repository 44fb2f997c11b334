// The type rename tracker, fed by real renames through the hub.

#include "changes/ChangesTestSupport.h"
#include "changes/kinds/RenameChange.h"
#include "changes/trackers/TypeRenameTracker.h"

namespace changestest {
namespace {

class RenameTracking : public ::testing::Test {
protected:
    RenameTracking() {
        view.Attach(lib.get());
        tracker.ChangeListener(hub);
    }
    void Rename(ChangeTarget target, const char16_t* name) {
        auto rename = modRenameChange::NewRenameChange(false);
        rename->NewName(name);
        ASSERT_TRUE(rename->Apply(view, nullptr, target, hub.get(), 0));
    }
    void RenameType(const char16_t* from, const char16_t* to) { Rename(TypeTarget(lib.get(), from), to); }
    // first -> latest, newest record first.
    std::vector<std::string> Records() const {
        std::vector<std::string> out;
        for (auto r = tracker.FirstChange(); r; r = r->NextRecord())
            out.push_back(Utf8(r->FirstName()) + "->" + Utf8(r->LatestName()));
        return out;
    }

    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    ComPtr<ITypeLib> lib = Shapes();
    CustomTypeLib view;
    TypeRenameTracker tracker;
    FakeChange anyChange{ChangeKind::DeleteChange, "any", {}, std::make_shared<CallLog>()};
};

TEST_F(RenameTracking, KeepsOneRecordPerTypeFromItsFirstToItsLatestName) {
    const int32_t kind = TypeTarget(lib.get(), u"Colors").TypeKind;
    RenameType(u"Colors", u"Hues");
    RenameType(u"Hues", u"Tints");
    RenameType(u"IShape", u"IFigure");
    RenameType(u"IFigure", u"IShape");                                // back at its first name
    Rename(MemberTarget(lib.get(), u"IShape", u"Zoom"), u"Magnify");  // members are not tracked
    ChangeTarget unnamed = TypeTarget(lib.get(), u"Kernel");
    unnamed.TypeName.clear();
    auto rename = modRenameChange::NewRenameChange(false);
    rename->NewName(u"Core");
    hub->OnRenameChange(unnamed, *rename, 0, 0);  // no old name to record
    EXPECT_EQ(Records(), std::vector<std::string>({"Colors->Tints"}));
    EXPECT_EQ(tracker.FirstChange()->TargetValue(), kind);

    // Deleting a type never renamed changes nothing; deleting a renamed one drops its record.
    ChangeTarget matrix = TypeTarget(lib.get(), u"Matrix"), tints = TypeTarget(lib.get(), u"Tints");
    hub->OnDeleteChange(matrix, anyChange, 0, 0);
    EXPECT_EQ(Records().size(), 1u);
    std::shared_ptr<TypeRenameRecord> held = tracker.FirstChange();
    hub->OnDeleteChange(tints, anyChange, 0, 0);
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ(held->LatestName(), u"");
}

TEST_F(RenameTracking, ATypeThatARedirectionRemovedLosesItsRecord) {
    RenameType(u"Colors", u"Hues");
    RenameType(u"Kernel", u"Core");
    // The definition of Hues replaced by another type of the library: the
    // regenerated library no longer has Hues.
    ComPtr<ICreateTypeLib2> created = NewLibrary(u"Shapes");
    NewType(created.get(), u"Core", TKIND_MODULE);
    ChangeTarget target = TypeTarget(lib.get(), u"Hues");
    target.ReplacementLibrary = AsTypeLib(created.get());
    hub->OnRedirectTypesChange(target, anyChange, 0, 0);
    EXPECT_EQ(Records(), std::vector<std::string>({"Kernel->Core"}));
    // A redirection that keeps every type keeps every record.
    target.ReplacementLibrary = lib;
    hub->OnRedirectTypesChange(target, anyChange, 0, 0);
    EXPECT_EQ(Records().size(), 1u);
}

// Records dropped from the middle and the end of the list leave the others
// linked and found by name, in any case.
TEST_F(RenameTracking, DroppingARecordKeepsTheOthersInOrder) {
    RenameType(u"Colors", u"Hues");
    RenameType(u"Kernel", u"Core");
    RenameType(u"Matrix", u"Grid");
    RenameType(u"Core", u"Kernel");  // the middle record goes
    EXPECT_EQ(Records(), std::vector<std::string>({"Matrix->Grid", "Colors->Hues"}));
    ChangeTarget hues = TypeTarget(lib.get(), u"Hues");
    hues.TypeName = u"HUES";
    hub->OnDeleteChange(hues, anyChange, 0, 0);  // the last one
    RenameType(u"Grid", u"Table");
    EXPECT_EQ(Records(), std::vector<std::string>({"Matrix->Table"}));
}

}  // namespace
}  // namespace changestest
