// Reading MSFT images: a library built through the creation interfaces and
// written by the MSFT writer reads back with everything it holds, and broken
// images (truncated, corrupted, or found by the fuzzer in
// tests/data/fuzz-regressions) fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "EngineTestSupport.h"
#include "platform/oleauto/MsftReader.h"
#include "platform/oleauto/MsftWriter.h"
#include "platform/oleauto/SltgReader.h"
#include "platform/oleauto/StdOle2.h"
#include "platform/oleauto/TypeLibFiles.h"

namespace {

using namespace enginetest;

constexpr GUID kLibGuid = {0x6A1E0001, 0x1234, 0x4321, {0x80, 1, 2, 3, 4, 5, 6, 7}};
constexpr GUID kShapeIid = {0x6A1E0002, 0x1234, 0x4321, {0x80, 1, 2, 3, 4, 5, 6, 7}};
constexpr GUID kEventsIid = {0x6A1E0003, 0x1234, 0x4321, {0x80, 1, 2, 3, 4, 5, 6, 7}};
constexpr GUID kShapeClsid = {0x6A1E0004, 0x1234, 0x4321, {0x80, 1, 2, 3, 4, 5, 6, 7}};
constexpr GUID kNoteKey = {0x6A1E00FF, 0x1234, 0x4321, {0x80, 1, 2, 3, 4, 5, 6, 7}};

// A library with a type of every kind, values, defaults, DLL entries, help
// data and custom data at every level, laid out and written to an MSFT image.
std::vector<std::byte> SampleImage() {
    auto lib = NewLib();
    lib->SetName(u"Shapes");
    lib->SetGuid(kLibGuid);
    lib->SetVersion(3, 4);
    lib->SetLcid(0x409);
    lib->SetDocString(u"Shape library \u00e9");
    lib->SetHelpFileName(u"shapes.chm");
    lib->SetHelpContext(77);
    lib->SetHelpStringContext(78);
    lib->SetHelpStringDll(u"shaperes.dll");
    lib->SetLibFlags(LIBFLAG_FCONTROL);
    Variant note(std::u16string_view(u"library note"));
    lib->SetCustData(kNoteKey, note.ptr());

    auto colour = NewType(lib.get(), u"Colour", TKIND_ENUM);
    Variant red = Variant::Int(0), green = Variant::Int(-1), blue = Variant::Int(0x7FFFFFFF);
    AddVar(colour.get(), 0, VAR_CONST, VT_INT, u"Red", red.ptr());
    AddVar(colour.get(), 1, VAR_CONST, VT_INT, u"Green", green.ptr());
    AddVar(colour.get(), 2, VAR_CONST, VT_INT, u"Blue", blue.ptr());
    colour->SetVarDocString(1, u"green");
    EXPECT_OK(colour->LayOut());

    auto point = NewType(lib.get(), u"Point", TKIND_RECORD);
    AddVar(point.get(), 0, VAR_PERINSTANCE, VT_I2, u"x");
    TypeDescs d;
    VARDESC grid{};
    grid.memid = MEMBERID_NIL;
    grid.varkind = VAR_PERINSTANCE;
    grid.elemdescVar.tdesc = d.CArray(Td(VT_R8), {{1, 3}, {0, 2}});
    EXPECT_OK(point->AddVarDesc(1, &grid));
    point->SetVarName(1, u"grid");
    Variant varNote = Variant::Int(5);
    point->SetVarCustData(1, kNoteKey, varNote.ptr());
    EXPECT_OK(point->LayOut());

    ComPtr<ITypeLib> std;
    EXPECT_OK(GetBuiltinStdOle2(std.put()));
    ComPtr<ITypeInfo> idispatch;
    EXPECT_OK(std->GetTypeInfoOfGuid(kIID_IDispatch, idispatch.put()));

    auto shape = NewType(lib.get(), u"IShape", TKIND_INTERFACE);
    shape->SetGuid(kShapeIid);
    shape->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION);
    shape->SetDocString(u"A shape");
    EXPECT_OK(shape->AddImplType(0, RefTo(shape.get(), idispatch.get())));
    {
        std::vector<ELEMDESC> ps = {Elem(VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)};
        TYPEDESC r8 = Td(VT_R8);
        ps[0].tdesc.lptdesc = &r8;
        FUNCDESC f = Func(FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, VT_HRESULT, ps, 1);
        EXPECT_OK(shape->AddFuncDesc(0, &f));
        SetNames(shape.get(), 0, {u"Area", u"value"});
    }
    {
        PARAMDESCEX five{24, {}}, text{24, {}};
        five.varDefaultValue.vt = VT_I4;
        five.varDefaultValue.lVal = 5;
        Variant abc(std::u16string_view(u"abc"));
        VariantCopy(&text.varDefaultValue, abc.ptr());
        std::vector<ELEMDESC> ps = {Elem(VT_I4), Elem(VT_I4, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT),
                                    Elem(VT_BSTR, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)};
        ps[1].paramdesc.pparamdescex = &five;
        ps[2].paramdesc.pparamdescex = &text;
        FUNCDESC f = Func(FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, ps, 2);
        EXPECT_OK(shape->AddFuncDesc(1, &f));
        VariantClear(&text.varDefaultValue);
        SetNames(shape.get(), 1, {u"Move", u"dx", u"dy", u"label"});
        shape->SetFuncDocString(1, u"Moves it");
        shape->SetFuncHelpContext(1, 12);
        shape->SetFuncHelpStringContext(1, 13);
        Variant yes(true);
        shape->SetFuncCustData(1, kNoteKey, yes.ptr());
        Variant r4(2.5f);
        shape->SetParamCustData(1, 2, kNoteKey, r4.ptr());
    }
    EXPECT_OK(shape->LayOut());

