// The record GUID tracker: refusals, the count of changed records, and the
// patching of small PE32 images that the tests build themselves.

#include <sys/stat.h>

#include <fstream>

#include "changes/ChangesTestSupport.h"
#include "changes/hub/IAttributeChange.h"
#include "changes/trackers/RecordGuidTracker.h"
#include "changes/kinds/InternalizeTypesChange.h"
#include "changes/kinds/RenameChange.h"
#include "regen/IExternalTypeRedirection.h"
#include "support/TempDir.h"

namespace changestest {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr GUID Guid(uint8_t n, uint32_t lib = 0x5EC0D000) { return {lib, 0x1234, 0x4321, {0x80, 0, 0, 0, 0, 0, 0, n}}; }
constexpr GUID kLibGuid = Guid(0, 0x11B0000A), kOtherLibGuid = Guid(0, 0x11B0000B), kThirdLibGuid = Guid(0, 0x11B0000C);

// A library of records, each with one field; a null GUID leaves the record without one.
ComPtr<ITypeLib> Records(const char16_t* name, const GUID& libGuid,
                         std::vector<std::pair<const char16_t*, GUID>> records) {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(name);
    EXPECT_OK(lib->SetGuid(libGuid));
    for (const auto& [type, guid] : records) {
        ComPtr<ICreateTypeInfo2> record = NewType(lib.get(), type, TKIND_RECORD);
        if (guid != GUID_NULL) {
            EXPECT_OK(record->SetGuid(guid));
        }
        AddVar(record.get(), 0, u"x", Vt(VT_I4));
        EXPECT_OK(record->LayOut());
    }
    return AsTypeLib(lib.get());
}

// ---- A PE32 image: headers, ".text" at 0x200 (loaded at 0x401000), ".data" after it ----

constexpr uint32_t kTextAddress = 0x401000;

void Put16(Bytes& b, size_t at, uint32_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); }
void Put32(Bytes& b, size_t at, uint32_t v) { Put16(b, at, v & 0xFFFF), Put16(b, at + 2, v >> 16); }
void PutGuid(Bytes& b, size_t at, const GUID& g) {
    Put32(b, at, g.Data1), Put16(b, at + 4, g.Data2), Put16(b, at + 6, g.Data3);
    std::copy(g.Data4, g.Data4 + 8, b.begin() + static_cast<ptrdiff_t>(at + 8));
}

// The code section: GUIDs and record descriptors, word by word.
struct Text {
    Bytes bytes = Bytes(8, 0xCC);
    // Places a GUID; returns its loaded address.
    uint32_t Add(const GUID& g) {
        const size_t at = bytes.size();
        bytes.resize(at + 16);
        PutGuid(bytes, at, g);
        return kTextAddress + static_cast<uint32_t>(at);
    }
    // A record descriptor: the library GUID, the record GUID's address, the library GUID's address.
    void Descriptor(uint32_t record, const GUID& lib) {
        const uint32_t libAt = Add(lib);
        bytes.resize(bytes.size() + 8);
        Put32(bytes, bytes.size() - 8, record);
        Put32(bytes, bytes.size() - 4, libAt);
    }
};

Bytes Pe32(const Bytes& text) {
    const uint32_t textSize = static_cast<uint32_t>(text.size()), dataAt = 0x200 + textSize;
    Bytes b(dataAt + 0x20, 0);
    b[0] = 'M', b[1] = 'Z';
    Put32(b, 0x3C, 0x40);
    Put32(b, 0x40, 0x4550);  // "PE\0\0"
    Put16(b, 0x44, 0x14C), Put16(b, 0x46, 2), Put16(b, 0x54, 0xE0);
    Put16(b, 0x58, 0x10B), Put32(b, 0x58 + 0x1C, 0x400000);
    const struct {
        const char* name;
        uint32_t address, size, at;
    } sections[] = {{".text", 0x1000, textSize, 0x200}, {".data", 0x2000, 0x20, dataAt}};
    size_t s = 0x58 + 0xE0;
    for (const auto& sec : sections) {
        std::copy(sec.name, sec.name + std::strlen(sec.name), b.begin() + static_cast<ptrdiff_t>(s));
        Put32(b, s + 8, sec.size), Put32(b, s + 12, sec.address), Put32(b, s + 16, sec.size), Put32(b, s + 20, sec.at);
        s += 40;
    }
    std::copy(text.begin(), text.end(), b.begin() + 0x200);
    return b;
}

