// Reading MSFT images: broken images (truncated, corrupted, or found by the fuzzer in
// tests/data/fuzz-regressions) fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "SltgBuilder.h"
#include "support/EngineTestSupport.h"
#include "platform/tlbfiles/DecodeContext.h"
#include "platform/tlbfiles/MsftReader.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbfiles/SltgReader.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "support/FileContents.h"

namespace {

using namespace enginetest;

// The committed MSFT goldens (every type kind, duals, help and custom data at
// every level); that they read and write back exactly is checked against the
// reference dumps in GoldenFilesTest.
std::vector<std::vector<std::byte>> Goldens() {
    std::vector<std::vector<std::byte>> out;
    for (const char* name : {"kinds.tlb", "interfaces.tlb", "helpdata.tlb"})
        out.push_back(testsupport::ReadBytes(std::filesystem::path(ZEPHRIN_TEST_DATA_DIR) / "golden" / name));
    return out;
}

// Everything a reader of a library can ask for, asked once; must not crash.
void Walk(ITypeLib* lib) {
    TLIBATTR* la = nullptr;
    if (SUCCEEDED(lib->GetLibAttr(&la))) lib->ReleaseTLibAttr(la);
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        if (FAILED(lib->GetTypeInfo(i, ti.put())) || !ti) continue;
        TYPEATTR* ta = nullptr;
        if (FAILED(ti->GetTypeAttr(&ta)) || !ta) continue;
        for (UINT k = 0; k < ta->cImplTypes; ++k) {
            HREFTYPE h = 0;
            ComPtr<ITypeInfo> r;
            if (SUCCEEDED(ti->GetRefTypeOfImplType(k, &h))) ti->GetRefTypeInfo(h, r.put());
        }
        for (UINT k = 0; k < ta->cFuncs; ++k) {
            FUNCDESC* fd = nullptr;
            if (FAILED(ti->GetFuncDesc(k, &fd)) || !fd) continue;
            NamesOf(ti.get(), fd->memid, 64);
            for (SHORT p = 0; p < fd->cParams; ++p) {
                const TYPEDESC* td = &fd->lprgelemdescParam[p].tdesc;
                while (td->vt == VT_PTR || td->vt == VT_SAFEARRAY) td = td->lptdesc;
                ComPtr<ITypeInfo> r;
                if (td->vt == VT_USERDEFINED) ti->GetRefTypeInfo(td->hreftype, r.put());
            }
            ti->ReleaseFuncDesc(fd);
        }
        for (UINT k = 0; k < ta->cVars; ++k) {
            VARDESC* vd = nullptr;
            if (SUCCEEDED(ti->GetVarDesc(k, &vd)) && vd) ti->ReleaseVarDesc(vd);
        }
        ti->ReleaseTypeAttr(ta);
    }
}

TEST(ReaderMsft, EveryTruncationFailsCleanly) {
    for (const auto& image : Goldens()) {
        ASSERT_GT(image.size(), 0x54u);
        LibraryData data;
        ASSERT_OK(ReadMsft(image, &data));
        for (size_t n = 0; n < image.size(); ++n) {
            ComPtr<ITypeLib> lib;
            HRESULT hr = LoadTypeLibFromMemory(image.data(), n, u"", lib.put());
            if (SUCCEEDED(hr))
                Walk(lib.get());  // a cut inside trailing padding may still read
            else
                EXPECT_TRUE(hr == TYPE_E_CANTLOADLIBRARY || hr == TYPE_E_INVALIDSTATE) << n << " " << std::hex << hr;
        }
    }
}

TEST(ReaderMsft, CorruptedBytesNeverCrashOrHang) {
    std::mt19937 rng(4);
    for (const auto& image : Goldens()) {
        for (int round = 0; round < 1000; ++round) {
            std::vector<std::byte> bad = image;
            int flips = 1 + static_cast<int>(rng() % 4);
            for (int k = 0; k < flips; ++k) {
                size_t at = rng() % bad.size();
                // Offsets and counts are the interesting targets: large, negative and small values.
                static const uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0x10};
                bad[at] = std::byte{values[rng() % 6]};
            }
            ComPtr<ITypeLib> lib;
            if (SUCCEEDED(LoadTypeLibFromMemory(bad.data(), bad.size(), u"", lib.put()))) Walk(lib.get());
        }
    }
}

TEST(ReaderMsft, RejectsWhatIsNotATypeLibrary) {
    LibraryData data;
    EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, ReadMsft({}, &data));
    std::vector<std::byte> text(200, std::byte{'x'});
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, LoadTypeLibFromMemory(text.data(), text.size(), u"", lib.put()));
    EXPECT_FALSE(lib);
    // A header that claims more types than the file could hold.
    std::vector<std::byte> header = Goldens().front();
    header[0x20] = std::byte{0xFF};
    header[0x21] = std::byte{0xFF};
    header[0x22] = std::byte{0xFF};
    header[0x23] = std::byte{0x0F};
    EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, ReadMsft(header, &data));
}