    auto events = NewType(lib.get(), u"DEvents", TKIND_DISPATCH);
    events->SetGuid(kEventsIid);
    EXPECT_OK(events->AddImplType(0, RefTo(events.get(), idispatch.get())));
    AddFunc(events.get(), 0, FUNC_DISPATCH, INVOKE_FUNC, VT_VOID, {VT_I4}, 7);
    SetNames(events.get(), 0, {u"Fired", u"code"});
    EXPECT_OK(events->LayOut());

    auto native = NewType(lib.get(), u"Native", TKIND_MODULE);
    AddFunc(native.get(), 0, FUNC_STATIC, INVOKE_FUNC, VT_I4, {VT_LPSTR}, 0x60000000);
    SetNames(native.get(), 0, {u"ByName", u"text"});
    AddFunc(native.get(), 1, FUNC_STATIC, INVOKE_FUNC, VT_I4, {}, 0x60000001);
    SetNames(native.get(), 1, {u"ByOrdinal"});
    EXPECT_OK(native->DefineFuncAsDllEntry(0, u"native.dll", DllEntryPoint(std::u16string(u"EntryByName"))));
    EXPECT_OK(native->DefineFuncAsDllEntry(1, u"native.dll", DllEntryPoint(WORD{7})));
    Variant version(std::u16string_view(u"1.0 \u00fc"));
    AddVar(native.get(), 0, VAR_CONST, VT_BSTR, u"Version", version.ptr());
    EXPECT_OK(native->LayOut());

    auto handle = NewType(lib.get(), u"Handle", TKIND_ALIAS);
    TYPEDESC ptr = Td(VT_PTR), pointee = Td(VT_USERDEFINED);
    pointee.hreftype = RefTo(handle.get(), Read(point).get());
    ptr.lptdesc = &pointee;
    EXPECT_OK(handle->SetTypeDescAlias(&ptr));
    EXPECT_OK(handle->LayOut());

    auto coclass = NewType(lib.get(), u"Shape", TKIND_COCLASS);
    coclass->SetGuid(kShapeClsid);
    coclass->SetTypeFlags(TYPEFLAG_FCANCREATE);
    ComPtr<ITypeLib> self = lib.As<ITypeLib>();
    ComPtr<ITypeInfo> shapeItem, eventsItem;
    self->GetTypeInfoOfGuid(kShapeIid, shapeItem.put());
    self->GetTypeInfoOfGuid(kEventsIid, eventsItem.put());
    EXPECT_OK(coclass->AddImplType(0, RefTo(coclass.get(), shapeItem.get())));
    EXPECT_OK(coclass->AddImplType(1, RefTo(coclass.get(), eventsItem.get())));
    coclass->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT);
    coclass->SetImplTypeFlags(1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    Variant implNote = Variant::Int(-70000);
    coclass->SetImplTypeCustData(1, kNoteKey, implNote.ptr());
    EXPECT_OK(coclass->LayOut());

    std::shared_ptr<const LibraryData> data;
    EXPECT_OK(GetLibraryData(self.get(), true, &data));
    std::vector<std::byte> image;
    if (data) {
        EXPECT_OK(BuildMsftImage(*data, &image));
    }
    return image;
}

const std::vector<std::byte>& Sample() {
    static const std::vector<std::byte> image = SampleImage();
    return image;
}

ComPtr<ITypeLib> Load(const std::vector<std::byte>& bytes) {
    ComPtr<ITypeLib> lib;
    EXPECT_OK(LoadTypeLibFromMemory(bytes.data(), bytes.size(), u"sample.tlb", lib.put()));
    return lib;
}

ComPtr<ITypeInfo> TypeNamed(ITypeLib* lib, const char16_t* name) {
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        if (SUCCEEDED(lib->GetTypeInfo(i, ti.put())) && NameOf(ti.get()) == name) return ti;
    }
    ADD_FAILURE() << "no type " << ToUtf8(name);
    return {};
}

