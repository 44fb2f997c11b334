// The external types dialog offscreen, through a fake view: internalise and
// redirect one type and all of them, the lists rebuilt after each; Change Type
// by Enter and focus, shown again where it was; no external type gives a beep;
// the splitter's drag, clamp and Esc; images, column sort; a picture.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <QTreeWidget>


#include "editor/TreeTestSupport.h"
#include "support/DarkTheme.h"
#include "dialogs/DialogTestSupport.h"
#include "editor/pickers/frmExternalTypes.h"
#include "editor/tree/modImages.h"
#include "foundation/modSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace dialogstest {
namespace {

using zephrin::editor::frmExternalTypes;
using zephrin::editor::IExternalTypesView;
using zephrin::editor::SplitPane;

std::string U8(const std::u16string& s) { return std::string(s.begin(), s.end()); }

// The view: records its calls; each command may put another library in place.
struct FakeView : IExternalTypesView {
    ComPtr<ITypeLib> current, unresolved, next;
    std::vector<std::string> calls;
    bool changes = true;

    void InternalizeTypes(int32_t code, tli::VarTypeInfo* type) override {
        calls.push_back("internalize " + std::to_string(code) + " " + Name(type));
        Next();
    }
    bool RedirectTypes(int32_t code, tli::VarTypeInfo* type, QWidget*) override {
        calls.push_back("redirect " + std::to_string(code) + " " + Name(type));
        if (changes) Next();
        return changes;
    }
    bool SetTypeFromPicker() override {
        calls.push_back("picker");
        return changes;
    }
    ComPtr<ITypeLib> CurrentLibraryITypeLib() override { return current; }
    void SelectTarget(ChangeTarget& t) override {
        calls.push_back("select " + std::to_string(t.Kind) + ":" + std::to_string(t.TypeIndex) + "," +
                        std::to_string(t.MemberId) + "," + std::to_string(t.InvokeKind) + "," +
                        std::to_string(t.ParamIndex));
    }
    ComPtr<ITypeLib> UnresolvedTypes() override { return unresolved; }
    void SetUnresolvedTypes(ITypeLib* lib) override {
        if (lib && !modITypeInfoHelper::IsUnresolvedTypesLib(lib)) RaiseError(5, modSupport::LoadResStringById(814));
        unresolved = ComPtr<ITypeLib>(lib);
    }

    void Next() {
        if (next) current = std::exchange(next, nullptr);
    }
    static std::string Name(tli::VarTypeInfo* type) {
        ComPtr<tli::TypeInfo> info;
        EXPECT_OK(type->get_TypeInfo(info.put()));
        std::u16string name;
        EXPECT_OK(info->get_Name(&name));
        return U8(name);
    }
};

// ExtA { RecA; IExtA; typedef RecA RecAlias }, MISSING { Thing }, and three
// libraries using them: Main (everything), OnlyIExtA (an alias of IExtA) and
// Plain (nothing).
struct ExternalTypesDialog : ::testing::Test {
    TempDir dir;
    TypeDescs td;
    ComPtr<ITypeLib> extA, missing, main, onlyIExtA, plain;
    ComPtr<ITypeInfo> recA, iExtA, recAlias, thing;
    FakeServices services;
    ScopedUiServices scoped{services};
    FakeView view;

