// The view in tests: UI services that answer messages from a script (OK when
// it has run out) and count the messages, their styles and the beeps, so that
// no test waits on a window; and the type a scripted type dialog answers with.
#pragma once

#include <sys/wait.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTreeWidget>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "editor/TreeTestSupport.h"
#include "changes/ChangesTestSupport.h"
#include "changes/history/Playback.h"
#include "changes/hub/ChangeListener.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "editor/view/MemberIDConstraints.h"
#include "editor/view/ViewerDialogs.h"
#include "typelib/CustomVarTypeInfo.h"
#include "support/DarkTheme.h"
#include "support/FileContents.h"
#include "support/Screenshots.h"
#include "typelib/TypeLibSupport.h"

namespace treetest {

class CountingServices : public zephrin::dialogs::UiServices {
public:
    std::vector<QString> messages;
    std::vector<int32_t> styles;
    std::deque<zephrin::dialogs::MessageAnswer> answers;
    int beeps = 0;
    zephrin::dialogs::MessageAnswer MessageBox(QWidget*, const QString& text, int32_t style) override {
        messages.push_back(text);
        styles.push_back(style);
        if (answers.empty()) return zephrin::dialogs::kAnswerOk;
        const zephrin::dialogs::MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Beep() override { ++beeps; }
    QString OpenFileName(QWidget*, const zephrin::dialogs::FileRequest&) override { return {}; }
    QString SaveFileName(QWidget*, const zephrin::dialogs::FileRequest&) override { return {}; }
    int RunModal(QDialog&) override { return 0; }
};

// Counting services that also run a modal dialog through a script.
class ModalServices : public CountingServices {
public:
    std::function<void(QDialog&)> modal;
    int RunModal(QDialog& dialog) override {
        if (modal) modal(dialog);
        return dialog.result();
    }
};

// A host's member-ID format of one range: IDs whose high word is 0x4000, the
// low word from 0x10.
class HostMemberIdRange : public zephrin::editor::IMemberIDConstraints {
public:
    zephrin::editor::MemberIDFormat GetMemberIDFormat(const zephrin::ChangeTarget&) override {
        zephrin::editor::MemberIDFormat format;
        format.RangeCount = 1;
        format.Ranges[0] = {0x40000000, 0x10};
        return format;
    }
};

// The node of the type named type under the root of tree, or of its member,
// or of that member's parameter, their children built as expanding them
// builds them; null when there is none.
// Whether a label right below field reads text (why its value is refused).
inline bool ShownBelow(QWidget* field, const QString& text) {
    QCoreApplication::processEvents();  // the layout of a label just shown
    const QPoint below = field->mapToGlobal(QPoint(0, field->height()));
    for (QLabel* label : field->window()->findChildren<QLabel*>())
        if (label->isVisible() && label->text() == text && std::abs(label->mapToGlobal(QPoint()).y() - below.y()) < 8)
            return true;
    return false;
}

inline QTreeWidgetItem* NodeAt(QTreeWidget* tree, const char* type, const char* member = nullptr,
                               const char* param = nullptr) {
    QTreeWidgetItem* node = Child(tree->topLevelItem(0), type);
    for (const char* below : {member, param}) {
        if (!node || !below) break;
        EnsureChildren(node);
        node = Child(node, below);
    }
    return node;
}

// A menu as text: captions joined by ", ", a separator "-", a submenu's
// items in brackets, a checked item with a leading "*", a disabled one in parentheses.
inline std::string MenuText(QMenu* menu) {
    std::string text;
    for (QAction* action : menu->actions()) {
        if (!text.empty()) text += ", ";
        if (action->isSeparator()) {
            text += "-";
            continue;
        }
        std::string item = (action->isChecked() ? "*" : "") + Utf8(action->text());
        if (action->menu()) item += "[" + MenuText(action->menu()) + "]";
        text += action->isEnabled() ? item : "(" + item + ")";
    }
    return text;
}

// The action captioned caption in menu, or under the submenus named on the way there.
inline QAction* ActionAt(QMenu* menu, std::initializer_list<const char*> path) {
    QAction* found = nullptr;
    for (const char* caption : path) {
        if (!menu) return nullptr;
        found = nullptr;
        for (QAction* action : menu->actions())
            if (Utf8(action->text()) == caption) found = action;
        if (!found) return nullptr;
        menu = found->menu();
    }
    return found;
}

// Right-clicks node of view's tree as the user does; the menu that opened
// as MenuText gives it (closed again), or "<no menu>".
inline std::string RightClickMenu(zephrin::editor::LibraryViewer& view, QTreeWidgetItem* node) {
    QTreeWidget* tree = view.Tree();
    tree->scrollToItem(node);
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(node).center());
    QMenu* menu = view.OpenPopup();
    if (!menu) return "<no menu>";
    const std::string text = MenuText(menu);
    menu->hide();
    QCoreApplication::processEvents();
    return text;
}

// Hangs view on hub and dialogs and shows it, sized by its font: 130
// average characters wide and lines lines high.
inline void ShowViewer(zephrin::editor::LibraryViewer& view, const std::shared_ptr<zephrin::ChangeListener>& hub,
                       zephrin::editor::ViewerDialogs* dialogs, int lines) {
    view.SetChangeListener(hub);
    view.SetDialogs(dialogs);
    view.resize(view.fontMetrics().averageCharWidth() * 130, view.fontMetrics().height() * lines);
    view.show();
}

// Clicks node as the user does, which makes it the current node and fills
// the panes (after the events waiting, such as a re-sort after a rename).
inline void ClickNode(QTreeWidget* tree, QTreeWidgetItem* node) {
    ASSERT_TRUE(node);
    QCoreApplication::processEvents();
    tree->scrollToItem(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
    ASSERT_EQ(tree->currentItem(), node);
}

// Renames the current node as the user does: F2, the new name typed over the
// old one, Return.
inline void RenameCurrentNode(QTreeWidget* tree, const QString& name) {
    QTest::keyClick(tree, Qt::Key_F2);
    QLineEdit* edit = LabelEditor(tree);
    ASSERT_TRUE(edit);
    edit->selectAll();
    QTest::keyClicks(edit, name);
    QTest::keyClick(edit, Qt::Key_Return);
    QCoreApplication::processEvents();
}

// A description of the type named name in library, as the specify-type
// dialog gives it back.
inline ole::ComPtr<zephrin::CustomVarTypeInfo> TypeChosen(ole::ITypeLib* library,
                                                                   const std::u16string& name) {
    ole::ComPtr<zephrin::CustomVarTypeInfo> chosen = zephrin::CustomVarTypeInfo::New();
    chosen->CurrentITypeLib(library);
    chosen->SetType(0, testsupport::TypeNamed(changestest::InfoOf(library).get(), name).get());
    return chosen;
}

// The type of the return value (position 0) or of parameter position (from
// 1) of the accessor kind of member name of info, as text: its VARTYPE, a
// star for each pointer, and a parameter's flags.
inline std::string AccessorTypeAt(ole::ITypeInfo* info, const char16_t* name, ole::INVOKEKIND kind, int position) {
    std::u16string n(name);
    ole::OLECHAR* names[] = {n.data()};
    ole::MEMBERID id = 0;
    EXPECT_OK(info->GetIDsOfNames(names, 1, &id));
    ole::UINT index = 0;
    EXPECT_OK(ole::ComPtr<ole::ITypeInfo>(info).As<ole::ITypeInfo2>()->GetFuncIndexOfMemId(id, kind, &index));
    zephrin::typelib_detail::FuncDescHolder func(info, index);
    const ole::ELEMDESC& element = position == 0 ? func->elemdescFunc : func->lprgelemdescParam[position - 1];
    std::string text;
    const ole::TYPEDESC* desc = &element.tdesc;
    for (; desc->vt == ole::VT_PTR; desc = desc->lptdesc) text += "*";
    text = std::to_string(desc->vt) + text;
    if (position > 0) text += " flags " + std::to_string(element.paramdesc.wParamFlags);
    return text;
}

// Screenshots of view, as NAME-light and NAME-dark, in the light and the dark palette.
inline void SaveThemedScreenshots(QWidget& view, const std::string& name) {
    const QPalette light = QApplication::palette();
    for (const auto& [theme, palette] : {std::pair{"-light", light}, std::pair{"-dark", testsupport::DarkPalette()}}) {
        QApplication::setPalette(palette);
        view.setPalette(palette);
        QCoreApplication::processEvents();
        testsupport::SaveScreenshots(view, name + theme);
    }
    QApplication::setPalette(light);
    view.setPalette(light);
}

// Runs the program in folder without a display, with env's settings
// ("NAME=value ..."), its output in stdout.txt and stderr.txt there; its exit
// code, -1 when it did not exit.
inline int RunZephrin(const std::filesystem::path& folder, const std::string& args, const std::string& env = {}) {
    const std::string command = "cd '" + folder.string() + "' && timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY " + env +
                                " '" ZEPHRIN_BIN_DIR "/zephrin' " + args + " >stdout.txt 2>stderr.txt";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Saves history as session.leh and view's library as view.tlb in folder; the
// program replays the history on in.tlb there in batch mode and must write
// the same file. The saved library.
inline ole::ComPtr<ole::ITypeLib> SaveAndReplay(zephrin::Playback& history, zephrin::editor::LibraryViewer& view,
                                                const std::filesystem::path& folder) {
    EXPECT_TRUE(history.SaveState(ole::FromUtf8(folder.string()), u"session.leh"));
    view.SaveCurrentLibrary(ole::FromUtf8((folder / "view.tlb").string()));
    EXPECT_EQ(RunZephrin(folder, "-leh session.leh -tlb in.tlb -saveas batch.tlb -quiet"), 0)
        << testsupport::ReadText(folder / "stderr.txt");
    EXPECT_EQ(testsupport::ReadBytes(folder / "batch.tlb"), testsupport::ReadBytes(folder / "view.tlb"));
    ole::ComPtr<ole::ITypeLib> saved;
    EXPECT_OK(LoadTypeLib(ole::FromUtf8((folder / "view.tlb").string()).c_str(), saved.put()));
    return saved;
}

}  // namespace treetest
