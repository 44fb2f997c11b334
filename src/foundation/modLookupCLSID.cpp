#include "foundation/modLookupCLSID.h"

#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/ErrorRecord.h"
#include "platform/automation/BStr.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

namespace zephrin::modLookupCLSID {

namespace {

// True for an executable image ("MZ") or a type library file ("MSFT", "SLTG").
bool HoldsTypeLibrary(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    char magic[4] = {};
    in.read(magic, sizeof magic);
    std::string_view head(magic, static_cast<size_t>(in.gcount()));
    return head.substr(0, 2) == "MZ" || head == "MSFT" || head == "SLTG";
}

// The library file for path: path itself, or path with the extension ".tlb".
std::u16string LibraryFileFor(std::u16string_view path) {
    std::filesystem::path file(ole::ToUtf8(path));
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec) || HoldsTypeLibrary(file)) return std::u16string(path);
    return ole::FromUtf8(file.replace_extension(".tlb").string());
}

}  // namespace

void LookupCLSIDInDll(ole::GUID& clsid, std::u16string_view path, std::u16string_view name) {
    std::u16string libraryFile = LibraryFileFor(path);
    ole::ComPtr<ole::ITypeLib> lib;
    ole::HRESULT hr = ole::LoadTypeLibEx(libraryFile.c_str(), ole::REGKIND_NONE, lib.put());
    if (ole::FAILED(hr))
        RaiseError(hr, u"The type library " + libraryFile + u" cannot be loaded.");

    ole::ComPtr<ole::ITypeComp> comp;
    CheckHr(lib->GetTypeComp(comp.put()));
    std::u16string bindName(name);
    ole::ComPtr<ole::ITypeInfo> info;
    ole::ComPtr<ole::ITypeComp> typeComp;
    CheckHr(comp->BindType(bindName.data(), 0, info.put(), typeComp.put()));
    if (!info)
        RaiseError(ole::TYPE_E_ELEMENTNOTFOUND,
                   u"The class " + bindName + u" is not in the type library " + libraryFile + u".");

    ole::TYPEATTR* attr = nullptr;
    CheckHr(info->GetTypeAttr(&attr));
    if (!attr) RaiseError(ole::E_UNEXPECTED);
    ole::GUID found = attr->guid;
    info->ReleaseTypeAttr(attr);
    clsid = found;
}

}  // namespace zephrin::modLookupCLSID