    ComPtr<ICreateTypeLib2> Library(const std::u16string& name, uint32_t id) {
        auto lib = NewLibrary(name, (dir.path() / (U8(name) + ".tlb")).u16string());
        EXPECT_OK(lib->SetGuid({id, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8}}));
        return lib;
    }
    ComPtr<ITypeLib> Saved(ICreateTypeLib2* lib, const std::u16string& name) {
        EXPECT_OK(lib->SaveAllChanges());
        ComPtr<ITypeLib> loaded;
        EXPECT_OK(LoadTypeLibEx((dir.path() / (U8(name) + ".tlb")).u16string().c_str(), REGKIND_NONE, loaded.put()));
        return loaded;
    }
    ComPtr<ITypeLib> User(const std::u16string& name, uint32_t id, bool all, bool any) {
        auto lib = Library(name, id);
        if (any) {
            auto alias = NewType(lib.get(), u"AliasA", TKIND_ALIAS);
            TYPEDESC toExt = testsupport::User(RefTo(alias.get(), iExtA.get()));
            EXPECT_OK(alias->SetTypeDescAlias(&toExt));
        }
        if (all) {
            // A dual: its members are named from the interface half, which
            // keeps the [lcid] parameter that the dispatch half leaves out.
            auto user = NewType(lib.get(), u"IUser", TKIND_INTERFACE);
            EXPECT_OK(user->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
            EXPECT_OK(user->AddImplType(0, RefTo(user.get(), StdOle2Type(kIID_IDispatch).get())));
            const TYPEDESC rec = td.Ptr(testsupport::User(RefTo(user.get(), recA.get())));
            const USHORT lcid = PARAMFLAG_FIN | PARAMFLAG_FLCID;
            AddFunc(user.get(), 0,
                    {.name = u"Value", .invkind = INVOKE_PROPERTYPUT, .params = {{u"i", Vt(VT_I4)}, {u"v", rec}},
                     .memid = 2});
            AddFunc(user.get(), 1, {.name = u"Run", .params = {{u"l", Vt(VT_I4), lcid}, {u"r", rec}}, .memid = 3});
            AddFunc(user.get(), 2,
                    {.name = u"Get", .params = {{u"ret", td.Ptr(rec), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}, .memid = 4});
            AddFunc(user.get(), 3, {.name = u"Use", .params = {{u"a", rec, lcid}}, .memid = 5});
            auto holder = NewType(lib.get(), u"Holder", TKIND_RECORD);
            AddVar(holder.get(), 0, u"c", testsupport::User(RefTo(holder.get(), recAlias.get())));
            auto missingAlias = NewType(lib.get(), u"Missing", TKIND_ALIAS);
            TYPEDESC toThing = testsupport::User(RefTo(missingAlias.get(), thing.get()));
            EXPECT_OK(missingAlias->SetTypeDescAlias(&toThing));
        }
        return Saved(lib.get(), name);
    }

    ExternalTypesDialog() {
        treetest::EnsureApp();
        {
            auto lib = Library(u"ExtA", 0x7A000001);
            auto rec = NewType(lib.get(), u"RecA", TKIND_RECORD);
            AddVar(rec.get(), 0, u"x", Vt(VT_I4));
            auto ext = NewType(lib.get(), u"IExtA", TKIND_INTERFACE);
            EXPECT_OK(ext->AddImplType(0, RefTo(ext.get(), StdOle2Type(kIID_IUnknown).get())));
            auto alias = NewType(lib.get(), u"RecAlias", TKIND_ALIAS);
            TYPEDESC target = testsupport::User(RefTo(alias.get(), rec.get()));
            EXPECT_OK(alias->SetTypeDescAlias(&target));
            extA = Saved(lib.get(), u"ExtA");
        }
        {
            auto lib = Library(u"MISSING", 0x7A000002);
            modITypeInfoHelper::MarkUnresolvedTypesLib(lib.get());
            auto t = NewType(lib.get(), u"Thing", TKIND_RECORD);
            AddVar(t.get(), 0, u"x", Vt(VT_I4));
            missing = Saved(lib.get(), u"MISSING");
        }
        EXPECT_OK(extA->GetTypeInfo(0, recA.put()));
        EXPECT_OK(extA->GetTypeInfo(1, iExtA.put()));
        EXPECT_OK(extA->GetTypeInfo(2, recAlias.put()));
        EXPECT_OK(missing->GetTypeInfo(0, thing.put()));
        main = User(u"Main", 0x7A000003, true, true);
        onlyIExtA = User(u"OnlyIExtA", 0x7A000004, false, true);
        plain = User(u"Plain", 0x7A000005, false, false);
        view.current = main;
        view.unresolved = missing;
    }

    // The dialog, driven by each call in turn, one per showing.
    void Drive(std::vector<std::function<void(frmExternalTypes&)>> steps) {
        auto shown = std::make_shared<size_t>(0);
        services.modal = [steps, shown](QDialog& d) {
            ASSERT_LT(*shown, steps.size()) << "shown again";
            steps[(*shown)++](static_cast<frmExternalTypes&>(d));
        };
    }
    static QTreeWidgetItem* Node(frmExternalTypes& d, const QString& lib, const QString& type = {}) {
        for (int i = 0; i < d.Tree()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* l = d.Tree()->topLevelItem(i);
            if (l->text(0) != lib) continue;
            if (type.isEmpty()) return l;
            for (int j = 0; j < l->childCount(); ++j)
                if (l->child(j)->text(0) == type) return l->child(j);
        }
        return nullptr;
    }
    static std::string Tree(frmExternalTypes& d) {
        std::string text;
        for (int i = 0; i < d.Tree()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* l = d.Tree()->topLevelItem(i);
            text += l->text(0).toStdString() + "(";
            for (int j = 0; j < l->childCount(); ++j) text += (j ? " " : "") + l->child(j)->text(0).toStdString();
            text += ") ";
        }
        return text;
    }
    static std::string List(frmExternalTypes& d) {
        std::string text;
        for (int i = 0; i < d.UsedBy()->topLevelItemCount(); ++i) {
            text += d.UsedBy()->topLevelItem(i)->text(0).toStdString() + " | " +
                    d.UsedBy()->topLevelItem(i)->text(1).toStdString() + "; ";
        }
        return text;
    }
    static void Show(frmExternalTypes& d) {
        d.show();
        QApplication::setActiveWindow(&d);
        QApplication::processEvents();
    }
};

const std::string kRecAUses =
    "IUser.Get.<Return Value> | Method Parameter; IUser.Run.r | Method Parameter; IUser.Use.LCID | Method Parameter; "
    "IUser.Value.<New Value> | Property Let Parameter; ";

TEST_F(ExternalTypesDialog, InternalizeOneTypeThenAllUntilNothingIsLeft) {
    Drive({[&](frmExternalTypes& d) {
        EXPECT_EQ(d.windowTitle(), "External Types");
        EXPECT_EQ(Tree(d), "ExtA(IExtA RecA RecAlias) MISSING(Thing) ");
        EXPECT_EQ(List(d), "AliasA | Alias Target; Holder.c | Field; " + kRecAUses);
        EXPECT_FALSE(d.Action("mnuInternalizeOneType")->isEnabled());  // a library node
        d.Tree()->setCurrentItem(Node(d, "MISSING"));
        EXPECT_FALSE(d.InternalizeMenu()->isEnabled());
        EXPECT_FALSE(d.RedirectMenu()->isEnabled());
        d.Tree()->setCurrentItem(Node(d, "ExtA", "RecA"));
        EXPECT_TRUE(d.InternalizeMenu()->isEnabled());
        EXPECT_EQ(List(d), kRecAUses);
        view.next = onlyIExtA;
        d.Action("mnuInternalizeOneType")->trigger();
        EXPECT_EQ(Tree(d), "ExtA(IExtA) ");
        EXPECT_EQ(view.unresolved, nullptr);  // nothing uses the unresolved types any more
        view.next = plain;
        d.Action("mnuInternalizeProxyAllTypes")->trigger();
        EXPECT_EQ(d.result(), QDialog::Rejected);  // closed: nothing is left
    }});
    frmExternalTypes::ShowExternalTypes(view, nullptr, true, true, true);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"internalize 0 RecA", "internalize 6 IExtA"}));
    EXPECT_EQ(services.beeps, 0);

    // Nothing external: a beep and no window.
    services.modal = [](QDialog&) { FAIL() << "shown"; };
    frmExternalTypes::ShowExternalTypes(view, nullptr, true, true, true);
    EXPECT_EQ(services.beeps, 1);
}

