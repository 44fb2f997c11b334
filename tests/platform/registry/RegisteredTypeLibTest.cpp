// Finding registered type libraries and mapping the paths registered for them.
#include <gtest/gtest.h>

#include <cstdlib>

#include "RegistryTestSupport.h"
#include "platform/automation/BStr.h"
#include "platform/automation/Guid.h"
#include "platform/tlbengine/TypeLibData.h"
#include "platform/registry/RegTypeLib.h"
#include "platform/registry/Registry.h"
#include "platform/registry/RegistryApi.h"

using namespace reg;
using regtest::TempDir;
using regtest::WriteFile;

namespace fs = std::filesystem;

namespace {

constexpr ole::GUID kLib = {0x44444444, 0, 0, {0, 0, 0, 0, 0, 0, 0, 4}};

std::string Find(const Registry& r, ole::WORD major, ole::WORD minor, ole::LCID lcid, ole::GUID guid = kLib) {
    std::string path;
    ole::HRESULT hr = FindRegisteredTypeLib(r, guid, major, minor, lcid, &path);
    return ole::SUCCEEDED(hr) ? path : "not registered";
}

}  // namespace

TEST(RegisteredTypeLib, VersionsAreHexadecimalAndLocalesFallBackToPrimaryLanguageThenNeutral) {
    Registry r;
    r.loadText("Windows Registry Editor Version 5.00\n"
               "[HKEY_CLASSES_ROOT\\TypeLib\\{44444444-0000-0000-0000-000000000004}\\1.0\\0\\win32]\n@=\"/v1.0\"\n"
               "[HKEY_CLASSES_ROOT\\TypeLib\\{44444444-0000-0000-0000-000000000004}\\1.5\\0\\win32]\n@=\"/v1.5\"\n"
               "[HKEY_CLASSES_ROOT\\TypeLib\\{44444444-0000-0000-0000-000000000004}\\1.A\\0\\WIN32]\n@=\"/v1.10\"\n"
               "[HKEY_CLASSES_ROOT\\TypeLib\\{44444444-0000-0000-0000-000000000004}\\1.A\\9\\win32]\n@=\"/english\"\n"
               "[HKEY_CLASSES_ROOT\\TypeLib\\{44444444-0000-0000-0000-000000000004}\\1.A\\409\\win16]\n@=\"/us16\"\n"
               "[HKEY_CLASSES_ROOT\\TypeLib\\{44444444-0000-0000-0000-000000000004}\\1.A\\409\\win32]\n@=\"/us\"\n"
               "[HKEY_CLASSES_ROOT\\TypeLib\\{44444444-0000-0000-0000-000000000004}\\1.A\\407\\win16]\n@=\"/de16\"\n"
               "[HKEY_CLASSES_ROOT\\TypeLib\\{44444444-0000-0000-0000-000000000004}\\2.0]\n@=\"no locale\"\n"
               "[HKEY_CLASSES_ROOT\\TypeLib\\{44444444-0000-0000-0000-000000000004}\\zz.0\\0\\win32]\n@=\"/junk\"\n",
               "/nowhere/libs.reg");

    EXPECT_EQ(Find(r, 1, 0, 0), "/v1.0");
    EXPECT_EQ(Find(r, 1, 10, 0), "/v1.10");
    EXPECT_EQ(Find(r, 1, 6, 0), "/v1.10");  // the highest minor above the one asked for
    EXPECT_EQ(Find(r, 1, 11, 0), "not registered");
    EXPECT_EQ(Find(r, 2, 0, 0), "not registered");
    EXPECT_EQ(Find(r, 3, 0, 0), "not registered");

    EXPECT_EQ(Find(r, 1, 10, 0x409), "/us");       // exact, win32 before win16
    EXPECT_EQ(Find(r, 1, 10, 0x809), "/english");  // primary language
    EXPECT_EQ(Find(r, 1, 10, 0x407), "/de16");     // win16 when that is all
    EXPECT_EQ(Find(r, 1, 10, 0x40C), "/v1.10");    // neutral
    EXPECT_EQ(Find(r, 1, 0, 0x409), "/v1.0");
}

