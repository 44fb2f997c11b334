// Loading libraries from files: recognition by content, TYPELIB resources of
// PE images ("path\N"), one object per path, read-only libraries, the bare
// names of the standard library (versions 2.0 and 1.0), lazily resolved
// imports and one shared library read from several threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/EngineTestSupport.h"
#include "platform/registry/RegTypeLib.h"
#include "platform/registry/Registry.h"
#include "platform/tlbfiles/MsftWriter.h"
#include "platform/tlbengine/StdOle2.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "tools/CopyTypeLib.h"
#include "tools/DumpTypeLib.h"

namespace {

using namespace enginetest;
namespace fs = std::filesystem;

GUID LibGuid(uint32_t n) { return GUID{0x7B2E0000u + n, 0x55AA, 0x4C3D, {0x90, 1, 2, 3, 4, 5, 6, 7}}; }

// A small library with one interface derived from IUnknown of the standard library.
std::vector<std::byte> SmallImage(const char16_t* name, uint32_t n, ITypeInfo* importFrom = nullptr) {
    auto lib = NewLib();
    lib->SetName(name);
    lib->SetGuid(LibGuid(n));
    lib->SetVersion(1, 0);
    auto itf = NewType(lib.get(), u"IThing", TKIND_INTERFACE);
    itf->SetGuid(LibGuid(100 + n));
    ComPtr<ITypeLib> std;
    EXPECT_OK(GetBuiltinStdOle2(std.put()));
    ComPtr<ITypeInfo> unknown;
    EXPECT_OK(std->GetTypeInfoOfGuid(kIID_IUnknown, unknown.put()));
    EXPECT_OK(itf->AddImplType(0, RefTo(itf.get(), unknown.get())));
    std::vector<ELEMDESC> ps;
    if (importFrom) {
        ps.push_back(Elem(VT_USERDEFINED));
        ps[0].tdesc.hreftype = RefTo(itf.get(), importFrom);
    }
    FUNCDESC f = Func(FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, ps);
    EXPECT_OK(itf->AddFuncDesc(0, &f));
    if (importFrom)
        SetNames(itf.get(), 0, {u"Use", u"other"});
    else
        SetNames(itf.get(), 0, {u"Use"});
    EXPECT_OK(itf->LayOut());
    std::shared_ptr<const LibraryData> data;
    EXPECT_OK(GetLibraryData(lib.As<ITypeLib>().get(), true, &data));
    std::vector<std::byte> image;
    if (data) {
        EXPECT_OK(BuildMsftImage(*data, &image));
    }
    return image;
}

// The committed images with TYPELIB resources: kinds32.dll (PE32, one
// resource), both64.ocx (PE32+, resources 1 and 2), helpdata16.dll (NE).
std::vector<std::byte> GoldenImage(const char* name) {
    return testsupport::ReadBytes(fs::path(ZEPHRIN_TEST_DATA_DIR) / "golden-images" / name);
}

class TypeLibFiles : public ::testing::Test {
protected:
    std::u16string Write(const std::string& name, const std::vector<std::byte>& bytes) {
        fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
        return FromUtf8(p.string());
    }
    static ComPtr<ITypeLib> Load(const std::u16string& path, HRESULT expect = S_OK) {
        ComPtr<ITypeLib> lib;
        EXPECT_EQ(expect, LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put())) << ToUtf8(path);
        return lib;
    }
    static std::u16string LibName(ITypeLib* lib) {
        BStr name;
        if (lib) lib->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr);
        return name.str();
    }
    testsupport::TempDir tmp_;
    const fs::path& dir_ = tmp_.path();
};

TEST_F(TypeLibFiles, SamePathGivesTheSameLibraryAndTypes) {
    auto path = Write("same.tlb", SmallImage(u"Same", 1));
    auto a = Load(path);
    auto b = Load(path);
    ASSERT_TRUE(a);
    EXPECT_EQ(a.get(), b.get());
    // Another spelling of the same file.
    auto dotted = FromUtf8((dir_ / "." / ".." / dir_.filename() / "same.tlb").string());
    EXPECT_EQ(a.get(), Load(dotted).get());

    ComPtr<ITypeInfo> byIndex, again, byGuid;
    ASSERT_OK(a->GetTypeInfo(0, byIndex.put()));
    ASSERT_OK(b->GetTypeInfo(0, again.put()));
    ASSERT_OK(a->GetTypeInfoOfGuid(LibGuid(101), byGuid.put()));
    EXPECT_EQ(byIndex.get(), again.get());
    EXPECT_EQ(byIndex.get(), byGuid.get());
    ComPtr<ITypeLib> container;
    UINT index = 9;
    ASSERT_OK(byIndex->GetContainingTypeLib(container.put(), &index));
    EXPECT_EQ(a.get(), container.get());
    EXPECT_EQ(0u, index);
}