// ---- What a file can make the reader build ----

GUID Key(uint32_t n) {
    return GUID{0xC057DA7A, 0, 0, {0, 0, 0, 0, BYTE(n >> 24), BYTE(n >> 16), BYTE(n >> 8), BYTE(n)}};
}

// An image made by the writer, with the offsets the tests patch.
struct Image {
    std::vector<std::byte> bytes;
    uint32_t U32(size_t at) const {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(bytes.at(at + i)) << (8 * i);
        return v;
    }
    void Put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::byte>(v >> (8 * i));
    }
    size_t TypeRecord(uint32_t i) const { return U32(0x54 + 4 * U32(0x20)) + 0x64 * i; }
    // The file offsets of the function records of type i.
    std::vector<size_t> Funcs(uint32_t type) const {
        std::vector<size_t> out;
        size_t rec = TypeRecord(type);
        size_t at = U32(rec + 4) + 4;
        for (uint32_t k = 0; k < (U32(rec + 0x18) & 0xFFFF); ++k, at += U32(at) & 0xFFFF) out.push_back(at);
        return out;
    }
    HRESULT Read(LibraryData* out) const { return ReadMsft(bytes, out); }
};

// A library whose one interface has `funcs` methods, each with a help string
// and a custom data item of its own; the library has a 60,000-character help
// string and a chain of `items` custom data items.
Image BuildShared(size_t funcs, uint32_t items) {
    LibraryData d;
    d.name = u"Shared";
    d.docString.assign(60000, u'x');
    for (uint32_t k = 0; k < items; ++k) d.custData.push_back({Key(k), Variant(std::u16string_view(u"shared item"))});
    TypeData t;
    t.name = u"IShared";
    t.kind = TKIND_INTERFACE;
    for (size_t i = 0; i < funcs; ++i) {
        FuncData f;
        f.name = u"F" + FromUtf8(std::to_string(i));
        f.memid = 0x60000000 + static_cast<MEMBERID>(i);
        f.oVft = static_cast<SHORT>(4 * i);
        f.returnType.vt = VT_HRESULT;
        f.docString = u"own";
        f.custData.push_back({Key(0xFF), Variant(int32_t(-1))});
        t.funcs.push_back(std::move(f));
    }
    d.types.push_back(std::move(t));
    Image image;
    EXPECT_OK(BuildMsftImage(d, &image.bytes));
    return image;
}

// Every method may point at the library's help string and custom data: each
// is decoded once and copied for each method, until the copies would exceed
// the budget (128 bytes of model per byte of image, plus 1 MB).
TEST(ReaderMsft, SharedItemsAreCopiedForEachUseWithinTheImagesBudget) {
    Image image = BuildShared(400, 40);
    std::vector<size_t> funcs = image.Funcs(0);
    ASSERT_EQ(funcs.size(), 400u);
    auto share = [&](size_t count) {
        for (size_t k = 0; k < count; ++k) {
            image.Put32(funcs[k] + 0x1C, image.U32(0x24));  // help string
            image.Put32(funcs[k] + 0x30, image.U32(0x40));  // custom data chain
        }
    };
    share(20);
    LibraryData data;
    ASSERT_OK(image.Read(&data));
    const FuncData& first = data.types.at(0).funcs.at(0);
    EXPECT_EQ(first.docString, data.docString);
    ASSERT_EQ(first.custData.size(), 40u);
    EXPECT_EQ(first.custData[39].guid, Key(39));
    EXPECT_EQ(data.types[0].funcs.at(20).docString, u"own");
    // 400 copies of the help string alone would be 48 MB, from a 90 KB file.
    ASSERT_LT(image.bytes.size(), 100000u);
    share(400);
    EXPECT_EQ(image.Read(&data), TYPE_E_CANTLOADLIBRARY);
}

