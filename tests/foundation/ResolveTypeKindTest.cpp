// The effective kind of a type, following aliases, as the tree and the
// external-types dialog see it.
#include <gtest/gtest.h>

#include "foundation/modSupport.h"
#include "platform/tlbengine/StdOle2.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {
namespace {

using namespace ole;

class ResolvingTypeKinds : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateTypeLib2(SYS_WIN32, u"", lib.put()), S_OK);
        ASSERT_EQ(lib->SetName(u"Kinds"), S_OK);
    }

    ComPtr<ICreateTypeInfo> Add(const char16_t* name, TYPEKIND kind) {
        ComPtr<ICreateTypeInfo> t;
        EXPECT_EQ(lib->CreateTypeInfo(name, kind, t.put()), S_OK);
        return t;
    }
    void AliasOf(ICreateTypeInfo* alias, ICreateTypeInfo* target) {
        ComPtr<ITypeInfo> read;
        ASSERT_EQ(ComPtr<ICreateTypeInfo>(target).As(&read), S_OK);
        TYPEDESC td{};
        td.vt = VT_USERDEFINED;
        ASSERT_EQ(alias->AddRefTypeInfo(read.get(), &td.hreftype), S_OK);
        ASSERT_EQ(alias->SetTypeDescAlias(&td), S_OK);
        ASSERT_EQ(alias->LayOut(), S_OK);
    }
    // The TypeLib Information view of the library's item `name`.
    ComPtr<tli::TypeInfo> View(const char16_t* name) {
        ComPtr<ITypeLib> read;
        EXPECT_EQ(lib.As(&read), S_OK);
        for (UINT i = 0; i < read->GetTypeInfoCount(); ++i) {
            BSTR n = nullptr;
            EXPECT_EQ(read->GetDocumentation(static_cast<INT>(i), &n, nullptr, nullptr, nullptr), S_OK);
            const bool match = std::u16string_view(n ? n : u"") == name;
            SysFreeString(n);
            if (!match) continue;
            ComPtr<ITypeInfo> ti;
            EXPECT_EQ(read->GetTypeInfo(i, ti.put()), S_OK);
            ComPtr<tli::TLIApplication> app;
            EXPECT_EQ(tli::GetTLIApplication(app.put()), S_OK);
            ComPtr<tli::TypeInfo> view;
            EXPECT_EQ(app->TypeInfoFromITypeInfo(ti.get(), view.put()), S_OK);
            return view;
        }
        ADD_FAILURE() << "no type";
        return {};
    }

    ComPtr<ICreateTypeLib2> lib;
};

TEST_F(ResolvingTypeKinds, AliasesAreFollowedToWhatTheyName) {
    auto count = Add(u"COUNT", TKIND_ALIAS);
    TYPEDESC i4{};
    i4.vt = VT_I4;
    ASSERT_EQ(count->SetTypeDescAlias(&i4), S_OK);
    ASSERT_EQ(count->LayOut(), S_OK);
    AliasOf(Add(u"TOTAL", TKIND_ALIAS).get(), count.get());
    auto point = Add(u"POINT", TKIND_RECORD);
    ASSERT_EQ(point->LayOut(), S_OK);
    AliasOf(Add(u"PPOINT", TKIND_ALIAS).get(), point.get());

    VARTYPE vt = 0;
    EXPECT_EQ(modSupport::ResolveTypeKind(View(u"TOTAL").get(), vt), TKIND_ALIAS);
    EXPECT_EQ(vt, VT_I4);
    vt = 99;
    EXPECT_EQ(modSupport::ResolveTypeKind(View(u"PPOINT").get(), vt), TKIND_RECORD);
    EXPECT_EQ(vt, 99) << "vt is written only when the chain ends on an intrinsic type";
}

TEST_F(ResolvingTypeKinds, ADualDispinterfaceCountsAsAnInterface) {
    ComPtr<ITypeLib> stdole;
    ASSERT_EQ(GetBuiltinStdOle2(stdole.put()), S_OK);
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(stdole->GetTypeInfoOfGuid(IDispatch::kIID, dispatch.put()), S_OK);
    auto dual = Add(u"IDual", TKIND_INTERFACE);
    HREFTYPE href = 0;
    ASSERT_EQ(dual->AddRefTypeInfo(dispatch.get(), &href), S_OK);
    ASSERT_EQ(dual->AddImplType(0, href), S_OK);
    ASSERT_EQ(dual->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION), S_OK);
    ASSERT_EQ(dual->LayOut(), S_OK);
    auto events = Add(u"DEvents", TKIND_DISPATCH);
    ASSERT_EQ(events->LayOut(), S_OK);

    VARTYPE vt = 0;
    EXPECT_EQ(modSupport::ResolveTypeKind(View(u"IDual").get(), vt), TKIND_INTERFACE);
    EXPECT_EQ(modSupport::ResolveTypeKind(View(u"DEvents").get(), vt), TKIND_DISPATCH);
}

}  // namespace
}  // namespace zephrin
