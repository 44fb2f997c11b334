// The specify-type dialog offscreen, driven through its tree and buttons:
// picks in the library and in a referenced library applied as member and
// parameter changes, saved and reloaded; OK refused without a type; Cancel
// told apart from "No base interface"; the library sessions; references
// edited from the dialog; and a picture for a person to look at.
#include <gtest/gtest.h>

#include <QAccessible>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <tuple>


#include "editor/TreeTestSupport.h"
#include "support/DarkTheme.h"
#include "changes/kinds/MemberChange.h"
#include "changes/kinds/ParamChange.h"
#include "dialogs/DialogTestSupport.h"
#include "dialogs/frmReferences.h"
#include "editor/pickers/TypePicker.h"
#include "editor/pickers/frmSpecifyType.h"
#include "foundation/ErrorRecord.h"
#include "platform/registry/Registry.h"
#include "platform/tlbinf/TliSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace dialogstest {
namespace {

using zephrin::editor::frmSpecifyType;
using zephrin::editor::TypePicker;
using zephrin::editor::SpecifiedType;

// library PickLib { enum Colors; interface IThing : IUnknown { Get(); Put(long value); } }
// library RefLib { enum Shade; interface IRemote : IUnknown {} }, saved to a file.
struct SpecifyType : ::testing::Test {
    SpecifyType() {
        treetest::EnsureApp();
        auto ref = NewLibrary(u"RefLib");
        EXPECT_OK(ref->SetGuid({0x2B2C3D4E, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 9}}));
        NewType(ref.get(), u"Shade", TKIND_ENUM);
        auto remote = NewType(ref.get(), u"IRemote", TKIND_INTERFACE);
        EXPECT_OK(remote->AddImplType(0, RefTo(remote.get(), StdOle2Type(kIID_IUnknown).get())));
        refLib = SaveAndReload(AsTypeLib(ref.get()).get());
        auto lib = NewLibrary(u"PickLib");
        EXPECT_OK(lib->SetGuid({0x3B2C3D4E, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 10}}));
        NewType(lib.get(), u"Colors", TKIND_ENUM);
        auto thing = NewType(lib.get(), u"IThing", TKIND_INTERFACE);
        EXPECT_OK(thing->AddImplType(0, RefTo(thing.get(), StdOle2Type(kIID_IUnknown).get())));
        AddFunc(thing.get(), 0, {.name = u"Get", .memid = 0x60020000});
        AddFunc(thing.get(), 1, {.name = u"Put", .params = {{u"value", Vt(VT_I4)}}, .memid = 0x60020001});
        pickLib = AsTypeLib(lib.get());
        others.push_back(refLib);
    }

    // The node of a type under its library's node (built on the way).
    QTreeWidgetItem* TypeNode(TypePicker* picker, ITypeLib* lib, const QString& name) {
        QTreeWidgetItem* libNode = picker->LibraryNode(lib);
        if (!libNode) return nullptr;
        picker->Tree()->expandItem(libNode);
        for (int i = 0; i < libNode->childCount(); ++i)
            if (libNode->child(i)->text(0) == name) return libNode->child(i);
        return nullptr;
    }
    // Drives each dialog the test opens with drive.
    void Drive(std::function<void(frmSpecifyType&)> drive) {
        services.modal = [drive](QDialog& d) { drive(static_cast<frmSpecifyType&>(d)); };
    }

    FakeServices services;
    ScopedUiServices scoped{services};
    ComPtr<ITypeLib> refLib, pickLib;
    LibraryCollection others;
};

// The description of type index of lib.
ComPtr<CustomVarTypeInfo> TypeAt(ITypeLib* lib, UINT index) {
    ComPtr<ITypeInfo> ti;
    EXPECT_OK(lib->GetTypeInfo(index, ti.put()));
    ComPtr<tli::TypeInfo> info;
    EXPECT_OK(tli::detail::NewTypeInfo(ti.get(), info.put()));
    auto type = CustomVarTypeInfo::New();
    type->SetType(0, info.get());
    return type;
}

std::u16string UserTypeName(ITypeInfo* owner, const TYPEDESC& desc) {
    const TYPEDESC* t = &desc;
    while (t->vt == VT_PTR) t = t->lptdesc;
    ComPtr<ITypeInfo> ref;
    EXPECT_OK(owner->GetRefTypeInfo(t->hreftype, ref.put()));
    BSTR name = nullptr;
    EXPECT_OK(ref->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr));
    std::u16string text = name;
    SysFreeString(name);
    return text;
}

