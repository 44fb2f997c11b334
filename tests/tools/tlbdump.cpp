// tlbdump FILE: prints a type library as this program's own type library
// services read it, in the canonical text form of the reference dumper (the
// same lines, order and number formatting, CR LF line ends), so the two
// outputs can be compared byte for byte. "FILE\N" picks TYPELIB resource N.
// Custom data items the reader had to leave out are noted on stderr.
#include <cstdio>
#include <string>

#include "DumpTypeLib.h"
#include "platform/automation/Guid.h"
#include "platform/tlbengine/TypeLibData.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::string usage = tlbtools::WithCrLf("usage: tlbdump file\n");
        fwrite(usage.data(), 1, usage.size(), stdout);
        return 2;
    }
    // Held while dumping, so that the library is read once.
    ole::ComPtr<ole::ITypeLib> lib;
    ole::LoadTypeLibEx(ole::FromUtf8(argv[1]).c_str(), ole::REGKIND_NONE, lib.put());
    std::string text;
    ole::HRESULT hr = tlbtools::DumpTypeLibFile(ole::FromUtf8(argv[1]), &text);
    text = tlbtools::WithCrLf(text);
    fwrite(text.data(), 1, text.size(), stdout);
    std::shared_ptr<const ole::LibraryData> data;
    if (lib && ole::SUCCEEDED(ole::GetLibraryData(lib.get(), false, &data)))
        for (const auto& item : data->unreadCustData)
            fprintf(stderr, "tlbdump: custom data %s left out: value type %u cannot be read\n",
                    ole::ToUtf8(ole::GuidToString(item.guid)).c_str(), static_cast<unsigned>(item.vt));
    return ole::FAILED(hr) ? 1 : 0;
}
