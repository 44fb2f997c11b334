// tlbcopy IN OUT: loads the library IN and re-creates all of it in a new
// library through the creation interfaces (see CopyTypeLib.h), lays it out and
// saves it as OUT.
#include <cstdio>
#include <string>

#include "CopyTypeLib.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

using namespace ole;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tlbcopy IN OUT\n");
        return 2;
    }
    RegisterFileServices();
    SetTypeLibWriter(WriteMsftTypeLib);
    std::u16string in = FromUtf8(argv[1]);
    std::u16string out = FromUtf8(argv[2]);
    ComPtr<ITypeLib> src;
    HRESULT hr = LoadTypeLibEx(in.c_str(), REGKIND_NONE, src.put());
    if (FAILED(hr)) {
        std::fprintf(stderr, "tlbcopy: cannot load %s: 0x%08X\n", argv[1], static_cast<unsigned>(hr));
        return 1;
    }
    TLIBATTR* la = nullptr;
    hr = src->GetLibAttr(&la);
    if (FAILED(hr)) {
        std::fprintf(stderr, "tlbcopy: GetLibAttr failed: 0x%08X\n", static_cast<unsigned>(hr));
        return 1;
    }
    SYSKIND syskind = la->syskind;
    src->ReleaseTLibAttr(la);
    ComPtr<ICreateTypeLib2> dst;
    hr = CreateTypeLib2(syskind, out.c_str(), dst.put());
    if (FAILED(hr)) {
        std::fprintf(stderr, "tlbcopy: CreateTypeLib2 failed: 0x%08X\n", static_cast<unsigned>(hr));
        return 1;
    }
    std::string what = "SaveAllChanges";
    hr = tlbtools::CopyTypeLib(src.get(), dst.get(), &what);
    if (SUCCEEDED(hr)) hr = dst->SaveAllChanges();
    if (FAILED(hr)) {
        std::fprintf(stderr, "tlbcopy: %s failed: 0x%08X\n", what.c_str(), static_cast<unsigned>(hr));
        return 1;
    }
    return 0;
}