TEST_F(SpecifyType, PickedTypesBecomeAMemberAndAParameterTypeThatSaveAndReload) {
    Drive([&](frmSpecifyType& d) {
        EXPECT_EQ(d.windowTitle(), "Return Type");
        EXPECT_FALSE(d.Ok()->isEnabled());
        d.Picker()->Tree()->setCurrentItem(TypeNode(d.Picker(), pickLib.get(), "Colors"));
        d.Ok()->click();
    });
    SpecifiedType colors = frmSpecifyType::GetType(nullptr, kUsageInterfaceReturn, kCompatNone, pickLib.get(),
                                                   others, nullptr);
    ASSERT_TRUE(colors.Accepted && colors.Type);

    int32_t flags = 1;
    bool variantOnly = false;
    Drive([&](frmSpecifyType& d) {
        EXPECT_EQ(d.windowTitle(), "Parameter Type");
        d.Picker()->Tree()->setCurrentItem(TypeNode(d.Picker(), refLib.get(), "IRemote"));
        EXPECT_EQ(d.Picker()->Prototype()->text(), " [in] RefLib.IRemote*");
        emit d.Picker()->Tree()->itemDoubleClicked(d.Picker()->Tree()->currentItem(), 0);
    });
    SpecifiedType remote = frmSpecifyType::GetParamType(nullptr, kUsageInterfaceParam, kCompatVBCallable, 1,
                                                        pickLib.get(), others, nullptr, flags, variantOnly);
    ASSERT_TRUE(remote.Accepted && remote.Type);
    EXPECT_EQ(flags, 1);

    CustomTypeLib view;
    view.Attach(pickLib.get());
    ComPtr<ITypeInfo> thing = modITypeInfoHelper::GetInterfaceTypeInfo(pickLib.get(), 1);
    ChangeTarget get = TargetOf(pickLib.get(), 1);
    get.Kind = kTargetMember;
    get.InvokeKind = INVOKE_FUNC;
    get.MemberName = u"Get";
    get.MemberId = modITypeInfoHelper::MemberIDFromName(thing.get(), u"Get");
    auto member = MemberChange::New();
    member->InitFromTarget(get);
    member->VarTypeInfo(colors.Type.get());
    ASSERT_NO_THROW(ASSERT_TRUE(member->Apply(view, nullptr, get, nullptr, 0)));
    ComPtr<ITypeLib> edited = get.ReplacementLibrary ? get.ReplacementLibrary : pickLib;
    ChangeTarget put = get;
    put.Library = edited;
    put.ReplacementLibrary = nullptr;
    put.Kind = kTargetParam;
    put.MemberName = u"Put";
    put.MemberId = modITypeInfoHelper::MemberIDFromName(thing.get(), u"Put");
    put.ParamName = u"value";
    auto param = ParamChange::New();
    param->InitFromTarget(put);
    param->VarTypeInfo(remote.Type.get());
    ASSERT_NO_THROW(ASSERT_TRUE(param->Apply(view, nullptr, put, nullptr, 0)));
    if (put.ReplacementLibrary) edited = put.ReplacementLibrary;

    ComPtr<ITypeLib> reloaded = SaveAndReload(edited.get());
    ASSERT_TRUE(reloaded);
    ComPtr<ITypeInfo> saved = modITypeInfoHelper::GetInterfaceTypeInfo(reloaded.get(), 1);
    FUNCDESC* fd = nullptr;
    ASSERT_OK(saved->GetFuncDesc(0, &fd));
    EXPECT_EQ(UserTypeName(saved.get(), fd->elemdescFunc.tdesc), u"Colors");
    saved->ReleaseFuncDesc(fd);
    ASSERT_OK(saved->GetFuncDesc(1, &fd));
    EXPECT_EQ(fd->lprgelemdescParam[0].tdesc.vt, VT_PTR);
    EXPECT_EQ(UserTypeName(saved.get(), fd->lprgelemdescParam[0].tdesc), u"IRemote");
    saved->ReleaseFuncDesc(fd);
}

TEST_F(SpecifyType, OkNeedsATypeAndCancelIsNotNoBaseInterface) {
    int32_t flags = 1;
    bool variantOnly = false;
    Drive([&](frmSpecifyType& d) {
        QTreeWidget* tree = d.Picker()->Tree();
        emit tree->itemDoubleClicked(tree->topLevelItem(0)->child(0), 0);  // nothing picked yet
        EXPECT_EQ(services.beeps, 1);
        EXPECT_EQ(d.Reason()->text(), "No type is chosen: choose one in the list.");
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));
        d.Picker()->FlagsCombo()->activated(1);  // [in, out]
        d.reject();
    });
    SpecifiedType cancelled = frmSpecifyType::GetParamType(nullptr, kUsageInterfaceParam, kCompatNone, 1,
                                                           pickLib.get(), others, nullptr, flags, variantOnly);
    EXPECT_FALSE(cancelled.Accepted);
    EXPECT_EQ(flags, 1);
    Drive([&](frmSpecifyType& d) {
        d.Picker()->Tree()->setCurrentItem(d.Picker()->Tree()->topLevelItem(0)->child(0));
        d.Picker()->FlagsCombo()->activated(1);
        d.Ok()->click();
    });
    EXPECT_TRUE(frmSpecifyType::GetParamType(nullptr, kUsageInterfaceParam, kCompatNone, 1, pickLib.get(), others,
                                             nullptr, flags, variantOnly)
                    .Accepted);
    EXPECT_EQ(flags, 3);

    // "No base interface" is the first entry and picked at the start.
    Drive([&](frmSpecifyType& d) {
        EXPECT_EQ(d.Picker()->Tree()->topLevelItem(0)->text(0), "No base interface");
        EXPECT_TRUE(d.Ok()->isEnabled());
        d.Ok()->click();
    });
    SpecifiedType noBase =
        frmSpecifyType::GetType(nullptr, kUsageBaseInterface, kCompatNone, pickLib.get(), others, nullptr);
    EXPECT_TRUE(noBase.Accepted);
    EXPECT_FALSE(noBase.Type);
    Drive([&](frmSpecifyType& d) { d.reject(); });
    EXPECT_FALSE(frmSpecifyType::GetType(nullptr, kUsageBaseInterface, 0, pickLib.get(), others, nullptr).Accepted);
    // VB implementable offers no "No base interface", and doesn't show it as the choice.
    Drive([&](frmSpecifyType& d) {
        EXPECT_FALSE(d.Ok()->isEnabled());
        EXPECT_EQ(d.Picker()->Prototype()->text(), " No Selection");
        d.reject();
    });
    frmSpecifyType::GetType(nullptr, kUsageBaseInterface, kCompatVBImplementable, pickLib.get(), others, nullptr);

    // A ParamArray parameter needs its array style before OK.
    Drive([&](frmSpecifyType& d) {
        QTreeWidget* tree = d.Picker()->Tree();
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));
        emit tree->itemDoubleClicked(tree->currentItem(), 0);
        EXPECT_EQ(services.beeps, 2);
        d.Picker()->ArrayCombo()->activated(0);
        EXPECT_TRUE(d.Ok()->isEnabled());
        d.Ok()->click();
    });
    SpecifiedType paramArray = frmSpecifyType::GetParamType(nullptr, kUsageInterfaceParam, kCompatVBCallable,
                                                            kParamUsageParamArray, pickLib.get(), others, nullptr,
                                                            flags, variantOnly);
    ASSERT_TRUE(paramArray.Type);
    EXPECT_TRUE(paramArray.Type->IsArray());
}

