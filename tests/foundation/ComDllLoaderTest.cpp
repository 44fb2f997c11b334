// Loading the test shared object by path, finding its class by name, and
// unloading it when it has nothing alive.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "foundation/modCOMDllLoader.h"
#include "foundation/modLookupCLSID.h"
#include "platform/registry/testcom/TestComInterface.h"
#include "support/ErrorCapture.h"
#include "support/TypeLibBuilder.h"

using namespace zephrin;
using namespace testsupport;
using modCOMDllLoader::ModuleHandle;

namespace fs = std::filesystem;

namespace {

const std::u16string kModulePath = FromUtf8(ZEPHRIN_TESTCOM_PATH);

// The error record f raised; none raised fails the test.
template <class F>
ErrorRecord Raised(F&& f) {
    ErrorRecord e = RecordOf(f);
    if (e.Number == 0) ADD_FAILURE() << "no error was raised";
    return e;
}

}  // namespace

TEST(ComDllLoader, LoadsAClassByPathReusesTheModuleAndUnloadsItOnlyWhenNothingIsAlive) {
    ModuleHandle module = nullptr;
    ComPtr<IClassFactory> factory = modCOMDllLoader::GetDllClassObject(kModulePath, testcom::kCLSID_TestAdder, module);
    ASSERT_NE(module, nullptr);
    ComPtr<testcom::ITestAdder> adder;
    ASSERT_EQ(factory->CreateInstance(nullptr, testcom::ITestAdder::kIID, adder.put_void()), S_OK);
    LONG sum = 0;
    EXPECT_EQ(adder->Add(2, 3, &sum), S_OK);
    EXPECT_EQ(sum, 5);

    // A handle already set is used as it is, whatever the path says.
    ModuleHandle first = module;
    ComPtr<IClassFactory> again =
        modCOMDllLoader::GetDllClassObject(u"/no/such/file.so", testcom::kCLSID_TestAdder, module);
    EXPECT_EQ(module, first);

    // Objects alive: the module answers S_FALSE and stays.
    modCOMDllLoader::UnloadDllIfUnused(module);
    EXPECT_EQ(module, first);
    EXPECT_EQ(adder->LiveCount(), 3);

    factory = nullptr;
    again = nullptr;
    adder = nullptr;
    modCOMDllLoader::UnloadDllIfUnused(module);
    EXPECT_EQ(module, nullptr);
    modCOMDllLoader::UnloadDllIfUnused(module);  // nothing loaded: nothing to do
}

TEST(ComDllLoader, LoaderFailuresCarryThePlatformCodeAndTheLoadersText) {
    ModuleHandle module = nullptr;
    ErrorRecord missing = Raised([&] { modCOMDllLoader::GetDllClassObject(u"/no/such/file.so", GUID_NULL, module); });
    EXPECT_EQ(static_cast<uint32_t>(missing.Number), 0x8007007Eu);
    EXPECT_NE(ToUtf8(missing.Description).find("/no/such/file.so"), std::string::npos);
    EXPECT_EQ(module, nullptr);

    // A shared object that isn't a class server: no "DllGetClassObject".
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&std::cos)), &info), 0);
    ErrorRecord noEntry = Raised([&] { modCOMDllLoader::GetDllClassObject(FromUtf8(info.dli_fname), GUID_NULL, module); });
    EXPECT_EQ(static_cast<uint32_t>(noEntry.Number), 0x8007007Fu);
    EXPECT_NE(ToUtf8(noEntry.Description).find("DllGetClassObject"), std::string::npos);
    EXPECT_EQ(module, nullptr);  // loaded by the failed call, so unloaded again

    ErrorRecord noClass = Raised([&] { modCOMDllLoader::GetDllClassObject(kModulePath, GUID_NULL, module); });
    EXPECT_EQ(noClass.Number, CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(module, nullptr);
}

TEST(ComDllLoader, FindsAClassByNameInTheTypeLibraryBesideTheSharedObject) {
    TempDir dir;
    fs::path so = dir / "TestCom.so";
    fs::copy_file(ZEPHRIN_TESTCOM_PATH, so);
    RegisterFileServices();
    ComPtr<ICreateTypeLib2> create = NewLibrary(u"TestComLib", (dir / "TestCom.tlb").u16string());
    ASSERT_TRUE(create);
    ASSERT_OK(create->SetGuid({0x5A1E0003, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}}));
    ASSERT_OK(NewType(create.get(), u"ITestAdder", TKIND_INTERFACE)->SetGuid(testcom::ITestAdder::kIID));
    ASSERT_OK(NewType(create.get(), u"TestAdder", TKIND_COCLASS)->SetGuid(testcom::kCLSID_TestAdder));
    ASSERT_OK(create->SaveAllChanges());

    std::u16string soPath = FromUtf8(so.string());
    GUID clsid = GUID_NULL;
    modLookupCLSID::LookupCLSIDInDll(clsid, soPath, u"testadder");
    EXPECT_EQ(clsid, testcom::kCLSID_TestAdder);
    modLookupCLSID::LookupCLSIDInDll(clsid, soPath, u"ITestAdder");  // any kind of type gives its GUID
    EXPECT_EQ(clsid, testcom::ITestAdder::kIID);

    ErrorRecord notThere = Raised([&] { modLookupCLSID::LookupCLSIDInDll(clsid, soPath, u"NoSuchClass"); });
    EXPECT_EQ(notThere.Number, TYPE_E_ELEMENTNOTFOUND);
    EXPECT_NE(ToUtf8(notThere.Description).find("NoSuchClass"), std::string::npos);
    EXPECT_EQ(clsid, testcom::ITestAdder::kIID);  // left as it was

    // The class found by name comes out of the shared object.
    modLookupCLSID::LookupCLSIDInDll(clsid, soPath, u"TestAdder");
    ModuleHandle module = nullptr;
    ComPtr<IClassFactory> factory = modCOMDllLoader::GetDllClassObject(soPath, clsid, module);
    ComPtr<testcom::ITestAdder> adder;
    ASSERT_EQ(factory->CreateInstance(nullptr, testcom::ITestAdder::kIID, adder.put_void()), S_OK);
    factory = nullptr;
    adder = nullptr;
    modCOMDllLoader::UnloadDllIfUnused(module);
    EXPECT_EQ(module, nullptr);
}

TEST(ComDllLoader, TheLibraryIsReadFromTheFileItselfOnlyWhenItCanHoldOne) {
    TempDir dir;
    fs::path so = dir / "Plugin.so";
    fs::copy_file(ZEPHRIN_TESTCOM_PATH, so);
    std::ofstream(dir / "Image.dll", std::ios::binary) << "MZ\x90";
    GUID clsid = GUID_NULL;

    // A shared object: the library beside it, which is missing here.
    ErrorRecord beside = Raised([&] { modLookupCLSID::LookupCLSIDInDll(clsid, FromUtf8(so.string()), u"X"); });
    EXPECT_LT(beside.Number, 0);
    EXPECT_NE(ToUtf8(beside.Description).find((dir / "Plugin.tlb").string()), std::string::npos);

    // An executable image holds its own library.
    std::string image = (dir / "Image.dll").string();
    ErrorRecord own = Raised([&] { modLookupCLSID::LookupCLSIDInDll(clsid, FromUtf8(image), u"X"); });
    EXPECT_NE(ToUtf8(own.Description).find(image), std::string::npos);
    EXPECT_EQ(ToUtf8(own.Description).find("Image.tlb"), std::string::npos);
    EXPECT_EQ(clsid, GUID_NULL);
}
