// The Library Edit History file on real files: the golden file, Variant
// records, relative library paths, round trips through the reference cache
// onto a fresh copy of the library, bad and truncated files, and the writer's
// refusals.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>

#include "changes/ChangesTestSupport.h"
#include "changes/kinds/DeleteChange.h"
#include "changes/kinds/RemoveParamArrayChange.h"
#include "changes/kinds/RenameChange.h"
#include "changes/history/HistoryFile.h"
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/IAttributeChange.h"
#include "changes/hub/VTICache.h"
#include "foundation/RecordWriter.h"
#include "support/HistoryTestChanges.h"
#include "support/TempDir.h"
#include "support/TliReading.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modMarbrel.h"
#include "typelib/modPrototype.h"

namespace changestest {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::byte>;
using testsupport::CreateTestChange;

Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<std::byte>(v));
    return out;
}

Bytes FileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string s((std::istreambuf_iterator<char>(in)), {});
    return Bytes(reinterpret_cast<const std::byte*>(s.data()), reinterpret_cast<const std::byte*>(s.data()) + s.size());
}

void WriteFile(const fs::path& file, std::span<const std::byte> bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

const std::string kBadFormat = "Library Edit History file has unrecognized format.";

// True for error 5 with the format text.
// Read from a file, the text is said after the file's name.
bool IsFormatError(const ErrorRecord& e) {
    return e.Number == kErrInvalidArgument && Utf8(e.Description).ends_with(kBadFormat);
}

// ---- Variant records ----

Bytes VariantBytes(const ole::VARIANT& v) {
    RecordWriter out;
    modMarbrel::WriteVariant(out, v);
    return out.Bytes();
}

ole::Variant ReadBack(const Bytes& bytes) {
    HistoryFileReader in(bytes);
    return modMarbrel::ReadVariant(in);
}

ole::Variant Typed(VARTYPE vt, int64_t bits) {
    ole::Variant v;
    v.get().vt = vt;
    v.get().llVal = bits;
    return v;
}

TEST(HistoryVariants, ValuesAreStoredAsTheirRecordsAndReadBackWithTheirOwnTypes) {
    EXPECT_EQ(VariantBytes(ole::Variant(uint32_t{0xFFFFFFFF}).get()), B({0x13, 0, 3, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(VariantBytes(ole::Variant(int16_t{5}).get()), B({0, 0, 2, 0, 5, 0}));
    EXPECT_EQ(VariantBytes(ole::Variant(u"ab").get()), B({0, 0, 8, 0, 2, 0, 0x61, 0x62}));
    EXPECT_EQ(VariantBytes(ole::Variant().get()), B({0, 0, 0, 0}));
    EXPECT_EQ(VariantBytes(ole::Variant::Null().get()), B({0, 0, 1, 0}));
    EXPECT_EQ(VariantBytes(ole::Variant(int64_t{-2}).get()),
              B({20, 0, 6, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

    const std::vector<ole::Variant> values = {
        ole::Variant(int8_t{-5}), ole::Variant(uint8_t{200}), ole::Variant(uint16_t{65535}),
        ole::Variant(int32_t{-7}), ole::Variant(uint64_t{~0ull}), ole::Variant(1.5f), ole::Variant(-2.25),
        ole::Variant(ole::CY{123456}), ole::Variant::Date(45000.5), ole::Variant(true),
        ole::Variant::Error(static_cast<SCODE>(0x80004005)), Typed(VT_INT, -3), Typed(VT_UINT, 3),
        // Every Windows-1252 byte comes back, the five unassigned ones included.
        ole::Variant(u"\u20AC\u0081\u008D\u008F\u0090\u009D \u00FF"), ole::Variant(u"")};
    for (const ole::Variant& v : values) {
        const ole::Variant back = ReadBack(VariantBytes(v.get()));
        EXPECT_EQ(back.vt(), v.vt());
        EXPECT_TRUE(modMarbrel::VariantsEqual(back.get(), v.get())) << v.vt();
    }
    EXPECT_EQ(ole::BstrView(ReadBack(VariantBytes(ole::Variant(u"\u0416!").get())).get().bstrVal), u"?!");
    EXPECT_EQ(ReadBack(B({0, 0, 11, 0, 1, 0})).get().boolVal, VARIANT_TRUE);
}

ole::DECIMAL Dec(uint8_t scale, bool negative, uint32_t hi, uint64_t lo) {
    ole::DECIMAL d{};
    d.scale = scale;
    d.sign = negative ? ole::DECIMAL_NEG : 0;
    d.Hi32 = hi;
    d.Lo64 = lo;
    return d;
}

// A Decimal goes as its exact text, w saying so: sign, scale and all 96 bits
// come back as they were, trailing zeros and a negative zero included.
TEST(HistoryVariants, DecimalsAreStoredAsTheirExactTextAndReadBackBitForBit) {
    EXPECT_EQ(VariantBytes(ole::Variant(Dec(2, true, 0, 12345)).get()),
              B({14, 0, 8, 0, 7, 0, '-', '1', '2', '3', '.', '4', '5'}));
    for (const ole::DECIMAL& d : {Dec(0, false, 0, 0), Dec(2, true, 0, 0), Dec(1, false, 0, 100),
                                  Dec(0, false, 0xFFFFFFFF, ~0ull), Dec(28, true, 0xFFFFFFFF, ~0ull),
                                  Dec(28, false, 0, 1), Dec(0, false, 0, 12345678901234567890ull)}) {
        const ole::Variant back = ReadBack(VariantBytes(ole::Variant(d).get()));
        ASSERT_EQ(back.vt(), VT_DECIMAL);
        const ole::DECIMAL& r = back.get().decVal;
        EXPECT_EQ(std::tuple(r.scale, r.sign, r.Hi32, r.Lo64), std::tuple(d.scale, d.sign, d.Hi32, d.Lo64))
            << Utf8(ole::DecimalToText(d));
    }
}

TEST(HistoryVariants, WhatTheFileCannotHoldIsRefusedBeforeAnythingIsWritten) {
    RecordWriter out;
    const ErrorRecord decimal =
        RecordOf([&] { modMarbrel::WriteVariant(out, ole::Variant(Dec(29, false, 0, 5)).get()); });
    EXPECT_EQ(decimal.Number, kErrTypeMismatch);
    EXPECT_NE(Utf8(decimal.Description).find("Decimal"), std::string::npos);
    EXPECT_EQ(ErrorOf([&] { modMarbrel::WriteVariant(out, ole::Variant(static_cast<IUnknown*>(nullptr)).get()); }),
              kErrTypeMismatch);
    EXPECT_EQ(ErrorOf([&] { modMarbrel::WriteVariant(out, ole::Variant(std::u16string(32768, u'x')).get()); }),
              kErrOverflow);
    EXPECT_EQ(out.Size(), 0u);
    EXPECT_EQ(VariantBytes(ole::Variant(std::u16string(32767, u'x')).get()).size(), 32773u);

    // Pairs of type words that no writer writes.
    // A Decimal's text that no writer writes: none, a sign alone, a point at
    // either end, another character, 29 digits after the point, 2^96.
    const auto decimal96 = [](const std::string& text) {
        Bytes bytes = B({14, 0, 8, 0, static_cast<int>(text.size()), 0});
        for (char c : text) bytes.push_back(static_cast<std::byte>(c));
        return bytes;
    };
    for (const Bytes& bad : {B({0, 0, 9, 0}), B({0, 0, 14, 0}), B({16, 0, 2, 0, 0, 0}), B({3, 0, 3, 0, 0, 0, 0, 0}),
                             B({19, 0, 2, 0, 0, 0}), B({2, 0, 2, 0, 0, 0}), B({14, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                             decimal96(""), decimal96("-"), decimal96(".5"), decimal96("5."), decimal96("1e3"),
                             decimal96("0." + std::string(29, '1')), decimal96("79228162514264337593543950336")})
        EXPECT_TRUE(IsFormatError(RecordOf([&] { ReadBack(bad); })));
    EXPECT_EQ(ErrorOf([&] { ReadBack(B({0, 0, 3, 0, 1, 2})); }), kErrInputPastEnd);
}

TEST(HistoryVariants, ValuesCompareByTypeThenValue) {
    using modMarbrel::VariantsEqual;
    EXPECT_FALSE(VariantsEqual(ole::Variant(int32_t{5}).get(), ole::Variant(uint32_t{5}).get()));
    EXPECT_TRUE(VariantsEqual(ole::Variant().get(), ole::Variant().get()));
    EXPECT_TRUE(VariantsEqual(ole::Variant::Null().get(), ole::Variant::Null().get()));
    EXPECT_FALSE(VariantsEqual(ole::Variant(u"a").get(), ole::Variant(u"A").get()));
    EXPECT_TRUE(VariantsEqual(ole::Variant(-0.0).get(), ole::Variant(0.0).get()));
    ComPtr<ITypeLib> lib = Shapes();
    EXPECT_FALSE(VariantsEqual(ole::Variant(static_cast<IUnknown*>(lib.get())).get(),
                               ole::Variant(static_cast<IUnknown*>(lib.get())).get()));
}

// ---- Relative paths ----

TEST(HistoryCache, LibraryPathsAreStoredRelativeToTheHistoryFolder) {
    EXPECT_EQ(VTICache::RelativePath("/w/h/lib.tlb", "/w/h"), u"lib.tlb");
    EXPECT_EQ(VTICache::RelativePath("/w/h/sub/deep/lib.tlb", "/w/h/"), u"sub\\deep\\lib.tlb");
    EXPECT_EQ(VTICache::RelativePath("/w/libs/lib.tlb", "/w/h"), u"..\\libs\\lib.tlb");
    EXPECT_EQ(VTICache::RelativePath("/usr/lib.tlb", "/w/h"), u"..\\..\\usr\\lib.tlb");
    EXPECT_EQ(VTICache::RelativePath("C:\\libs\\lib.tlb", "/w/h"), u"");
    EXPECT_EQ(VTICache::RelativePath("stdole2.tlb", "/w/h"), u"");
    EXPECT_EQ(VTICache::RelativePath("", "/w/h"), u"");
}

// ---- Round trips ----

// A library Ext with an interface IExt, saved as a file.
ComPtr<ITypeLib> SaveExtLibrary(const fs::path& file) {
    fs::create_directories(file.parent_path());
    ComPtr<ICreateTypeLib2> lib = NewLibrary(u"Ext", ole::FromUtf8(file.string()));
    EXPECT_OK(lib->SetGuid({0x1E57AB1E, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}));
    ComPtr<ICreateTypeInfo2> type = NewType(lib.get(), u"IExt", TKIND_INTERFACE);
    EXPECT_OK(type->SetGuid({0x1E57AB1E, 1, 2, {3, 4, 5, 6, 7, 8, 9, 11}}));
    EXPECT_OK(lib->SaveAllChanges());
    ComPtr<ITypeLib> loaded;
    EXPECT_OK(LoadTypeLibEx(ole::FromUtf8(file.string()).c_str(), REGKIND_NONE, loaded.put()));
    return loaded;
}

std::string TypeText(tli::VarTypeInfo* v) {
    return Utf8(modPrototype::GetTypeString(v, false) + modPrototype::ArrayBoundsText(v));
}

class HistoryRoundTrip : public ::testing::Test {
protected:
    HistoryRoundTrip() {
        ComPtr<tli::Members> matrix = MembersOf(testsupport::TypeNamed(InfoOf(lib.get()).get(), u"Matrix").get());
        for (const char16_t* field : {u"cells", u"rows", u"shape", u"one"})
            types.push_back(testsupport::TypeOfMember(matrix.get(), field));
        // An interface of another library, as the editor view describes it.
        ComPtr<ITypeLib> ext = SaveExtLibrary(dir / "a" / "libs" / "ext.tlb");
        ComPtr<CustomVarTypeInfo> external = CustomVarTypeInfo::New();
        external->CurrentITypeLib(lib.get());
        external->SetType(0, testsupport::TypeNamed(InfoOf(ext.get()).get(), u"IExt").get());
        external->PointerLevel(1);
        types.push_back(external->GetVarTypeInfo());
    }

    // A model description of type i (none for SIZE_MAX), as the editor view makes it.
    ComPtr<CustomVarTypeInfo> Live(size_t i) {
        if (i == SIZE_MAX) return nullptr;
        ComPtr<CustomVarTypeInfo> live = CustomVarTypeInfo::New();
        live->Duplicate(types[i].get());
        live->CurrentITypeLib(lib.get());
        return live;
    }

    // A change of kind holding type i (and a member change also value), as
    // it is kept in a history of cache: a type change stores its reference as
    // ordinal + 1 (0 for none), a member change the plain ordinal.
    ChangeNode Item(ChangeKind kind, size_t type, ole::Variant value, VTICache& cache) {
        auto change = std::dynamic_pointer_cast<IAttributeChange>(CreateTestChange(Code(kind)));
        change->VarTypeInfo(Live(type).get());
        if (kind == ChangeKind::MemberChange) change->Value(value);
        change->DetachFromLibrary(cache);
        ChangeNode node;
        node.Flags = ((kind == ChangeKind::MemberChange ? kTargetMember : kTargetType) << ChangeNode::kTargetKindShift) |
                     Code(kind);
        node.Text = u"set " + ole::FromUtf8(std::to_string(items.size()));
        node.TypeName = u"Matrix";
        node.MemberName = u"field";
        node.TypeKind = TKIND_RECORD;
        node.Change = change;
        return node;
    }

    TempDir dir;
    ComPtr<ITypeLib> lib = Shapes();
    std::vector<ComPtr<tli::VarTypeInfo>> types;  // cells, rows, shape, one, IExt*
    std::list<ChangeNode> items;
};

TEST_F(HistoryRoundTrip, AHistoryReadsBackToTheSameBytesAndItsTypesResolveInAFreshCopy) {
    VTICache cache;
    const std::vector<size_t> typeOf = {0, 1, 2, 3, SIZE_MAX, 4, 2};
    const ole::Variant values[] = {ole::Variant(uint32_t{7}), ole::Variant(u"text"), ole::Variant(int8_t{-1}),
                                   ole::Variant::Null()};
    for (size_t i = 0; i < typeOf.size(); ++i)
        items.push_back(Item(i < 4 ? ChangeKind::MemberChange : ChangeKind::TypeChange, typeOf[i],
                             i < 4 ? values[i] : ole::Variant(), cache));
    // Only the other library's type is tied to a library; both references to
    // IShape share one type entry; every description has its own entry.
    EXPECT_EQ(cache.LibraryCount(), 1u);
    EXPECT_EQ(cache.TypeCount(), 2u);
    EXPECT_EQ(cache.VarTypeCount(), 6u);

    const fs::path folder = dir / "a" / "hist";
    const Bytes written = modRecorder::WriteEditHistory(items, cache, folder);
    const std::string text(reinterpret_cast<const char*>(written.data()), written.size());
    EXPECT_NE(text.find("..\\libs\\ext.tlb"), std::string::npos);

    VTICache same;
    const std::list<ChangeNode> reread = modRecorder::ReadEditHistory(written, same, folder, CreateTestChange);
    EXPECT_EQ(modRecorder::WriteEditHistory(reread, same, folder), written);

    // Moved elsewhere with its library, the history finds it by the relative path.
    fs::rename(dir / "a", dir / "b");
    VTICache read;
    std::list<ChangeNode> loaded = modRecorder::ReadEditHistory(written, read, dir / "b" / "hist", CreateTestChange);

    const ComPtr<ITypeLib> fresh = Shapes();
    auto item = loaded.begin();
    auto original = items.begin();
    for (size_t i = 0; i < typeOf.size(); ++i, ++item, ++original) {
        auto& change = dynamic_cast<IAttributeChange&>(*item->Change);
        auto& made = dynamic_cast<IAttributeChange&>(*original->Change);
        EXPECT_EQ(item->Text, original->Text);
        EXPECT_EQ(change.ChangeMask(), made.ChangeMask());
        if (i < 4) {
            EXPECT_TRUE(modMarbrel::VariantsEqual(change.Value().get(), made.Value().get())) << i;
        }
        change.BindToLibrary(fresh.get(), nullptr);
        if (typeOf[i] == SIZE_MAX) {
            EXPECT_FALSE(change.VarTypeInfo());
        } else {
            ASSERT_TRUE(change.VarTypeInfo()) << i;
            EXPECT_EQ(TypeText(change.VarTypeInfo().get()), TypeText(types[typeOf[i]].get())) << i;
        }
    }
}

TEST_F(HistoryRoundTrip, TypesAreFoundByGuidThenNameThenNumberAndOtherwiseReported) {
    VTICache cache;
    items.push_back(Item(ChangeKind::TypeChange, 2, ole::Variant(), cache));
    auto& change = dynamic_cast<IAttributeChange&>(*items.front().Change);
    const auto boundIn = [&](ITypeLib* context) {
        change.BindToLibrary(context, nullptr);
        return TypeText(change.VarTypeInfo().get());
    };
    ComPtr<ITypeLib> renamed = Shapes();
    ComPtr<ICreateTypeInfo2> shape = TypeNamed(renamed.get(), u"IShape").As<ICreateTypeInfo2>();
    EXPECT_OK(shape->SetName(u"IShape2"));
    EXPECT_EQ(boundIn(renamed.get()), "IShape2*");
    EXPECT_OK(shape->SetGuid({1, 2, 3, {4}}));
    EXPECT_EQ(boundIn(renamed.get()), "IShape2*");

    ComPtr<ICreateTypeLib2> other = NewLibrary(u"Other");
    EXPECT_OK(other->SetDocString(u"no shapes"));
    const ErrorRecord error = RecordOf([&] { boundIn(AsTypeLib(other.get()).get()); });
    EXPECT_EQ(error.Number, kErrSubscriptOutOfRange);
    EXPECT_NE(Utf8(error.Description).find(" IShape in library Other (no shapes)."), std::string::npos)
        << Utf8(error.Description);
}

TEST_F(HistoryRoundTrip, ADualNamedByItsDispatchViewIsFoundByGuidAndByNumber) {
    // Saved and loaded, a dual shows its dispatch view, and references name that view.
    int n = 0;
    const auto saved = [&](const char16_t* name, const GUID& iid) {
        const std::u16string file = ole::FromUtf8((dir / ("dual" + std::to_string(n++) + ".tlb")).string());
        ComPtr<ICreateTypeLib2> built = BuildShapes(file);
        ComPtr<ICreateTypeInfo2> shape = TypeNamed(AsTypeLib(built.get()).get(), u"IShape").As<ICreateTypeInfo2>();
        EXPECT_OK(shape->SetName(name));
        EXPECT_OK(shape->SetGuid(iid));
        EXPECT_OK(built->SaveAllChanges());
        ComPtr<ITypeLib> loaded;
        EXPECT_OK(LoadTypeLibEx(file.c_str(), REGKIND_NONE, loaded.put()));
        return loaded;
    };
    ComPtr<tli::Members> matrix =
        MembersOf(testsupport::TypeNamed(InfoOf(saved(u"IShape", kShapeIid).get()).get(), u"Matrix").get());
    VTICache cache;
    const auto entry = cache.AddVarType(testsupport::TypeOfMember(matrix.get(), u"shape").get());
    for (const GUID& iid : {kShapeIid, GUID{1, 2, 3, {4}}}) {  // renamed: found by GUID, then by number
        const ComPtr<ITypeLib> renamed = saved(u"IShape2", iid);
        EXPECT_EQ(TypeText(entry->GetVarTypeInfo(renamed.get()).get()), "IShape2*");
    }
}

TEST_F(HistoryRoundTrip, ATypeTiedToARecordOfTheEditedLibrarysOwnLibidIsFoundInIt) {
    // Tied to its library, as other writers tie every type: Shapes in memory, which no file holds.
    VTICache cache;
    const auto shape = cache.AddType(testsupport::TypeNamed(InfoOf(lib.get()).get(), u"IShape").get(), true);
    ASSERT_EQ(cache.LibraryCount(), 1u);
    const ComPtr<ITypeLib> fresh = Shapes();
    ComPtr<ITypeLib> found;
    UINT index = 0;
    EXPECT_OK(shape->GetTypeInfo(fresh.get())->GetContainingTypeLib(found.put(), &index));
    EXPECT_TRUE(typelib_detail::SameObject(found.get(), fresh.get()));
}

// ---- Targets ----

TEST(HistoryTargets, AKindGivenATargetItDoesNotTakeIsRefusedBeforeAnythingChanges) {
    const ComPtr<ITypeLib> lib = Shapes();
    CustomTypeLib view;
    view.Attach(lib.get());
    const std::string before = Dump(lib.get());
    for (ChangeTarget target : {LibraryTarget(lib.get()), TypeTarget(lib.get(), u"IShape"),
                                ImplTarget(lib.get(), u"Shape", 0), MemberTarget(lib.get(), u"IShape", u"Zoom"),
                                ParamTarget(lib.get(), u"IShape", u"Zoom", 0)})
        for (ChangeKind kind : kAllChangeKinds) {
            if (AcceptsTarget(Code(kind), target.Kind)) continue;
            const ChangePtr change = CreateTestChange(Code(kind)), captured = CreateTestChange(Code(kind));
            EXPECT_EQ(ErrorOf([&] { change->Apply(view, captured.get(), target, nullptr, 0); }), kErrInvalidArgument)
                << static_cast<int>(Code(kind)) << " on target kind " << target.Kind;
        }
    EXPECT_TRUE(Edits(view, lib.get()));
    EXPECT_EQ(Dump(lib.get()), before);
}

// ---- The history engine on real files ----

class HistoryEngineFiles : public HistoryRoundTrip {
protected:
    HistoryEngineFiles() {
        history.ChangeListener(hub);
        history.CurrentITypeLib(lib.get());
        view.Attach(lib.get());
    }
    // An edit made in the view through the hub and recorded by the engine.
    void Apply(ChangeKind kind, ChangeTarget target, const std::function<void(IAttributeChange&)>& set) {
        auto captured = std::dynamic_pointer_cast<IAttributeChange>(CreateTestChange(Code(kind)));
        captured->InitFromTarget(target);
        auto change = std::dynamic_pointer_cast<IAttributeChange>(captured->Clone());
        set(*change);
        EXPECT_TRUE(change->Apply(view, captured.get(), target, hub.get(), 0));
    }
    void RecordSome() {
        Apply(ChangeKind::MemberChange, MemberTarget(lib.get(), u"Matrix", u"one", 0),
              [&](auto& c) { c.VarTypeInfo(Live(4).get()); });
        Apply(ChangeKind::MemberChange, MemberTarget(lib.get(), u"Kernel", u"Answer", 0),
              [](auto& c) { c.Value(ole::Variant(int32_t{7})); });
        Apply(ChangeKind::TypeChange, TypeTarget(lib.get(), u"LongPtr"),
              [&](auto& c) { c.VarTypeInfo(Live(1).get()); });
    }
    std::u16string Folder() const { return ole::FromUtf8(dir.path().string()); }
    std::vector<std::string> FolderFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::shared_ptr<ChangeListener> hub = std::make_shared<ChangeListener>();
    CustomTypeLib view;
    Playback history{std::make_shared<HistoryFile>(CreateTestChange)};
};

TEST_F(HistoryEngineFiles, ARecordedDeleteIsSavedAsTheGoldenFile) {
    ComPtr<ICreateTypeLib2> created = NewLibrary(u"Lib");
    NewType(created.get(), u"IFoo", TKIND_INTERFACE);
    ComPtr<ITypeLib> foo = AsTypeLib(created.get());
    history.CurrentITypeLib(foo.get());
    view.Attach(foo.get());
    ChangeTarget target = TypeTarget(foo.get(), u"IFoo");
    ASSERT_TRUE(modDeleteChange::GetDeleteChange()->Apply(view, nullptr, target, hub.get(), 0));
    // The library was regenerated without the type; the engine goes on with the new one.
    ASSERT_TRUE(target.ReplacementLibrary);
    EXPECT_EQ(target.ReplacementLibrary->GetTypeInfoCount(), 0u);
    EXPECT_TRUE(Edits(view, target.ReplacementLibrary.get()));
    EXPECT_TRUE(typelib_detail::SameObject(history.CurrentITypeLib().get(), target.ReplacementLibrary.get()));
    ASSERT_TRUE(history.SaveState(Folder(), u"delete.leh"));
    const Bytes golden = FileBytes(ZEPHRIN_TEST_DATA_DIR "/history/delete-interface.leh");
    EXPECT_EQ(FileBytes(dir / "delete.leh"), golden);
    EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"delete.leh"}));

    VTICache cache;
    const std::list<ChangeNode> read = modRecorder::ReadEditHistory(golden, cache, dir.path(), CreateTestChange);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read.front().Flags, 0x2019);
    EXPECT_EQ(Utf8(read.front().Text), "Delete interface IFoo");
    EXPECT_EQ(Utf8(read.front().TypeName), "IFoo");
    EXPECT_EQ(read.front().TypeKind, 3);
    EXPECT_EQ(read.front().Change, modDeleteChange::GetDeleteChange());
}

TEST_F(HistoryEngineFiles, AHistoryLoadsBackAndSavesToTheSameBytes) {
    RecordSome();
    ASSERT_TRUE(history.SaveState(Folder(), u"h.leh"));
    Playback other{std::make_shared<HistoryFile>(CreateTestChange)};
    other.LoadState(Folder(), u"h.leh");
    EXPECT_EQ(other.ItemCount(), 3);
    ASSERT_TRUE(other.SaveState(Folder(), u"again.leh"));
    EXPECT_EQ(FileBytes(dir / "again.leh"), FileBytes(dir / "h.leh"));
    EXPECT_EQ(ErrorOf([&] { other.LoadState(Folder(), u"missing.leh"); }), kErrFileNotFound);
}

TEST_F(HistoryEngineFiles, UnnamedParametersAreFoundAgainByTheirPosition) {
    // Fill and Early with unnamed parameters, as real libraries often have them.
    const auto unnamed = [] {
        ComPtr<ITypeLib> made = Shapes();
        CustomTypeLib model;
        model.Attach(made.get());
        for (const char16_t* function : {u"Fill", u"Early"}) {
            const ChangeTarget f = MemberTarget(made.get(), u"IShape", function);
            for (int16_t i : {0, 1}) model.GetCustomTypeInfoByNumber(f.TypeIndex)->SetParameterName(f.MemberId, i, u"");
        }
        return made;
    };
    lib = unnamed();
    view.Attach(lib.get());
    history.CurrentITypeLib(lib.get());
    Apply(ChangeKind::ParamChange, ParamTarget(lib.get(), u"IShape", u"Early", 1),
          [&](auto& c) { c.VarTypeInfo(Live(1).get()); });
    ChangeTarget extra = ParamTarget(lib.get(), u"IShape", u"Fill", 1);
    ASSERT_TRUE(modDeleteChange::GetDeleteChange()->Apply(view, nullptr, extra, hub.get(), 0));
    const ComPtr<ITypeLib> fresh = unnamed();
    history.AttachITypeLib(fresh.get());
    EXPECT_TRUE(history.ExecuteCommand(kCmdRun, -1, 0));
    EXPECT_EQ(Dump(fresh.get()), Dump(lib.get()));
}

TEST_F(HistoryEngineFiles, EditsOnAParameterNodeReplayFromTheSavedFile) {
    // The parameter node offers Remove ParamArray on its ParamArray; a parameter
    // left unnamed is named again.
    ChangeTarget values = ParamTarget(lib.get(), u"IShape", u"Sum", 0);
    ASSERT_TRUE(modRemoveParamArrayChange::GetRemoveParamArrayChange()->Apply(view, nullptr, values, hub.get(), 0));
    for (const char16_t* name : {u"", u"by"}) {
        auto rename = modRenameChange::NewRenameChange(false);
        rename->NewName(name);
        ChangeTarget factor = ParamTarget(lib.get(), u"IShape", u"Zoom", 0);
        ASSERT_TRUE(rename->Apply(view, nullptr, factor, hub.get(), 0));
    }
    ASSERT_TRUE(history.SaveState(Folder(), u"h.leh"));
    Playback replay{std::make_shared<HistoryFile>(CreateTestChange)};
    replay.LoadState(Folder(), u"h.leh");
    const ComPtr<ITypeLib> fresh = Shapes();
    replay.AttachITypeLib(fresh.get());
    EXPECT_NO_THROW(replay.ExecuteCommand(kCmdRun, -1, 0));
    EXPECT_EQ(Dump(fresh.get()), Dump(lib.get()));
}

TEST_F(HistoryEngineFiles, ADeletedItemLeavesNoReferenceEntriesInTheSavedFile) {
    ShownHistoryList shown{history};
    ASSERT_TRUE(shown.Shown());
    FakeHistoryList& ui = shown.ui;
    RecordSome();  // the first item refers to the other library's IExt
    history.ExecuteCommand(kCmdRestart, -1, 0);
    history.ExecuteCommand(kCmdDelete, 0, ui.lines.at(0));
    ASSERT_TRUE(history.SaveState(Folder(), u"h.leh"));
    shown.Hide();
    // What is left is read back by its new ordinals: one intrinsic description.
    VTICache read;
    EXPECT_EQ(modRecorder::ReadEditHistory(FileBytes(dir / "h.leh"), read, dir.path(), CreateTestChange).size(), 2u);
    EXPECT_EQ(read.LibraryCount() + read.TypeCount(), 0u);
    EXPECT_EQ(read.VarTypeCount(), 1u);
}

TEST_F(HistoryEngineFiles, ABadOrTruncatedFileLeavesTheHistoryAsItWas) {
    RecordSome();
    ASSERT_TRUE(history.SaveState(Folder(), u"h.leh"));
    const Bytes good = FileBytes(dir / "h.leh");
    const auto load = [&](std::span<const std::byte> bytes) {
        WriteFile(dir / "bad.leh", bytes);
        const ErrorRecord e = RecordOf([&] { history.LoadState(Folder(), u"bad.leh"); });
        EXPECT_EQ(history.ItemCount(), 3);
        return e;
    };
    int pastEnd = 0;
    for (size_t cut = 0; cut < good.size(); ++cut) {
        const ErrorRecord e = load(std::span(good).first(cut));
        // A count larger than what is left is refused as bad content.
        EXPECT_TRUE(e.Number == kErrInputPastEnd || IsFormatError(e)) << cut << ": " << e.what();
        if (cut < 8) {
            EXPECT_TRUE(IsFormatError(e)) << cut;
        }
        pastEnd += e.Number == kErrInputPastEnd;
    }
    EXPECT_GT(pastEnd, static_cast<int>(good.size()) / 2);

    // Files with one item of kind, whose tables are made by tables.
    const auto file = [](int32_t version, const std::function<void(RecordWriter&)>& tables, int32_t flags,
                         const std::function<void(RecordWriter&)>& payload) {
        RecordWriter w;
        w.PutBytes(B({'W', 'E', 'X', 'O'}));
        w.PutLong(version);
        tables(w);
        w.PutLong(flags);
        for (int i = 0; i < 4; ++i) w.PutString(u"n");
        w.PutByte(3);
        w.PutByte(1);
        w.PutInteger(0);
        payload(w);
        w.PutLong(-1);
        return w.Bytes();
    };
    const auto noTables = [](RecordWriter& w) {
        for (int i = 0; i < 3; ++i) w.PutLong(0);
    };
    const auto oneVarType = [](RecordWriter& w) {  // one long
        for (int32_t count : {0, 0, 1, 0}) w.PutLong(count);
        for (int16_t field : {3, 0, 0, 0}) w.PutInteger(field);
    };
    // A member change of a type (its plain ordinal) and a value; a type change
    // of a type (its ordinal + 1).
    const auto member = [](int32_t ordinal, std::initializer_list<int> variant) {
        return [=](RecordWriter& w) {
            w.PutInteger(0xA0);
            w.PutLong(ordinal);
            w.PutBytes(B(variant));
        };
    };
    const auto typeRef = [](int32_t ref) {
        return [=](RecordWriter& w) {
            w.PutLong(0x20);
            w.PutLong(ref);
        };
    };
    const auto none = [](RecordWriter&) {};
    const int32_t type10 = 0x4000 | 10, type18 = 0x4000 | 18, del = 0x2000 | 25;
    // A good file of each form loads; bits 8 and 9 are dropped, bytes after the end are ignored.
    Bytes extra = file(4, oneVarType, type18 | 0x300, member(0, {0, 0, 2, 0, 1, 0}));
    extra.push_back(std::byte{0x55});
    VTICache cache;
    const std::list<ChangeNode> read = modRecorder::ReadEditHistory(extra, cache, dir.path(), CreateTestChange);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read.front().Flags, type18);
    VTICache cache0;
    EXPECT_EQ(modRecorder::ReadEditHistory(file(0, noTables, del, none), cache0, dir.path(), CreateTestChange).size(),
              1u);

    const std::vector<Bytes> bad = {
        file(5, noTables, del, none),
        file(-1, noTables, del, none),
        file(4, [](RecordWriter& w) { w.PutLong(-1); }, del, none),
        file(4, [](RecordWriter& w) { w.PutLong(1000); }, del, none),
        file(4,
             [](RecordWriter& w) {  // a type of library 1, with no library
                 w.PutLong(0);
                 w.PutLong(1);
                 w.PutLong(1);
                 w.PutGuid({});
                 w.PutInteger(3);
                 w.PutInteger(0);
                 w.PutString(u"T");
                 w.PutLong(0);
             },
             del, none),
        file(4,
             [](RecordWriter& w) {  // a description of type 1, with no type
                 w.PutLong(0);
                 w.PutLong(0);
                 w.PutLong(1);
                 w.PutLong(1);
                 for (int i = 0; i < 4; ++i) w.PutInteger(0);
             },
             del, none),
        file(4,
             [](RecordWriter& w) {  // negative dimensions
                 w.PutLong(0);
                 w.PutLong(0);
                 w.PutLong(1);
                 w.PutLong(0);
                 for (int v : {0x1003, 0, 0, -1}) w.PutInteger(static_cast<int16_t>(v));
             },
             del, none),
        file(4, noTables, 0x2000 | 7, none),                       // no such kind
        file(4, noTables, 25, none),                               // target kind 0
        file(4, noTables, 0x6000 | 25, none),                      // target kind 6
        file(4, noTables, 0x1000 | 45, none),                      // all IDs reset in the library
        file(4, noTables, 0x1000 | 25, none),                      // a delete aimed at the library
        file(4, noTables, type18, member(0, {0, 0, 0, 0})),        // ordinal with no descriptions
        file(4, oneVarType, type18, member(1, {0, 0, 0, 0})),      // ordinal past the table
        file(4, oneVarType, type10, typeRef(2)),                   // reference past the table
        file(4, oneVarType, type10, typeRef(-5)),                  // negative reference
        file(4, oneVarType, type18, member(0, {0, 0, 9, 0})),      // a Variant pair no writer writes
        file(4, oneVarType, type18, member(0, {0, 0, 8, 0, 0xFF, 0xFF})),  // negative string length
        file(4, noTables, 0x2000 | 86,
             [](RecordWriter& w) {  // a help file scope with no meaning
                 for (int b : {2, 3, 0}) w.PutByte(static_cast<uint8_t>(b));
                 for (int i = 0; i < 2; ++i) w.PutLong(0);
                 for (int i = 0; i < 3; ++i) w.PutInteger(0);
             }),
    };
    Bytes wrongMagic = file(4, noTables, del, none);
    wrongMagic[3] = std::byte{'P'};
    EXPECT_TRUE(IsFormatError(load(wrongMagic)));
    for (size_t i = 0; i < bad.size(); ++i) {
        const ErrorRecord e = load(bad[i]);
        EXPECT_TRUE(IsFormatError(e)) << i << ": " << e.what();
    }
    // After all that, the history is the one saved first.
    ASSERT_TRUE(history.SaveState(Folder(), u"after.leh"));
    EXPECT_EQ(FileBytes(dir / "after.leh"), good);
}

TEST_F(HistoryEngineFiles, AnItemTheFileCannotHoldFailsTheSaveNamingItAndKeepsTheOldFile) {
    RecordSome();
    ASSERT_TRUE(history.SaveState(Folder(), u"h.leh"));
    const Bytes before = FileBytes(dir / "h.leh");

    Apply(ChangeKind::MemberChange, MemberTarget(lib.get(), u"Kernel", u"Greeting", 0),
          [&](auto& c) { c.Value(ole::Variant(Dec(29, false, 0, 5))); });  // no Decimal has that scale
    const ErrorRecord unsaveable = RecordOf([&] { history.SaveState(Folder(), u"h.leh"); });
    EXPECT_EQ(unsaveable.Number, kErrTypeMismatch);
    EXPECT_NE(Utf8(unsaveable.Description).find("\"Changed module constant Kernel.Greeting (Value)\""),
              std::string::npos)
        << unsaveable.what();
    EXPECT_EQ(FileBytes(dir / "h.leh"), before);
    EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"h.leh"}));

    // A kind that stores a plain ordinal needs its type description.
    history.ClearState();
    auto untyped = std::dynamic_pointer_cast<IAttributeChange>(CreateTestChange(Code(ChangeKind::MemberChange)));
    untyped->VarTypeInfo(nullptr);
    ChangeTarget one = MemberTarget(lib.get(), u"Matrix", u"one", 0);
    history.OnMemberChange(one, *untyped, 0, 0);
    const ErrorRecord missing = RecordOf([&] { history.SaveState(Folder(), u"h.leh"); });
    EXPECT_EQ(missing.Number, kErrInvalidArgument);
    EXPECT_NE(Utf8(missing.Description).find("type description"), std::string::npos);
    EXPECT_EQ(FileBytes(dir / "h.leh"), before);

    history.ClearState();
    Apply(ChangeKind::TypeChange, TypeTarget(lib.get(), u"Colors"), [](auto& c) { c.SetFlags(TYPEFLAG_FHIDDEN, true); });
    ASSERT_EQ(::chmod((dir / "h.leh").c_str(), 0444), 0);
    EXPECT_EQ(ErrorOf([&] { history.SaveState(Folder(), u"h.leh"); }), kErrPathFileAccess);
    EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"h.leh"}));
}