// Double-clicks node as a user does, through the window.
void DoubleClick(QDialog& dialog, QTreeWidget* tree, QTreeWidgetItem* node) {
    dialog.show();
    QApplication::processEvents();
    const QPoint at = tree->viewport()->mapTo(&dialog, tree->visualItemRect(node).center());
    QTest::mouseDClick(dialog.windowHandle(), Qt::LeftButton, {}, at);
}

TEST_F(SpecifyType, DoubleClickingANodeThatPicksNothingKeepsTheDialogOpen) {
    Drive([&](frmSpecifyType& d) {
        QTreeWidget* tree = d.Picker()->Tree();
        tree->expandItem(tree->topLevelItem(0));
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));  // HRESULT
        DoubleClick(d, tree, tree->topLevelItem(1));            // the greyed group
        EXPECT_TRUE(d.isVisible());
        DoubleClick(d, tree, tree->topLevelItem(0)->child(0));
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_TRUE(frmSpecifyType::GetType(nullptr, kUsageInterfaceReturn, kCompatVBImplementable, pickLib.get(),
                                        others, nullptr)
                    .Accepted);
}

TEST_F(SpecifyType, ACurrentTypeTheRulesRefuseMarksTheHeaderUntilAnotherPick) {
    auto current = CustomVarTypeInfo::New();
    current->SetType(VT_BSTR, nullptr);
    Drive([&](frmSpecifyType& d) {
        QLabel* header = d.Header();
        EXPECT_TRUE(header->font().bold());
        // In the red of an invalid mark, readable on the dialog's palette.
        const QColor mark = header->palette().color(QPalette::WindowText);
        EXPECT_EQ(mark, dialogs::InvalidTextColor(d.palette()));
        EXPECT_GE(dialogs::ContrastRatio(mark, d.palette().color(QPalette::Window)), dialogs::kReadableContrast);
        QTreeWidget* tree = d.Picker()->Tree();
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));
        EXPECT_FALSE(header->font().bold());
        EXPECT_GE(d.minimumWidth(), d.Picker()->MinTrackSize().width() + d.Ok()->width());
        d.Ok()->click();
    });
    // A constant's type never is a BSTR.
    SpecifiedType picked =
        frmSpecifyType::GetType(nullptr, kUsageConstant, kCompatNone, pickLib.get(), others, current.get());
    EXPECT_TRUE(picked.Accepted);
}