TEST_F(ExternalTypesDialog, RedirectRebuildsOnlyWhenSomethingChanged) {
    Drive({[&](frmExternalTypes& d) {
        d.Tree()->setCurrentItem(Node(d, "ExtA", "RecAlias"));
        view.changes = false;
        view.next = onlyIExtA;
        d.Action("mnuRedirectExternalThisType")->trigger();
        EXPECT_EQ(Tree(d), "ExtA(IExtA RecA RecAlias) MISSING(Thing) ");
        view.changes = true;
        d.Action("mnuRedirectExternalAllTypes")->trigger();
        EXPECT_EQ(Tree(d), "ExtA(IExtA) ");
        d.reject();
    }});
    frmExternalTypes::ShowExternalTypes(view, nullptr, false, true, false);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"redirect 0 RecAlias", "redirect 1 RecAlias"}));
    EXPECT_THROW(view.SetUnresolvedTypes(plain.get()), ErrorRecord);
}

TEST_F(ExternalTypesDialog, ChangeTypeByEnterShowsTheDialogAgainWhereItWas) {
    QPoint where;
    Drive({[&](frmExternalTypes& d) {
               Show(d);
               d.move(d.pos() + QPoint(37, 23));
               where = d.pos();
               d.Tree()->setCurrentItem(Node(d, "ExtA", "RecA"));
               d.Tree()->setFocus();
               QApplication::processEvents();
               EXPECT_FALSE(d.SetTypeAction()->isEnabled());
               QTest::keyClick(d.Tree(), Qt::Key_Return);  // not offered from the tree
               EXPECT_TRUE(view.calls.empty());
               d.UsedBy()->setFocus();
               QApplication::processEvents();
               EXPECT_TRUE(d.SetTypeAction()->isEnabled());
               d.UsedBy()->setCurrentItem(d.UsedBy()->topLevelItem(3));  // the put's value
               QTest::keyClick(d.UsedBy(), Qt::Key_Return);
           },
           [&](frmExternalTypes& d) {
               EXPECT_EQ(d.pos(), where);
               EXPECT_EQ(Tree(d), "ExtA(IExtA RecA RecAlias) MISSING(Thing) ");  // rebuilt
               d.reject();
           }});
    frmExternalTypes::ShowExternalTypes(view, nullptr, true, true, true);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"select 5:1,2,4,1", "picker", "select 1:1,2,4,1"}));
}