TEST_F(TypeLibFiles, ContentDecidesNotTheExtension) {
    auto image = SmallImage(u"Anywhere", 3);
    EXPECT_EQ(u"Anywhere", LibName(Load(Write("lib.dll", image)).get()));
    EXPECT_EQ(u"Anywhere", LibName(Load(Write("lib.ocx", image)).get()));
    EXPECT_EQ(u"GoldenKinds", LibName(Load(Write("lib.tlb.exe", GoldenImage("kinds32.dll"))).get()));

    std::vector<std::byte> text(64, std::byte{'a'});
    Load(Write("notes.tlb", text), TYPE_E_CANTLOADLIBRARY);
    Load(Write("empty.tlb", {}), TYPE_E_CANTLOADLIBRARY);
    Load(FromUtf8((dir_ / "missing.tlb").string()), TYPE_E_CANTLOADLIBRARY);
    // An image whose resources are named otherwise than TYPELIB.
    for (const char* name : {"kinds32.dll", "both64.ocx"}) {
        auto renamed = GoldenImage(name);
        const std::u16string typelib = u"TYPELIB";
        auto at = std::search(renamed.begin(), renamed.end(), reinterpret_cast<const std::byte*>(typelib.data()),
                              reinterpret_cast<const std::byte*>(typelib.data() + typelib.size()));
        ASSERT_NE(at, renamed.end());
        *at = std::byte{'X'};
        Load(Write(name, renamed), TYPE_E_CANTLOADLIBRARY);
    }
}

TEST_F(TypeLibFiles, ResourceNumberAfterABackslashPicksTheResource) {
    auto path = Write("both64.dll", GoldenImage("both64.ocx"));
    auto one = Load(path);
    EXPECT_EQ(u"GoldenInterfaces", LibName(one.get()));
    EXPECT_EQ(one.get(), Load(path + u"\\1").get());
    auto two = Load(path + u"\\2");
    EXPECT_EQ(u"GoldenKinds", LibName(two.get()));
    EXPECT_NE(one.get(), two.get());
    Load(path + u"\\3", TYPE_E_CANTLOADLIBRARY);
    auto pe32 = Write("kinds32.dll", GoldenImage("kinds32.dll"));
    EXPECT_EQ(Load(pe32).get(), Load(pe32 + u"\\1").get());
    Load(pe32 + u"\\2", TYPE_E_CANTLOADLIBRARY);
    auto ne = Write("old.dll", GoldenImage("helpdata16.dll"));
    EXPECT_EQ(u"GoldenHelp", LibName(Load(ne + u"\\1").get()));
    Load(ne + u"\\2", TYPE_E_CANTLOADLIBRARY);
    // The same from memory.
    auto pe = GoldenImage("both64.ocx");
    ComPtr<ITypeLib> lib;
    ASSERT_OK(LoadTypeLibFromMemory(pe.data(), pe.size(), u"mem.dll\\2", lib.put()));
    EXPECT_EQ(u"GoldenKinds", LibName(lib.get()));
}

TEST_F(TypeLibFiles, TruncatedImagesFailCleanly) {
    for (const char* name : {"kinds32.dll", "both64.ocx", "helpdata16.dll"}) {
        auto image = GoldenImage(name);
        ASSERT_FALSE(image.empty()) << name;
        for (size_t n = 0; n < image.size(); n += 7) {
            ComPtr<ITypeLib> lib;
            HRESULT hr = LoadTypeLibFromMemory(image.data(), n, u"", lib.put());
            EXPECT_TRUE(hr == TYPE_E_CANTLOADLIBRARY || hr == TYPE_E_INVALIDSTATE || hr == S_OK) << name << " " << n;
        }
    }
}

TEST_F(TypeLibFiles, BareStdOle2NameGivesTheBuiltInLibrary) {
    ComPtr<ITypeLib> builtin;
    ASSERT_OK(GetBuiltinStdOle2(builtin.put()));
    EXPECT_EQ(builtin.get(), Load(u"stdole2.tlb").get());
    EXPECT_EQ(builtin.get(), Load(u"StdOle2.TLB").get());
    // With a folder it is an ordinary file.
    Load(FromUtf8((dir_ / "stdole2.tlb").string()), TYPE_E_CANTLOADLIBRARY);
}