// What a screen reader reads, through the accessibility interface: the type
// the dialog gives (the prototype line), why the header is red while it is,
// why the bounds are marked, and the tree's hidden header by a name.
TEST_F(SpecifyType, AScreenReaderReadsThePrototypeAndWhyTheHeaderAndBoundsAreMarked) {
    auto current = CustomVarTypeInfo::New();
    current->SetType(VT_BSTR, nullptr);
    const auto read = [](QObject* object, QAccessible::Text text) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(object);
        return accessible ? accessible->text(text) : QString();
    };
    Drive([&](frmSpecifyType& d) {
        QTreeWidget* tree = d.Picker()->Tree();
        // The header is red: the header and the tree it names say why.
        for (QObject* marked : {static_cast<QObject*>(d.Header()), static_cast<QObject*>(tree)})
            EXPECT_TRUE(read(marked, QAccessible::Description).contains(QStringLiteral("not offered")))
                << read(marked, QAccessible::Description).toStdString();
        EXPECT_TRUE(d.Reason()->isVisibleTo(&d) && d.Reason()->text().contains(QStringLiteral("not offered")));
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));
        EXPECT_FALSE(d.Reason()->text().contains(QStringLiteral("not offered")));
        EXPECT_TRUE(read(d.Header(), QAccessible::Description).isEmpty());
        EXPECT_TRUE(read(tree, QAccessible::Description).isEmpty());
        const QString type = d.Picker()->Prototype()->text().trimmed();
        EXPECT_FALSE(type.isEmpty());
        EXPECT_TRUE(read(d.Picker()->Prototype(), QAccessible::Name).contains(type))
            << read(d.Picker()->Prototype(), QAccessible::Name).toStdString();
        // The tree's hidden header reads as a name, not as a column number.
        QAccessibleInterface* accessibleTree = QAccessible::queryAccessibleInterface(tree);
        ASSERT_TRUE(accessibleTree);
        for (int i = 0; i < accessibleTree->childCount(); ++i) {
            QAccessibleInterface* child = accessibleTree->child(i);
            if (!child || child->role() != QAccessible::ColumnHeader) continue;
            EXPECT_EQ(child->text(QAccessible::Name), QStringLiteral("Name"));
        }
        d.Ok()->click();
    });
    EXPECT_TRUE(frmSpecifyType::GetType(nullptr, kUsageConstant, kCompatNone, pickLib.get(), others, current.get())
                    .Accepted);

    // A parameter's type: the flags are part of what is read.
    int32_t flags = 1;
    bool variantOnly = false;
    Drive([&](frmSpecifyType& d) {
        d.Picker()->Tree()->setCurrentItem(TypeNode(d.Picker(), pickLib.get(), "Colors"));
        EXPECT_EQ(read(d.Picker()->Prototype(), QAccessible::Name), QStringLiteral("Prototype: [in] Colors"));
        d.reject();
    });
    frmSpecifyType::GetParamType(nullptr, kUsageInterfaceParam, kCompatNone, 1, pickLib.get(), others, nullptr, flags,
                                 variantOnly);
    // A record field's bounds that don't parse say so on the bounds box.
    Drive([&](frmSpecifyType& d) {
        TypePicker* picker = d.Picker();
        picker->Tree()->setCurrentItem(TypeNode(picker, pickLib.get(), "Colors"));
        const int fixed = picker->ArrayCombo()->findText(QStringLiteral("Fixed-Size"), Qt::MatchContains);
        ASSERT_GE(fixed, 0);
        picker->ArrayCombo()->setCurrentIndex(fixed);
        emit picker->ArrayCombo()->activated(fixed);
        picker->BoundsBox()->selectAll();
        QTest::keyClicks(picker->BoundsBox(), QStringLiteral("1 To"));
        EXPECT_TRUE(read(picker->BoundsBox(), QAccessible::Description).startsWith(QStringLiteral("Invalid")));
        QTest::keyClicks(picker->BoundsBox(), QStringLiteral(" 3"));
        EXPECT_TRUE(read(picker->BoundsBox(), QAccessible::Description).isEmpty());
        d.reject();
    });
    frmSpecifyType::GetType(nullptr, kUsageRecordField, kCompatNone, pickLib.get(), others, nullptr);
}

// A choice list whose current entry is not offered is marked red on its
// caption; the list itself tells a screen reader that its value is invalid.
// Why OK can't be pressed is shown below the choices and told on the tree,
// which has the focus, and on OK.
TEST_F(SpecifyType, AChoiceListMarkedInvalidSaysSoItself) {
    const auto read = [](QObject* object) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(object);
        return accessible ? accessible->text(QAccessible::Description) : QString();
    };
    auto current = CustomVarTypeInfo::New();
    current->SetType(VT_I4, nullptr);
    current->PointerLevel(1);
    int32_t flags = 1;  // [in], where only [out, retval] is offered
    bool variantOnly = false;
    bool seen = false;
    Drive([&](frmSpecifyType& d) {
        QComboBox* combo = d.Picker()->FlagsCombo();
        ASSERT_TRUE(combo->isVisibleTo(&d));
        ASSERT_LT(combo->currentIndex(), 0);
        seen = true;
        EXPECT_TRUE(read(combo).startsWith(QStringLiteral("Invalid value."))) << read(combo).toStdString();
        const QString why = d.Reason()->text();
        EXPECT_EQ(why, "The parameter flags are not ones offered here: choose them from their list.");
        EXPECT_EQ(read(d.Picker()->Tree()), why);
        EXPECT_EQ(read(d.Ok()), why);
        // Chosen from the list, the value is valid and the list says nothing more.
        combo->setCurrentIndex(0);
        emit combo->activated(0);
        EXPECT_TRUE(read(combo).isEmpty()) << read(combo).toStdString();
        EXPECT_TRUE(d.Reason()->text().isEmpty() && read(d.Picker()->Tree()).isEmpty() && read(d.Ok()).isEmpty());
        d.reject();
    });
    frmSpecifyType::GetParamType(nullptr, kUsageInterfaceParam, kCompatNone, 4, pickLib.get(), others, current.get(),
                                 flags, variantOnly);
    EXPECT_TRUE(seen);
}

