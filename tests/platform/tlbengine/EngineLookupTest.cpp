// Lookups by member id and by name give the same answers whether the type is
// small enough to be searched in place or has its lookup tables, and when it
// grows from one to the other between lookups.
#include "support/EngineTestSupport.h"

#include <string>

using namespace enginetest;

namespace {

std::u16string Numbered(const char16_t* stem, size_t i) {
    std::u16string s = stem;
    for (char c : std::to_string(i)) s += static_cast<char16_t>(c);
    return s;
}

// A file for a library of the test's own.
std::u16string FileFor(size_t n) {
    return FromUtf8(::testing::TempDir() + "engine_lookup_" + std::to_string(n) + ".tlb");
}

constexpr MEMBERID kPropId = 50;
MEMBERID IdOf(size_t i) { return static_cast<MEMBERID>(100 + i); }

// An interface with a property (get and put sharing one id) and `count`
// further functions "Func0".. with ids 100.., each documented.
void AddFunctions(ICreateTypeInfo2* type, size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i) {
        const UINT at = static_cast<UINT>(i + 2);
        ASSERT_OK(AddFunc(type, at, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {VT_I4}, IdOf(i)));
        ASSERT_OK(SetNames(type, at, {Numbered(u"Func", i), u"x"}));
        ASSERT_OK(type->SetFuncDocString(at, Numbered(u"Does ", i).data()));
    }
}