// Everything a reader of a library can ask for, asked once; must not crash.
void Walk(ITypeLib* lib) {
    TLIBATTR* la = nullptr;
    if (SUCCEEDED(lib->GetLibAttr(&la))) lib->ReleaseTLibAttr(la);
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> ti;
        if (FAILED(lib->GetTypeInfo(i, ti.put())) || !ti) continue;
        TYPEATTR* ta = nullptr;
        if (FAILED(ti->GetTypeAttr(&ta)) || !ta) continue;
        for (UINT k = 0; k < ta->cImplTypes; ++k) {
            HREFTYPE h = 0;
            ComPtr<ITypeInfo> r;
            if (SUCCEEDED(ti->GetRefTypeOfImplType(k, &h))) ti->GetRefTypeInfo(h, r.put());
        }
        for (UINT k = 0; k < ta->cFuncs; ++k) {
            FUNCDESC* fd = nullptr;
            if (FAILED(ti->GetFuncDesc(k, &fd)) || !fd) continue;
            NamesOf(ti.get(), fd->memid, 64);
            for (SHORT p = 0; p < fd->cParams; ++p) {
                const TYPEDESC* td = &fd->lprgelemdescParam[p].tdesc;
                while (td->vt == VT_PTR || td->vt == VT_SAFEARRAY) td = td->lptdesc;
                ComPtr<ITypeInfo> r;
                if (td->vt == VT_USERDEFINED) ti->GetRefTypeInfo(td->hreftype, r.put());
            }
            ti->ReleaseFuncDesc(fd);
        }
        for (UINT k = 0; k < ta->cVars; ++k) {
            VARDESC* vd = nullptr;
            if (SUCCEEDED(ti->GetVarDesc(k, &vd)) && vd) ti->ReleaseVarDesc(vd);
        }
        ti->ReleaseTypeAttr(ta);
    }
}

TEST(ReaderMsft, RewritingALoadedLibraryGivesTheSameImage) {
    const auto& image = Sample();
    ASSERT_GT(image.size(), 0x54u);
    LibraryData data;
    ASSERT_OK(ReadMsft(image, &data));
    std::vector<std::byte> again;
    ASSERT_OK(BuildMsftImage(data, &again));
    EXPECT_EQ(image, again);

    // The same through the loaded library's own data.
    auto lib = Load(image);
    std::shared_ptr<const LibraryData> loaded;
    ASSERT_OK(GetLibraryData(lib.get(), false, &loaded));
    std::vector<std::byte> third;
    ASSERT_OK(BuildMsftImage(*loaded, &third));
    EXPECT_EQ(image, third);
}

TEST(ReaderMsft, LoadedLibraryReportsWhatWasBuilt) {
    auto lib = Load(Sample());
    ASSERT_TRUE(lib);
    TLIBATTR* la = nullptr;
    ASSERT_OK(lib->GetLibAttr(&la));
    EXPECT_EQ(kLibGuid, la->guid);
    EXPECT_EQ(3, la->wMajorVerNum);
    EXPECT_EQ(4, la->wMinorVerNum);
    EXPECT_EQ(0x409u, la->lcid);
    EXPECT_EQ(LIBFLAG_FCONTROL | LIBFLAG_FHASDISKIMAGE, la->wLibFlags);
    lib->ReleaseTLibAttr(la);
    BStr name, doc, helpFile;
    DWORD ctx = 0;
    ASSERT_OK(lib->GetDocumentation(-1, name.put(), doc.put(), &ctx, helpFile.put()));
    EXPECT_EQ(u"Shapes", name.str());
    EXPECT_EQ(u"Shape library \u00e9", doc.str());
    EXPECT_EQ(u"shapes.chm", helpFile.str());
    EXPECT_EQ(77u, ctx);

    // The dual interface comes back as a dispatch view with its interface half.
    auto shape = TypeNamed(lib.get(), u"IShape");
    ASSERT_TRUE(shape);
    EXPECT_EQ(TKIND_DISPATCH, Attr(shape.get()).typekind);
    HREFTYPE halfRef = 0;
    ComPtr<ITypeInfo> half;
    ASSERT_OK(shape->GetRefTypeOfImplType(static_cast<UINT>(-1), &halfRef));
    ASSERT_OK(shape->GetRefTypeInfo(halfRef, half.put()));
    TYPEATTR ha = Attr(half.get());
    EXPECT_EQ(TKIND_INTERFACE, ha.typekind);
    EXPECT_EQ(2, ha.cFuncs);
    EXPECT_EQ(36, ha.cbSizeVft);

    FUNCDESC* fd = nullptr;
    ASSERT_OK(half->GetFuncDesc(1, &fd));
    ASSERT_EQ(3, fd->cParams);
    EXPECT_EQ(VT_I4, fd->lprgelemdescParam[1].paramdesc.pparamdescex->varDefaultValue.vt);
    EXPECT_EQ(5, fd->lprgelemdescParam[1].paramdesc.pparamdescex->varDefaultValue.lVal);
    EXPECT_EQ(u"abc", BstrView(fd->lprgelemdescParam[2].paramdesc.pparamdescex->varDefaultValue.bstrVal));
    half->ReleaseFuncDesc(fd);
    EXPECT_EQ((std::vector<std::u16string>{u"Move", u"dx", u"dy", u"label"}), NamesOf(half.get(), 2));

    auto native = TypeNamed(lib.get(), u"Native");
    BStr dll, entry;
    WORD ordinal = 0;
    ASSERT_OK(native->GetDllEntry(0x60000000, INVOKE_FUNC, dll.put(), entry.put(), &ordinal));
    EXPECT_EQ(u"native.dll", dll.str());
    EXPECT_EQ(u"EntryByName", entry.str());
    ASSERT_OK(native->GetDllEntry(0x60000001, INVOKE_FUNC, dll.put(), entry.put(), &ordinal));
    EXPECT_EQ(nullptr, entry.get());
    EXPECT_EQ(7, ordinal);

    auto colour = TypeNamed(lib.get(), u"Colour");
    VARDESC* vd = nullptr;
    ASSERT_OK(colour->GetVarDesc(1, &vd));
    EXPECT_EQ(-1, vd->lpvarValue->lVal);
    colour->ReleaseVarDesc(vd);

    auto coclass = TypeNamed(lib.get(), u"Shape").As<ITypeInfo2>();
    Variant v;
    ASSERT_OK(coclass->GetImplTypeCustData(1, kNoteKey, v.put()));
    EXPECT_EQ(-70000, v.get().lVal);
}

