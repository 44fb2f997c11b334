// tlbdump FILE: prints a type library as this program's own type library
// services read it, in the canonical text form of the reference dumper (the
// same lines, order and number formatting, CR LF line ends), so the two
// outputs can be compared byte for byte. "FILE\N" picks TYPELIB resource N.
#include <cstdio>
#include <string>

#include "DumpTypeLib.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::string usage = tlbtools::WithCrLf("usage: tlbdump file\n");
        fwrite(usage.data(), 1, usage.size(), stdout);
        return 2;
    }
    std::string text;
    ole::HRESULT hr = tlbtools::DumpTypeLibFile(ole::FromUtf8(argv[1]), &text);
    text = tlbtools::WithCrLf(text);
    fwrite(text.data(), 1, text.size(), stdout);
    return ole::FAILED(hr) ? 1 : 0;
}