TEST(RegisteredTypeLib, TheStandardLibraryIsAlwaysRegisteredAsBuiltIn) {
    Registry empty;
    EXPECT_EQ(Find(empty, 2, 0, 0x409, ole::kStdOleLibGuid), "stdole2.tlb");
    EXPECT_EQ(Find(empty, 1, 0, 0, ole::kStdOleLibGuid), "stdole32.tlb");
    EXPECT_EQ(Find(empty, 1, 1, 0, ole::kStdOleLibGuid), "not registered");

    // Even a registration in the files doesn't move version 2.0; version 1.0
    // registered there is the file registered.
    Registry wine;
    wine.loadText("WINE REGISTRY Version 2\n"
                  "[Software\\\\Classes\\\\Typelib\\\\{00020430-0000-0000-C000-000000000046}\\\\1.0\\\\0\\\\win32] 1\n"
                  "@=\"/x/stdole32.tlb\"\n"
                  "[Software\\\\Classes\\\\Typelib\\\\{00020430-0000-0000-C000-000000000046}\\\\2.0\\\\0\\\\win32] 1\n"
                  "@=\"/x/stdole2.tlb\"\n",
                  "/nowhere/system.reg");
    EXPECT_EQ(Find(wine, 2, 0, 0, ole::kStdOleLibGuid), "stdole2.tlb");
    EXPECT_EQ(Find(wine, 1, 0, 0, ole::kStdOleLibGuid), "/x/stdole32.tlb");

    // The platform entry point reads the default registry.
    SetDefaultRegistry(std::make_shared<Registry>());
    ole::BStr path;
    EXPECT_EQ(ole::QueryPathOfRegTypeLib(ole::kStdOleLibGuid, 2, 0, 0, path.put()), ole::S_OK);
    EXPECT_EQ(path.utf8(), "stdole2.tlb");
    EXPECT_EQ(ole::QueryPathOfRegTypeLib(kLib, 1, 0, 0, path.put()), ole::TYPE_E_LIBNOTREGISTERED);
    SetDefaultRegistry(nullptr);
}

TEST(RegisteredTypeLib, WindowsPathsMapThroughThePrefixDriveLinksWhateverTheirCase) {
    TempDir dir;
    fs::path prefix = dir / "prefix";
    WriteFile(prefix / "drive_c" / "Windows" / "System32" / "Lib.TLB", "MSFT");
    WriteFile(prefix / "drive_c" / "Program Files" / "App" / "app.dll", "MZ");
    WriteFile(dir / "other" / "beside.tlb", "MSFT");
    fs::create_directories(prefix / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
    fs::create_directory_symlink(dir / "other", prefix / "dosdevices" / "d:");
    WriteFile(prefix / "system.reg",
              "WINE REGISTRY Version 2\n"
              ";; All keys relative to REGISTRY\\\\Machine\n"
              "[Software\\\\Classes\\\\TypeLib\\\\{44444444-0000-0000-0000-000000000004}\\\\1.0\\\\0\\\\win32] 1\n"
              "@=\"C:\\\\windows\\\\system32\\\\lib.tlb\"\n"
              "[Software\\\\Classes\\\\TypeLib\\\\{44444444-0000-0000-0000-000000000004}\\\\2.0\\\\0\\\\win32] 1\n"
              "@=\"c:\\\\PROGRAM FILES\\\\app\\\\APP.DLL\\\\3\"\n"
              "[Software\\\\Classes\\\\TypeLib\\\\{44444444-0000-0000-0000-000000000004}\\\\3.0\\\\0\\\\win32] 1\n"
              "@=str(2):\"%SystemRoot%\\\\System32\\\\LIB.tlb\"\n"
              "[Software\\\\Classes\\\\TypeLib\\\\{44444444-0000-0000-0000-000000000004}\\\\4.0\\\\0\\\\win32] 1\n"
              "@=\"D:\\\\BESIDE.TLB\"\n"
              "[Software\\\\Classes\\\\TypeLib\\\\{44444444-0000-0000-0000-000000000004}\\\\5.0\\\\0\\\\win32] 1\n"
              "@=\"Q:\\\\no\\\\drive.tlb\"\n"
              "[Software\\\\Classes\\\\TypeLib\\\\{44444444-0000-0000-0000-000000000004}\\\\6.0\\\\0\\\\win32] 1\n"
              "@=\"/usr/share/some.tlb\"\n");
    WriteFile(dir / "export" / "libs" / "Rel.tlb", "MSFT");
    WriteFile(dir / "export" / "rel.reg",
              "REGEDIT4\n[HKEY_CLASSES_ROOT\\TypeLib\\{44444444-0000-0000-0000-000000000004}\\7.0\\0\\win32]\n"
              "@=\"LIBS\\\\rel.tlb\"\n");

    Registry r;
    ASSERT_TRUE(r.loadPrefix(prefix));
    ASSERT_TRUE(r.loadFile(dir / "export" / "rel.reg"));
    fs::path real = fs::canonical(dir.path());
    EXPECT_EQ(Find(r, 1, 0, 0), (real / "prefix/drive_c/Windows/System32/Lib.TLB").string());
    EXPECT_EQ(Find(r, 2, 0, 0), (real / "prefix/drive_c/Program Files/App/app.dll").string() + "\\3");
    EXPECT_EQ(Find(r, 3, 0, 0), (real / "prefix/drive_c/Windows/System32/Lib.TLB").string());
    EXPECT_EQ(Find(r, 4, 0, 0), (real / "other/beside.tlb").string());
    EXPECT_EQ(Find(r, 5, 0, 0), "Q:\\no\\drive.tlb");
    EXPECT_EQ(Find(r, 6, 0, 0), "/usr/share/some.tlb");
    EXPECT_EQ(Find(r, 7, 0, 0), (real / "export/libs/Rel.tlb").string());

    // The same mapping through the read functions.
    SetDefaultRegistry(std::shared_ptr<const Registry>(&r, [](const Registry*) {}));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib\\{44444444-0000-0000-0000-000000000004}\\1.0", 0, 0x19, &key),
              ERROR_SUCCESS);
    std::string path;
    EXPECT_EQ(RegQueryPathValue(key, "0\\win32", &path), ERROR_SUCCESS);
    EXPECT_TRUE(fs::exists(path)) << path;
    RegCloseKey(key);
    SetDefaultRegistry(nullptr);
}

