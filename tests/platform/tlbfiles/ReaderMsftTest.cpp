// Reading MSFT images: broken images (truncated, corrupted, or found by the fuzzer in
// tests/data/fuzz-regressions) fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "support/EngineTestSupport.h"
#include "platform/tlbfiles/MsftReader.h"
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

}  // namespace
