// The engine's side of the engine-to-engine timing: loads a type library file
// with LoadTypeLibEx and walks all of it with exactly the calls of the
// platform-side walk (every type, implemented type, function, name,
// parameter name, variable and doc string, and a dual's other half), then
// releases it. Prints one line per run, as the platform side does: the
// milliseconds of load+walk+release and a checksum of what was read (the
// same checksum on the same file).
//
//   bench_reference_walk FILE [RUNS]   times RUNS walks of FILE (5 unless given)
//   bench_reference_walk --make DIR    writes the generated libraries into DIR:
//                                      large.tlb (the 3 MB library of the tree
//                                      and view benchmarks) and small-types.tlb
//                                      (many records, enumerations and aliases)
//
// Each run loads the file anew: the library of the run before is no longer
// held, so the load reads and decodes the file again (and lets the previous
// one go, as its release would have).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "SmallTypesLibrary.h"
#include "TreeLibrarySizes.h"

using namespace ole;

namespace {

// 32-bit counts, as the platform side (a 32-bit program) adds them up.
using Count = uint32_t;

Count Walk(ITypeInfo* ti, bool follow) {
    Count seen = 0;
    TYPEATTR* ta = nullptr;
    if (FAILED(ti->GetTypeAttr(&ta))) return 0;
    BSTR name = nullptr, doc = nullptr;
    ti->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr);
    seen += SysStringLen(name) + SysStringLen(doc);
    SysFreeString(name);
    SysFreeString(doc);
    for (UINT k = 0; k < ta->cImplTypes; ++k) {
        HREFTYPE h = 0;
        ITypeInfo* b = nullptr;
        if (SUCCEEDED(ti->GetRefTypeOfImplType(k, &h)) && SUCCEEDED(ti->GetRefTypeInfo(h, &b))) b->Release();
    }
    for (UINT k = 0; k < ta->cFuncs; ++k) {
        FUNCDESC* fd = nullptr;
        BSTR names[64];
        UINT cn = 0;
        BSTR fdoc = nullptr;
        if (FAILED(ti->GetFuncDesc(k, &fd))) continue;
        ti->GetNames(fd->memid, names, 64, &cn);
        for (UINT q = 0; q < cn; ++q) {
            seen += SysStringLen(names[q]);
            SysFreeString(names[q]);
        }
        ti->GetDocumentation(fd->memid, nullptr, &fdoc, nullptr, nullptr);
        seen += SysStringLen(fdoc) + static_cast<Count>(fd->cParams);
        SysFreeString(fdoc);
        ti->ReleaseFuncDesc(fd);
    }
    for (UINT k = 0; k < ta->cVars; ++k) {
        VARDESC* vd = nullptr;
        BSTR vn = nullptr;
        UINT cn = 0;
        BSTR vdoc = nullptr;
        if (FAILED(ti->GetVarDesc(k, &vd))) continue;
        ti->GetNames(vd->memid, &vn, 1, &cn);
        seen += SysStringLen(vn);
        SysFreeString(vn);
        ti->GetDocumentation(vd->memid, nullptr, &vdoc, nullptr, nullptr);
        seen += SysStringLen(vdoc);
        SysFreeString(vdoc);
        ti->ReleaseVarDesc(vd);
    }
    if (follow && ta->typekind == TKIND_DISPATCH && (ta->wTypeFlags & TYPEFLAG_FDUAL)) {
        HREFTYPE h = 0;
        ITypeInfo* half = nullptr;
        if (SUCCEEDED(ti->GetRefTypeOfImplType(static_cast<UINT>(-1), &h)) &&
            SUCCEEDED(ti->GetRefTypeInfo(h, &half))) {
            seen += Walk(half, false);
            half->Release();
        }
    }
    ti->ReleaseTypeAttr(ta);
    return seen;
}

int Run(const std::u16string& file) {
    using Clock = std::chrono::steady_clock;
    const auto a = Clock::now();
    ITypeLib* tl = nullptr;
    if (FAILED(LoadTypeLibEx(file.c_str(), REGKIND_NONE, &tl))) {
        std::printf("LOADFAIL\n");
        return 1;
    }
    Count seen = 0;
    const UINT n = tl->GetTypeInfoCount();
    for (UINT i = 0; i < n; ++i) {
        ITypeInfo* ti = nullptr;
        if (SUCCEEDED(tl->GetTypeInfo(i, &ti))) {
            seen += Walk(ti, true);
            ti->Release();
        }
    }
    tl->Release();
    const auto b = Clock::now();
    std::printf("%.3f ms %lu\n", std::chrono::duration<double, std::milli>(b - a).count(),
                static_cast<unsigned long>(seen));
    return 0;
}

int Make(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    RegisterFileServices();
    const auto large = dir / "large.tlb", small = dir / "small-types.tlb";
    benchlib::BuildLarge(large.u16string(), benchlib::kInterfaces, benchlib::kMethods, benchlib::kLargeMethods);
    benchlib::BuildSmallTypes(small.u16string());
    for (const auto& f : {large, small})
        std::printf("%s: %ju bytes\n", f.string().c_str(), static_cast<uintmax_t>(std::filesystem::file_size(f)));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--make") == 0) return Make(argv[2]);
    if (argc < 2 || argc > 3 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: %s FILE [RUNS] | --make DIR\n", argv[0]);
        return 2;
    }
    const std::u16string file = std::filesystem::absolute(argv[1]).u16string();
    const int runs = argc == 3 ? std::atoi(argv[2]) : 5;
    for (int i = 0; i < runs; ++i)
        if (int rc = Run(file)) return rc;
    return 0;
}