// Every parameter's type may point at one array descriptor (here 8,000
// bounds, 64 KB): it is decoded once and each copy is charged. 1,000 copies
// would be 64 MB of bounds from a 213 KB file.
TEST(ReaderMsft, ASharedArrayDescriptorIsCopiedWithinTheImagesBudget) {
    auto build = [](size_t funcs) {
        LibraryData d;
        EXPECT_OK(BuildShared(0, 0).Read(&d));
        for (size_t i = 0; i < funcs; ++i) {
            FuncData f;
            f.name = u"F" + FromUtf8(std::to_string(i));
            f.memid = 0x60000000 + static_cast<MEMBERID>(i);
            f.oVft = static_cast<SHORT>(4 * i);
            f.returnType.vt = VT_HRESULT;
            f.params.resize(1);
            TypeDescData& array = f.params[0].type;
            array.vt = VT_CARRAY;
            array.MutableBounds().assign(i == 0 ? 8000 : 1, SAFEARRAYBOUND{2, 1});
            array.element.resize(1);
            array.element[0].vt = VT_I4;
            d.types[0].funcs.push_back(std::move(f));
        }
        Image image;
        EXPECT_OK(BuildMsftImage(d, &image.bytes));
        // Point every array type description at the large descriptor.
        size_t dir = 0x54 + 4 * image.U32(0x20);
        size_t arrays = image.U32(dir + 10 * 16), big = arrays;
        while (image.U32(big + 4) % 0x10000 != 8000) big += 8 + 8 * (image.U32(big + 4) % 0x10000);
        size_t descs = image.U32(dir + 9 * 16), descsEnd = descs + image.U32(dir + 9 * 16 + 4);
        for (size_t at = descs; at < descsEnd; at += 8)
            if (image.U32(at) % 0x10000 == VT_CARRAY) image.Put32(at + 4, static_cast<uint32_t>(big - arrays));
        return image;
    };
    LibraryData data;
    ASSERT_OK(build(20).Read(&data));
    const TypeDescData& last = data.types.at(0).funcs.at(19).params.at(0).type;
    EXPECT_EQ(last.Bounds().size(), 8000u);
    EXPECT_EQ(last.Bounds()[7999].lLbound, 1);
    Image many = build(1000);
    ASSERT_LT(many.bytes.size(), 220000u);
    EXPECT_EQ(many.Read(&data), TYPE_E_CANTLOADLIBRARY);
}

// A copied list holds its items in one block and the list itself in another
// (an empty list holds neither): the budget pays for both, with what the
// allocator adds to each.
TEST(ReaderMsft, ACopiedListIsChargedForBothOfItsBlocks) {
    constexpr size_t kBlock = 16;
    CustDataList items{{Key(1), Variant(int32_t(1))}, {Key(2), Variant(int32_t(2))}};
    EXPECT_EQ(DecodeContext::CostOf(CustDataList{}), 0u);
    EXPECT_GE(DecodeContext::CostOf(items),
              sizeof(std::vector<CustDataEntry>) + kBlock + 2 * sizeof(CustDataEntry) + kBlock);
    TypeDescData array;
    array.vt = VT_CARRAY;
    array.MutableBounds() = {SAFEARRAYBOUND{2, 0}, SAFEARRAYBOUND{3, 1}};
    array.element[0].vt = VT_I4;
    EXPECT_GE(DecodeContext::CostOf(array), sizeof(TypeDescData) + sizeof(std::vector<SAFEARRAYBOUND>) + kBlock +
                                                2 * sizeof(SAFEARRAYBOUND) + kBlock + sizeof(TypeDescData) + kBlock);
}

// Two types may not claim one member block.
TEST(ReaderMsft, TypesThatShareMembersAreRefused) {
    LibraryData d = [] {
        Image two = BuildShared(3, 0);
        LibraryData data;
        EXPECT_OK(two.Read(&data));
        data.types.push_back(data.types[0]);
        data.types[1].name = u"ISecond";
        return data;
    }();
    Image image;
    ASSERT_OK(BuildMsftImage(d, &image.bytes));
    LibraryData data;
    ASSERT_OK(image.Read(&data));
    size_t second = image.TypeRecord(1) + 4;
    image.Put32(second, image.U32(image.TypeRecord(0) + 4));
    EXPECT_EQ(image.Read(&data), TYPE_E_CANTLOADLIBRARY);
}

// A long chain reads in linear time; of a key met twice, the item nearer the
// head (the one set last) is kept.
TEST(ReaderMsft, LongCustomDataChainsKeepTheLastItemOfAKey) {
    Image image = BuildShared(0, 0);
    LibraryData d;
    ASSERT_OK(image.Read(&d));
    for (uint32_t k = 0; k < 30000; ++k) d.custData.push_back({Key(k), Variant(int32_t(k))});
    d.custData.push_back({Key(7), Variant(int32_t(-7))});
    ASSERT_OK(BuildMsftImage(d, &image.bytes));
    LibraryData data;
    ASSERT_OK(image.Read(&data));
    ASSERT_EQ(data.custData.size(), 30000u);
    auto seven = std::find_if(data.custData.begin(), data.custData.end(), [](auto& e) { return e.guid == Key(7); });
    ASSERT_NE(seven, data.custData.end());
    EXPECT_EQ(seven->value.get().lVal, -7);
}

