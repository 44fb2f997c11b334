// The Library Edit History window: a toolbar of history commands over the
// history list, with a File menu to start, open and save histories. It owns,
// through its list, one history engine that records the changes made through
// the main window's hub, replays them, and saves and loads them. The engine
// shows the window through IPlaybackUIActivation; the window learns that its
// history changed through IChangeListenerNotifyDirty.
//
// A window is opened from the main window (InitFromEditor), from the command
// line with /activate, or by a batch run that stopped or failed (RunHistory,
// ShowAfterBatchError). A window opened from the command line opens a main
// window of its own when its engine first shows it.
#pragma once

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/modCorvaneExe.h"
#include "changes/history/INameChooser.h"
#include "changes/history/IPlaybackUIActivation.h"
#include "changes/hub/ChangeListenerHook.h"
#include "changes/hub/IChangeListenerNotifyDirty.h"
#include "shell/RecorderWindows.h"

class QAction;
class QMenu;
class QToolBar;

namespace zephrin {
class Playback;
}

namespace zephrin::shell {

class Recorder;

class frmRecorder : public QMainWindow,
                    public IPlaybackUIActivation,
                    public IChangeListenerNotifyDirty,
                    public IRecorderWindow,
                    public INameChooser,
                    public modCorvaneExe::IHistoryWindow {
    Q_OBJECT

public:
    // The toolbar's buttons, by the command or file operation they run.
    enum class Button { Run, Step, RunToCursor, SetNextStatement, ToggleBreakpoint, ClearBreakpoints, Delete, Save, Revert };

    // Opens the main window of a history window opened from the command line
    // (hub, library path, library, unresolved-types library, don't back up
    // help strings, the window list holding the history window, and the
    // -saveas file or the file a batch run saves to); by default a new frmCorvane
    // (tests count them instead).
    using EditorOpener = std::function<void(std::shared_ptr<ChangeListener>, const std::u16string&, ole::ITypeLib*,
                                            ole::ITypeLib*, bool, SharedRecorderWindows, const std::u16string&)>;
    static void SetEditorOpener(EditorOpener opener);
    // Shows the choose-name dialog for a replayed change whose target is
    // missing: the index of the chosen entry, or nothing when cancelled. By
    // default frmChooseName, application-modal.
    using NameDialog = std::function<std::optional<size_t>(QWidget* owner, const ChooseNameRequest&)>;
    static void SetNameDialog(NameDialog dialog);
    // True while a history window's engine runs a command: the program's
    // windows don't close then.
    static bool EngineRunning();

    explicit frmRecorder(QWidget* parent = nullptr);
    ~frmRecorder() override;

    // Opens the window on the main window's hub and library (isNew: made
    // new, not opened from a file), with a new, empty history that records
    // every change from now on. windows is created when null, and the window
    // joins it.
    void InitFromEditor(SharedRecorderWindows& windows, std::shared_ptr<ChangeListener> hub, ole::ITypeLib* library,
                        bool isNew = false);

    // ---- IHistoryWindow (the command line's ways) ----
    ole::ComPtr<ole::ITypeLib> RunHistory(const std::string& historyPath, const std::string& libraryPath,
                                          ole::ITypeLib* library, bool activate, bool dontBackUpHelpString,
                                          ole::ComPtr<ole::ITypeLib>& unresolvedTypes) override;
    void ShowAfterBatchError() override;
    void BatchDestination(const std::string& path) override;

    // ---- IRecorderWindow (the main window) ----
    void AttachLibrary(ole::ITypeLib* library, ole::ITypeLib* unresolved, bool isNew) override;
    void InEditMode(bool editing) override;

    // ---- IPlaybackUIActivation ----
    IPlaybackUI* ActivateUI(IPlayback& playback, bool& runPending) override;
    // ---- IChangeListenerNotifyDirty ----
    void ItemChanged() override;
    // ---- INameChooser (the list's UIOwner) ----
    std::optional<size_t> ChooseName(const ChooseNameRequest& request) override;

    // ---- Reached by the tests ----
    Recorder* List() const { return recorder_; }
    QAction* ButtonAction(Button button) const;
    QMenu* FileMenu() const { return fileMenu_; }
    QAction* MenuAction(int item) const;  // 0 New, 1 Open, 2 Save, 3 Save As, 5 Close
    const std::shared_ptr<Playback>& Engine() const { return engine_; }
    const SharedRecorderWindows& Windows() const { return windows_; }
    const std::u16string& HistoryPath() const { return historyPath_; }
    bool Dirty() const { return dirty_; }
    int32_t CommandMask() const { return mask_; }

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void BuildToolbar();
    // The button pictures follow the palette.
    void ReloadButtonIcons();
    // Runs a command of the engine; a run's own changes leave dirty alone.
    bool ExecuteCommand(int32_t command, int32_t index, PlaybackItem item);
    void RunGuarded(int32_t command, int32_t index, PlaybackItem item);
    bool HandleKey(QKeyEvent* event);
    void SelectionChanged(int index, PlaybackItem item);
    void RunPending();
    bool SaveHistory(bool saveAs, bool prompt);
    void NewHistory();
    void OpenHistory();
    // After a file chooser: makes this window the active one, and tells a
    // reader of the list's current line once it is.
    void ActivateAtList();
    void AnnounceList();
    void RevertHistory();
    // Says that a run, waiting on a dialog, holds the history.
    void TellRunning();
    void RefreshCommandButtons();
    void RefreshSaveButtons();
    void UpdateCaption();
    void SetDirty(bool value);
    void Unbind() noexcept;

    Recorder* recorder_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QAction* menu_[6] = {};
    QAction* buttons_[9] = {};
    SharedRecorderWindows windows_;
    std::shared_ptr<Playback> engine_;
    bool keptEngine_ = false;  // a batch run that reached its end, for ShowAfterBatchError
    ChangeListenerHook dirtyHook_;
    int32_t mask_ = 0;
    bool inEditMode_ = false;
    bool dirty_ = false;
    int listIndex_ = -1;
    PlaybackItem itemData_ = 0;
    bool executing_ = false;
    bool runPending_ = false;
    bool announceList_ = false;  // the list's line is told when the window is next active
    bool noBackupHelpString_ = false;
    std::u16string historyPath_;
    std::u16string libraryPath_;
    std::u16string destination_;  // -saveas, or a batch run's file: where its main window saves
};

// Makes the main window's New Recorder Window open a history window.
void InstallRecorderWindows();

}  // namespace zephrin::shell
