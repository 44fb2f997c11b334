// Inputs the fuzzer found troublesome (tests/data/fuzz-regressions): each
// must load cleanly or fail with an error, and a loaded library must answer
// every reading call without crashing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/oleauto/MsftReader.h"
#include "platform/oleauto/SltgReader.h"
#include "platform/oleauto/TypeLibFiles.h"

namespace {

using namespace ole;
namespace fs = std::filesystem;

std::vector<fs::path> Inputs() {
    std::vector<fs::path> files;
    fs::path dir = fs::path(ZEPHRIN_TEST_DATA_DIR) / "fuzz-regressions";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

void WalkEverything(ITypeLib* lib) {
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
            BSTR names[64] = {};
            UINT n = 0;
            if (SUCCEEDED(ti->GetNames(fd->memid, names, 64, &n)))
                for (UINT q = 0; q < n; ++q) SysFreeString(names[q]);
            ti->ReleaseFuncDesc(fd);
        }
        for (UINT k = 0; k < ta->cVars; ++k) {
            VARDESC* vd = nullptr;
            if (SUCCEEDED(ti->GetVarDesc(k, &vd)) && vd) ti->ReleaseVarDesc(vd);
        }
        ti->ReleaseTypeAttr(ta);
    }
}

TEST(ReaderFuzzRegressions, EveryFoundInputLoadsOrFailsCleanly) {
    for (const fs::path& file : Inputs()) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream in(file, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ComPtr<ITypeLib> lib;
        HRESULT hr = LoadTypeLibFromMemory(bytes.data(), bytes.size(), u"", lib.put());
        if (SUCCEEDED(hr))
            WalkEverything(lib.get());
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
