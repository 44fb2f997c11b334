// Loading libraries from files: recognition by content, TYPELIB resources of
// PE images ("path\N"), one object per path, read-only libraries, the bare
// name of the standard library and lazily resolved imports.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "platform/oleauto/MsftWriter.h"
#include "platform/oleauto/StdOle2.h"
#include "platform/oleauto/TypeLibFiles.h"

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

// A minimal PE32 (or PE32+) image whose .rsrc section holds the given
// TYPELIB resources, by integer ID.
std::vector<std::byte> PeImage(const std::vector<std::pair<uint16_t, std::vector<std::byte>>>& resources,
                               bool pe32plus) {
    std::vector<uint8_t> f(0x200, 0);
    auto put16 = [&](size_t at, uint32_t v) {
        if (f.size() < at + 2) f.resize(at + 2);
        f[at] = v & 0xFF;
        f[at + 1] = (v >> 8) & 0xFF;
    };
    auto put32 = [&](size_t at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    const uint32_t rva = 0x1000, raw = 0x200;
    f[0] = 'M';
    f[1] = 'Z';
    put32(0x3C, 0x40);
    put32(0x40, 0x00004550);
    put16(0x44, pe32plus ? 0x8664 : 0x14C);
    put16(0x46, 1);  // sections
    size_t optSize = pe32plus ? 240 : 224;
    put16(0x54, static_cast<uint32_t>(optSize));
    size_t opt = 0x58;
    put16(opt, pe32plus ? 0x20B : 0x10B);
    put32(opt + (pe32plus ? 108 : 92), 16);
    size_t dirs = opt + (pe32plus ? 112 : 96);
    size_t section = opt + optSize;

    // Resource tree at raw: root -> "TYPELIB" -> IDs -> language 0x409 -> data.
    size_t n = resources.size();
    size_t root = 0, level2 = 16 + 8, level3 = level2 + 16 + 8 * n;
    size_t entries = level3 + n * (16 + 8);
    size_t name = entries + n * 16;
    size_t data = (name + 2 + 14 + 7) & ~size_t{7};
    std::vector<uint8_t> r(data, 0);
    auto r16 = [&](size_t at, uint32_t v) {
        r[at] = v & 0xFF;
        r[at + 1] = (v >> 8) & 0xFF;
    };
    auto r32 = [&](size_t at, uint32_t v) {
        r16(at, v & 0xFFFF);
        r16(at + 2, v >> 16);
    };
    r16(root + 12, 1);
    r32(root + 16, 0x80000000u | static_cast<uint32_t>(name));
    r32(root + 20, 0x80000000u | static_cast<uint32_t>(level2));
    r16(level2 + 14, static_cast<uint32_t>(n));
    for (size_t i = 0; i < n; ++i) {
        size_t dir3 = level3 + i * 24;
        r32(level2 + 16 + 8 * i, resources[i].first);
        r32(level2 + 20 + 8 * i, 0x80000000u | static_cast<uint32_t>(dir3));
        r16(dir3 + 14, 1);
        r32(dir3 + 16, 0x409);
        r32(dir3 + 20, static_cast<uint32_t>(entries + 16 * i));
    }
    r16(name, 7);
    const char* typelib = "TYPELIB";
    for (int i = 0; i < 7; ++i) r16(name + 2 + 2 * i, static_cast<uint8_t>(typelib[i]));
    for (size_t i = 0; i < n; ++i) {
        r32(entries + 16 * i, static_cast<uint32_t>(rva + r.size()));
        r32(entries + 16 * i + 4, static_cast<uint32_t>(resources[i].second.size()));
        for (std::byte b : resources[i].second) r.push_back(static_cast<uint8_t>(b));
        while (r.size() % 8) r.push_back(0);
    }
    put32(dirs + 2 * 8, rva);
    put32(dirs + 2 * 8 + 4, static_cast<uint32_t>(r.size()));
    std::memcpy(&f[section], ".rsrc", 5);
    put32(section + 8, static_cast<uint32_t>(r.size()));
    put32(section + 12, rva);
    put32(section + 16, static_cast<uint32_t>(r.size()));
    put32(section + 20, raw);
    f.resize(raw);
    f.insert(f.end(), r.begin(), r.end());
    std::vector<std::byte> out(f.size());
    std::memcpy(out.data(), f.data(), f.size());
    return out;
}

// A minimal 16-bit NE image with one TYPELIB resource of the given ID.
std::vector<std::byte> NeImage(uint16_t id, const std::vector<std::byte>& library) {
    std::vector<uint8_t> f(0xC0, 0);
    auto put16 = [&](size_t at, uint32_t v) {
        f[at] = v & 0xFF;
        f[at + 1] = (v >> 8) & 0xFF;
    };
    f[0] = 'M';
    f[1] = 'Z';
    put16(0x3C, 0x40);
    f[0x40] = 'N';
    f[0x41] = 'E';
    put16(0x40 + 0x24, 0x40);  // resource table at 0x80
    put16(0x40 + 0x26, 0x70);  // followed by the resident-name table at 0xB0
    put16(0x80, 4);            // 16-byte units
    put16(0x82, 0x20);         // type name at table + 0x20
    put16(0x84, 1);
    put16(0x8A, 0xC0 >> 4);
    put16(0x8C, static_cast<uint32_t>((library.size() + 15) >> 4));
    put16(0x90, 0x8000u | id);
    // 0x96: the zero that ends the type list.
    f[0xA0] = 7;
    std::memcpy(&f[0xA1], "TYPELIB", 7);
    std::vector<std::byte> out(f.size());
    std::memcpy(out.data(), f.data(), f.size());
    out.insert(out.end(), library.begin(), library.end());
    out.resize(out.size() + 16, std::byte{0});
    return out;
}

class TypeLibFiles : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        dir_ = fs::temp_directory_path() /
               ("zephrin-reader-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
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
    fs::path dir_;
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

TEST_F(TypeLibFiles, LoadedLibrariesAreReadOnlyAndHaveADiskImage) {
    auto lib = Load(Write("ro.tlb", SmallImage(u"ReadOnly", 2)));
    ASSERT_TRUE(lib);
    EXPECT_FALSE(lib.As<ICreateTypeLib2>());
    EXPECT_FALSE(lib.As<ICreateTypeLib>());
    ComPtr<ITypeInfo> ti;
    ASSERT_OK(lib->GetTypeInfo(0, ti.put()));
    EXPECT_FALSE(ti.As<ICreateTypeInfo2>());
    EXPECT_FALSE(ti.As<ICreateTypeInfo>());
    TLIBATTR* la = nullptr;
    ASSERT_OK(lib->GetLibAttr(&la));
    EXPECT_EQ(LIBFLAG_FHASDISKIMAGE, la->wLibFlags);
    lib->ReleaseTLibAttr(la);
}

TEST_F(TypeLibFiles, ContentDecidesNotTheExtension) {
    auto image = SmallImage(u"Anywhere", 3);
    EXPECT_EQ(u"Anywhere", LibName(Load(Write("lib.dll", image)).get()));
    EXPECT_EQ(u"Anywhere", LibName(Load(Write("lib.ocx", image)).get()));
    EXPECT_EQ(u"Anywhere", LibName(Load(Write("lib.tlb.exe", PeImage({{1, image}}, false))).get()));

    std::vector<std::byte> text(64, std::byte{'a'});
    Load(Write("notes.tlb", text), TYPE_E_CANTLOADLIBRARY);
    Load(Write("empty.tlb", {}), TYPE_E_CANTLOADLIBRARY);
    Load(FromUtf8((dir_ / "missing.tlb").string()), TYPE_E_CANTLOADLIBRARY);
    // An image without a TYPELIB resource.
    Load(Write("plain.dll", PeImage({}, false)), TYPE_E_CANTLOADLIBRARY);
}

TEST_F(TypeLibFiles, ResourceNumberAfterABackslashPicksTheResource) {
    auto first = SmallImage(u"First", 4), second = SmallImage(u"Second", 5);
    for (bool plus : {false, true}) {
        auto path = Write(plus ? "both64.dll" : "both32.dll", PeImage({{1, first}, {2, second}}, plus));
        auto one = Load(path);
        EXPECT_EQ(u"First", LibName(one.get()));
        EXPECT_EQ(one.get(), Load(path + u"\\1").get());
        auto two = Load(path + u"\\2");
        EXPECT_EQ(u"Second", LibName(two.get()));
        EXPECT_NE(one.get(), two.get());
        Load(path + u"\\3", TYPE_E_CANTLOADLIBRARY);
    }
    auto ne = Write("old.dll", NeImage(3, second));
    EXPECT_EQ(u"Second", LibName(Load(ne + u"\\3").get()));
    Load(ne, TYPE_E_CANTLOADLIBRARY);
    // The same from memory.
    auto pe = PeImage({{1, first}, {2, second}}, true);
    ComPtr<ITypeLib> lib;
    ASSERT_OK(LoadTypeLibFromMemory(pe.data(), pe.size(), u"mem.dll\\2", lib.put()));
    EXPECT_EQ(u"Second", LibName(lib.get()));
}

TEST_F(TypeLibFiles, TruncatedImagesFailCleanly) {
    auto pe = PeImage({{1, SmallImage(u"Cut", 6)}}, false);
    for (size_t n = 0; n < pe.size(); n += 7) {
        ComPtr<ITypeLib> lib;
        HRESULT hr = LoadTypeLibFromMemory(pe.data(), n, u"", lib.put());
        EXPECT_TRUE(hr == TYPE_E_CANTLOADLIBRARY || hr == TYPE_E_INVALIDSTATE || hr == S_OK) << n;
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

}  // namespace
