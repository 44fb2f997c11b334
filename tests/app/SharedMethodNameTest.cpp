// A library whose dual interface holds a method and a property Let under one
// name and one member ID, as widl writes them (tests/data/forms/sharedname):
// it opens for editing with the two as the file has them; edits elsewhere,
// and edits that pick one of the two by its invoke kind, save, read back with
// the platform and replay byte for byte; an edit that would have to tell the
// two apart by name alone is refused and changes nothing.
#include <set>
#include <sstream>

#include "app/EditSessionSupport.h"
#include "changes/kinds/AddMemberChange.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/FlattenChange.h"
#include "changes/kinds/HelpChange.h"
#include "changes/kinds/InsertParamChange.h"
#include "changes/kinds/MemberChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/kinds/ResetIDsChange.h"
#include "support/ReferenceDump.h"

namespace sessiontest {
namespace {

fs::path Form() { return fs::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "sharedname.tlb"; }

std::shared_ptr<RenameChange> Rename(const char16_t* name) {
    auto rename = modRenameChange::NewRenameChange(false);
    rename->NewName(name);
    return rename;
}

void AddFlag(EditSession& s, ChangeTarget target, int32_t flag) {
    s.Edit(modMemberChange::NewMemberChange(false), target, [flag](auto& c) { c.Flags(c.Flags() | flag); });
}

TEST(SharedMethodName, EditsElsewhereAndOfEitherOneSaveReadBackAndReplay) {
    TempDir dir;
    EditSession s(dir.path(), Form());
    s.Apply(Rename(u"start"), MemberTarget(s.Lib(), u"IControls", u"play"));
    AddFlag(s, MemberTarget(s.Lib(), u"IMedia", u"name", INVOKE_PROPERTYGET), FUNCFLAG_FHIDDEN);
    s.Apply(modFlattenChange::GetFlattenChange(), TypeTarget(s.Lib(), u"IControls2"));
    AddFlag(s, MemberTarget(s.Lib(), u"IControls", u"currentItem", INVOKE_FUNC), FUNCFLAG_FHIDDEN);
    AddFlag(s, MemberTarget(s.Lib(), u"IControls", u"currentItem", INVOKE_PROPERTYPUT), FUNCFLAG_FNONBROWSABLE);
    // New IDs keep the two on one.
    s.Apply(modResetIDsChange::GetResetAllIDsChange(), TypeTarget(s.Lib(), u"IControls"));
    s.Save("live.tlb");
    s.Replay("session.leh", "batch.tlb");
    EXPECT_EQ(testsupport::ReadBytes(dir / "batch.tlb"), testsupport::ReadBytes(dir / "live.tlb"));

    // The platform reads both of IControls, and both of IControls2 as the flattening copied them.
    const auto dump = testsupport::ReferenceDump(dir / "live.tlb");
    if (!dump) GTEST_SKIP() << "no reference dumper";
    std::set<std::string> read;
    std::istringstream lines(*dump);
    const auto field = [](const std::string& line, const std::string& key) {
        const size_t at = line.find(" " + key + "=") + key.size() + 2;
        return key + "=" + line.substr(at, line.find(' ', at) - at);
    };
    for (std::string line; std::getline(lines, line);)
        if (line.find("  func ") == 0 && line.find("\"currentItem\" ") != std::string::npos &&
            line.find(" kind=4 ") != std::string::npos)
            read.insert(field(line, "id") + " " + field(line, "invoke") + " " + field(line, "flags"));
    char id[16];
    std::snprintf(id, sizeof id, "id=0x%08X", static_cast<unsigned>(modITypeInfoHelper::MemberIDFromName(
                                                 TypeNamed(LoadFile(dir / "live.tlb").get(), u"IControls").get(),
                                                 u"currentItem")));
    const std::set<std::string> expected = {"id=0x0000003C invoke=1 flags=0x0", "id=0x0000003C invoke=4 flags=0x0",
                                            id + std::string(" invoke=1 flags=0x40"),
                                            id + std::string(" invoke=4 flags=0x400")};
    EXPECT_EQ(read, expected) << *dump;
    EXPECT_NE(dump->find("\"start\""), std::string::npos);
}

// Items aimed at the Let by its invoke kind act on the Let alone, in the
// session and in its replay: parameters inserted, renamed and deleted, help.
// Run where the Let is gone, the history fails naming it and writes nothing.
TEST(SharedMethodName, ItemsAimedAtTheLetActOnTheLetAloneAndFailWhereItIsGone) {
    TempDir dir;
    EditSession s(dir.path(), Form());
    ChangeTarget let = MemberTarget(s.Lib(), u"IControls", u"currentItem", INVOKE_PROPERTYPUT), param = let;
    param.Kind = kTargetParam;
    auto insert = modInsertParamChange::NewInsertParamChange(false);
    insert->ParamForm(InsertParamChange::kRequired);
    s.Apply(insert, let);
    s.Apply(insert, let);
    s.Apply(Rename(u"first"), param);
    param.ParamIndex = 1;
    s.Apply(modDeleteChange::GetDeleteChange(), param);
    auto help = modHelpChange::NewHelpChange(false);
    help->InitFromTarget(let);
    help->DocString(u"Sets the item");
    s.Apply(help, let);
    s.Save("live.tlb");
    s.Replay("session.leh", "batch.tlb");
    EXPECT_EQ(testsupport::ReadBytes(dir / "batch.tlb"), testsupport::ReadBytes(dir / "live.tlb"));
    const ComPtr<ITypeLib> live = LoadFile(dir / "live.tlb");
    EXPECT_NE(FunctionsOf(live.get(), u"IControls").find("currentItem:1@40/1 currentItem:4@44/2"), std::string::npos);
    // The method keeps its help and its parameter's name (the platform reads them for the ID).
    const ComPtr<ITypeInfo> controls = modITypeInfoHelper::GetInterfaceTypeInfo(
        live.get(), static_cast<UINT>(TypeTarget(live.get(), u"IControls").TypeIndex));
    ole::BSTR doc = nullptr;
    EXPECT_OK(controls->GetDocumentation(0x3C, nullptr, &doc, nullptr, nullptr));
    EXPECT_EQ(typelib_detail::TakeBstr(doc) + u" " + typelib_detail::ReadNames(controls.get(), 0x3C, 3).back(),
              u"The item playing r");

    EditSession gone(dir.path(), Form());
    gone.Apply(modDeleteChange::GetDeleteChange(), MemberTarget(gone.Lib(), u"IControls", u"currentItem", 4));
    const std::string error = Utf8(RecordOf([&] { s.Replay("session.leh", "none.tlb", gone.Lib()); }).Description);
    EXPECT_TRUE(error.ends_with("failed: Element not found: interface Property Let function IControls.currentItem."))
        << error;
    EXPECT_FALSE(fs::exists(dir / "none.tlb"));
}

TEST(SharedMethodName, EditsThatWouldHaveToTellTheTwoApartAreRefused) {
    TempDir dir;
    EditSession s(dir.path(), Form());
    const std::string before = Dump(s.Lib());
    const auto target = [&](int32_t kind) { return MemberTarget(s.Lib(), u"IControls", u"currentItem", kind); };
    const std::function<void()> edits[] = {
        [&] { s.Apply(Rename(u"item"), target(INVOKE_FUNC)); },
        [&] { s.Apply(Rename(u"item"), target(INVOKE_PROPERTYPUT)); },
        [&] {
            s.Edit(modMemberChange::NewMemberChange(false), target(INVOKE_FUNC), [](auto& c) { c.MemberId(0x70); });
        },
        [&] {
            auto get = modAddMemberChange::NewAddMemberChange(false);
            get->InvokeKind(INVOKE_PROPERTYGET);
            s.Apply(get, target(INVOKE_PROPERTYPUT));
        }};
    for (const auto& edit : edits) {
        try {
            edit();
            ADD_FAILURE() << "not refused";
        } catch (const ErrorRecord& e) {
            EXPECT_EQ(e.Number, kErrInvalidArgument);
            EXPECT_NE(e.Description.find(u"Type 'IControls': the method 'currentItem' and the Property Let accessor "
                                         u"'currentItem' share their name and member ID"),
                      std::u16string::npos)
                << e.what();
        }
        EXPECT_EQ(Dump(s.Lib()), before);
    }
}

// A method and a property put sharing a member ID but stored under other
// names (sharedid: Alpha and Beta, as widl writes them): the platform reads
// both under the method's name, and the library opens as such a pair does.
// An edit elsewhere saves, replays twice to the same bytes, and the saved
// file reads as the original plus the edit (sharedid.dump: its reference dump).
TEST(SharedMethodName, AMethodAndAPutSharingAnIdUnderOtherNamesOpenAsAPair) {
    TempDir dir;
    const fs::path form = fs::path(ZEPHRIN_TEST_DATA_DIR) / "forms" / "sharedid.tlb";
    EditSession s(dir.path(), form);
    EXPECT_EQ(FunctionsOf(s.Lib(), u"IKnobs"), "reset:1@28/0 Alpha:1@32/1 Alpha:4@36/1 level:2@40/1");
    s.Apply(Rename(u"restart"), MemberTarget(s.Lib(), u"IKnobs", u"reset"));
    s.Save("live.tlb");
    s.Replay("session.leh", "batch.tlb");
    s.Replay("session.leh", "again.tlb");
    EXPECT_EQ(testsupport::ReadBytes(dir / "batch.tlb"), testsupport::ReadBytes(dir / "live.tlb"));
    EXPECT_EQ(testsupport::ReadBytes(dir / "again.tlb"), testsupport::ReadBytes(dir / "live.tlb"));
    std::string expected = testsupport::ReadText(form.parent_path() / "sharedid.dump");
    expected.replace(expected.find("\"reset\""), 7, "\"restart\"");
    expected.replace(expected.find("\"reset\""), 7, "\"restart\"");
    EXPECT_EQ(tlbtools::WithCrLf(Dump(LoadFile(dir / "live.tlb").get())), expected);
    if (const auto dump = testsupport::ReferenceDump(dir / "live.tlb")) {
        EXPECT_EQ(*dump, expected);
    }
}

}  // namespace
}  // namespace sessiontest
