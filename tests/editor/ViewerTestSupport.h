// The view in tests: UI services that answer messages from a script (OK when
// it has run out) and count the messages, their styles and the beeps, so that
// no test waits on a window; and the type a scripted type dialog answers with.
#pragma once

#include <sys/wait.h>

#include <QCoreApplication>
#include <QDialog>
#include <QTest>
#include <QTreeWidget>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "editor/TreeTestSupport.h"
#include "changes/ChangesTestSupport.h"
#include "dialogs/UiServices.h"
#include "typelib/CustomVarTypeInfo.h"

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

// The node of the type named type under the root of tree, or of its member,
// or of that member's parameter, their children built as expanding them
// builds them; null when there is none.
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

// Clicks node as the user does, which makes it the current node and fills
// the panes (after the events waiting, such as a re-sort after a rename).
inline void ClickNode(QTreeWidget* tree, QTreeWidgetItem* node) {
    ASSERT_TRUE(node);
    QCoreApplication::processEvents();
    tree->scrollToItem(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
    ASSERT_EQ(tree->currentItem(), node);
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

// Runs the program in folder without a display, with env's settings
// ("NAME=value ..."), its output in stdout.txt and stderr.txt there; its exit
// code, -1 when it did not exit.
inline int RunZephrin(const std::filesystem::path& folder, const std::string& args, const std::string& env = {}) {
    const std::string command = "cd '" + folder.string() + "' && timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY " + env +
                                " '" ZEPHRIN_BIN_DIR "/zephrin' " + args + " >stdout.txt 2>stderr.txt";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace treetest