// Libraries to take types in from, or to redirect to, are the referenced
// ones (the one redirected from left out); the library being edited is never
// offered, even when it is among them.
TEST_F(SpecifyType, LibrarySessionsImportsAndRedirections) {
    ComPtr<CustomVarTypeInfo> inRef = TypeAt(refLib.get(), 1);
    auto spare = NewLibrary(u"SpareLib");
    NewType(spare.get(), u"Tone", TKIND_ENUM);
    others.push_back(SaveAndReload(AsTypeLib(spare.get()).get()));
    others.push_back(pickLib);

    std::vector<QString> shown;
    Drive([&](frmSpecifyType& d) {
        shown.clear();
        for (int i = 0; i < d.Picker()->Tree()->topLevelItemCount(); ++i)
            shown.push_back(d.Picker()->Tree()->topLevelItem(i)->text(0));
        d.Ok()->click();
    });
    SpecifiedType lib = frmSpecifyType::GetRedirectLibrary(nullptr, pickLib.get(), others, inRef.get());
    EXPECT_EQ(shown, (std::vector<QString>{"SpareLib"}));
    ASSERT_TRUE(lib.Type);
    EXPECT_TRUE(lib.Type->TypeInfo());
    lib = frmSpecifyType::GetImportLibrary(nullptr, pickLib.get(), others);
    EXPECT_EQ(shown, (std::vector<QString>{"RefLib", "SpareLib"}));
    EXPECT_TRUE(lib.Accepted);
    others.resize(1);
    // Import: the referenced libraries only; nothing picked yet, so OK is refused.
    Drive([&](frmSpecifyType& d) {
        EXPECT_EQ(d.Picker()->Tree()->topLevelItemCount(), 1);
        EXPECT_FALSE(d.Ok()->isEnabled());
        d.Picker()->Tree()->setCurrentItem(TypeNode(d.Picker(), refLib.get(), "Shade"));
        d.Ok()->click();
    });
    EXPECT_TRUE(frmSpecifyType::GetImportType(nullptr, pickLib.get(), others).Type);

    // Redirecting an interface offers interfaces; a dual dispinterface counts as one.
    int32_t usage = 0, kind = 0;
    frmSpecifyType::RedirectUsage(inRef.get(), usage, kind);
    EXPECT_EQ(usage, kUsageRedirectInterface);
    EXPECT_EQ(kind, TKIND_INTERFACE);
    auto dual = NewLibrary(u"DualLib");
    auto disp = NewType(dual.get(), u"DDual", TKIND_INTERFACE);
    EXPECT_OK(disp->SetTypeFlags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
    EXPECT_OK(disp->AddImplType(0, RefTo(disp.get(), StdOle2Type(kIID_IDispatch).get())));
    ComPtr<ITypeLib> dualLib = SaveAndReload(AsTypeLib(dual.get()).get());
    frmSpecifyType::RedirectUsage(TypeAt(dualLib.get(), 0).get(), usage, kind);
    EXPECT_EQ(usage, kUsageRedirectInterface);
    EXPECT_EQ(kind, TKIND_INTERFACE);
    Drive([&](frmSpecifyType& d) {
        EXPECT_EQ(d.windowTitle(), "Redirect Type");
        EXPECT_EQ(TypeNode(d.Picker(), refLib.get(), "Shade"), nullptr);
        EXPECT_NE(TypeNode(d.Picker(), refLib.get(), "IRemote"), nullptr);
        d.reject();
    });
    frmSpecifyType::GetRedirectType(nullptr, pickLib.get(), others, inRef.get());
}

TEST_F(SpecifyType, RemovingAReferenceTakesItsNodeAndThePickedTypeAlong) {
    reg::SetDefaultRegistry(std::make_shared<reg::Registry>());  // nothing registered
    QString prototype;
    services.modal = [&](QDialog& dialog) {
        if (auto* refs = dynamic_cast<frmReferences*>(&dialog)) {
            const auto found = refs->List()->findItems(QStringLiteral("RefLib"), Qt::MatchExactly);
            ASSERT_EQ(found.size(), 1);
            found.front()->setCheckState(Qt::Unchecked);
            refs->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
            return;
        }
        auto& d = dynamic_cast<frmSpecifyType&>(dialog);
        d.Picker()->Tree()->setCurrentItem(TypeNode(d.Picker(), refLib.get(), "Shade"));
        EXPECT_TRUE(d.Ok()->isEnabled());
        d.LibrariesButton()->click();
        EXPECT_EQ(d.Picker()->LibraryNode(refLib.get()), nullptr);
        EXPECT_NE(d.Picker()->LibraryNode(pickLib.get()), nullptr);
        EXPECT_FALSE(d.Ok()->isEnabled());
        prototype = d.Picker()->Prototype()->text();
        d.reject();
    };
    frmSpecifyType::GetType(nullptr, kUsageRecordField, kCompatNone, pickLib.get(), others, nullptr);
    EXPECT_EQ(prototype, " No Selection");
    EXPECT_TRUE(others.empty());
    reg::SetDefaultRegistry(nullptr);
}

TEST_F(SpecifyType, TheLibraryOfUnresolvedTypesIsShownButNeitherReferencedNorPickedAgain) {
    auto created = NewLibrary(u"Unresolved");
    modITypeInfoHelper::MarkUnresolvedTypesLib(created.get());
    NewType(created.get(), u"Missing", TKIND_ENUM);
    ComPtr<ITypeLib> unresolved = AsTypeLib(created.get());
    Drive([&](frmSpecifyType& d) {
        QTreeWidgetItem* missing = TypeNode(d.Picker(), unresolved.get(), "Missing");
        ASSERT_NE(missing, nullptr);
        EXPECT_EQ(d.Picker()->Tree()->currentItem(), missing);
        d.Picker()->Tree()->setCurrentItem(TypeNode(d.Picker(), pickLib.get(), "Colors"));
        d.Picker()->Tree()->setCurrentItem(missing);
        EXPECT_EQ(d.Picker()->Prototype()->text(), " Colors");
        d.Ok()->click();
    });
    EXPECT_TRUE(frmSpecifyType::GetType(nullptr, kUsageRecordField, kCompatNone, pickLib.get(), others,
                                        TypeAt(unresolved.get(), 0).get())
                    .Type);
    EXPECT_EQ(others.size(), 1u);
}

// Clicks node as a user does, through the window.
void ClickNode(QDialog& dialog, QTreeWidget* tree, QTreeWidgetItem* node) {
    dialog.show();
    QApplication::processEvents();
    tree->scrollToItem(node);
    const QPoint at = tree->viewport()->mapTo(&dialog, tree->visualItemRect(node).center());
    QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {}, at);
}

