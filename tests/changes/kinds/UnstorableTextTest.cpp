// Names and strings a library file can't hold (characters outside its code
// page): renames, help strings, custom data and the model's own operations
// refuse them with an error naming the first such character, and the live
// library stays as it was. Text the code page holds is taken and saved as
// it is, and names are compared as they are stored.
#include "changes/RegenChangesSupport.h"
#include "changes/kinds/CustDataChange.h"
#include "changes/kinds/HelpChange.h"
#include "changes/kinds/RenameChange.h"

namespace changestest {
namespace {

constexpr GUID kNote = {0xC0DA7A11, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

class Unstorable : public RegenSession {
protected:
    Unstorable() { Start(Shapes()); }

    // edit must fail with error 5 naming character; the library, its dump
    // and the history are as they were.
    void ExpectRefused(const std::function<void()>& edit, const std::u16string& character) {
        const ComPtr<ITypeLib> library(Lib());
        const std::string before = Dump(library.get());
        const int32_t items = history.ItemCount();
        try {
            edit();
            ADD_FAILURE() << "taken";
        } catch (const ErrorRecord& e) {
            EXPECT_EQ(e.Number, kErrInvalidArgument) << e.what();
            EXPECT_NE(e.Description.find(character), std::u16string::npos) << e.what();
        }
        EXPECT_EQ(Lib(), library.get());
        EXPECT_EQ(Dump(Lib()), before);
        EXPECT_EQ(history.ItemCount(), items);
    }
    bool Apply(IChange& change, ChangeTarget target) {
        return change.Apply(view, nullptr, target, hub.get(), 0);
    }
    void Rename(ChangeTarget target, std::u16string_view name) {
        auto rename = modRenameChange::NewRenameChange(false);
        rename->InitFromTarget(target);
        rename->NewName(name);
        Apply(*rename, target);
    }
    void Help(ChangeTarget target, std::u16string_view doc) {
        auto help = modHelpChange::NewHelpChange(false);
        help->InitFromTarget(target);
        auto edited = std::static_pointer_cast<HelpChange>(help->Clone());
        edited->DocString(doc);
        edited->Apply(view, help.get(), target, hub.get(), 0);
    }
    void Note(ChangeTarget target, std::u16string_view value) {
        auto c = modCustDataChange::NewCustDataChange(false);
        c->InitFromTarget(target);
        c->SetItem(kNote, ole::Variant(value));
        Apply(*c, target);
    }
};

constexpr char16_t kZhe[] = u"'Ж' (U+0416)";
constexpr char16_t kNichi[] = u"'日' (U+65E5)";

TEST_F(Unstorable, RenamesHelpStringsAndCustomDataAreRefusedByTheCharacter) {
    ExpectRefused([&] { Rename(TypeTarget(Lib(), u"IShape"), u"FinЖ"); }, kZhe);
    ExpectRefused([&] { Rename(MemberTarget(Lib(), u"IShape", u"Area"), u"AreaЖ"); }, kZhe);
    ExpectRefused([&] { Rename(LibraryTarget(Lib()), u"ShapesЖ"); }, kZhe);
    for (const ChangeTarget& target : {LibraryTarget(Lib()), TypeTarget(Lib(), u"IShape"),
                                       MemberTarget(Lib(), u"IShape", u"Area")}) {
        ExpectRefused([&] { Help(target, u"Größe € 日本語"); }, kNichi);
        ExpectRefused([&] { Note(target, u"Größe € 日本語"); }, kNichi);
    }
    // Beyond the basic plane the character is named whole.
    ExpectRefused([&] { Note(TypeTarget(Lib(), u"IShape"), u"x😀"); }, u"'😀' (U+1F600)");
}

TEST_F(Unstorable, TheModelRefusesThemOnEveryPath) {
    const std::shared_ptr<CustomTypeInfo> shape = view.GetCustomTypeInfo(u"IShape");
    const std::shared_ptr<CustomTypeInfo> kernel = view.GetCustomTypeInfo(u"Kernel");
    const int32_t area = MemberTarget(Lib(), u"IShape", u"Area").MemberId;
    ExpectRefused([&] { shape->SetTypeInfoName(u"FinЖ"); }, kZhe);
    ExpectRefused([&] { view.LibName(u"ShapesЖ"); }, kZhe);
    ExpectRefused([&] { view.AddCustomTypeInfo(u"NewЖ", TKIND_RECORD, u"{00000000-0000-0000-0000-000000000000}"); },
                  kZhe);
    ExpectRefused([&] { shape->SetMemberName(area, u"AreaЖ"); }, kZhe);
    ExpectRefused([&] { shape->SetParameterName(area, 0, u"scaleЖ"); }, kZhe);
    ExpectRefused([&] { kernel->AddConstant(u"Ж", ole::Variant(int32_t{1}), 0, -1); }, kZhe);
    ExpectRefused([&] { kernel->AddConstant(u"Text", ole::Variant(u"Ж"), 0, -1); }, kZhe);
    HelpData hd;
    hd.DocString = u"Größe € 日本語";
    ExpectRefused([&] { shape->ModifyMemberHelpData(area, hd, HelpData::kDocString); }, kNichi);
    ComPtr<ICreateTypeInfo2> type = shape->CreateTypeInfo();
    ExpectRefused(
        [&] {
            ole::Variant v(u"日本語");
            modITypeInfoHelper::SetTypeCustData(type.get())(kNote, *v.ptr());
        },
        kNichi);
}

TEST_F(Unstorable, WhatTheCodePageHoldsIsSavedAsTypedAndComparedAsStored) {
    // "€", "Œ" and "š" are bytes of the code page above 0x7F.
    Rename(TypeTarget(Lib(), u"IShape"), u"Façade€");
    Help(TypeTarget(Lib(), u"Façade€"), u"Größe € ‰ Œ");
    Note(TypeTarget(Lib(), u"Façade€"), u"Größe € ‰ Œ");
    Rename(TypeTarget(Lib(), u"Colors"), u"Košík");
    ExpectReplayAlike(Shapes(), 4);
    SaveAndDump(Lib(), dir / "saved.tlb");
    ComPtr<ITypeLib> saved;
    ASSERT_OK(LoadTypeLib(ole::FromUtf8((dir / "saved.tlb").string()).c_str(), saved.put()));
    ComPtr<ITypeInfo> facade = TypeNamed(saved.get(), u"Façade€");
    ASSERT_TRUE(facade);
    BSTR doc = nullptr;
    ASSERT_OK(facade->GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr));
    EXPECT_EQ(Utf8(typelib_detail::TakeBstr(doc)), Utf8(u"Größe € ‰ Œ"));

    // The file folds the case of its letters: "KOŠÍK" is the name "Košík" has.
    const ChangeTarget matrix = TypeTarget(Lib(), u"Matrix");
    try {
        Rename(matrix, u"KOŠÍK");
        ADD_FAILURE() << "a second type named Košík";
    } catch (const ErrorRecord& e) {
        EXPECT_EQ(e.Number, TYPE_E_NAMECONFLICT) << e.what();
    }
    EXPECT_TRUE(TypeNamed(Lib(), u"Matrix"));
}

}  // namespace
}  // namespace changestest