// A custom data item whose value type can't be read is left out and listed;
// the rest of the library reads.
TEST(ReaderMsft, AnItemOfAnUnknownValueTypeIsLeftOutAndListed) {
    LibraryData d;
    ASSERT_OK(BuildShared(1, 0).Read(&d));
    DECIMAL dec{};
    dec.Lo64 = 0xD00D;
    d.custData = {{Key(1), Variant(int32_t(-7))}, {Key(2), Variant(dec)}, {Key(3), Variant(std::u16string_view(u"t"))}};
    Image image;
    ASSERT_OK(BuildMsftImage(d, &image.bytes));
    const std::byte entry[] = {std::byte{VT_DECIMAL}, std::byte{0}, std::byte{0x0D}, std::byte{0xD0}};
    auto at = std::search(image.bytes.begin(), image.bytes.end(), std::begin(entry), std::end(entry));
    ASSERT_NE(at, image.bytes.end());
    *at = std::byte{0x40};  // a FILETIME, which no reader can read
    ComPtr<ITypeLib> lib;
    ASSERT_OK(LoadTypeLibFromMemory(image.bytes.data(), image.bytes.size(), u"", lib.put()));
    CUSTDATA cd{};
    ASSERT_OK(lib.As<ITypeLib2>()->GetAllCustData(&cd));
    ASSERT_EQ(cd.cCustData, 2u);
    EXPECT_EQ(cd.prgCustData[0].guid, Key(1));
    EXPECT_EQ(cd.prgCustData[1].guid, Key(3));
    ClearCustData(&cd);
    std::shared_ptr<const LibraryData> data;
    ASSERT_OK(GetLibraryData(lib.get(), false, &data));
    ASSERT_EQ(data->unreadCustData.size(), 1u);
    EXPECT_EQ(data->unreadCustData[0].guid, Key(2));
    EXPECT_EQ(data->unreadCustData[0].vt, 0x40);
    EXPECT_EQ(data->types.size(), 1u);
    std::vector<UnreadCustData> unread;
    ASSERT_OK(GetUnreadCustData(lib.get(), &unread));
    ASSERT_EQ(unread.size(), 1u);
    EXPECT_EQ(unread[0].guid, Key(2));
    // A library made in memory has none.
    ComPtr<ICreateTypeLib2> created;
    ASSERT_OK(CreateTypeLib2(SYS_WIN32, std::u16string(u"made.tlb").data(), created.put()));
    unread.push_back({});
    ASSERT_OK(GetUnreadCustData(created.As<ITypeLib>().get(), &unread));
    EXPECT_TRUE(unread.empty());
}

// Each input the fuzzer found troublesome loads cleanly or fails with an
// error, and a loaded one answers every reading call.
TEST(ReaderMsft, FoundFuzzInputsLoadOrFailCleanly) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(ZEPHRIN_TEST_DATA_DIR) / "fuzz-regressions", ec))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream in(file, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ComPtr<ITypeLib> lib;
        HRESULT hr = LoadTypeLibFromMemory(bytes.data(), bytes.size(), u"", lib.put());
        if (SUCCEEDED(hr))
            Walk(lib.get());
        else
            EXPECT_TRUE(hr == TYPE_E_CANTLOADLIBRARY || hr == TYPE_E_INVALIDSTATE || hr == E_OUTOFMEMORY)
                << std::hex << hr;
        LibraryData data;
        auto span = std::as_bytes(std::span(bytes));
        (void)ReadMsft(span, &data);
        (void)ReadSltg(span, &data);
    }
}

// Both formats' vtable words read as the platform reads them: rounded down to
// a multiple of the pointer size, so a compiler's marker bit goes and a
// function that stores 0xFFFF (no slot) sits at -4 in a 32-bit library.
TEST(ReaderMsft, VtableWordsAreRoundedDownToThePointerSize) {
    const std::pair<SHORT, SHORT> words[] = {{13, 12}, {14, 12}, {23, 20}, {-1, -4}, {-6, -8}};
    LibraryData d;
    d.name = u"Vtables";
    TypeData& t = d.types.emplace_back();
    t.name = u"IWords";
    t.kind = TKIND_INTERFACE;
    for (const auto& [word, offset] : words) {
        FuncData& f = t.funcs.emplace_back();
        f.name = u"F" + FromUtf8(std::to_string(t.funcs.size()));
        f.oVft = word;
        f.returnType.vt = VT_HRESULT;
    }
    std::vector<std::byte> msft;
    ASSERT_OK(BuildMsftImage(d, &msft));
    LibraryData fromMsft, fromSltg;
    ASSERT_OK(ReadMsft(msft, &fromMsft));
    ASSERT_OK(ReadSltg(sltgtest::BuildSltg(d), &fromSltg));
    for (size_t i = 0; i < std::size(words); ++i) {
        EXPECT_EQ(fromMsft.types.at(0).funcs.at(i).oVft, words[i].second) << words[i].first;
        EXPECT_EQ(fromSltg.types.at(0).funcs.at(i).oVft, words[i].second) << words[i].first;
    }
}

}  // namespace