QLabel* BuddyOf(QWidget* field) {
    for (QLabel* label : field->parentWidget()->findChildren<QLabel*>())
        if (label->buddy() == field) return label;
    return nullptr;
}

// What a return type is stored as: its VARTYPE, the one it points to, and
// the name of the user type at its end.
struct StoredType {
    VARTYPE vt = VT_EMPTY;
    VARTYPE pointee = VT_EMPTY;
    std::u16string name;
};

// The member Get of PickLib's IThing given type as its return type, saved
// and reloaded: the return type as stored.
StoredType SavedReturnType(ITypeLib* pickLib, CustomVarTypeInfo* type) {
    CustomTypeLib view;
    view.Attach(pickLib);
    ComPtr<ITypeInfo> thing = modITypeInfoHelper::GetInterfaceTypeInfo(pickLib, 1);
    ChangeTarget get = TargetOf(pickLib, 1);
    get.Kind = kTargetMember;
    get.InvokeKind = INVOKE_FUNC;
    get.MemberName = u"Get";
    get.MemberId = modITypeInfoHelper::MemberIDFromName(thing.get(), u"Get");
    auto member = MemberChange::New();
    member->InitFromTarget(get);
    member->VarTypeInfo(type);
    EXPECT_NO_THROW(EXPECT_TRUE(member->Apply(view, nullptr, get, nullptr, 0)));
    ComPtr<ITypeLib> reloaded = SaveAndReload(get.ReplacementLibrary ? get.ReplacementLibrary.get() : pickLib);
    ComPtr<ITypeInfo> saved = modITypeInfoHelper::GetInterfaceTypeInfo(reloaded.get(), 1);
    FUNCDESC* fd = nullptr;
    EXPECT_OK(saved->GetFuncDesc(0, &fd));
    StoredType stored;
    const TYPEDESC& t = fd->elemdescFunc.tdesc;
    stored.vt = t.vt;
    if (t.vt == VT_PTR) stored.pointee = t.lptdesc->vt;
    if (stored.pointee == VT_USERDEFINED || t.vt == VT_USERDEFINED) stored.name = UserTypeName(saved.get(), t);
    saved->ReleaseFuncDesc(fd);
    return stored;
}

TEST_F(SpecifyType, AnInterfacePickedWhereNoPointerIsImpliedIsSavedThroughThePointerShown) {
    QString shown;
    Drive([&](frmSpecifyType& d) {
        QTreeWidget* tree = d.Picker()->Tree();
        ClickNode(d, tree, TypeNode(d.Picker(), pickLib.get(), "IThing"));
        // Another pick takes the level away again.
        ClickNode(d, tree, TypeNode(d.Picker(), pickLib.get(), "Colors"));
        EXPECT_EQ(d.Picker()->PointerCombo()->currentText(), "Simple Type");
        ClickNode(d, tree, TypeNode(d.Picker(), pickLib.get(), "IThing"));
        shown = d.Picker()->PointerCombo()->currentText();
        EXPECT_FALSE(BuddyOf(d.Picker()->PointerCombo())->font().bold());
        EXPECT_TRUE(d.Ok()->isEnabled());
        QTest::mouseClick(d.Ok(), Qt::LeftButton);
    });
    SpecifiedType picked =
        frmSpecifyType::GetType(nullptr, kUsageInterfaceReturn, kCompatNone, pickLib.get(), others, nullptr);
    ASSERT_TRUE(picked.Type);
    EXPECT_EQ(shown, "Pointer to type");
    const StoredType stored = SavedReturnType(pickLib.get(), picked.Type.get());
    EXPECT_EQ(stored.vt, VT_PTR);
    EXPECT_EQ(stored.pointee, VT_USERDEFINED);
    EXPECT_EQ(stored.name, u"IThing");

    // A session that starts with the interface by value shows the level
    // unoffered and accepts nothing until the user chooses one.
    ComPtr<CustomVarTypeInfo> byValue = TypeAt(pickLib.get(), 1);
    Drive([&](frmSpecifyType& d) {
        QComboBox* level = d.Picker()->PointerCombo();
        EXPECT_EQ(level->currentIndex(), -1);
        EXPECT_TRUE(BuddyOf(level)->font().bold());
        EXPECT_FALSE(d.Ok()->isEnabled());
        emit d.Picker()->Tree()->itemDoubleClicked(d.Picker()->Tree()->currentItem(), 0);
        EXPECT_EQ(services.beeps, 1);
        d.show();
        QApplication::processEvents();
        const int x = level->x();  // beside a bold label
        level->setFocus();
        QTest::keyClick(level, Qt::Key_Down);
        EXPECT_EQ(level->currentText(), "Pointer to type");
        EXPECT_FALSE(BuddyOf(level)->font().bold());
        QApplication::processEvents();
        EXPECT_EQ(level->x(), x);
        SaveScreenshots(d, "dialog-specify-type-chosen");
        EXPECT_TRUE(d.Ok()->isEnabled());
        QTest::mouseClick(d.Ok(), Qt::LeftButton);
    });
    picked = frmSpecifyType::GetType(nullptr, kUsageInterfaceReturn, kCompatNone, pickLib.get(), others,
                                     byValue.get());
    ASSERT_TRUE(picked.Type);
    EXPECT_EQ(picked.Type->PointerLevel(), 1);
}