TEST_F(ExternalTypesDialog, SplitterDragIsClampedAndEscCancelsItFirst) {
    Drive({[&](frmExternalTypes& d) {
        Show(d);
        SplitPane* split = d.Splitter();
        QWidget* handle = split->Handle();
        auto mouse = [&](QEvent::Type type, int x) {
            QMouseEvent e(type, QPointF(x, 5), handle->mapToGlobal(QPointF(x, 5)), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(handle, &e);
        };
        const double before = split->Ratio();
        mouse(QEvent::MouseButtonPress, 1);
        mouse(QEvent::MouseMove, 40);
        QTest::keyClick(d.Tree(), Qt::Key_Escape);
        EXPECT_FALSE(split->Dragging());
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(split->Ratio(), before);
        mouse(QEvent::MouseButtonPress, 1);
        mouse(QEvent::MouseMove, -5000);
        mouse(QEvent::MouseButtonRelease, -5000);
        EXPECT_NEAR(split->Ratio() * split->width(), SplitPane::kMargin, 0.5);
        mouse(QEvent::MouseButtonPress, 1);
        mouse(QEvent::MouseButtonRelease, 5000);
        EXPECT_NEAR(split->Ratio() * split->width(), split->width() - SplitPane::kMargin, 0.5);
        QTest::keyClick(d.Tree(), Qt::Key_Escape);
        EXPECT_FALSE(d.isVisible());
    }});
    frmExternalTypes::ShowExternalTypes(view, nullptr, true, true, true);
}

// The splitter's bar, reached with Tab, shows that it has the focus.
TEST_F(ExternalTypesDialog, TheSplitterBarShowsItsFocus) {
    Drive({[&](frmExternalTypes& d) {
        Show(d);
        QWidget* handle = d.Splitter()->Handle();
        const QColor highlight = handle->palette().color(QPalette::Highlight);
        const auto middle = [&] {
            const QImage image = handle->grab().toImage();
            return image.pixelColor(image.width() / 2, image.height() / 2);
        };
        EXPECT_NE(middle(), highlight);
        d.Tree()->setFocus();
        for (int i = 0; i < 10 && !handle->hasFocus(); ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_TRUE(handle->hasFocus());
        EXPECT_EQ(middle(), highlight);
        d.setPalette(testsupport::DarkPalette());
        d.Tree()->setCurrentItem(Node(d, "ExtA", "IExtA"));
        SaveScreenshots(d, "dialog-external-types-dark");
        d.reject();
    }});
    frmExternalTypes::ShowExternalTypes(view, nullptr, true, true, true);
}

// How many pixels of an image, drawn over colour, stand plainly apart from it.
int PixelsApartFrom(const QPixmap& image, QColor colour) {
    QImage over(image.size(), QImage::Format_ARGB32);
    over.fill(colour);
    {
        QPainter painter(&over);
        painter.drawPixmap(0, 0, image);
    }
    int apart = 0;
    for (int y = 0; y < over.height(); ++y)
        for (int x = 0; x < over.width(); ++x) {
            const QColor c = over.pixelColor(x, y);
            const int difference = std::max({std::abs(c.red() - colour.red()), std::abs(c.green() - colour.green()),
                                             std::abs(c.blue() - colour.blue())});
            if (difference >= 96) ++apart;
        }
    return apart;
}

// A selected interface, dispinterface or library is drawn parted from the
// selection bar, on the default and on a dark palette.
TEST_F(ExternalTypesDialog, SelectedImagesStandOutFromTheSelectionBar) {
    const auto& images = zephrin::modImages::GetWindowImageList();
    for (const QPalette& palette : {QApplication::palette(), testsupport::DarkPalette()}) {
        const QColor bar = palette.color(QPalette::Active, QPalette::Highlight);
        for (int image : {6, 7, 13}) {
            const QPixmap selected = images.Icon(image).pixmap(QSize(16, 16), QIcon::Selected);
            // An outline at least: some thirty pixels around a 16-pixel image.
            EXPECT_GE(PixelsApartFrom(selected, bar), 30) << image << " on " << bar.name().toStdString();
        }
    }
}

TEST_F(ExternalTypesDialog, AliasImagesAndColumnSort) {
    Drive({[&](frmExternalTypes& d) {
        Show(d);
        const auto& images = zephrin::modImages::GetWindowImageList();
        EXPECT_EQ(Node(d, "ExtA", "RecAlias")->icon(0).cacheKey(), images.Icon(3 + 15).cacheKey());
        EXPECT_EQ(Node(d, "ExtA", "RecA")->icon(0).cacheKey(), images.Icon(3).cacheKey());
        EXPECT_EQ(Node(d, "ExtA")->icon(0).cacheKey(), images.Icon(13).cacheKey());
        QHeaderView* header = d.UsedBy()->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
        EXPECT_EQ(d.UsedBy()->sortColumn(), 1);
        EXPECT_EQ(List(d), "AliasA | Alias Target; Holder.c | Field; " + kRecAUses);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
        EXPECT_EQ(d.UsedBy()->topLevelItem(0)->text(1), "Property Let Parameter");

        // The tree's hidden header reads as the tree's name, not as a column number.
        treetest::ExpectOneHeaderNamed(d.Tree(), QStringLiteral("External Types"));

        d.Tree()->expandAll();
        SaveScreenshots(d, "dialog-external-types");
        d.reject();
    }});
    frmExternalTypes::ShowExternalTypes(view, nullptr, true, true, true);
}

}  // namespace
}  // namespace dialogstest