void Write(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
Bytes Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A library of records followed by a tracker, edited through the hub.
struct Tracking {
    Tracking() {
        view.Attach(lib.get());
        tracker.Initialize(lib.get());
        tracker.ChangeListener(hub);
        tracker.MessageBox([this](const std::u16string& text) { shown.push_back(text); });
    }
    // A GUID edit of a type (of the library when type is null) as the view
    // makes it; false when it was cancelled.
    bool SetGuid(const char16_t* type, const GUID& guid) {
        ChangeTarget target = type ? TypeTarget(lib.get(), type) : LibraryTarget(lib.get());
        auto captured = std::dynamic_pointer_cast<IAttributeChange>(
            modRecorder::CreateChangeFromKind(Code(type ? ChangeKind::TypeChange : ChangeKind::LibChange)));
        captured->InitFromTarget(target);
        auto change = std::dynamic_pointer_cast<IAttributeChange>(captured->Clone());
        change->Guid(guid);
        return change->Apply(view, captured.get(), target, hub.get(), 0);
    }
    GUID GuidOf(const char16_t* type) {
        TYPEATTR* attr = nullptr;
        ComPtr<ITypeInfo> ti = TypeNamed(lib.get(), type);
        EXPECT_OK(ti->GetTypeAttr(&attr));
        const GUID g = attr->guid;
        ti->ReleaseTypeAttr(attr);
        return g;
    }
    // A redirection the regeneration reports for one reference.
    void Redirect(int32_t flags, ITypeLib* fromLib, const char16_t* from, ITypeLib* toLib, const char16_t* to) {
        ComPtr<IExternalTypeRedirection> watcher;
        hub->ProvideExternalTypeRedirection(watcher);
        ASSERT_TRUE(watcher);
        watcher->OnTypeRedirection(flags, testsupport::TypeNamed(InfoOf(fromLib).get(), from).get(),
                                   testsupport::TypeNamed(InfoOf(toLib).get(), to).get());
    }
    // A type deletion as the change reports it: the library still holds the type.
    void Delete(const char16_t* type) {
        ChangeTarget target = TypeTarget(lib.get(), type);
        hub->OnDeleteChange(target, anyChange, 0, 0);
        view.DeleteTypeInfo(type);
    }
    void CommitRedirect(ITypeLib* replacement) {
        ChangeTarget target = LibraryTarget(lib.get());
        target.ReplacementLibrary = ComPtr<ITypeLib>(replacement);
        hub->OnRedirectTypesChange(target, anyChange, 0, 0);
    }

    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    ComPtr<ITypeLib> lib =
        Records(u"Geometry", kLibGuid, {{u"Point", Guid(1)}, {u"Size", Guid(2)}, {u"Bare", GUID_NULL}});
    ComPtr<ITypeLib> other =
        Records(u"Other", kOtherLibGuid, {{u"Point2", Guid(21)}, {u"Size2", Guid(22)}, {u"Bare2", GUID_NULL}});
    ComPtr<ITypeLib> third = Records(u"Third", kThirdLibGuid, {{u"Size3", Guid(32)}});
    CustomTypeLib view;
    RecordGuidTracker tracker;
    std::vector<std::u16string> shown;
    FakeChange anyChange{ChangeKind::DeleteChange, "any", {}, std::make_shared<CallLog>()};
    TempDir dir;
};

class RecordTracking : public ::testing::Test, public Tracking {};

TEST(RecordRefusals, EditsThatLoseTrackOfARecordAreRefusedOnlyWhenAsked) {
    for (const bool raise : {true, false}) {
        SCOPED_TRACE(raise);
        Tracking t;
        t.tracker.RaiseErrorForUntrackableGuids(raise);
        EXPECT_EQ(t.SetGuid(u"Bare", Guid(8)), !raise);  // 1023: giving a record a GUID
        EXPECT_EQ(t.GuidOf(u"Bare"), raise ? GUID_NULL : Guid(8));
        EXPECT_EQ(t.SetGuid(u"Point", GUID_NULL), !raise);  // 1022: taking it away
        EXPECT_EQ(t.GuidOf(u"Point"), raise ? Guid(1) : GUID_NULL);
        // 1024: a record the tracker does not follow takes the GUID of a deleted one.
        t.Delete(u"Size");
        t.tracker.RaiseErrorForUntrackableGuids(false);
        EXPECT_TRUE(t.SetGuid(u"Bare", Guid(9)));
        t.tracker.RaiseErrorForUntrackableGuids(raise);
        EXPECT_EQ(t.SetGuid(u"Bare", Guid(2)), !raise);
        // 1021 and 1020: a redirection between a record with a GUID and one without.
        using W = IExternalTypeRedirection;
        const ErrorRecord losesGuid = RecordOf([&] {
            t.Redirect(W::kSourceInStartingLib + W::kDestElsewhere, t.lib.get(), u"Point", t.other.get(), u"Bare2");
        });
        const ErrorRecord gainsGuid = RecordOf([&] {
            t.Redirect(W::kSourceElsewhere + W::kDestInStartingLib, t.other.get(), u"Bare2", t.lib.get(), u"Point");
        });
        if (!raise) {
            EXPECT_TRUE(t.shown.empty());
            EXPECT_EQ(losesGuid.Number, 0);
            EXPECT_EQ(gainsGuid.Number, 0);
            continue;
        }
        EXPECT_EQ(t.shown,
                  std::vector<std::u16string>({modSupport::LoadResStringById(1023), modSupport::LoadResStringById(1022),
                                               modSupport::LoadResStringById(1024)}));
        EXPECT_EQ(losesGuid.Number, E_FAIL);
        EXPECT_EQ(losesGuid.Description,
                  modSupport::LoadResStringFormat(1021, {u"current library.Point", u"Other.Bare2"}));
        EXPECT_EQ(gainsGuid.Number, E_FAIL);
        EXPECT_EQ(gainsGuid.Description,
                  modSupport::LoadResStringFormat(1020, {u"Other.Bare2", u"current library.Point"}));
    }
}

TEST_F(RecordTracking, OnlyRecordsWhoseGuidReallyChangedCount) {
    EXPECT_TRUE(SetGuid(u"Point", Guid(9)));
    EXPECT_TRUE(SetGuid(u"Point", Guid(1)));
    auto rename = modRenameChange::NewRenameChange(false);
    rename->NewName(u"Extent");
    ChangeTarget size = TypeTarget(lib.get(), u"Size");
    ASSERT_TRUE(rename->Apply(view, nullptr, size, hub.get(), 0));
    EXPECT_EQ(tracker.ChangeCount(), 0);
    // With nothing changed the program file is not even opened.
    EXPECT_FALSE(tracker.UpdateRecordGuidsInExecutable(0, dir / "missing.exe"));
    EXPECT_TRUE(SetGuid(u"Extent", Guid(10)));
    EXPECT_EQ(tracker.ChangeCount(), 1);
}

TEST_F(RecordTracking, PatchesTheGuidsThatADescriptorUsesInPlace) {
    Text text;
    const uint32_t point = text.Add(Guid(1)), size = text.Add(Guid(2));
    text.Descriptor(point, kLibGuid);
    text.Descriptor(size, kLibGuid);
    text.Add(Guid(1));  // no descriptor points here: not a record's GUID
    text.Descriptor(text.Add(Guid(1)), kOtherLibGuid);  // another library's record of that GUID
    const fs::path exe = dir / "app.exe";
    const Bytes before = Pe32(text.bytes);
    Write(exe, before);
    struct stat was {};
    ASSERT_EQ(::stat(exe.c_str(), &was), 0);

    EXPECT_TRUE(SetGuid(u"Point", Guid(11)));
    const int32_t count = tracker.ChangeCount();
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(tracker.UpdateRecordGuidsInExecutable(count, exe));
    Bytes expected = before;
    PutGuid(expected, 0x200 + point - kTextAddress, Guid(11));
    EXPECT_EQ(Read(exe), expected);
    struct stat now {};
    ASSERT_EQ(::stat(exe.c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, was.st_ino);
    EXPECT_EQ(now.st_mode, was.st_mode);
    // Done once: a second run finds nothing to replace and writes nothing.
    EXPECT_FALSE(tracker.UpdateRecordGuidsInExecutable(count, exe));
}

TEST_F(RecordTracking, RecordsOfOneLibraryMustAllMoveToOneOtherLibrary) {
    Text text;
    const uint32_t point = text.Add(Guid(1)), size = text.Add(Guid(2));
    text.Descriptor(point, kLibGuid);
    text.Descriptor(size, kLibGuid);
    const fs::path exe = dir / "app.exe";
    const Bytes before = Pe32(text.bytes);
    Write(exe, before);
    const int32_t here = IExternalTypeRedirection::kSourceInStartingLib + IExternalTypeRedirection::kDestElsewhere;
    const std::vector<ComPtr<ITypeLib>> libraries = {other, third};

    // Point goes to Other, Size stays.
    Redirect(here, lib.get(), u"Point", other.get(), u"Point2");
    CommitRedirect(lib.get());
    ErrorRecord e = RecordOf([&] { tracker.UpdateRecordGuidsInExecutable(tracker.ChangeCount(), exe, libraries); });
    EXPECT_EQ(e.Number, kErrInvalidArgument);
    EXPECT_EQ(e.Description, modSupport::LoadResStringFormat(1026, {u"Point", u"current library", u"Other", u"Size"}));
    // Size goes to Third.
    Redirect(here, lib.get(), u"Size", third.get(), u"Size3");
    CommitRedirect(lib.get());
    e = RecordOf([&] { tracker.UpdateRecordGuidsInExecutable(tracker.ChangeCount(), exe, libraries); });
    EXPECT_EQ(e.Description, modSupport::LoadResStringFormat(
                                 1025, {u"Size", u"current library", u"Third", u"current library", u"Other"}));
    EXPECT_EQ(Read(exe), before);
    // Both go to Other: GUIDs and library GUIDs are replaced.
    Redirect(IExternalTypeRedirection::kSourceElsewhere + IExternalTypeRedirection::kDestElsewhere, third.get(),
             u"Size3", other.get(), u"Size2");
    CommitRedirect(lib.get());
    EXPECT_TRUE(tracker.UpdateRecordGuidsInExecutable(tracker.ChangeCount(), exe, libraries));
    Bytes expected = before;
    for (const auto& [at, guid] : std::vector<std::pair<uint32_t, GUID>>{
             {point, Guid(21)}, {size, Guid(22)}, {size + 16, kOtherLibGuid}, {size + 40, kOtherLibGuid}})
        PutGuid(expected, 0x200 + at - kTextAddress, guid);
    EXPECT_EQ(Read(exe), expected);
}

TEST_F(RecordTracking, AFollowedRecordMayNotTakeTheGuidOfADeletedOne) {
    tracker.RaiseErrorForUntrackableGuids(true);
    Delete(u"Size");
    EXPECT_FALSE(SetGuid(u"Point", Guid(2)));
    EXPECT_EQ(GuidOf(u"Point"), Guid(1));
    EXPECT_EQ(shown, std::vector<std::u16string>{modSupport::LoadResStringById(1024)});
}

// Point and Size, each with a descriptor naming this library, in a program file.
struct TwoDescriptors {
    explicit TwoDescriptors(const fs::path& file) : exe(file) {
        point = text.Add(Guid(1)), size = text.Add(Guid(2));
        text.Descriptor(point, kLibGuid);
        text.Descriptor(size, kLibGuid);
        before = Pe32(text.bytes);
        Write(exe, before);
    }
    // The file's bytes with the GUID at a loaded address replaced.
    Bytes With(std::vector<std::pair<uint32_t, GUID>> changes) const {
        Bytes b = before;
        for (const auto& [at, guid] : changes) PutGuid(b, 0x200 + at - kTextAddress, guid);
        return b;
    }
    fs::path exe;
    Text text;
    uint32_t point = 0, size = 0;
    Bytes before;
};

TEST_F(RecordTracking, ARecordThatLostItsGuidIsNotFoundThroughTheNullGuid) {
    const TwoDescriptors program(dir / "app.exe");
    EXPECT_TRUE(SetGuid(u"Point", GUID_NULL));
    EXPECT_TRUE(SetGuid(u"Bare", Guid(8)));  // not Point's entry
    EXPECT_EQ(tracker.ChangeCount(), 1);
    EXPECT_FALSE(tracker.UpdateRecordGuidsInExecutable(1, program.exe));
    EXPECT_EQ(Read(program.exe), program.before);
}

TEST_F(RecordTracking, ANewLibraryGuidReachesTheDescriptorsThatNameTheOldOne) {
    const TwoDescriptors program(dir / "app.exe");
    EXPECT_TRUE(SetGuid(nullptr, kThirdLibGuid));
    EXPECT_TRUE(SetGuid(u"Size", Guid(12)));
    const int32_t count = tracker.ChangeCount();
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(tracker.UpdateRecordGuidsInExecutable(count, program.exe));
    EXPECT_EQ(Read(program.exe), program.With({{program.size, Guid(12)},
                                               {program.size + 16, kThirdLibGuid},
                                               {program.size + 40, kThirdLibGuid}}));
}

TEST_F(RecordTracking, ARecordTakenInFromAnotherLibraryIsPatchedToThisOne) {
    Text text;
    const uint32_t point = text.Add(Guid(1)), point2 = text.Add(Guid(21));
    text.Descriptor(point, kLibGuid);
    text.Descriptor(point2, kOtherLibGuid);
    const fs::path exe = dir / "app.exe";
    const Bytes before = Pe32(text.bytes);
    Write(exe, before);
    EXPECT_TRUE(SetGuid(u"Point", Guid(11)));
    auto internalize = modInternalizeTypesChange::NewInternalizeTypesChange(false);
    internalize->VarTypeInfo(TypeDescOf(other.get(), u"Point2").get());
    ChangeTarget target = LibraryTarget(lib.get());
    ASSERT_TRUE(internalize->Apply(view, nullptr, target, hub.get(), 0));

    const std::vector<ComPtr<ITypeLib>> libraries = {other};
    EXPECT_TRUE(tracker.UpdateRecordGuidsInExecutable(tracker.ChangeCount(), exe, libraries));
    Bytes expected = before;
    PutGuid(expected, 0x200 + point - kTextAddress, Guid(11));
    PutGuid(expected, 0x200 + point2 + 40 - kTextAddress, kLibGuid);
    EXPECT_EQ(Read(exe), expected);
}

TEST_F(RecordTracking, ARecordTakenInIsPatchedToThisLibraryWithTheRecordsRedirectedToIt) {
    Text text;
    const uint32_t point = text.Add(Guid(1)), point2 = text.Add(Guid(21));
    text.Descriptor(point, kLibGuid);
    text.Descriptor(point2, kOtherLibGuid);
    const fs::path exe = dir / "app.exe";
    const Bytes before = Pe32(text.bytes);
    Write(exe, before);
    // Point goes to Other's Point2, which is then taken in; no GUID is edited.
    Redirect(IExternalTypeRedirection::kSourceInStartingLib + IExternalTypeRedirection::kDestElsewhere, lib.get(),
             u"Point", other.get(), u"Point2");
    CommitRedirect(lib.get());
    auto internalize = modInternalizeTypesChange::NewInternalizeTypesChange(false);
    internalize->VarTypeInfo(TypeDescOf(other.get(), u"Point2").get());
    ChangeTarget target = LibraryTarget(lib.get());
    ASSERT_TRUE(internalize->Apply(view, nullptr, target, hub.get(), 0));

    const int32_t count = tracker.ChangeCount();
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(tracker.UpdateRecordGuidsInExecutable(count, exe));
    Bytes expected = before;
    PutGuid(expected, 0x200 + point - kTextAddress, Guid(21));
    PutGuid(expected, 0x200 + point2 + 40 - kTextAddress, kLibGuid);
    EXPECT_EQ(Read(exe), expected);
}

TEST_F(RecordTracking, DamagedOrUnsupportedImagesAreRefusedAndLeftAsTheyWere) {
    Text text;
    text.Descriptor(text.Add(Guid(1)), kLibGuid);
    const Bytes good = Pe32(text.bytes);
    ASSERT_TRUE(SetGuid(u"Point", Guid(11)));
    const fs::path exe = dir / "app.exe";
    const auto refused = [&](const Bytes& image, int32_t error = kErrInvalidArgument) {
        Write(exe, image);
        EXPECT_EQ(ErrorOf([&] { tracker.UpdateRecordGuidsInExecutable(1, exe); }), error);
        return Read(exe) == image;
    };
    for (size_t size = 0; size < good.size(); ++size)
        EXPECT_TRUE(refused(Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(size)))) << size;
    const auto with = [&](size_t at, uint32_t value, bool wide = true) {
        Bytes b = good;
        wide ? Put32(b, at, value) : Put16(b, at, value);
        return b;
    };
    const size_t table = 0x58 + 0xE0;
    for (const Bytes& bad :
         {with(0, 'Z', false), with(0x3C, 0x7FFFFFF0), with(0x3C, uint32_t(good.size() - 8)), with(0x40, 0x454E),
          with(0x46, 0xFFFF, false), with(0x54, 0xFFFF, false), with(0x54, 0x1C, false), with(0x58, 0x20B, false),
          with(0x58, 0x107, false), with(table, 0x7461642E), with(table + 16, 0x10000), with(table + 20, 0xFFFFFFF0),
          with(table + 40 + 16, 0x21), with(table + 40 + 20, uint32_t(good.size() - 0x10))})
        EXPECT_TRUE(refused(bad));
    // A read-only file is not written; a missing one is reported as such.
    Write(exe, good);
    fs::permissions(exe, fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(ErrorOf([&] { tracker.UpdateRecordGuidsInExecutable(1, exe); }), kErrPathFileAccess);
    EXPECT_EQ(Read(exe), good);
    EXPECT_EQ(ErrorOf([&] { tracker.UpdateRecordGuidsInExecutable(1, dir / "none.exe"); }), kErrFileNotFound);
}

}  // namespace
}  // namespace changestest