// A save that fails names the history file, never a temporary file or only
// its folder, and says why, as a library save does; the old file stays as it was.
TEST_F(HistoryEngineFiles, AFailedSaveNamesTheHistoryFileAndTheCause) {
    RecordSome();
    ASSERT_TRUE(history.SaveState(Folder(), u"h.leh"));
    const Bytes before = FileBytes(dir / "h.leh");
    const std::string file = (dir / "h.leh").string();

    // The disk fills up while the history is written (the file may not grow
    // past a few bytes here).
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const ErrorRecord full = RecordOf([&] { history.SaveState(Folder(), u"h.leh"); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(full.Number, kErrPathFileAccess);
    EXPECT_EQ(Utf8(full.Description), "'" + file + "' could not be written: File too large.");
    EXPECT_EQ(FileBytes(dir / "h.leh"), before);
    EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"h.leh"}));

    // A folder that isn't there: the file and the reason, not the folder alone.
    const ErrorRecord missing = RecordOf([&] { history.SaveState(Folder() + u"/gone", u"h.leh"); });
    EXPECT_EQ(missing.Number, kErrPathFileAccess);
    EXPECT_EQ(Utf8(missing.Description), "'" + (dir / "gone" / "h.leh").string() +
                                             "' could not be written: the folder '" + (dir / "gone").string() +
                                             "' does not exist.");

    // A read-only history is refused as writing it would be.
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_EQ(Utf8(RecordOf([&] { history.SaveState(Folder(), u"h.leh"); }).Description),
              "'" + file + "' is read-only.");
}

}  // namespace
}  // namespace changestest
