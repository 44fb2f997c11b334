// The history window and its list in tests: UI services that answer from a
// script (messages, file choosers, the modal dialogs), screenshots, and the
// changes the tests record.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QListView>
#include <QPixmap>
#include <QTest>
#include <QWindow>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "changes/ChangesTestSupport.h"
#include "changes/history/Playback.h"
#include "changes/kinds/LibChange.h"
#include "changes/kinds/TypeChange.h"
#include "app/modCorvaneExe.h"
#include "dialogs/UiServices.h"
#include "ShellTestSupport.h"
#include "editor/TreeTestSupport.h"
#include "shell/Recorder.h"
#include "shell/frmRecorder.h"

namespace recordertest {

using namespace zephrin;
using namespace zephrin::shell;
using namespace ::ole;
using namespace testsupport;

class ScriptedServices : public dialogs::UiServices {
public:
    std::vector<QString> messages;
    std::vector<int32_t> styles;
    // For each message, whether its owner's window showed where the platform
    // placed it (exposed), so that the box opens over it.
    std::vector<bool> overShownWindow;
    std::deque<dialogs::MessageAnswer> answers;
    // The paths the file choosers answer with (empty: cancelled); an open
    // chooser's Accept sees its answer first, and a refused one is noted.
    std::deque<QString> files;
    std::vector<dialogs::FileRequest> requests;
    int refused = 0;
    int beeps = 0;

    dialogs::MessageAnswer MessageBox(QWidget* owner, const QString& text, int32_t style) override {
        messages.push_back(text);
        styles.push_back(style);
        overShownWindow.push_back(Shown(owner));
        if (answers.empty()) return dialogs::kAnswerOk;
        const dialogs::MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Beep() override { ++beeps; }
    QString OpenFileName(QWidget*, const dialogs::FileRequest& request) override { return Answer(request); }
    QString SaveFileName(QWidget*, const dialogs::FileRequest& request) override { return Answer(request); }
    int RunModal(QDialog& dialog) override { return dialog.result(); }
    std::string LastMessage() const { return messages.empty() ? std::string() : messages.back().toStdString(); }
    static bool Shown(const QWidget* owner) {
        const QWindow* handle = owner ? owner->window()->windowHandle() : nullptr;
        return handle && handle->isExposed();
    }

private:
    QString Answer(const dialogs::FileRequest& request) {
        requests.push_back(request);
        if (files.empty()) return {};
        const QString path = files.front();
        files.pop_front();
        if (!path.isEmpty() && request.Accept && !request.Accept(path)) {
            ++refused;
            return {};
        }
        return path;
    }
};

using shelltest::Q;

using shelltest::SaveScreenshots;

// The texts of a history list's lines, the glyph of each in front
// ("> " current, "* " breakpoint, "*>" both).
inline std::vector<std::string> Lines(Recorder& list) {
    std::vector<std::string> lines;
    const std::shared_ptr<IPlayback>& engine = list.Playback();
    for (int i = 0; i < list.ListCount(); ++i) {
        const int32_t glyph = engine ? engine->Glyph(list.ItemData(i)) : 0;
        const char* mark[] = {"  ", "> ", "* ", "*>"};
        lines.push_back(std::string(mark[glyph & 3]) + list.List(i).toStdString());
    }
    return lines;
}

// The centre of line i of the list's view, right of the glyph column (or in it).
inline QPoint LinePoint(Recorder& list, int i, bool glyphColumn = false) {
    const QRect rect = list.ListView()->visualRect(list.ListView()->model()->index(i, 0));
    return {glyphColumn ? rect.left() + 8 : rect.left() + Recorder::kGlyphColumn + 30, rect.center().y()};
}

inline void Click(Recorder& list, int i, bool glyphColumn = false, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(list.ListView()->viewport(), button, {}, LinePoint(list, i, glyphColumn));
}

// Records two edits of the library in the file libraryFile and saves them as
// historyFile: the library's minor version 7, then IShape hidden. On a new
// library the second fails (IShape is missing).
inline void WriteTwoItemHistory(const std::filesystem::path& libraryFile, const std::filesystem::path& historyFile) {
    ComPtr<ITypeLib> file, unresolved;
    ASSERT_OK(LoadTypeLibEx(ole::FromUtf8(libraryFile.string()).c_str(), REGKIND_NONE, file.put()));
    const ComPtr<ITypeLib> loaded = modCorvaneExe::OpenLibraryForEditing(file.get(), false, unresolved);
    auto hub = std::make_shared<ChangeListener>();
    CustomTypeLib view;
    view.Attach(loaded.get());
    Playback recorder;
    recorder.ChangeListener(hub);
    recorder.CurrentITypeLib(loaded.get());
    const auto edit = [&](std::shared_ptr<IAttributeChange> captured, ChangeTarget target,
                          const std::function<void(IAttributeChange&)>& set) {
        captured->InitFromTarget(target);
        auto change = std::dynamic_pointer_cast<IAttributeChange>(captured->Clone());
        set(*change);
        ASSERT_TRUE(change->Apply(view, captured.get(), target, hub.get(), 0));
    };
    edit(modLibChange::NewLibChange(), changestest::LibraryTarget(view.ReadView().get()),
         [](IAttributeChange& c) { c.MinorVersion(7); });
    edit(modTypeChange::NewTypeChange(false), changestest::TypeTarget(view.ReadView().get(), u"IShape"),
         [](IAttributeChange& c) { c.SetFlags(TYPEFLAG_FHIDDEN, true); });
    ASSERT_TRUE(recorder.SaveState(ole::FromUtf8(historyFile.parent_path().string()),
                                   ole::FromUtf8(historyFile.filename().string())));
}

}  // namespace recordertest