// Needs Wine; makes its own prefix so that nothing depends on one being present.
TEST(RegisteredTypeLib, ARealWinePrefixListsTheLibrariesItRegisters) {
    if (std::system("command -v wine >/dev/null 2>&1") != 0) GTEST_SKIP() << "wine is not installed";
    TempDir dir;
    fs::path prefix = dir / "prefix";
    std::string make = "WINEPREFIX='" + prefix.string() + "' WINEDEBUG=-all timeout 300 wine cmd /c exit "
                       "</dev/null >/dev/null 2>&1; WINEPREFIX='" + prefix.string() + "' timeout 60 wineserver -w";
    if (std::system(make.c_str()) != 0 || !fs::exists(prefix / "system.reg"))
        GTEST_SKIP() << "wine could not create a prefix";

    Registry r;
    ASSERT_TRUE(r.loadPrefix(prefix));
    EXPECT_TRUE(r.errors().empty()) << r.errors().front().text();
    const Key* typelibs = r.classesRoot().findSubkey("TypeLib");
    ASSERT_NE(typelibs, nullptr);
    EXPECT_GT(typelibs->subkeyCount(), 10u);

    // Every library registered with a file in the prefix's system folder maps to that file.
    size_t mapped = 0, registered = 0;
    for (size_t i = 0; i < typelibs->subkeyCount(); ++i) {
        const Key* guid = typelibs->subkey(i);
        for (size_t v = 0; v < guid->subkeyCount(); ++v) {
            const Key* win32 = guid->subkey(v)->open("0\\win32");
            const Value* value = win32 ? win32->defaultValue() : nullptr;
            if (!value || value->source == kBuiltInSource) continue;
            ++registered;
            std::string path = r.mapPath(*value);
            if (path.find("/windows/system32/") == std::string::npos) continue;
            if (size_t resource = path.rfind('\\'); resource != std::string::npos) path.resize(resource);
            EXPECT_TRUE(fs::exists(path)) << value->data << " -> " << path;
            ++mapped;
        }
    }
    // A Wine without its 32-bit half (no wine32) registers every library under win64 only.
    if (registered == 0) GTEST_SKIP() << "this Wine registers no 32-bit type libraries";
    EXPECT_GT(mapped, 10u);
    EXPECT_EQ(Find(r, 2, 0, 0x409, ole::kStdOleLibGuid), "stdole2.tlb");
}