void ExpectFunctionLookups(ITypeInfo2* ti, size_t count) {
    UINT index = 99;
    EXPECT_OK(ti->GetFuncIndexOfMemId(kPropId, INVOKE_PROPERTYPUT, &index));
    EXPECT_EQ(index, 1u);
    EXPECT_OK(ti->GetFuncIndexOfMemId(kPropId, INVOKE_PROPERTYGET, &index));
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(ti->GetFuncIndexOfMemId(kPropId, INVOKE_FUNC, &index), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(ti->GetFuncIndexOfMemId(IdOf(count), INVOKE_FUNC, &index), TYPE_E_ELEMENTNOTFOUND);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_OK(ti->GetFuncIndexOfMemId(IdOf(i), INVOKE_FUNC, &index));
        EXPECT_EQ(index, i + 2);
        EXPECT_EQ(NamesOf(ti, IdOf(i)), (std::vector<std::u16string>{Numbered(u"Func", i), u"x"}));
        BStr doc;
        EXPECT_OK(ti->GetDocumentation(IdOf(i), nullptr, doc.put(), nullptr, nullptr));
        EXPECT_EQ(doc.view(), Numbered(u"Does ", i));
    }
    EXPECT_EQ(NamesOf(ti, kPropId), (std::vector<std::u16string>{u"Prop"}));
    BStr none;
    EXPECT_EQ(ti->GetDocumentation(IdOf(count), nullptr, none.put(), nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
}

TEST(EngineLookup, FunctionsAreFoundAlikeInSmallAndLargeTypes) {
    for (size_t count : {1u, 8u, 13u, 14u, 15u, 30u}) {
        SCOPED_TRACE(count);
        const std::u16string file = FileFor(count);
        ComPtr<ICreateTypeLib2> lib;
        ASSERT_OK(CreateTypeLib2(SYS_WIN32, file.c_str(), lib.put()));
        ASSERT_OK(lib->SetName(u"Lookups"));
        auto type = NewType(lib.get(), u"IThing", TKIND_INTERFACE);
        TYPEDESC bstr = Td(VT_BSTR);
        std::vector<ELEMDESC> get{Elem(VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)};
        get[0].tdesc.lptdesc = &bstr;
        FUNCDESC g = Func(FUNC_PUREVIRTUAL, INVOKE_PROPERTYGET, VT_HRESULT, get, kPropId);
        ASSERT_OK(type->AddFuncDesc(0, &g));
        ASSERT_OK(SetNames(type.get(), 0, {u"Prop"}));
        ASSERT_OK(AddFunc(type.get(), 1, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUT, VT_HRESULT, {VT_BSTR}, kPropId));
        ASSERT_OK(SetNames(type.get(), 1, {u"prop"}));  // the other accessor may share the name
        AddFunctions(type.get(), 0, count);
        auto ti = Read(type);
        ExpectFunctionLookups(ti.get(), count);

        // Names clash regardless of case; a third accessor kind may join the property.
        const UINT at = static_cast<UINT>(count + 2);
        ASSERT_OK(AddFunc(type.get(), at, FUNC_PUREVIRTUAL, INVOKE_FUNC, VT_HRESULT, {}, 900));
        EXPECT_EQ(SetNames(type.get(), at, {u"FUNC0"}), TYPE_E_AMBIGUOUSNAME);
        EXPECT_EQ(SetNames(type.get(), at, {u"PROP"}), TYPE_E_AMBIGUOUSNAME);
        ASSERT_OK(type->DeleteFuncDesc(at));
        ASSERT_OK(AddFunc(type.get(), at, FUNC_PUREVIRTUAL, INVOKE_PROPERTYPUTREF, VT_HRESULT, {VT_UNKNOWN}, kPropId));
        EXPECT_OK(SetNames(type.get(), at, {u"PROP"}));
        EXPECT_OK(SetNames(type.get(), 2, {u"func0", u"x"}));  // a function renamed as itself
        ASSERT_OK(SetNames(type.get(), 2, {u"Func0", u"x"}));
        ASSERT_OK(type->DeleteFuncDesc(at));

        // Grown past the size searched in place, it finds the old members and the new.
        AddFunctions(type.get(), count, 10);
        ExpectFunctionLookups(ti.get(), count + 10);
        // And the same once saved and loaded back.
        ASSERT_OK(type->LayOut());
        ASSERT_OK(lib->SaveAllChanges());
        ComPtr<ITypeLib> copy;
        ASSERT_OK(LoadTypeLibEx(file.c_str(), REGKIND_NONE, copy.put()));
        ComPtr<ITypeInfo> loaded;
        ASSERT_OK(copy->GetTypeInfo(0, loaded.put()));
        ExpectFunctionLookups(loaded.As<ITypeInfo2>().get(), count + 10);
    }
}

TEST(EngineLookup, VariablesAreFoundAlikeInSmallAndLargeTypes) {
    for (size_t count : {1u, 16u, 17u, 40u}) {
        SCOPED_TRACE(count);
        auto lib = NewLib();
        auto rec = NewType(lib.get(), u"Rec", TKIND_RECORD);
        for (size_t i = 0; i < count; ++i)
            ASSERT_OK(AddVar(rec.get(), static_cast<UINT>(i), VAR_PERINSTANCE, VT_I4, Numbered(u"Field", i).c_str(),
                             nullptr, IdOf(i)));
        auto ti = Read(rec);
        for (size_t i = 0; i < count; ++i) {
            UINT index = 99;
            EXPECT_OK(ti->GetVarIndexOfMemId(IdOf(i), &index));
            EXPECT_EQ(index, i);
            EXPECT_EQ(NamesOf(ti.get(), IdOf(i)), (std::vector<std::u16string>{Numbered(u"Field", i)}));
        }
        UINT index = 0;
        EXPECT_EQ(ti->GetVarIndexOfMemId(IdOf(count), &index), TYPE_E_ELEMENTNOTFOUND);
        EXPECT_EQ(rec->SetVarName(static_cast<UINT>(count - 1), u"FIELD0"), count > 1 ? TYPE_E_AMBIGUOUSNAME : S_OK);
        EXPECT_OK(rec->SetVarName(0, u"field0"));
        ASSERT_OK(rec->DeleteVarDescByMemId(IdOf(0)));
        EXPECT_EQ(ti->GetVarIndexOfMemId(IdOf(0), &index), TYPE_E_ELEMENTNOTFOUND);
        if (count > 1) {
            EXPECT_OK(ti->GetVarIndexOfMemId(IdOf(count - 1), &index));
            EXPECT_EQ(index, count - 2);
            EXPECT_OK(rec->SetVarName(0, u"Field0"));  // the name is free again
        }
    }
}

}  // namespace
