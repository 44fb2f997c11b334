// Type text of descriptions read from a library (as built, and saved and
// loaded again) and of descriptions that can't be resolved.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "foundation/ErrorRecord.h"
#include "platform/oleauto/TypeLibFiles.h"
#include "platform/oleauto/TypeLibInterfaces.h"
#include "platform/tlbinf/TliInterfaces.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/modPrototype.h"

namespace zephrin {
namespace {

using namespace ole;
using modPrototype::GetTypeString;

// Owner of the TYPEDESC chains handed to the creation interfaces.
class TypeDescs {
public:
    static TYPEDESC Base(VARTYPE vt) {
        TYPEDESC t{};
        t.vt = vt;
        return t;
    }
    static TYPEDESC User(HREFTYPE href) {
        TYPEDESC t{};
        t.vt = VT_USERDEFINED;
        t.hreftype = href;
        return t;
    }
    TYPEDESC Ptr(TYPEDESC inner) { return Wrap(VT_PTR, inner); }
    TYPEDESC SafeArray(TYPEDESC elem) { return Wrap(VT_SAFEARRAY, elem); }
    // dims: (lower bound, element count) per dimension.
    TYPEDESC CArray(TYPEDESC elem, std::vector<std::pair<LONG, ULONG>> dims) {
        arrays_.push_back(std::make_unique<std::byte[]>(sizeof(ARRAYDESC) + sizeof(SAFEARRAYBOUND) * dims.size()));
        auto* ad = reinterpret_cast<ARRAYDESC*>(arrays_.back().get());
        ad->tdescElem = elem;
        ad->cDims = static_cast<USHORT>(dims.size());
        for (size_t i = 0; i < dims.size(); ++i) {
            ad->rgbounds[i].lLbound = dims[i].first;
            ad->rgbounds[i].cElements = dims[i].second;
        }
        TYPEDESC t{};
        t.vt = VT_CARRAY;
        t.lpadesc = ad;
        return t;
    }

private:
    TYPEDESC Wrap(VARTYPE vt, TYPEDESC inner) {
        nodes_.push_back(std::make_unique<TYPEDESC>(inner));
        TYPEDESC t{};
        t.vt = vt;
        t.lptdesc = nodes_.back().get();
        return t;
    }
    std::vector<std::unique_ptr<TYPEDESC>> nodes_;
    std::vector<std::unique_ptr<std::byte[]>> arrays_;
};

ComPtr<tli::TypeLibInfo> LibraryView(ITypeLib* lib) {
    ComPtr<tli::TLIApplication> app;
    EXPECT_EQ(tli::GetTLIApplication(app.put()), S_OK);
    ComPtr<tli::TypeLibInfo> info;
    EXPECT_EQ(app->TypeLibInfoFromITypeLib(lib, info.put()), S_OK);
    return info;
}

ComPtr<ITypeInfo> StdOle2TypeNamed(std::u16string_view name) {
    ComPtr<ITypeLib> std;
    EXPECT_EQ(LoadTypeLibEx(u"stdole2.tlb", REGKIND_NONE, std.put()), S_OK);
    ComPtr<tli::TypeInfos> types;
    ComPtr<tli::TypeInfo> type;
    ComPtr<ITypeInfo> ti;
    EXPECT_EQ(LibraryView(std.get())->get_TypeInfos(types.put()), S_OK);
    EXPECT_EQ(types->NamedItem(name, type.put()), S_OK);
    if (type) {
        EXPECT_EQ(type->get_ITypeInfo(ti.put()), S_OK);
    }
    return ti;
}

struct Field {
    const char16_t* name;
    TYPEDESC type;
};

// library Protos {
//   struct Point { long x; };
//   struct Holder { long* byRef; IDispatch** dispRef; IUnknown* unk; SAFEARRAY(BSTR)* names;
//                   unsigned char bytes[8]; long* grid[1..2][-1..1]; Point origin; Point* pointRef;
//                   stdole.GUID id; stdole.IDispatch* disp; SAFEARRAY(Point*) points;
//                   SAFEARRAY(long**)** deep; VARIANT_BOOL flag; CURRENCY money; VARIANT any; };
// }
ComPtr<ICreateTypeLib2> BuildProtos(const std::u16string& file) {
    ComPtr<ICreateTypeLib2> lib;
    EXPECT_EQ(CreateTypeLib2(SYS_WIN32, file.c_str(), lib.put()), S_OK);
    EXPECT_EQ(lib->SetName(u"Protos"), S_OK);
    EXPECT_EQ(lib->SetGuid({0x2C0D1E77, 0x51A2, 0x4B7E, {0x90, 0x31, 0x11, 0x22, 0x33, 0x44, 0x55, 0x01}}), S_OK);
    ComPtr<ICreateTypeInfo> point, holder;
    EXPECT_EQ(lib->CreateTypeInfo(u"Point", TKIND_RECORD, point.put()), S_OK);
    EXPECT_EQ(lib->CreateTypeInfo(u"Holder", TKIND_RECORD, holder.put()), S_OK);
    ComPtr<ITypeInfo> guid = StdOle2TypeNamed(u"GUID"), dispatch = StdOle2TypeNamed(u"IDispatch");
    ComPtr<ITypeInfo> pointTi = point.As<ITypeInfo>();
    if (!point || !holder || !guid || !dispatch || !pointTi) return nullptr;
    auto ref = [&](ITypeInfo* to) {
        HREFTYPE href = 0;
        EXPECT_EQ(holder->AddRefTypeInfo(to, &href), S_OK);
        return href;
    };
    TypeDescs td;
    const Field fields[] = {
        {u"byRef", td.Ptr(td.Base(VT_I4))},
        {u"dispRef", td.Ptr(td.Base(VT_DISPATCH))},
        {u"unk", td.Base(VT_UNKNOWN)},
        {u"names", td.Ptr(td.SafeArray(td.Base(VT_BSTR)))},
        {u"bytes", td.CArray(td.Base(VT_UI1), {{0, 8}})},
        {u"grid", td.CArray(td.Ptr(td.Base(VT_I4)), {{1, 2}, {-1, 3}})},
        {u"origin", td.User(ref(pointTi.get()))},
        {u"pointRef", td.Ptr(td.User(ref(pointTi.get())))},
        {u"id", td.User(ref(guid.get()))},
        {u"disp", td.Ptr(td.User(ref(dispatch.get())))},
        {u"points", td.SafeArray(td.Ptr(td.User(ref(pointTi.get()))))},
        {u"deep", td.Ptr(td.Ptr(td.SafeArray(td.Ptr(td.Ptr(td.Base(VT_I4))))))},
        {u"flag", td.Base(VT_BOOL)},
        {u"money", td.Base(VT_CY)},
        {u"any", td.Base(VT_VARIANT)},
    };
    VARDESC x{};
    x.memid = MEMBERID_NIL;
    x.varkind = VAR_PERINSTANCE;
    x.elemdescVar.tdesc = td.Base(VT_I4);
    EXPECT_EQ(point->AddVarDesc(0, &x), S_OK);
    EXPECT_EQ(point->SetVarName(0, u"x"), S_OK);
    UINT index = 0;
    for (const Field& f : fields) {
        VARDESC vd{};
        vd.memid = MEMBERID_NIL;
        vd.varkind = VAR_PERINSTANCE;
        vd.elemdescVar.tdesc = f.type;
        EXPECT_EQ(holder->AddVarDesc(index, &vd), S_OK) << ToUtf8(f.name);
        EXPECT_EQ(holder->SetVarName(index, f.name), S_OK);
        ++index;
    }
    EXPECT_EQ(point->LayOut(), S_OK);
    EXPECT_EQ(holder->LayOut(), S_OK);
    return lib;
}

enum class Route { Created, SavedAndLoaded };

class TypeText : public ::testing::TestWithParam<Route> {
protected:
    void SetUp() override {
        RegisterFileServices();
        if (GetParam() == Route::Created) {
            created_ = BuildProtos(u"");
            ASSERT_TRUE(created_);
            lib_ = created_.As<ITypeLib>();
        } else {
            path_ = std::filesystem::temp_directory_path() /
                    ("zephrin_protos_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".tlb");
            ComPtr<ICreateTypeLib2> lib = BuildProtos(path_.u16string());
            ASSERT_TRUE(lib);
            ASSERT_EQ(lib->SaveAllChanges(), S_OK);
            ASSERT_EQ(LoadTypeLibEx(path_.u16string().c_str(), REGKIND_NONE, lib_.put()), S_OK);
        }
        ComPtr<tli::TypeInfos> types;
        ComPtr<tli::TypeInfo> holder;
        ASSERT_EQ(LibraryView(lib_.get())->get_TypeInfos(types.put()), S_OK);
        ASSERT_EQ(types->NamedItem(u"Holder", holder.put()), S_OK);
        ASSERT_EQ(holder->get_Members(members_.put()), S_OK);
    }
    void TearDown() override {
        members_ = nullptr;
        lib_ = nullptr;
        if (!path_.empty()) std::filesystem::remove(path_);
    }
    // The description of field `name` of Holder, read through the TypeLib Information objects.
    ComPtr<tli::VarTypeInfo> FieldType(std::u16string_view name) {
        LONG count = 0;
        EXPECT_EQ(members_->get_Count(&count), S_OK);
        for (LONG i = 1; i <= count; ++i) {
            ComPtr<tli::MemberInfo> m;
            std::u16string text;
            EXPECT_EQ(members_->get_Item(i, m.put()), S_OK);
            EXPECT_EQ(m->get_Name(&text), S_OK);
            if (text != name) continue;
            ComPtr<tli::VarTypeInfo> type;
            EXPECT_EQ(m->get_ReturnType(type.put()), S_OK);
            return type;
        }
        ADD_FAILURE() << "no field " << ToUtf8(name);
        return nullptr;
    }
    std::u16string Text(std::u16string_view field, bool starless = false) {
        ComPtr<tli::VarTypeInfo> type = FieldType(field);
        return type ? GetTypeString(type.get(), starless) : u"(missing)";
    }

    ComPtr<ICreateTypeLib2> created_;
    ComPtr<ITypeLib> lib_;
    ComPtr<tli::Members> members_;
    std::filesystem::path path_;
};

TEST_P(TypeText, BaseTypesCarryOneStarPerPointerLevel) {
    EXPECT_EQ(Text(u"byRef"), u"long*");
    EXPECT_EQ(Text(u"dispRef"), u"IDispatch**");
    EXPECT_EQ(Text(u"dispRef", true), u"IDispatch*");
    EXPECT_EQ(Text(u"unk"), u"IUnknown*");
    EXPECT_EQ(Text(u"unk", true), u"IUnknown");
    EXPECT_EQ(Text(u"flag"), u"boolean");
    EXPECT_EQ(Text(u"money"), u"currency");
    EXPECT_EQ(Text(u"any"), u"VARIANT");
}

TEST_P(TypeText, ArraysNameTheirElementAfterOf) {
    EXPECT_EQ(Text(u"names"), u"SAFEARRAY** of BSTR");
    EXPECT_EQ(Text(u"bytes"), u"Fixed-Size Array(0 To 7) of unsigned char");
    EXPECT_EQ(Text(u"grid"), u"Fixed-Size Array(1 To 2, -1 To 1) of long*");
    EXPECT_EQ(Text(u"points"), u"SAFEARRAY* of Point*");
    EXPECT_EQ(Text(u"deep"), u"SAFEARRAY*** of long**");
    EXPECT_EQ(modPrototype::ArrayBoundsText(FieldType(u"grid").get()), u"(1 To 2, -1 To 1)");
    EXPECT_EQ(modPrototype::ArrayBoundsText(FieldType(u"names").get()), u"");
    EXPECT_EQ(modPrototype::ArrayBoundsText(FieldType(u"byRef").get()), u"");
}

TEST_P(TypeText, UserTypesOfOtherLibrariesAreQualified) {
    EXPECT_EQ(Text(u"origin"), u"Point");
    EXPECT_EQ(Text(u"pointRef"), u"Point*");
    EXPECT_EQ(Text(u"id"), u"stdole.GUID");
    // A user-defined IDispatch keeps its name: the starless flag is for the base types only.
    EXPECT_EQ(Text(u"disp"), u"stdole.IDispatch*");
    EXPECT_EQ(Text(u"disp", true), u"stdole.IDispatch*");
}

TEST_P(TypeText, AnEditedCopyReadsTheSame) {
    for (const char16_t* field : {u"byRef", u"dispRef", u"names", u"bytes", u"grid", u"origin", u"pointRef", u"id",
                                  u"disp", u"points", u"deep", u"any"}) {
        ComPtr<tli::VarTypeInfo> read = FieldType(field);
        ComPtr<CustomVarTypeInfo> edited = CustomVarTypeInfo::New();
        edited->CurrentITypeLib(lib_.get());
        edited->Duplicate(read.get());
        for (bool starless : {false, true})
            EXPECT_EQ(GetTypeString(edited.get(), starless), GetTypeString(read.get(), starless)) << ToUtf8(field);
    }
}

INSTANTIATE_TEST_SUITE_P(Routes, TypeText, ::testing::Values(Route::Created, Route::SavedAndLoaded));

TEST(TypeTextOfEditedDescriptions, AMissingTypeIsAQuestionMark) {
    ComPtr<CustomVarTypeInfo> none = CustomVarTypeInfo::New();
    none->PointerLevel(1);
    EXPECT_EQ(GetTypeString(none.get(), false), u"?*");
    none->SetSafeArrayData(0);
    none->PointerLevel(2);
    EXPECT_EQ(GetTypeString(none.get(), false), u"SAFEARRAY* of ?**");
    none->SetType(VT_I2, nullptr);
    none->SetFixedArrayData({{0, 1}, {5, 5}}, 1);
    EXPECT_EQ(GetTypeString(none.get(), false), u"Fixed-Size Array(0 To 1, 5 To 5)* of short**");
    EXPECT_THROW(GetTypeString(nullptr, false), ErrorRecord);
}

TEST(BaseTypeNames, IdlAndCombinedNames) {
    using modPrototype::BaseTypeName;
    using modPrototype::BaseTypeNameVB;
    EXPECT_EQ(BaseTypeNameVB(VT_UNKNOWN, false), u"IUnknown*");
    EXPECT_EQ(BaseTypeNameVB(VT_UNKNOWN, true), u"IUnknown");
    EXPECT_EQ(BaseTypeNameVB(VT_DISPATCH, true), u"IDispatch  (Object)");
    EXPECT_EQ(BaseTypeNameVB(VT_DISPATCH, false), u"IDispatch*  (Object)");
    EXPECT_EQ(BaseTypeNameVB(VT_I2, false), u"short  (Integer)");
    EXPECT_EQ(BaseTypeNameVB(VT_UI1, true), u"unsigned char  (Byte)");
    EXPECT_EQ(BaseTypeNameVB(VT_UI4, false), u"unsigned long");
    EXPECT_EQ(BaseTypeName(VT_BSTR, false), u"BSTR");
    EXPECT_EQ(BaseTypeName(VT_I8, false), u"long8");
    EXPECT_EQ(BaseTypeName(VT_CARRAY, false), u"Fixed-Size Array");
    EXPECT_EQ(BaseTypeName(VT_LPWSTR, true), u"LPWSTR");
    for (int vt : {0, 1, 10, 15, 26, 29, 34, -1, 0x2003})
        EXPECT_EQ(BaseTypeName(vt, false), u"") << vt;
    int32_t index = VT_DISPATCH;
    modPrototype::UnstarredTypeIndex(index);
    EXPECT_EQ(index, 33);
    index = VT_I4;
    modPrototype::UnstarredTypeIndex(index);
    EXPECT_EQ(index, VT_I4);
}

}  // namespace
}  // namespace zephrin