// library BoundsLib { struct Holder { long field; }; }
struct SpecifyBounds : SpecifyType {
    SpecifyBounds() {
        auto lib = NewLibrary(u"BoundsLib");
        EXPECT_OK(lib->SetGuid({0x4B2C3D4E, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 11}}));
        auto holder = NewType(lib.get(), u"Holder", TKIND_RECORD);
        AddVar(holder.get(), 0, u"field", Vt(VT_I4));
        boundsLib = AsTypeLib(lib.get());
    }
    // In the open dialog: Long (or the type whose node ends in name) picked
    // and made a fixed-size array.
    void FixedLongArray(frmSpecifyType& d, const char* name = "(Long)") {
        QTreeWidget* tree = d.Picker()->Tree();
        tree->expandItem(tree->topLevelItem(0));
        QTreeWidgetItem* longNode = nullptr;
        for (int i = 0; i < tree->topLevelItem(0)->childCount(); ++i)
            if (tree->topLevelItem(0)->child(i)->text(0).endsWith(name))
                longNode = tree->topLevelItem(0)->child(i);
        ASSERT_NE(longNode, nullptr) << tree->topLevelItem(0)->child(0)->text(0).toStdString();
        ClickNode(d, tree, longNode);
        d.Picker()->ArrayCombo()->setFocus();
        QTest::keyClick(d.Picker()->ArrayCombo(), Qt::Key_End);
        ASSERT_EQ(d.Picker()->BoundsBox()->text(), "0 To 0");
        d.Picker()->BoundsBox()->setFocus();
        QTest::keyClick(d.Picker()->BoundsBox(), Qt::Key_A, Qt::ControlModifier);
    }
    // Holder.field given type, saved and reloaded: its array description.
    SAFEARRAYBOUND SavedBounds(CustomVarTypeInfo* type) {
        CustomTypeLib view;
        view.Attach(boundsLib.get());
        ComPtr<ITypeInfo> holder;
        EXPECT_OK(boundsLib->GetTypeInfo(0, holder.put()));
        VARDESC* vd = nullptr;
        EXPECT_OK(holder->GetVarDesc(0, &vd));
        ChangeTarget field = TargetOf(boundsLib.get(), 0);
        field.Kind = kTargetMember;
        field.MemberName = u"field";
        field.MemberId = vd->memid;
        holder->ReleaseVarDesc(vd);
        auto member = MemberChange::New();
        member->InitFromTarget(field);
        member->VarTypeInfo(type);
        EXPECT_NO_THROW(EXPECT_TRUE(member->Apply(view, nullptr, field, nullptr, 0)));
        ComPtr<ITypeLib> reloaded =
            SaveAndReload(field.ReplacementLibrary ? field.ReplacementLibrary.get() : boundsLib.get());
        ComPtr<ITypeInfo> saved;
        EXPECT_OK(reloaded->GetTypeInfo(0, saved.put()));
        EXPECT_OK(saved->GetVarDesc(0, &vd));
        SAFEARRAYBOUND bound{};
        EXPECT_EQ(vd->elemdescVar.tdesc.vt, VT_CARRAY);
        if (vd->elemdescVar.tdesc.vt == VT_CARRAY) bound = vd->elemdescVar.tdesc.lpadesc->rgbounds[0];
        saved->ReleaseVarDesc(vd);
        return bound;
    }
    ComPtr<ITypeLib> boundsLib;
};

TEST_F(SpecifyBounds, OkIsRefusedWhileTheBoundsTextIsInvalidAndTheBoundsShownAreSaved) {
    QString shown;
    Drive([&](frmSpecifyType& d) {
        FixedLongArray(d);
        QLineEdit* box = d.Picker()->BoundsBox();
        QTest::keyClicks(box, "0 To 1");
        EXPECT_TRUE(d.Ok()->isEnabled());
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, "1 To");
        EXPECT_TRUE(d.Picker()->BoundsLabel()->font().bold());
        EXPECT_FALSE(d.Ok()->isEnabled());
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_TRUE(d.isVisible());
        EXPECT_FALSE(d.Accepted());
        QTest::keyClicks(box, " 3");
        EXPECT_FALSE(d.Picker()->BoundsLabel()->font().bold());
        EXPECT_TRUE(d.Ok()->isEnabled());
        shown = box->text();
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_TRUE(d.Accepted());
    });
    SpecifiedType picked =
        frmSpecifyType::GetType(nullptr, kUsageRecordField, kCompatNone, boundsLib.get(), others, nullptr);
    ASSERT_TRUE(picked.Type);
    EXPECT_EQ(shown, "1 To 3");
    const SAFEARRAYBOUND bound = SavedBounds(picked.Type.get());
    EXPECT_EQ(bound.lLbound, 1);
    EXPECT_EQ(bound.cElements, 3u);
}

