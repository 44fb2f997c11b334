// The references dialog driven offscreen over a Wine-prefix layout made by
// the test: checking, unchecking, browsing and applying, and the references
// the applied libraries give a saved library.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <deque>
#include <filesystem>
#include <set>

#include "dialogs/frmReferences.h"
#include "platform/automation/Guid.h"
#include "platform/registry/Registry.h"
#include "RefsTestSupport.h"
#include "support/DarkTheme.h"

namespace dialogstest {
namespace {

namespace fs = std::filesystem;
using testsupport::CheckBoxContrast;
using testsupport::DarkPalette;

// A frame this far in lightness (of 255) from the base around it is plainly seen.
constexpr int kVisibleContrast = 60;

constexpr GUID kAlpha = {0x5EF30000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
constexpr GUID kBeta = {0x5EF30000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
constexpr GUID kGamma = {0x5EF30000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};
constexpr GUID kEdited = {0x5EF30000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 4}};

// Scripted services with a queue of chosen files.
class BrowsingServices : public FakeServices {
public:
    std::deque<QString> files;
    QString OpenFileName(QWidget*, const FileRequest& request) override {
        titles.push_back(request.Title);
        if (files.empty()) return {};
        QString file = files.front();
        files.pop_front();
        return file;
    }
    std::vector<QString> titles;
};

// A Wine prefix: drive C and its link, and the machine's registry naming
// libraries by their Windows paths.
class References : public ::testing::Test {
protected:
    References() {
        App();
        const fs::path system32 = dir / "prefix" / "drive_c" / "windows" / "system32";
        WriteLib(system32 / "alpha.tlb", kAlpha, 1, 0, 0, u"Alpha");
        WriteLib(system32 / "Beta.TLB", kBeta, 2, 1, 0, u"Beta");
        WriteLib(dir / "elsewhere" / "gamma.tlb", kGamma, 1, 0, 0, u"Gamma");
        WriteFile(system32 / "junk.tlb", "not a library");
        WriteFile(dir / "notalib.tlb", "not a library either");
        fs::create_directories(dir / "prefix" / "dosdevices");
        fs::create_directory_symlink("../drive_c", dir / "prefix" / "dosdevices" / "c:");
        std::string text = "WINE REGISTRY Version 2\n";
        auto add = [&](const char* guid, const char* version, const char* description, const char* path) {
            const std::string key = std::string("[Software\\\\Classes\\\\TypeLib\\\\") + guid + "\\\\" + version;
            text += key + "] 1\n@=\"" + description + "\"\n" + key + "\\\\0\\\\win32] 1\n@=\"" + path + "\"\n";
        };
        add("{5EF30000-0000-0000-0000-000000000001}", "1.0", "Alpha & Co Library", "C:\\\\Windows\\\\System32\\\\ALPHA.tlb");
        add("{5EF30000-0000-0000-0000-000000000002}", "2.1", "Beta Library", "c:\\\\windows\\\\system32\\\\beta.tlb");
        add("{5EF30000-0000-0000-0000-000000000005}", "1.0", "Junk Library", "C:\\\\windows\\\\system32\\\\junk.tlb");
        add("{5EF30000-0000-0000-0000-000000000006}", "1.0", "Other Drive", "Q:\\\\nowhere\\\\lib.tlb");
        WriteFile(dir / "prefix" / "system.reg", text);
        auto registry = std::make_shared<reg::Registry>();
        EXPECT_TRUE(registry->loadPrefix(dir / "prefix"));
        reg::SetDefaultRegistry(registry);
    }
    ~References() override { reg::SetDefaultRegistry(nullptr); }

    // The row whose text is text, -1 when none.
    static int Row(frmReferences& d, const QString& text) {
        const auto found = d.List()->findItems(text, Qt::MatchExactly);
        return found.size() == 1 ? d.List()->row(found.front()) : -1;
    }
    // Selects a row and presses Space on it, as the user toggles its check box.
    static void Toggle(frmReferences& d, const QString& text) {
        const int row = Row(d, text);
        ASSERT_GE(row, 0) << text.toStdString();
        d.List()->setCurrentRow(row);
        QTest::keyClick(d.List(), Qt::Key_Space);
    }
    static bool IsChecked(frmReferences& d, const QString& text) {
        const int row = Row(d, text);
        return row >= 0 && d.List()->item(row)->checkState() == Qt::Checked;
    }
    // The GUIDs of the libraries a library's aliases lead to.
    static std::set<GUID> ReferencedLibraries(ITypeLib* lib) {
        std::set<GUID> out;
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            ComPtr<ITypeInfo> type, target;
            ComPtr<ITypeLib> owner;
            TYPEATTR* attr = nullptr;
            TLIBATTR* libAttr = nullptr;
            UINT index = 0;
            EXPECT_OK(lib->GetTypeInfo(i, type.put()));
            EXPECT_OK(type->GetTypeAttr(&attr));
            if (attr->typekind == TKIND_ALIAS && type->GetRefTypeInfo(attr->tdescAlias.hreftype, target.put()) == S_OK &&
                target->GetContainingTypeLib(owner.put(), &index) == S_OK && owner->GetLibAttr(&libAttr) == S_OK) {
                out.insert(libAttr->guid);
                owner->ReleaseTLibAttr(libAttr);
            }
            type->ReleaseTypeAttr(attr);
        }
        return out;
    }

    TempDir dir;
    BrowsingServices services;
    ScopedUiServices scoped{services};
    const QString alpha = QStringLiteral("Alpha & Co Library");
    const QString beta = QStringLiteral("Beta Library");
    const QString junk = QStringLiteral("Junk Library");
};

// What a screen reader reads through the accessibility interface: every
// entry with its version, and the name and version of the entry selected.
TEST_F(References, AScreenReaderReadsEachEntrysVersionAndTheSelectedValues) {
    LibraryCollection libraries;
    services.modal = [&](QDialog& dialog) {
        auto& d = dynamic_cast<frmReferences&>(dialog);
        d.show();
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(d.List());
        ASSERT_TRUE(list);
        std::set<QString> names;
        for (int i = 0; i < list->childCount(); ++i) names.insert(list->child(i)->text(QAccessible::Name));
        EXPECT_TRUE(names.count(QStringLiteral("OLE Automation, version 1.0"))) << ::testing::PrintToString(names);
        EXPECT_TRUE(names.count(QStringLiteral("OLE Automation, version 2.0")));
        EXPECT_TRUE(names.count(QStringLiteral("Beta Library, version 2.1")));
        // The entry's own text keeps the version out where its name is its own.
        EXPECT_GE(Row(d, beta), 0);
        d.List()->setCurrentRow(Row(d, beta));
        const auto read = [](QWidget* widget, QAccessible::Text text) {
            return QAccessible::queryAccessibleInterface(widget)->text(text);
        };
        EXPECT_EQ(read(d.InfoLabel(1), QAccessible::Name), QStringLiteral("Name"));
        EXPECT_EQ(read(d.InfoLabel(1), QAccessible::Description), QStringLiteral("Beta"));
        EXPECT_EQ(read(d.InfoLabel(2), QAccessible::Name), QStringLiteral("Version"));
        EXPECT_EQ(read(d.InfoLabel(2), QAccessible::Description), QStringLiteral("2.1"));
        d.List()->setCurrentRow(Row(d, QStringLiteral("OLE Automation (1.0)")));
        EXPECT_EQ(read(d.InfoLabel(2), QAccessible::Description), QStringLiteral("1.0"));
        dialog.reject();
    };
    RefInfoList refs;
    EXPECT_FALSE(frmReferences::EditReferences(nullptr, libraries, refs, true, nullptr));
}

TEST_F(References, CheckBrowseAndApplyGiveTheReferencesOfTheSavedLibrary) {
    ComPtr<ICreateTypeLib2> edited = NewLibrary(u"Edited");
    ASSERT_OK(edited->SetGuid(kEdited));
    ASSERT_OK(edited->SetDocString(u"Edited Library"));
    LibraryCollection libraries;
    services.files = {QString::fromStdString((dir / "notalib.tlb").string()),
                      QString::fromStdString((dir / "elsewhere" / "gamma.tlb").string()),
                      QString::fromStdString((dir / "prefix/drive_c/windows/system32/alpha.tlb").string())};
    services.modal = [&](QDialog& dialog) {
        auto& d = dynamic_cast<frmReferences&>(dialog);
        d.show();
        EXPECT_EQ(d.List()->item(0)->text(), QStringLiteral("Edited Library"));
        EXPECT_EQ(Row(d, QStringLiteral("Other Drive")), -1);  // a drive that maps to no file here
        // The two OLE Automation libraries are told apart by their versions.
        EXPECT_GE(Row(d, QStringLiteral("OLE Automation (1.0)")), 0);
        EXPECT_GE(Row(d, QStringLiteral("OLE Automation (2.0)")), 0);
        Toggle(d, QStringLiteral("Edited Library"));  // the library being edited stays checked
        EXPECT_TRUE(IsChecked(d, QStringLiteral("Edited Library")));
        Toggle(d, junk);
        EXPECT_FALSE(IsChecked(d, junk));
        EXPECT_EQ(d.InfoLabel(1)->text(), QStringLiteral("Library Registration Invalid"));
        EXPECT_EQ(services.beeps, 2);
        Toggle(d, alpha);
        Toggle(d, beta);
        EXPECT_EQ(d.InfoFrame()->title(), QStringLiteral("Beta Library"));
        EXPECT_EQ(d.InfoLabel(1)->text(), QStringLiteral("Beta"));
        EXPECT_EQ(d.InfoLabel(2)->text(), QStringLiteral("2.1"));
        Toggle(d, beta);  // and off again
        d.List()->setCurrentRow(Row(d, alpha));
        EXPECT_EQ(d.InfoFrame()->title(), QStringLiteral("Alpha && Co Library"));
        const int count = d.List()->count();
        d.BrowseButton()->click();  // not a library: a beep, nothing added
        EXPECT_EQ(services.beeps, 3);
        d.BrowseButton()->click();  // gamma: added, checked, selected
        EXPECT_EQ(d.List()->count(), count + 1);
        EXPECT_TRUE(IsChecked(d, QStringLiteral("Gamma")));
        EXPECT_EQ(d.List()->currentRow(), Row(d, QStringLiteral("Gamma")));
        EXPECT_TRUE(d.InfoLabel(0)->toolTip().endsWith(QStringLiteral("gamma.tlb")));
        d.List()->setCurrentRow(0);
        d.BrowseButton()->click();  // alpha again: the entry listed is selected
        EXPECT_EQ(d.List()->count(), count + 1);
        EXPECT_EQ(d.List()->currentRow(), Row(d, alpha));
        QTest::keyClick(d.List(), Qt::Key_Return);  // OK is the default button
    };
    RefInfoList first;
    ASSERT_TRUE(frmReferences::EditReferences(AsTypeLib(edited.get()).get(), libraries, first, true, nullptr));
    EXPECT_EQ(services.titles.front(), QStringLiteral("Open Type Library"));
    ASSERT_EQ(libraries.size(), 2u);

    // The edited library uses a type of each; saved and reloaded, those are its references.
    for (size_t i = 0; i < libraries.size(); ++i) {
        ComPtr<ITypeInfo> used;
        ASSERT_OK(libraries[i]->GetTypeInfo(0, used.put()));
        auto alias = NewType(edited.get(), u"Alias" + std::u16string(1, static_cast<char16_t>(u'A' + i)), TKIND_ALIAS);
        TYPEDESC td = User(RefTo(alias.get(), used.get()));
        ASSERT_OK(alias->SetTypeDescAlias(&td));
    }
    ComPtr<ITypeLib> reloaded = SaveAndReload(AsTypeLib(edited.get()).get());
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(ReferencedLibraries(reloaded.get()), (std::set<GUID>{kAlpha, kGamma}));

    // Opened again on the reloaded library's references: they are checked;
    // unchecking one and cancelling changes nothing, with OK it goes.
    for (bool ok : {false, true}) {
        services.modal = [&](QDialog& dialog) {
            auto& d = dynamic_cast<frmReferences&>(dialog);
            EXPECT_TRUE(IsChecked(d, QStringLiteral("Alpha")));  // listed by its own name now
            EXPECT_TRUE(IsChecked(d, QStringLiteral("Gamma")));
            EXPECT_EQ(Row(d, QStringLiteral("Alpha")), 1);
            EXPECT_EQ(Row(d, alpha), -1);
            Toggle(d, QStringLiteral("Gamma"));
            d.findChild<QPushButton*>(ok ? QStringLiteral("cmdOK") : QStringLiteral("cmdCancel"))->click();
        };
        RefInfoList refs;
        EXPECT_EQ(frmReferences::EditReferences(reloaded.get(), libraries, refs, true, nullptr), ok);
        EXPECT_EQ(libraries.size(), ok ? 1u : 2u);
    }
}

TEST_F(References, BrowsingToTheLibraryAnInvalidRegistrationNamesListsAndChecksIt) {
    const GUID junkGuid = {0x5EF30000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 5}};
    ComPtr<ITypeLib> real = WriteLib(dir / "real" / "junk.tlb", junkGuid, 1, 0, 0, u"RealJunk");
    services.files = {QString::fromStdString((dir / "real" / "junk.tlb").string())};
    services.modal = [&](QDialog& dialog) {
        auto& d = dynamic_cast<frmReferences&>(dialog);
        const int count = d.List()->count();
        d.BrowseButton()->click();
        EXPECT_EQ(d.List()->count(), count + 1);  // beside the entry whose file is junk
        EXPECT_TRUE(IsChecked(d, QStringLiteral("RealJunk")));
        EXPECT_FALSE(IsChecked(d, junk));
        EXPECT_EQ(services.beeps, 0);
        d.findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    };
    LibraryCollection libraries;
    RefInfoList refs;
    ASSERT_TRUE(frmReferences::EditReferences(nullptr, libraries, refs, true, nullptr));
    ASSERT_EQ(libraries.size(), 1u);
    EXPECT_EQ(libraries[0].get(), real.get());
}

// A long description and a long file name: the dialog keeps its size from
// one selection to the next, the frame's caption and the location are cut to
// fit, and the whole path is there for the keyboard and a screen reader.
TEST_F(References, ALongDescriptionAndPathKeepTheDialogsSizeAndTheWholePathIsReadable) {
    const fs::path file = dir / "libraries" / ("a-library-file-whose-name-runs-on-" + std::string(150, 'x') + ".tlb");
    const GUID guid = {0x5EF50000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    WriteLib(file, guid, 1, 0, 0, u"LongLib");
    std::string description = "A Library";
    for (int i = 0; i < 40; ++i) description += " Whose Description Goes On";
    WriteFile(dir / "long.reg", "REGEDIT4\n" + RegLib(ole::GuidToUtf8(guid), "1.0", description, "0", file.string()));
    auto registry = std::make_shared<reg::Registry>();
    ASSERT_TRUE(registry->loadFile(dir / "long.reg"));
    reg::SetDefaultRegistry(registry);

    ComPtr<ITypeLib> edited = MemoryLib(u"Edited", kEdited);
    RefInfoList refs;
    frmReferences::BuildList(edited.get(), {}, refs);
    frmReferences dialog(refs, nullptr);
    dialog.show();
    QApplication::processEvents();
    const QSize size = dialog.size();
    const int row = Row(dialog, QString::fromStdString(description));
    ASSERT_GE(row, 0);
    dialog.List()->setFocus();
    while (dialog.List()->currentRow() != row) QTest::keyClick(dialog.List(), Qt::Key_Down);
    QApplication::processEvents();
    EXPECT_EQ(dialog.size(), size);
    QGroupBox* frame = dialog.InfoFrame();
    EXPECT_LE(frame->fontMetrics().horizontalAdvance(frame->title()), frame->width());
    EXPECT_TRUE(frame->title().endsWith(QChar(0x2026))) << frame->title().toStdString();
    EXPECT_EQ(frame->accessibleName().toStdString(), description);
    QLabel* location = dialog.InfoLabel(0);
    EXPECT_LE(location->fontMetrics().horizontalAdvance(location->text()), location->contentsRect().width());
    EXPECT_TRUE(location->text().contains(QChar(0x2026))) << location->text().toStdString();
    EXPECT_EQ(location->accessibleDescription().toStdString(), file.string());
    EXPECT_TRUE(location->focusPolicy() & Qt::TabFocus);
    SaveScreenshots(dialog, "dialog-references-long");
    dialog.setPalette(DarkPalette());
    SaveScreenshots(dialog, "dialog-references-long-dark");
    QTest::keyClick(dialog.List(), Qt::Key_Home);
    QApplication::processEvents();
    EXPECT_EQ(dialog.size(), size);
    dialog.close();
}

TEST_F(References, AScreenshotOverThirtyRegisteredLibraries) {
    std::string text = "REGEDIT4\n";
    const char* words[] = {"Accounting", "Charting", "Data Access", "Forms", "Graphics & Imaging", "Mail"};
    for (int i = 0; i < 30; ++i) {
        const fs::path file = dir / "a very long folder name for libraries" / "of the sample kind" /
                              ("sample-library-" + std::to_string(i) + ".tlb");
        const GUID guid = {0x5EF40000, 0, 0, {0, 0, 0, 0, 0, 0, 0, static_cast<BYTE>(i)}};
        WriteLib(file, guid, static_cast<WORD>(1 + i % 3), static_cast<WORD>(i % 2), 0,
                 FromUtf8("SampleLib" + std::to_string(i)));
        text += RegLib(ole::GuidToUtf8(guid), std::to_string(1 + i % 3) + "." + std::to_string(i % 2),
                       std::string("Sample ") + words[i % 6] + " Library " + std::to_string(i), "0", file.string());
    }
    WriteFile(dir / "thirty.reg", text);
    auto registry = std::make_shared<reg::Registry>();
    ASSERT_TRUE(registry->loadFile(dir / "thirty.reg"));
    reg::SetDefaultRegistry(registry);

    ComPtr<ITypeLib> edited = MemoryLib(u"Edited", kEdited);
    RefInfoList refs;
    frmReferences::BuildList(edited.get(), {}, refs);
    ASSERT_GE(refs.Count(), 32u);
    frmReferences dialog(refs, nullptr);
    dialog.show();
    dialog.List()->setCurrentRow(3);
    dialog.List()->item(5)->setCheckState(Qt::Checked);
    QLabel* location = dialog.InfoLabel(0);
    EXPECT_LE(location->fontMetrics().horizontalAdvance(location->text()), location->contentsRect().width());
    EXPECT_TRUE(location->text().contains(QStringLiteral("...")));
    SaveScreenshots(dialog, "dialog-references");
    // On a dark palette the unchecked boxes stand out from the list's base.
    QListWidgetItem* unchecked = dialog.List()->item(4);
    ASSERT_EQ(unchecked->checkState(), Qt::Unchecked);
    dialog.setPalette(DarkPalette());
    EXPECT_GE(CheckBoxContrast(*dialog.List(), unchecked), kVisibleContrast);
    EXPECT_GE(CheckBoxContrast(*dialog.List(), dialog.List()->item(5)), kVisibleContrast);
    SaveScreenshots(dialog, "dialog-references-dark");
    dialog.close();
}

}  // namespace
}  // namespace dialogstest