TEST_F(TypeLibFiles, ImportsResolveLazilyAndFailOnlyWhenFollowed) {
    // The other library exists only in memory while this one is built.
    auto otherImage = SmallImage(u"Other", 7);
    ComPtr<ITypeLib> otherInMemory;
    ASSERT_OK(LoadTypeLibFromMemory(otherImage.data(), otherImage.size(), u"", otherInMemory.put()));
    ComPtr<ITypeInfo> otherThing;
    ASSERT_OK(otherInMemory->GetTypeInfo(0, otherThing.put()));
    auto image = SmallImage(u"User", 8, otherThing.get());

    auto user = Load(Write("user.tlb", image));
    ASSERT_TRUE(user);
    ComPtr<ITypeInfo> thing;
    ASSERT_OK(user->GetTypeInfo(0, thing.put()));
    FUNCDESC* fd = nullptr;
    ASSERT_OK(thing->GetFuncDesc(0, &fd));
    HREFTYPE href = fd->lprgelemdescParam[0].tdesc.hreftype;
    thing->ReleaseFuncDesc(fd);
    ComPtr<ITypeInfo> target;
    EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, thing->GetRefTypeInfo(href, target.put()));
    EXPECT_FALSE(target);

    // Once the other library is loaded from a file, the reference reaches it.
    auto other = Load(Write("other.tlb", otherImage));
    ASSERT_OK(thing->GetRefTypeInfo(href, target.put()));
    ComPtr<ITypeInfo> expected;
    ASSERT_OK(other->GetTypeInfo(0, expected.put()));
    EXPECT_EQ(expected.get(), target.get());
}

TEST_F(TypeLibFiles, AChangedFileIsReadAgain) {
    auto path = Write("changing.tlb", SmallImage(u"Before", 9));
    auto before = Load(path);
    EXPECT_EQ(u"Before", LibName(before.get()));
    fs::last_write_time(dir_ / "changing.tlb", fs::last_write_time(dir_ / "changing.tlb") - std::chrono::seconds(5));
    Write("changing.tlb", SmallImage(u"AfterwardsLonger", 10));
    EXPECT_EQ(u"AfterwardsLonger", LibName(Load(path).get()));
    EXPECT_EQ(u"Before", LibName(before.get()));
}

// The cache hands every thread the same object, whose dispatch views, member
// tables and references are built on first use: threads that start reading a
// freshly loaded library together must all see it whole, and as one thread
// alone sees it afterwards. (Run under the thread sanitizer to see races.)
TEST_F(TypeLibFiles, ThreadsReadingOneLoadedLibraryTogetherSeeTheSameLibrary) {
    const auto image = testsupport::ReadBytes(fs::path(ZEPHRIN_TEST_DATA_DIR) / "golden" / "interfaces.tlb");
    constexpr int kThreads = 6;
    for (int round = 0; round < 4; ++round) {
        const auto path = Write("shared" + std::to_string(round) + ".tlb", image);
        std::vector<std::string> dumps(kThreads);
        std::vector<ITypeLib*> seen(kThreads);
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                ComPtr<ITypeLib> lib;
                if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put()))) return;
                seen[t] = lib.get();
                ++ready;
                while (ready.load() < kThreads) std::this_thread::yield();
                // Lookups by GUID and by name first in half of the threads, so
                // that every lazy table is raced for.
                ComPtr<ITypeInfo> ti;
                for (UINT i = 0; t % 2 && i < lib->GetTypeInfoCount(); ++i) {
                    TYPEATTR* a = nullptr;
                    if (FAILED(lib->GetTypeInfo(i, ti.put())) || FAILED(ti->GetTypeAttr(&a))) continue;
                    ComPtr<ITypeInfo> byGuid;
                    if (a->guid != GUID_NULL) (void)lib->GetTypeInfoOfGuid(a->guid, byGuid.put());
                    ti->ReleaseTypeAttr(a);
                    std::u16string name = u"Invoke";
                    ITypeInfo* found[2] = {};
                    MEMBERID ids[2] = {};
                    USHORT count = 2;
                    if (SUCCEEDED(lib->FindName(name.data(), 0, found, ids, &count)))
                        for (USHORT k = 0; k < count; ++k) found[k]->Release();
                }
                dumps[t] = tlbtools::DumpTypeLib(lib.get());
            });
        }
        for (auto& th : threads) th.join();
        auto lib = Load(path);
        ASSERT_TRUE(lib);
        const std::string alone = tlbtools::DumpTypeLib(lib.get());
        ASSERT_NE(std::string::npos, alone.find("Invoke"));
        for (int t = 0; t < kThreads; ++t) {
            EXPECT_EQ(seen[0], seen[t]) << t;
            EXPECT_EQ(alone, dumps[t]) << "thread " << t << ", round " << round;
        }
    }
}

TEST(TypeLibFilesSpec, SplitsOnlyATrailingNumber) {
    std::u16string path;
    unsigned id = 0;
    ASSERT_TRUE(SplitResourceSpec(u"C:\\dir\\x.dll\\12", &path, &id));
    EXPECT_EQ(u"C:\\dir\\x.dll", path);
    EXPECT_EQ(12u, id);
    ASSERT_TRUE(SplitResourceSpec(u"/tmp/x.dll", &path, &id));
    EXPECT_EQ(u"/tmp/x.dll", path);
    EXPECT_EQ(1u, id);
    ASSERT_TRUE(SplitResourceSpec(u"dir\\x1.dll", &path, &id));
    EXPECT_EQ(u"dir\\x1.dll", path);
    EXPECT_FALSE(SplitResourceSpec(u"x.dll\\70000", &path, &id));
}

