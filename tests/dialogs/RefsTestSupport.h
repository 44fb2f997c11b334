// Registry text, library files and environment settings for the tests of the
// registered libraries and the references dialog.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "DialogTestSupport.h"
#include "platform/registry/RegistryTestSupport.h"

namespace dialogstest {

using regtest::WriteFile;

// A registry export's keys for one registered library version (path as the
// export writes it: backslashes doubled by the caller).
inline std::string RegLib(const std::string& guid, const std::string& version, const std::string& description,
                          const std::string& lcid, const std::string& path, const std::string& platform = "win32") {
    const std::string key = "[HKEY_CLASSES_ROOT\\TypeLib\\" + guid + "\\" + version;
    return key + "]\n@=\"" + description + "\"\n" + key + "\\" + lcid + "\\" + platform + "]\n@=\"" + path + "\"\n";
}

inline std::string Flags(const std::string& guid, const std::string& version, const std::string& flags) {
    return "[HKEY_CLASSES_ROOT\\TypeLib\\" + guid + "\\" + version + "\\FLAGS]\n@=\"" + flags + "\"\n";
}

// A library with one enum, "<name>Enum", made in memory.
inline ComPtr<ITypeLib> MemoryLib(const std::u16string& name, const GUID& guid, const std::u16string& file = u"") {
    ComPtr<ICreateTypeLib2> lib = NewLibrary(name, file);
    EXPECT_OK(lib->SetGuid(guid));
    auto type = NewType(lib.get(), name + u"Enum", TKIND_ENUM);
    const Variant value = Variant::Int(1);
    AddVar(type.get(), 0, name + u"One", Vt(VT_INT), VAR_CONST, &value);
    return AsTypeLib(lib.get());
}

// The same, saved to file and loaded from there.
inline ComPtr<ITypeLib> WriteLib(const std::filesystem::path& file, const GUID& guid, WORD major, WORD minor,
                                 LCID lcid, const std::u16string& name) {
    RegisterFileServices();
    std::filesystem::create_directories(file.parent_path());
    ComPtr<ITypeLib> made = MemoryLib(name, guid, file.u16string());
    auto create = made.As<ICreateTypeLib2>();
    EXPECT_OK(create->SetVersion(major, minor));
    EXPECT_OK(create->SetLcid(lcid));
    EXPECT_OK(create->SaveAllChanges());
    ComPtr<ITypeLib> loaded;
    EXPECT_OK(LoadTypeLibEx(file.u16string().c_str(), REGKIND_NONE, loaded.put()));
    return loaded;
}

// Sets an environment variable for its lifetime.
struct EnvironmentVariable {
    EnvironmentVariable(const char* name, const char* value) : name(name) {
        if (const char* was = std::getenv(name)) old = was;
        setenv(name, value, 1);
    }
    ~EnvironmentVariable() { old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str()); }
    std::string name;
    std::optional<std::string> old;
};

}  // namespace dialogstest