TEST(ReaderMsft, EveryTruncationFailsCleanly) {
    const auto& image = Sample();
    for (size_t n = 0; n < image.size(); ++n) {
        std::vector<std::byte> part(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(n));
        ComPtr<ITypeLib> lib;
        HRESULT hr = LoadTypeLibFromMemory(part.data(), part.size(), u"", lib.put());
        if (SUCCEEDED(hr))
            Walk(lib.get());  // a cut inside trailing padding may still read
        else
            EXPECT_TRUE(hr == TYPE_E_CANTLOADLIBRARY || hr == TYPE_E_INVALIDSTATE) << n << " " << std::hex << hr;
    }
}

TEST(ReaderMsft, CorruptedBytesNeverCrashOrHang) {
    const auto& image = Sample();
    std::mt19937 rng(4);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::byte> bad = image;
        int flips = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < flips; ++k) {
            size_t at = rng() % bad.size();
            // Offsets and counts are the interesting targets: large, negative and small values.
            static const uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0x10};
            bad[at] = std::byte{values[rng() % 6]};
        }
        ComPtr<ITypeLib> lib;
        if (SUCCEEDED(LoadTypeLibFromMemory(bad.data(), bad.size(), u"", lib.put()))) Walk(lib.get());
    }
}

TEST(ReaderMsft, RejectsWhatIsNotATypeLibrary) {
    LibraryData data;
    EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, ReadMsft({}, &data));
    std::vector<std::byte> text(200, std::byte{'x'});
    ComPtr<ITypeLib> lib;
    EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, LoadTypeLibFromMemory(text.data(), text.size(), u"", lib.put()));
    EXPECT_FALSE(lib);
    // A header that claims more types than the file could hold.
    std::vector<std::byte> header = Sample();
    header[0x20] = std::byte{0xFF};
    header[0x21] = std::byte{0xFF};
    header[0x22] = std::byte{0xFF};
    header[0x23] = std::byte{0x0F};
    EXPECT_EQ(TYPE_E_CANTLOADLIBRARY, ReadMsft(header, &data));
}

// Each input the fuzzer found troublesome loads cleanly or fails with an
// error, and a loaded one answers every reading call.
TEST(ReaderMsft, FoundFuzzInputsLoadOrFailCleanly) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(ZEPHRIN_TEST_DATA_DIR) / "fuzz-regressions", ec))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream in(file, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ComPtr<ITypeLib> lib;
        HRESULT hr = LoadTypeLibFromMemory(bytes.data(), bytes.size(), u"", lib.put());
        if (SUCCEEDED(hr))
            Walk(lib.get());
        else
            EXPECT_TRUE(hr == TYPE_E_CANTLOADLIBRARY || hr == TYPE_E_INVALIDSTATE || hr == E_OUTOFMEMORY)
                << std::hex << hr;
        LibraryData data;
        auto span = std::as_bytes(std::span(bytes));
        (void)ReadMsft(span, &data);
        (void)ReadSltg(span, &data);
    }
}

}  // namespace
