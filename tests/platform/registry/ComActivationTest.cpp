// Creating registered in-process classes from the test shared object.
#include <gtest/gtest.h>

#include "RegistryTestSupport.h"
#include "platform/automation/BStr.h"
#include "platform/automation/Guid.h"
#include "platform/registry/ComActivation.h"
#include "platform/registry/Registry.h"
#include "testcom/TestComInterface.h"

using namespace ole;
using regtest::TempDir;
using regtest::WriteFile;

namespace fs = std::filesystem;

namespace {

// Installs a registry read from text as the default one for one test.
class ComActivation : public ::testing::Test {
protected:
    void install(const std::string& text) {
        auto r = std::make_shared<reg::Registry>();
        WriteFile(dir_ / "classes.reg", text);
        ASSERT_TRUE(r->loadFile(dir_ / "classes.reg"));
        ASSERT_TRUE(r->errors().empty()) << r->errors().front().text();
        reg::SetDefaultRegistry(r);
    }
    void TearDown() override { reg::SetDefaultRegistry(nullptr); }

    static std::string Escaped(const std::string& path) {
        std::string out;
        for (char c : path) {
            if (c == '\\' || c == '"') out += '\\';
            out += c;
        }
        return out;
    }
    static std::string Utf8(std::u16string_view s) { return ToUtf8(s); }

    TempDir dir_;
};

}  // namespace

TEST_F(ComActivation, CreatesAClassByProgIDAndByClassIDThroughItsInprocServer) {
    // The shared object is registered by a path relative to the registry file.
    fs::copy_file(ZEPHRIN_TESTCOM_PATH, dir_ / "adder.so");
    std::string clsid = GuidToUtf8(testcom::kCLSID_TestAdder);
    install("Windows Registry Editor Version 5.00\n"
            "[HKEY_CLASSES_ROOT\\Zephrin.TestAdder\\CLSID]\n@=\"" + clsid + "\"\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\" + clsid + "\\InprocServer32]\n@=\"ADDER.SO\"\n");

    CLSID found{};
    ASSERT_EQ(CLSIDFromProgID(u"zephrin.testadder", &found), S_OK);
    EXPECT_EQ(found, testcom::kCLSID_TestAdder);

    ComPtr<testcom::ITestAdder> adder;
    ASSERT_EQ(CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, testcom::ITestAdder::kIID,
                               adder.put_void()),
              S_OK)
        << Utf8(GetLastActivationError());
    LONG sum = 0;
    EXPECT_EQ(adder->Add(40, 2, &sum), S_OK);
    EXPECT_EQ(sum, 42);

    ComPtr<IUnknown> unknown;
    EXPECT_EQ(CoCreateInstance(found, nullptr, CLSCTX_ALL, IUnknown::kIID, unknown.put_void()), S_OK);
    EXPECT_EQ(adder->LiveCount(), 2);
    unknown = nullptr;
    EXPECT_EQ(adder->LiveCount(), 1);
}

TEST_F(ComActivation, UnregisteredAndOutOfProcessClassesFailWithAClearDescription) {
    fs::path missing = dir_ / "gone.so";
    install("REGEDIT4\n"
            "[HKEY_CLASSES_ROOT\\Only.Local\\CLSID]\n@=\"{5A1E0009-0000-0000-0000-000000000000}\"\n"
            "[HKEY_CLASSES_ROOT\\Bad.Clsid\\CLSID]\n@=\"not a guid\"\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{5A1E0009-0000-0000-0000-000000000000}\\LocalServer32]\n@=\"C:\\\\x.exe\"\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\" + GuidToUtf8(testcom::kCLSID_TestAdder) + "\\InprocServer32]\n@=\"" +
            Escaped(missing.string()) + "\"\n");

    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Only.Local", &clsid), S_OK);
    ComPtr<IUnknown> obj;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IUnknown::kIID, obj.put_void()), REGDB_E_CLASSNOTREG);
    EXPECT_NE(Utf8(GetLastActivationError()).find("out-of-process"), std::string::npos);

    EXPECT_EQ(CLSIDFromProgID(u"No.Such.ProgID", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(Utf8(GetLastActivationError()), "The ProgID \"No.Such.ProgID\" is not registered.");
    EXPECT_EQ(CLSIDFromProgID(u"Bad.Clsid", &clsid), CO_E_CLASSSTRING);

    EXPECT_EQ(CoCreateInstance(GUID_NULL, nullptr, CLSCTX_ALL, IUnknown::kIID, obj.put_void()), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(testcom::kCLSID_TestAdder, nullptr, CLSCTX_ALL, IUnknown::kIID, obj.put_void()),
              static_cast<HRESULT>(0x8007007E));
    EXPECT_NE(Utf8(GetLastActivationError()).find("gone.so"), std::string::npos);
    EXPECT_EQ(obj, nullptr);
}
