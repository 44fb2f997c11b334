// What a library uses from other libraries: libraries and types once each,
// sorted, every use described and placed, the images of the type nodes, and
// the companion library of unresolved types.
#include <gtest/gtest.h>

#include <string>

#include "DialogTestSupport.h"
#include "dialogs/ExternalTypesModel.h"
#include "typelib/modITypeInfoHelper.h"

namespace dialogstest {
namespace {

std::string U8(const std::u16string& s) { return std::string(s.begin(), s.end()); }

struct ExternalTypes : ::testing::Test {
    TempDir dir;
    TypeDescs td;
    ComPtr<ITypeLib> extA, missing, main;

    ComPtr<ITypeLib> Saved(ICreateTypeLib2* lib, const std::string& name) {
        EXPECT_OK(lib->SaveAllChanges());
        ComPtr<ITypeLib> loaded;
        EXPECT_OK(LoadTypeLibEx((dir.path() / (name + ".tlb")).u16string().c_str(), REGKIND_NONE, loaded.put()));
        return loaded;
    }
    ComPtr<ICreateTypeLib2> Library(const std::u16string& name, uint32_t id) {
        auto lib = NewLibrary(name, (dir.path() / (U8(name) + ".tlb")).u16string());
        EXPECT_OK(lib->SetGuid({id, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8}}));
        return lib;
    }