// stdole 1.0 (stdole32.tlb), which older libraries import, is built in: it
// prints as the reference dump of the system's stdole32.tlb (whose compiler's
// custom data aside) and is what the bare name and the registry without files
// give.
TEST(StdOle32, PrintsAsThePlatformsStdole32AndIsRegisteredWithoutFiles) {
    std::string dump;
    ASSERT_EQ(tlbtools::DumpTypeLibFile(u"STDOLE32.TLB", &dump), S_OK);
    std::string expected = testsupport::ReadText(std::string(ZEPHRIN_TEST_DATA_DIR) + "/stdole/stdole32.dump");
    for (size_t at; (at = expected.find("  custdata {DE77BA6")) != std::string::npos;)
        expected.erase(at, expected.find('\n', at) + 1 - at);
    EXPECT_EQ(tlbtools::WithCrLf(dump), expected);

    reg::SetDefaultRegistry(std::make_shared<reg::Registry>());
    ComPtr<ITypeLib> bare, registered, builtin;
    ASSERT_EQ(GetBuiltinStdOle32(builtin.put()), S_OK);
    EXPECT_EQ(LoadTypeLibEx(u"stdole32.tlb", REGKIND_NONE, bare.put()), S_OK);
    EXPECT_EQ(LoadRegTypeLib(kStdOleLibGuid, 1, 0, 0x409, registered.put()), S_OK);
    EXPECT_EQ(bare.get(), builtin.get());
    EXPECT_EQ(registered.get(), builtin.get());
    EXPECT_EQ(LoadRegTypeLib(kStdOleLibGuid, 1, 1, 0, registered.put()), TYPE_E_LIBNOTREGISTERED);
    reg::SetDefaultRegistry(nullptr);
}

// A library's references into stdole 1.0 resolve to the file the registry
// names for it; to the built-in library when that file is missing.
TEST(StdOle32, ARegisteredFileComesBeforeTheBuiltInOne) {
    RegisterFileServices();
    SetTypeLibWriter(WriteMsftTypeLib);
    testsupport::TempDir dir;
    const std::string saved = (dir / "stdole32.tlb").string();
    {
        ComPtr<ITypeLib> builtin;
        ComPtr<ICreateTypeLib2> copy;
        ASSERT_EQ(GetBuiltinStdOle32(builtin.put()), S_OK);
        ASSERT_EQ(CreateTypeLib2(SYS_WIN32, FromUtf8(saved).c_str(), copy.put()), S_OK);
        ASSERT_EQ(tlbtools::CopyTypeLib(builtin.get(), copy.get()), S_OK);
        ASSERT_EQ(copy->SaveAllChanges(), S_OK);
    }
    auto dispatchFileWith = [&](const std::string& registered) {
        auto registry = std::make_shared<reg::Registry>();
        registry->loadText("REGEDIT4\n[HKEY_CLASSES_ROOT\\TypeLib\\{00020430-0000-0000-C000-000000000046}\\1.0\\0\\win32]\n"
                           "@=\"" + registered + "\"\n",
                           dir / "stdole.reg");
        reg::SetDefaultRegistry(registry);
        std::u16string path;
        ComPtr<ITypeLib> lib, container;
        ComPtr<ITypeInfo> dual, dispatch;
        std::u16string name = u"IOldDual";
        MEMBERID id = 0;
        USHORT found = 1;
        const std::string form = std::string(ZEPHRIN_TEST_DATA_DIR) + "/forms/stdole32.tlb";
        EXPECT_EQ(LoadTypeLibEx(FromUtf8(form).c_str(), REGKIND_NONE, lib.put()), S_OK);
        HREFTYPE href = 0;
        UINT index = 0;
        if (lib && SUCCEEDED(lib->FindName(name.data(), 0, dual.put(), &id, &found)) && found == 1 &&
            SUCCEEDED(dual->GetRefTypeOfImplType(0, &href)) && SUCCEEDED(dual->GetRefTypeInfo(href, dispatch.put()))) {
            if (SUCCEEDED(dispatch->GetContainingTypeLib(container.put(), &index))) {
                EXPECT_EQ(GetTypeLibFilePath(container.get(), &path), S_OK);
            }
        }
        reg::SetDefaultRegistry(nullptr);
        return ToUtf8(path);
    };
    EXPECT_EQ(dispatchFileWith("stdole32-missing.tlb"), "stdole32.tlb");
    EXPECT_EQ(dispatchFileWith("stdole32.tlb"), std::filesystem::weakly_canonical(saved).string());
}

}  // namespace