TEST_F(SpecifyBounds, BoundsWhoseArrayTheLayoutCantHoldAreRefused) {
    Drive([&](frmSpecifyType& d) {
        FixedLongArray(d);
        QLineEdit* box = d.Picker()->BoundsBox();
        // 0x20000000 Longs fill 2 GB, one byte past what a type may take.
        QTest::keyClicks(box, "0 To 536870911");
        EXPECT_TRUE(d.Picker()->BoundsLabel()->font().bold());
        EXPECT_FALSE(d.Ok()->isEnabled());
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, "0 To 2147483647");
        EXPECT_FALSE(d.Ok()->isEnabled());
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, "0 To 536870910");
        EXPECT_FALSE(d.Picker()->BoundsLabel()->font().bold());
        EXPECT_TRUE(d.Ok()->isEnabled());
        d.reject();
    });
    frmSpecifyType::GetType(nullptr, kUsageRecordField, kCompatNone, boundsLib.get(), others, nullptr);

    // Applied anyway (as a history may), the layout refuses it and says why.
    auto huge = CustomVarTypeInfo::New();
    huge->SetType(VT_I4, nullptr);
    huge->SetFixedArrayData({{0, 2147483646}}, 0);
    CustomTypeLib view;
    view.Attach(boundsLib.get());
    ComPtr<ITypeInfo> holder;
    ASSERT_OK(boundsLib->GetTypeInfo(0, holder.put()));
    VARDESC* vd = nullptr;
    ASSERT_OK(holder->GetVarDesc(0, &vd));
    ChangeTarget field = TargetOf(boundsLib.get(), 0);
    field.Kind = kTargetMember;
    field.MemberName = u"field";
    field.MemberId = vd->memid;
    holder->ReleaseVarDesc(vd);
    auto member = MemberChange::New();
    member->InitFromTarget(field);
    member->VarTypeInfo(huge.get());
    try {
        member->Apply(view, nullptr, field, nullptr, 0);
        ADD_FAILURE() << "applied";
    } catch (const ErrorRecord& e) {
        EXPECT_EQ(e.Number, TYPE_E_SIZETOOBIG);
        EXPECT_NE(ErrorReportText(e).find(u"Size too big"), std::u16string::npos) << ToUtf8(ErrorReportText(e));
    }
}

// A 64-bit library's strings, pointers and Variants are wider: their arrays
// reach the largest size with fewer elements.
TEST_F(SpecifyBounds, A64BitLibrarysPointerSizedElementsAreCountedAtTheirWidth) {
    ComPtr<ICreateTypeLib2> lib;
    ASSERT_OK(CreateTypeLib2(SYS_WIN64, u"", lib.put()));
    ASSERT_OK(lib->SetName(u"Bounds64"));
    auto holder = NewType(lib.get(), u"Holder", TKIND_RECORD);
    AddVar(holder.get(), 0, u"field", Vt(VT_I4));
    boundsLib = AsTypeLib(lib.get());
    const std::pair<const char*, const char*> cases[] = {
        {"(String)", "268435455"},  // 0x10000000 strings of 8 bytes
        {"(Variant)", "89478485"},  // 0x5555556 Variants of 24 bytes
    };
    for (const auto& [node, last] : cases) {
        Drive([&](frmSpecifyType& d) {
            FixedLongArray(d, node);
            QLineEdit* box = d.Picker()->BoundsBox();
            QTest::keyClicks(box, QString("0 To ") + last);
            EXPECT_TRUE(d.Picker()->BoundsLabel()->font().bold()) << node;
            EXPECT_FALSE(d.Ok()->isEnabled()) << node;
            // One element fewer.
            QTest::keyClick(box, Qt::Key_Backspace);
            QTest::keyClicks(box, "4");
            EXPECT_FALSE(d.Picker()->BoundsLabel()->font().bold()) << node << " " << box->text().toStdString();
            EXPECT_TRUE(d.Ok()->isEnabled()) << node;
            d.reject();
        });
        frmSpecifyType::GetType(nullptr, kUsageRecordField, kCompatNone, boundsLib.get(), others, nullptr);
    }
}

TEST_F(SpecifyType, Screenshot) {
    frmSpecifyType dialog(nullptr);
    int32_t flags = 1;
    dialog.Start(kUsageRecordField, kCompatNone, 0, 0, pickLib.get(), others, nullptr, flags, false);
    dialog.Picker()->Tree()->expandItem(dialog.Picker()->Tree()->topLevelItem(0));
    dialog.Picker()->Tree()->setCurrentItem(dialog.Picker()->Tree()->topLevelItem(0)->child(3));
    dialog.Picker()->ArrayCombo()->activated(3);  // fixed-size
    dialog.show();
    SaveScreenshots(dialog, "dialog-specify-type");
    dialog.setPalette(testsupport::DarkPalette());
    SaveScreenshots(dialog, "dialog-specify-type-dark");
}

// A Let's value without direction flags, and flags the list doesn't offer
// with the reason OK is disabled below them.
TEST_F(SpecifyType, ScreenshotsOfFlagsKeptAndOfWhyOkIsDisabled) {
    auto current = CustomVarTypeInfo::New();
    current->SetType(VT_BSTR, nullptr);
    for (const auto& [name, paramUsage, flags] :
         {std::tuple("dialog-specify-type-no-flags", 16, 0), std::tuple("dialog-specify-type-why-no-ok", 4, 1)}) {
        frmSpecifyType dialog(nullptr);
        dialog.Start(kUsageInterfaceParam, kCompatAutomation, paramUsage, 0, pickLib.get(), others, current.get(),
                     flags, false);
        dialog.show();
        EXPECT_EQ(dialog.Ok()->isEnabled(), flags == 0);
        SaveScreenshots(dialog, name);
        dialog.setPalette(testsupport::DarkPalette());
        SaveScreenshots(dialog, std::string(name) + "-dark");
    }
    frmSpecifyType dialog(nullptr);  // a current type not offered: why the header is red
    dialog.Start(kUsageConstant, kCompatNone, 0, 0, pickLib.get(), others, current.get(), 0, false);
    dialog.show();
    SaveScreenshots(dialog, "dialog-specify-type-not-offered");
    dialog.setPalette(testsupport::DarkPalette());
    SaveScreenshots(dialog, "dialog-specify-type-not-offered-dark");
}

}  // namespace
}  // namespace dialogstest
