// Every path that writes a name or a string refuses text the library file
// can't hold before it writes anything, a NUL inside a name or help text too.
#include "changes/RegenChangesSupport.h"
#include "changes/kinds/CustDataChange.h"
#include "changes/kinds/HelpChange.h"
#include "changes/kinds/MemberChange.h"
#include "changes/kinds/ParamChange.h"
#include "changes/kinds/RenameChange.h"

namespace changestest {
namespace {

constexpr GUID kNote = {0xC0DA7A12, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

class StoredTextPaths : public RegenSession {
protected:
    StoredTextPaths() { Start(Shapes()); }

    // edit must be refused with an error record; the live library, its dump
    // and the history stay as they were.
    void ExpectRefused(const char* what, const std::function<void()>& edit) {
        const ComPtr<ITypeLib> library(Lib());
        const std::string before = Dump(library.get());
        const int32_t items = history.ItemCount();
        try {
            edit();
            ADD_FAILURE() << what << ": taken";
        } catch (const ErrorRecord& e) {
            EXPECT_EQ(e.Number, kErrInvalidArgument) << what << ": " << e.what();
        }
        EXPECT_EQ(Lib(), library.get()) << what;
        EXPECT_EQ(Dump(Lib()), before) << what;
        EXPECT_EQ(history.ItemCount(), items) << what;
    }
    void Attr(const std::shared_ptr<IAttributeChange>& c, ChangeTarget target,
              const std::function<void(IAttributeChange&)>& set) {
        c->InitFromTarget(target);
        auto edited = std::dynamic_pointer_cast<IAttributeChange>(c->Clone());
        set(*edited);
        edited->Apply(view, c.get(), target, hub.get(), 0);
    }
    void Rename(ChangeTarget target, std::u16string_view name) {
        auto rename = modRenameChange::NewRenameChange(false);
        rename->InitFromTarget(target);
        rename->NewName(name);
        rename->Apply(view, nullptr, target, hub.get(), 0);
    }
    void Help(ChangeTarget target, const std::function<void(HelpChange&)>& set) {
        auto help = modHelpChange::NewHelpChange(false);
        help->InitFromTarget(target);
        auto edited = std::static_pointer_cast<HelpChange>(help->Clone());
        set(*edited);
        edited->Apply(view, help.get(), target, hub.get(), 0);
    }
    void Note(ChangeTarget target, std::u16string_view value) {
        auto c = modCustDataChange::NewCustDataChange(false);
        c->InitFromTarget(target);
        c->SetItem(kNote, ole::Variant(value));
        c->Apply(view, nullptr, target, hub.get(), 0);
    }
};

// Held: the attribute kinds, the parameter and implemented-interface levels of
// custom data and the help files refuse such text before writing anything.
TEST_F(StoredTextPaths, EveryOtherPathRefusesBeforeWriting) {
    ExpectRefused("constant", [&] {
        Attr(modMemberChange::NewMemberChange(false), MemberTarget(Lib(), u"Kernel", u"Greeting", 0),
             [](IAttributeChange& c) { c.Value(ole::Variant(u"日本")); });
    });
    ExpectRefused("DLL name", [&] {
        Attr(modMemberChange::NewMemberChange(false), MemberTarget(Lib(), u"Kernel", u"Beep"),
             [](IAttributeChange& c) { c.DllName(u"kernЖ.dll"); });
    });
    ExpectRefused("DLL entry", [&] {
        Attr(modMemberChange::NewMemberChange(false), MemberTarget(Lib(), u"Kernel", u"Beep"),
             [](IAttributeChange& c) { c.Value(ole::Variant(u"BeepЖ")); });
    });
    ExpectRefused("default value", [&] {
        Attr(modParamChange::NewParamChange(false), ParamTarget(Lib(), u"IShape", u"Early", 0),
             [](IAttributeChange& c) {
                 c.Flags(c.Flags() | PARAMFLAG_FHASDEFAULT | PARAMFLAG_FOPT);
                 c.Value(ole::Variant(u"Ж"));
             });
    });
    ExpectRefused("parameter note", [&] { Note(ParamTarget(Lib(), u"IShape", u"Fill", 0), u"Ж"); });
    ExpectRefused("implemented note", [&] { Note(ImplTarget(Lib(), u"Shape", 0), u"Ж"); });
    ExpectRefused("help file", [&] { Help(LibraryTarget(Lib()), [](HelpChange& h) { h.HelpFile(u"Ж.chm"); }); });
    ExpectRefused("help string DLL",
                  [&] { Help(TypeTarget(Lib(), u"IShape"), [](HelpChange& h) { h.HelpStringDll(u"Ж.dll"); }); });
    ExpectRefused("parameter name", [&] { Rename(ParamTarget(Lib(), u"IShape", u"Area", 0), u"sЖ"); });
}

// A name with a NUL inside would be stored cut at the NUL ("Zed") while a
// history records it whole: it is refused, from a pasted label or a crafted
// history file alike.
TEST_F(StoredTextPaths, ANameWithANulInsideIsRefusedNotStoredCut) {
    ExpectRefused("type", [&] { Rename(TypeTarget(Lib(), u"IShape"), std::u16string(u"Zed\0X", 5)); });
    ExpectRefused("member", [&] { Rename(MemberTarget(Lib(), u"IShape", u"Area"), std::u16string(u"Ar\0ea", 5)); });
    ExpectRefused("library", [&] { Rename(LibraryTarget(Lib()), std::u16string(u"Sha\0pes", 7)); });
}

// The same for a help string, which the file would keep as "ab".
TEST_F(StoredTextPaths, AHelpStringWithANulInsideIsRefusedNotStoredCut) {
    ExpectRefused("doc", [&] {
        Help(TypeTarget(Lib(), u"Colors"), [](HelpChange& h) { h.DocString(std::u16string(u"ab\0cd", 5)); });
    });
}

}  // namespace
}  // namespace changestest