    void SetUp() override {
        {
            auto lib = Library(u"ExtA", 0x6A000001);
            auto rec = NewType(lib.get(), u"RecA", TKIND_RECORD);
            AddVar(rec.get(), 0, u"x", Vt(VT_I4));
            auto ext = NewType(lib.get(), u"IExtA", TKIND_INTERFACE);
            EXPECT_OK(ext->AddImplType(0, RefTo(ext.get(), StdOle2Type(kIID_IUnknown).get())));
            auto alias = NewType(lib.get(), u"RecAlias", TKIND_ALIAS);
            TYPEDESC target = User(RefTo(alias.get(), rec.get()));
            EXPECT_OK(alias->SetTypeDescAlias(&target));
            extA = Saved(lib.get(), "ExtA");
        }
        {
            auto lib = Library(u"MISSING", 0x6A000002);
            modITypeInfoHelper::MarkUnresolvedTypesLib(lib.get());
            auto thing = NewType(lib.get(), u"Thing", TKIND_RECORD);
            AddVar(thing.get(), 0, u"x", Vt(VT_I4));
            missing = Saved(lib.get(), "MISSING");
        }
        ComPtr<ITypeInfo> recA, iExtA, recAlias, thing;
        EXPECT_OK(extA->GetTypeInfo(0, recA.put()));
        EXPECT_OK(extA->GetTypeInfo(1, iExtA.put()));
        EXPECT_OK(extA->GetTypeInfo(2, recAlias.put()));
        EXPECT_OK(missing->GetTypeInfo(0, thing.put()));

        auto lib = Library(u"Main", 0x6A000003);
        auto user = NewType(lib.get(), u"IUser", TKIND_INTERFACE);
        auto aliasA = NewType(lib.get(), u"AliasA", TKIND_ALIAS);
        auto holder = NewType(lib.get(), u"Holder", TKIND_RECORD);
        auto aliasMissing = NewType(lib.get(), u"Missing", TKIND_ALIAS);
        EXPECT_OK(user->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
        EXPECT_OK(user->AddImplType(0, RefTo(user.get(), StdOle2Type(kIID_IDispatch).get())));
        const TYPEDESC rec = td.Ptr(User(RefTo(user.get(), recA.get())));
        // The record after an [lcid] parameter: the dispatch half has no [lcid].
        AddFunc(user.get(), 0,
                {.name = u"Run", .params = {{u"l", Vt(VT_I4), PARAMFLAG_FIN | PARAMFLAG_FLCID}, {u"r", rec}}, .memid = 1});
        AddFunc(user.get(), 1,
                {.name = u"Value", .invkind = INVOKE_PROPERTYPUT, .params = {{u"i", Vt(VT_I4)}, {u"v", rec}},
                 .memid = 2});
        AddFunc(user.get(), 2,
                {.name = u"Get", .params = {{u"ret", td.Ptr(rec), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}, .memid = 3});
        AddFunc(user.get(), 3, {.name = u"Use", .params = {{u"a", rec, PARAMFLAG_FIN | PARAMFLAG_FLCID}}, .memid = 4});
        TYPEDESC toExt = User(RefTo(aliasA.get(), iExtA.get()));
        EXPECT_OK(aliasA->SetTypeDescAlias(&toExt));
        AddVar(holder.get(), 0, u"a", User(RefTo(holder.get(), recA.get())));
        AddVar(holder.get(), 1, u"b", User(RefTo(holder.get(), recA.get())));
        AddVar(holder.get(), 2, u"c", User(RefTo(holder.get(), recAlias.get())));
        TYPEDESC toThing = User(RefTo(aliasMissing.get(), thing.get()));
        EXPECT_OK(aliasMissing->SetTypeDescAlias(&toThing));
        main = Saved(lib.get(), "Main");
    }
};

std::string Uses(const ExternalType& type) {
    std::string text;
    for (const ExternalUse& use : type.Uses) {
        text += U8(use.Description) + " (" + U8(ExternalTypesModel::UsageText(use.Usage)) + " " +
                std::to_string(use.TargetKind) + ":" + std::to_string(use.TypeIndex) + "," +
                std::to_string(use.MemberId) + "," + std::to_string(use.InvokeKind) + "," +
                std::to_string(use.ParamIndex) + "); ";
    }
    return text;
}

TEST_F(ExternalTypes, LibrariesTypesAndUsesOnceEachDescribedAndPlaced) {
    ExternalTypesModel model;
    ASSERT_TRUE(model.Build(main.get(), missing.get()));
    const auto& libs = model.Libraries();
    ASSERT_EQ(libs.size(), 2u);
    EXPECT_EQ(libs[0].Name, u"ExtA");
    EXPECT_FALSE(libs[0].Unresolved);
    EXPECT_EQ(libs[1].Name, u"MISSING");
    EXPECT_TRUE(libs[1].Unresolved);
    EXPECT_TRUE(model.UnresolvedReferenced());

    ASSERT_EQ(libs[0].Types.size(), 3u);
    const ExternalType &iExtA = libs[0].Types[0], &recA = libs[0].Types[1], &recAlias = libs[0].Types[2];
    EXPECT_EQ(iExtA.Name, u"IExtA");
    EXPECT_EQ(iExtA.Image, 6);
    EXPECT_EQ(Uses(iExtA), "AliasA (Alias Target 2:1,-1,0,0); ");
    EXPECT_EQ(recA.Image, 3);
    EXPECT_EQ(Uses(recA),
              "IUser.Run.r (Method Parameter 5:0,1,1,1); "
              "IUser.Value.<New Value> (Property Let Parameter 5:0,2,4,1); "
              "IUser.Get.<Return Value> (Method Parameter 5:0,3,1,0); "
              "IUser.Use.LCID (Method Parameter 5:0,4,1,0); "
              "Holder.a (Field 4:2,1073741824,0,0); "
              "Holder.b (Field 4:2,1073741825,0,0); ");
    EXPECT_EQ(recAlias.Image, 3 + ExternalTypesModel::kAliasOverlay);  // the alias overlay of a record
    EXPECT_EQ(Uses(recAlias), "Holder.c (Field 4:2,1073741826,0,0); ");
    ASSERT_EQ(libs[1].Types.size(), 1u);
    EXPECT_EQ(Uses(libs[1].Types[0]), "Missing (Alias Target 2:3,-1,0,0); ");
}

TEST_F(ExternalTypes, NothingExternalAndAnUnusedUnresolvedLibrary) {
    ExternalTypesModel model;
    EXPECT_FALSE(model.Build(extA.get(), missing.get()));  // its alias points into itself
    EXPECT_TRUE(model.Libraries().empty());
    EXPECT_FALSE(model.UnresolvedReferenced());
    EXPECT_EQ(ExternalTypesModel::UsageText(0), u"Property Get Return Type");
    EXPECT_EQ(ExternalTypesModel::UsageText(13), u"Alias Target");
}

}  // namespace
}  // namespace dialogstest
