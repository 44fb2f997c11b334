// The main window: one library editor view filling it, and the File menu
// (New, Open, Save, Save As, New Recorder Window, Exit). It tracks whether the
// library has unsaved changes (every change that passes the hub counts), shows
// that in its caption, asks before discarding them (and keeps the library
// while an edit in the view is not yet updated), tells its history windows
// when the view enters or leaves edit mode, and attaches them to every library
// it opens or creates.
#pragma once

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "changes/hub/ChangeListenerHook.h"
#include "changes/hub/IChangeListenerNotifyDirty.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/tlbfiles/FileReplacement.h"
#include "shell/RecorderWindows.h"

class QAction;
class QMenu;

namespace zephrin {
class ChangeListener;
}

namespace zephrin::editor {
class LibraryViewer;
}

namespace zephrin::shell {

class frmCorvane final : public QMainWindow, private IChangeListenerNotifyDirty {
    Q_OBJECT

public:
    // Makes a new history window for editor (New Recorder Window).
    using RecorderWindowFactory = std::function<void(frmCorvane& editor)>;

    explicit frmCorvane(QWidget* parent = nullptr);
    ~frmCorvane() override;

    // Joins hub (a new one when null) and shows the window, which deletes
    // itself when closed. With libraryPath, opens that file, or library when
    // given (its companion library of unresolved types, or null, with it);
    // else with library, shows it as a new library; else the view is empty.
    // windows: the history windows working on this window's library, or null.
    // With destination (the -saveas file of a history opened from the command
    // line, or the file a batch run was to save), the library is not saved
    // there yet: the window names destination and shows unsaved changes, and
    // Save writes there, never over the library file that was read.
    void Init(std::shared_ptr<ChangeListener> hub, const std::u16string& libraryPath, ole::ITypeLib* library,
              ole::ITypeLib* unresolved, bool noBackupHelpString, SharedRecorderWindows windows,
              const std::u16string& destination = {});

    const SharedRecorderWindows& RecorderWindowList() const { return recorderWindows_; }
    void SetRecorderWindowList(SharedRecorderWindows windows) { recorderWindows_ = std::move(windows); }
    // Without a factory New Recorder Window does nothing.
    static void SetRecorderWindowFactory(RecorderWindowFactory factory);

    editor::LibraryViewer* Viewer() const { return libViewer_; }

    // The window's state.
    const std::u16string& Path() const { return path_; }
    bool Dirty() const { return dirty_; }
    bool CanSaveAs() const { return canSaveAs_; }
    bool WritableFile() const { return writableFile_; }
    // The library was made by New (or handed in as new), not opened from a
    // file: its history windows record its GUID.
    bool LibraryIsNew() const { return newLibrary_; }

    // The File menu's commands.
    enum class Command { New, Open, Save, SaveAs, NewRecorderWindow, Exit };
    QAction* Action(Command command) const;
    QMenu* FileMenu() const { return mnuFile_; }

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ItemChanged() override;
    void OnSetEditMode(bool editing);

    // Each returns quietly when the user cancels; errors are reported.
    void OpenLibrary(std::u16string path, ole::ITypeLib* library, ole::ITypeLib* unresolved);
    void NewLibrary(ole::ITypeLib* library);
    void TakeOverDestination(const std::u16string& destination);
    // Puts the focus on the tree, after a library was opened or created.
    void FocusTree();
    // After a file chooser: makes this window the active one, and tells a
    // reader of the tree's current node once it is.
    void ActivateAtTree();
    void AnnounceTreeNode();
    void Save();
    void SaveAs();
    void NewRecorderWindow();
    // True, saying so, while the view holds an edit not yet updated: what
    // would replace, close or save the library waits until it is updated or cancelled.
    bool RefusedForPendingEdit();
    // Asks whether to save the changes; false cancels what asked.
    bool QuerySaveChanges();
    void UpdateCaption();
    void SetDirty(bool value);
    void UpdateCommands();
    void AttachRecorders();
    // Leaves the hub and lets the history windows edit again.
    void Unload();

    editor::LibraryViewer* libViewer_ = nullptr;
    QMenu* mnuFile_ = nullptr;
    QAction* actions_[6] = {};

    std::u16string path_;
    // The version of path_ that was read or last saved: Save is refused when
    // another program changed, replaced or removed it meanwhile (Save As
    // writes the file the user chose as it is).
    std::optional<ole::FileIdentity> identity_;
    bool dirty_ = false;
    bool canSaveAs_ = false;
    bool writableFile_ = false;
    bool newLibrary_ = false;
    bool unloaded_ = false;
    bool announceNode_ = false;  // the tree's node is told when the window is next active
    ChangeListenerHook dirtyHook_;
    SharedRecorderWindows recorderWindows_;
};

// Opens a main window as the command line asks (the library file at
// libraryPath, or none; with newLibrary, a new library) and runs the windows
// until the last one closes; returns the exit code. A QApplication must exist.
int RunEditor(const std::string& libraryPath, bool newLibrary, bool dontBackUpHelpString);

// The bare names "stdole2.tlb" and "stdole32.tlb" (in any case), which open
// the built-in libraries rather than files of those names.
bool IsBuiltInLibraryName(std::u16string_view path);

}  // namespace zephrin::shell
