#include "shell/frmRecorder.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QKeyEvent>
#include <QKeySequence>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include <cstdio>
#include <filesystem>
#include <utility>

#include "changes/history/Playback.h"
#include "changes/history/PlaybackCommand.h"
#include "dialogs/AccessibleChanges.h"
#include "dialogs/UiServices.h"
#include "editor/view/LibraryViewer.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "platform/automation/BStr.h"
#include "shell/Recorder.h"
#include "shell/frmChooseName.h"
#include "shell/frmCorvane.h"
#include "shell/modCorvaneExeDialogs.h"

namespace zephrin::shell {

using dialogs::FromQString;
using dialogs::ResText;
using dialogs::Services;
using dialogs::ToQString;

namespace {

constexpr int32_t kStyleOkCancelInformation = 1 | dialogs::kStyleInformation;  // 65

// The commands of the toolbar's buttons, in button order (0: a file operation).
constexpr int32_t kButtonCommands[9] = {kCmdRun,         kCmdStep,   kCmdRunToCursor, kCmdSetNextStatement,
                                        kCmdToggleBreakpoint, kCmdClearBreakpoints, kCmdDelete, 0, 0};
// Only the breakpoint commands stay while the main window's view is editing.
constexpr int32_t kEditModeCommands = 0xFE30;
constexpr int32_t kMsgRunning = 179;

// The keys of the list's menu commands, in menu order (Run to Select
// Target), as the window handles them: the menu shows them.
const QKeySequence kCommandKeys[9] = {
    QKeySequence(Qt::Key_F5),
    QKeySequence(Qt::Key_F8),
    QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F8),
    QKeySequence(),  // Set Next Statement: Ctrl+F9 selects the target
    QKeySequence(Qt::Key_F9),
    QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F9),
    QKeySequence(Qt::Key_Delete),
    QKeySequence(Qt::SHIFT | Qt::Key_F5),
    QKeySequence(Qt::CTRL | Qt::Key_F9),
};

// Shows key beside a menu's command. The window's key handling runs it; bound
// to the menu's own widget, the shortcut matches only where that handling
// doesn't see the key (a focused menu bar), so a key runs its command once.
// An open menu takes no such key.
void ShowKey(QAction* action, const QKeySequence& key) {
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetShortcut);
    action->setShortcutVisibleInContextMenu(true);
}

frmRecorder::EditorOpener& Opener() {
    static frmRecorder::EditorOpener opener;
    return opener;
}

frmRecorder::NameDialog& ChooseNameDialog() {
    static frmRecorder::NameDialog dialog;
    return dialog;
}

int& RunningCount() {
    static int count = 0;
    return count;
}

std::string Utf8(const std::u16string& text) { return ole::ToUtf8(text); }

// Splits a history path into the folder and file name the engine takes.
void Split(const std::u16string& path, std::u16string& folder, std::u16string& file) {
    std::string f, name;
    modCorvaneExe::SplitPath(Utf8(path), f, name);
    folder = ole::FromUtf8(f);
    file = ole::FromUtf8(name);
}

// The button images. The run commands are drawn here, a green triangle and
// bars and carets of the palette's text colour, the breakpoint commands from
// the list's own glyphs; the others are the style's coloured pictures.
// The "»" of the button a narrow window shows for the buttons that don't fit,
// in the palette's text colour: the style's own is a dark grey that a dark
// palette hides.
QIcon MoreButtonIcon(const QWidget& window) {
    const QColor ink = window.palette().color(QPalette::Active, QPalette::WindowText);
    QIcon icon;
    for (qreal scale : {1.0, 2.0}) {
        QPixmap pixmap(QSize(12, 12) * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(ink, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        for (qreal left : {2.0, 6.5})
            painter.drawPolyline(QPolygonF({QPointF(left, 2.5), QPointF(left + 3.5, 6), QPointF(left, 9.5)}));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon ButtonIcon(QWidget& window, int button) {
    QStyle* style = window.style();
    switch (button) {
        case 3: return style->standardIcon(QStyle::SP_ArrowRight, nullptr, &window);
        case 6: return style->standardIcon(QStyle::SP_TrashIcon, nullptr, &window);
        case 7: return style->standardIcon(QStyle::SP_DialogSaveButton, nullptr, &window);
        case 8: return style->standardIcon(QStyle::SP_BrowserReload, nullptr, &window);
        default: break;
    }
    const QPalette& palette = window.palette();
    const QColor ink = palette.color(QPalette::Active, QPalette::WindowText);
    const bool dark = palette.color(QPalette::Active, QPalette::Window).lightness() < 128;
    QIcon icon;
    for (qreal scale : {1.0, 2.0}) {
        QPixmap pixmap(QSize(16, 16) * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const auto triangle = [&](qreal left, qreal right) {
            QPolygonF shape({QPointF(left, 2.5), QPointF(right, 8), QPointF(left, 13.5)});
            painter.setPen(QPen(dark ? QColor(170, 235, 170) : QColor(20, 90, 30), 1));
            painter.setBrush(QColor(40, 170, 60));
            painter.drawPolygon(shape);
        };
        painter.setPen(QPen(ink, 1.6));
        switch (button) {
            case 0: triangle(3.5, 13); break;  // Run
            case 1:                            // Step: one step and a bar
                triangle(2.5, 10);
                painter.setPen(QPen(ink, 2));
                painter.drawLine(QPointF(13, 3), QPointF(13, 13));
                break;
            case 2:  // Run to Cursor: a run up to a text caret
                triangle(1.5, 8.5);
                painter.setPen(QPen(ink, 1.4));
                painter.drawLine(QPointF(12.5, 2.5), QPointF(12.5, 13.5));
                painter.drawLine(QPointF(10.5, 2.5), QPointF(14.5, 2.5));
                painter.drawLine(QPointF(10.5, 13.5), QPointF(14.5, 13.5));
                break;
            default: {  // the breakpoint commands
                const QRectF box(0.5, 2.5, Recorder::kGlyphWidth, Recorder::kGlyphHeight);
                Recorder::PaintGlyph(painter, box, kGlyphBreakpoint, palette);
                if (button == 5) {  // clear all: the disc struck through
                    painter.setPen(QPen(ink, 1.6));
                    painter.drawLine(QPointF(2, 14), QPointF(14, 2));
                }
                break;
            }
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// The main window of a history window opened from the command line.
void OpenEditorWindow(std::shared_ptr<ChangeListener> hub, const std::u16string& libraryPath, ole::ITypeLib* library,
                      ole::ITypeLib* unresolved, bool noBackupHelpString, SharedRecorderWindows windows,
                      const std::u16string& destination) {
    auto* editor = new frmCorvane;
    editor->Init(std::move(hub), libraryPath, library, unresolved, noBackupHelpString, std::move(windows),
                 destination);
}

}  // namespace

void InstallRecorderWindows() {
    frmCorvane::SetRecorderWindowFactory([](frmCorvane& editor) {
        SharedRecorderWindows windows = editor.RecorderWindowList();
        auto* window = new frmRecorder;
        try {
            window->InitFromEditor(windows, editor.Viewer()->HubListener(), editor.Viewer()->CurrentITypeLib().get(),
                                   editor.LibraryIsNew());
        } catch (...) {
            delete window;
            throw;
        }
        editor.SetRecorderWindowList(windows);
    });
}

void frmRecorder::SetEditorOpener(EditorOpener opener) { Opener() = std::move(opener); }
void frmRecorder::SetNameDialog(NameDialog dialog) { ChooseNameDialog() = std::move(dialog); }
bool frmRecorder::EngineRunning() { return RunningCount() > 0; }

frmRecorder::frmRecorder(QWidget* parent) : QMainWindow(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    recorder_ = new Recorder(this);
    recorder_->SetNameChooser(this);
    setCentralWidget(recorder_);
    BuildMenus();
    BuildToolbar();
    connect(recorder_, &Recorder::SelectionChanged, this, &frmRecorder::SelectionChanged);
    connect(recorder_, &Recorder::InterventionRequired, this, [this] { SetDirty(true); });
    connect(recorder_, &Recorder::DeleteCommand, this, [this] { SetDirty(true); });
    connect(recorder_, &Recorder::CommandRequested, this,
            [this](int command, int index, PlaybackItem item) { RunGuarded(command, index, item); });
    recorder_->ListView()->installEventFilter(this);
    const QFontMetrics metrics(font());
    resize(metrics.averageCharWidth() * 60, metrics.height() * 24);
    RefreshCommandButtons();
    RefreshSaveButtons();
    UpdateCaption();
}

frmRecorder::~frmRecorder() { Unbind(); }

void frmRecorder::BuildMenus() {
    fileMenu_ = menuBar()->addMenu(ResText(101));
    const int32_t captions[6] = {102, 103, 104, 105, 0, 160};
    for (int i = 0; i < 6; ++i) {
        if (captions[i] == 0) {
            menu_[i] = fileMenu_->addSeparator();
            continue;
        }
        menu_[i] = fileMenu_->addAction(ResText(captions[i]));
    }
    connect(menu_[0], &QAction::triggered, this, [this] { dialogs::Guarded(this, [this] { NewHistory(); }); });
    connect(menu_[1], &QAction::triggered, this, [this] { OpenHistory(); });
    connect(menu_[2], &QAction::triggered, this, [this] { SaveHistory(false, false); });
    connect(menu_[3], &QAction::triggered, this, [this] { SaveHistory(true, false); });
    connect(menu_[5], &QAction::triggered, this, &QWidget::close);
    connect(fileMenu_, &QMenu::aboutToShow, this,
            [this] { menu_[2]->setEnabled(!historyPath_.empty() && dirty_); });
    ShowKey(menu_[2], QKeySequence(Qt::CTRL | Qt::Key_S));
    const QList<QAction*> commands = recorder_->ContextMenu()->actions();
    for (int i = 0; i < 9 && i < commands.size(); ++i) ShowKey(commands[i], kCommandKeys[i]);
}

void frmRecorder::BuildToolbar() {
    toolbar_ = addToolBar(QString());
    toolbar_->setObjectName(QStringLiteral("Commands"));
    // Its buttons stay out of the Tab chain: each command has its key.
    toolbar_->setAccessibleName(QStringLiteral("Commands"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->toggleViewAction()->setVisible(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    for (int i = 0; i < 9; ++i) {
        if (i == 4 || i == 6 || i == 7) toolbar_->addSeparator();
        QAction* action = toolbar_->addAction(QString());
        const QString tip = ResText(150 + i);
        action->setToolTip(tip);
        // Said without the key, which a screen reader reads from the tooltip.
        action->setText(tip.left(tip.indexOf(QLatin1String(" ("))));
        buttons_[i] = action;
        if (i < 7) {
            const int32_t command = kButtonCommands[i];
            connect(action, &QAction::triggered, this, [this, command] { RunGuarded(command, listIndex_, itemData_); });
        }
    }
    // The "»" button a narrow window shows for the buttons that don't fit.
    if (auto* more = toolbar_->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"))) {
        more->setAccessibleName(QStringLiteral("More commands"));
        more->setToolTip(more->accessibleName());
    }
    ReloadButtonIcons();
    connect(buttons_[7], &QAction::triggered, this, [this] { SaveHistory(false, false); });
    connect(buttons_[8], &QAction::triggered, this, [this] { RevertHistory(); });
}

void frmRecorder::ReloadButtonIcons() {
    for (int i = 0; i < 9; ++i) buttons_[i]->setIcon(ButtonIcon(*this, i));
    if (auto* more = toolbar_->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        more->setIcon(MoreButtonIcon(*this));
}

void frmRecorder::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) ReloadButtonIcons();
    if (event->type() == QEvent::ActivationChange && announceList_ && isActiveWindow()) AnnounceList();
    // The title names the history and whether it is saved: a reader hears it
    // change while the window shows.
    if (event->type() == QEvent::WindowTitleChange && isVisible()) {
        QAccessibleEvent renamed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&renamed);
    }
}

QAction* frmRecorder::ButtonAction(Button button) const { return buttons_[static_cast<int>(button)]; }

QAction* frmRecorder::MenuAction(int item) const { return item >= 0 && item < 6 ? menu_[item] : nullptr; }

// ---- Opening ----

void frmRecorder::InitFromEditor(SharedRecorderWindows& windows, std::shared_ptr<ChangeListener> hub,
                                 ole::ITypeLib* library, bool isNew) {
    if (!windows) windows = std::make_shared<RecorderWindows>();
    windows->Add(this);
    windows_ = windows;
    engine_ = std::make_shared<Playback>();
    engine_->UIActivator(this);
    engine_->ChangeListener(std::move(hub));
    engine_->CurrentITypeLib(library);
    engine_->LibraryIsNew(isNew);
    engine_->ActivateUI();
    show();
}

ole::ComPtr<ole::ITypeLib> frmRecorder::RunHistory(const std::string& historyPath, const std::string& libraryPath,
                                                   ole::ITypeLib* library, bool activate, bool dontBackUpHelpString,
                                                   ole::ComPtr<ole::ITypeLib>& unresolvedTypes) {
    noBackupHelpString_ = dontBackUpHelpString;
    std::string folder, file;
    modCorvaneExe::SplitPath(historyPath, folder, file);
    historyPath_ = ole::FromUtf8(folder.empty() ? (std::filesystem::current_path() / historyPath).string() : historyPath);
    // A new library is not the file named beside it: its main window never names it.
    libraryPath_ = library ? std::u16string() : ole::FromUtf8(libraryPath);
    runPending_ = !activate;
    UpdateCaption();
    modCorvaneExe::HistoryRunOptions options;
    options.Activator = this;
    options.Activate = activate;
    options.Engine = &engine_;
    ole::ComPtr<ole::ITypeLib> result =
        modCorvaneExe::RunHistory(historyPath, libraryPath, library, dontBackUpHelpString, unresolvedTypes, options);
    if (result) {
        keptEngine_ = true;
        return result;
    }
    show();
    return nullptr;
}

void frmRecorder::BatchDestination(const std::string& path) { destination_ = ole::FromUtf8(path); }

void frmRecorder::ShowAfterBatchError() {
    if (!keptEngine_ || !engine_) return;
    keptEngine_ = false;
    engine_->ActivateUI();
    show();
    engine_->ExecuteCommand(kCmdSetNextStatement, -1, 0);
}

IPlaybackUI* frmRecorder::ActivateUI(IPlayback& playback, bool& runPending) {
    if (&playback != engine_.get()) RaiseError(kErrInvalidArgument);  // only its own engine binds a window
    dirtyHook_.AttachDirtyOnly(engine_->ChangeListener(), this);
    if (!windows_) {
        // Opened from the command line: the history gets a main window.
        windows_ = std::make_shared<RecorderWindows>();
        windows_->Add(this);
        (Opener() ? Opener() : OpenEditorWindow)(engine_->ChangeListener(), libraryPath_,
                                                 engine_->CurrentITypeLib().get(), engine_->UnresolvedITypeLib().get(),
                                                 noBackupHelpString_, windows_, destination_);
    }
    recorder_->SetPlayback(engine_);
    recorder_->CommandFilter(kCmdRun | kCmdStep | kCmdRunToCursor | kCmdSetNextStatement | kCmdToggleBreakpoint |
                             kCmdClearBreakpoints | kCmdDelete | kCmdSelectTarget);  // 383: all but Restart
    runPending = runPending_;
    return recorder_;
}

void frmRecorder::AttachLibrary(ole::ITypeLib* library, ole::ITypeLib* unresolved, bool isNew) {
    if (!engine_) return;
    engine_->AttachITypeLib(library);
    engine_->LibraryIsNew(isNew);
    engine_->UnresolvedITypeLib(unresolved);
    recorder_->ListIndex(0);
    InEditMode(false);
}

void frmRecorder::InEditMode(bool editing) {
    inEditMode_ = editing;
    recorder_->setEnabled(!editing);
    RefreshCommandButtons();
    RefreshSaveButtons();
}

void frmRecorder::ItemChanged() {
    if (!executing_) SetDirty(true);
}

std::optional<size_t> frmRecorder::ChooseName(const ChooseNameRequest& request) {
    if (ChooseNameDialog()) return ChooseNameDialog()(this, request);
    // The run waits for the answer: no window of the program takes input meanwhile.
    frmChooseName dialog(this);
    dialog.setWindowModality(Qt::ApplicationModal);
    return dialog.ChooseName(request);
}

// ---- Events ----

void frmRecorder::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (recorder_->isEnabled()) recorder_->setFocus();
    // The run waits until the window shows where the platform placed it: it
    // may ask for a name or say where it stopped, in a box over this window,
    // which would open in the screen's corner over a window not yet placed.
    if (!runPending_) return;
    if (QWindow* handle = windowHandle(); handle && !handle->isExposed())
        handle->installEventFilter(this);
    else
        QTimer::singleShot(0, this, [this] { RunPending(); });
}

void frmRecorder::RunPending() {
    if (!runPending_ || !engine_) return;
    runPending_ = false;
    if (EngineRunning()) {
        Services().Beep();
        return;
    }
    // The batch run stopped and handed its history over: what stops the run
    // now is told with the item, as the run without a window tells it.
    dialogs::Guarded(this, [&] {
        try {
            ExecuteCommand(kCmdRun, -1, 0);
        } catch (...) {
            ErrorRecord error = CurrentErrorRecord();
            if (engine_) modCorvaneExe::NameStoppedItem(*engine_, error);
            throw error;
        }
    });
}

void frmRecorder::closeEvent(QCloseEvent* event) {
    if (EngineRunning()) {  // a run waits for a dialog
        TellRunning();
        event->ignore();
        return;
    }
    if (dirty_ && !SaveHistory(false, true)) {
        event->ignore();
        return;
    }
    Unbind();
    event->accept();
}

void frmRecorder::Unbind() noexcept {
    try {
        if (windows_) windows_->Remove(this);
        if (engine_) {
            // The list goes first, so that emptying the history never reaches it.
            engine_->UIActivator(nullptr);
            engine_->ChangeListener(nullptr);
        }
        dirtyHook_.AttachDirtyOnly(nullptr, this);
        recorder_->SetPlayback(nullptr);
        engine_.reset();
        keptEngine_ = false;
    } catch (...) {
        // Leaving the hub can't fail in a way the closing window could mend.
    }
}

void frmRecorder::mousePressEvent(QMouseEvent* event) {
    QMainWindow::mousePressEvent(event);
    Services().Beep();
}

bool frmRecorder::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed()) {
        windowHandle()->removeEventFilter(this);
        QTimer::singleShot(0, this, [this] { RunPending(); });
    }
    if (watched == recorder_->ListView() && event->type() == QEvent::KeyPress &&
        HandleKey(static_cast<QKeyEvent*>(event)))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void frmRecorder::keyPressEvent(QKeyEvent* event) {
    if (!HandleKey(event)) QMainWindow::keyPressEvent(event);
}

bool frmRecorder::HandleKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const bool none = mods == Qt::NoModifier, shift = mods == Qt::ShiftModifier, ctrl = mods == Qt::ControlModifier,
               ctrlShift = mods == (Qt::ControlModifier | Qt::ShiftModifier);
    int32_t command = 0;
    bool notInEditMode = true;
    switch (event->key()) {
        case Qt::Key_F5: command = none ? kCmdRun : shift ? kCmdRestart : 0; break;
        case Qt::Key_F8: command = none ? kCmdStep : ctrlShift ? kCmdRunToCursor : 0; break;
        case Qt::Key_F9:
            command = none ? kCmdToggleBreakpoint : ctrl ? kCmdSelectTarget : ctrlShift ? kCmdClearBreakpoints : 0;
            notInEditMode = command == kCmdSelectTarget;
            break;
        case Qt::Key_Delete:
            if (ctrl) {
                if (historyPath_.empty()) return true;
                if (inEditMode_)
                    editor::LibraryViewer::TellEditPending(this);
                else
                    RevertHistory();
                return true;
            }
            command = none ? kCmdDelete : 0;
            break;
        case Qt::Key_S:
            if (!ctrl) return false;
            SaveHistory(false, false);
            return true;
        default: return false;
    }
    if (command == 0) return false;
    if (notInEditMode && inEditMode_) {
        // The main window's view holds an edit not yet updated: a run would
        // change the library under it. Refused as the view's tree and tabs refuse.
        editor::LibraryViewer::TellEditPending(this);
        return true;
    }
    if (!(mask_ & command)) return true;
    RunGuarded(command, listIndex_, itemData_);
    return true;
}

void frmRecorder::SelectionChanged(int index, PlaybackItem item) {
    dialogs::Guarded(this, [&] { mask_ = engine_ ? engine_->EnabledCommands(index, item) : 0; });
    listIndex_ = index;
    itemData_ = item;
    RefreshCommandButtons();
}

// ---- Commands ----

bool frmRecorder::ExecuteCommand(int32_t command, int32_t index, PlaybackItem item) {
    if (!engine_) return false;
    struct Running {
        bool& executing;
        explicit Running(bool& e, bool value) : executing(e) {
            executing = value;
            ++RunningCount();
        }
        ~Running() {
            executing = false;
            --RunningCount();
        }
    } running(executing_, command != kCmdDelete);
    return engine_->ExecuteCommand(command, index, item);
}

void frmRecorder::RunGuarded(int32_t command, int32_t index, PlaybackItem item) {
    if (EngineRunning()) {  // one run at a time
        TellRunning();
        return;
    }
    dialogs::Guarded(this, [&] { ExecuteCommand(command, index, item); });
}

void frmRecorder::TellRunning() {
    Services().MessageBox(this, ResText(kMsgRunning), dialogs::kStyleExclamation);
}

void frmRecorder::RefreshCommandButtons() {
    const int32_t mask = inEditMode_ ? (mask_ & kEditModeCommands) : mask_;
    for (int i = 0; i < 7; ++i) buttons_[i]->setEnabled(engine_ && (mask & kButtonCommands[i]) != 0);
}

void frmRecorder::RefreshSaveButtons() {
    buttons_[7]->setEnabled(dirty_);
    buttons_[8]->setEnabled(!historyPath_.empty() && dirty_ && !inEditMode_);
}

void frmRecorder::UpdateCaption() {
    const std::u16string path = historyPath_.empty() ? modSupport::LoadResStringById(165) : historyPath_;
    const std::u16string mark = !historyPath_.empty() && dirty_ ? modSupport::LoadResStringById(118) : u"";
    setWindowTitle(ToQString(modSupport::LoadResStringFormat(161, {path, mark})));
}

void frmRecorder::SetDirty(bool value) {
    if (value == dirty_) return;
    dirty_ = value;
    RefreshSaveButtons();
    UpdateCaption();
}

// ---- Files ----

bool frmRecorder::SaveHistory(bool saveAs, bool prompt) {
    bool result = false;
    dialogs::Guarded(this, [&] {
        if (!engine_) return;
        if (prompt) {
            const std::u16string name = historyPath_.empty() ? modSupport::LoadResStringById(165) : historyPath_;
            const dialogs::MessageAnswer answer = Services().MessageBox(
                this, ToQString(modSupport::LoadResStringFormat(116, {name})), dialogs::kStyleYesNoCancelQuestion);
            if (answer == dialogs::kAnswerCancel) return;
            if (answer == dialogs::kAnswerNo) {
                result = true;
                return;
            }
        }
        if (historyPath_.empty()) saveAs = true;
        std::u16string name = historyPath_;
        if (saveAs) {
            name = FromQString(GetSaveLehFileName(this, ToQString(historyPath_)));
            if (name.empty()) return;
        }
        std::u16string folder, file;
        bool saved = false;
        for (;;) {
            Split(name, folder, file);
            // A file the user chose, and agreed to replace, is written as it
            // is now, be it the history's own.
            if (saveAs) {
                saved = engine_->SaveStateReplacing(folder, file);
                break;
            }
            // What another writer saved since the history was read or saved
            // is never overwritten by a save (the engine refuses it also when
            // it comes in while the history is written): the user may choose.
            if (!engine_->FileChanged(folder, file)) {
                try {
                    saved = engine_->SaveState(folder, file);
                    break;
                } catch (const ErrorRecord&) {
                    if (!engine_->FileChanged(folder, file)) throw;
                }
            }
            if (Services().MessageBox(this, ToQString(modSupport::LoadResStringFormat(174, {name})),
                                      dialogs::kStyleYesNo | dialogs::kStyleExclamation) != dialogs::kAnswerYes)
                return;
            name = FromQString(GetSaveLehFileName(this, ToQString(name)));
            if (name.empty()) return;
            saveAs = true;
        }
        bool deleted = false;
        if (!saved) {
            bool readOnly = false, directory = false;
            if (modCorvaneExe::GetFileFlags(Utf8(name), readOnly, directory)) {
                const dialogs::MessageAnswer answer =
                    Services().MessageBox(this, ToQString(modSupport::LoadResStringFormat(166, {file})),
                                          dialogs::kStyleYesNoQuestionNoDefault);
                if (answer == dialogs::kAnswerYes) {
                    std::error_code ec;
                    if (!std::filesystem::remove(Utf8(name), ec) && ec)
                        RaiseError(kErrPathFileAccess, ole::FromUtf8("'" + Utf8(name) + "' can't be deleted: " +
                                                                     ec.message() + "."));
                    deleted = true;
                    // The history, empty, belongs to no file now, as a new one:
                    // a later save may take the name again.
                    engine_->ClearState();
                }
            } else {
                Services().MessageBox(this, ToQString(modSupport::LoadResStringFormat(167, {file})),
                                      kStyleOkCancelInformation);
            }
        }
        // An empty history names no file; a deleted one no longer exists.
        if (deleted)
            historyPath_.clear();
        else if (saved && saveAs)
            historyPath_ = name;
        result = true;
        dirty_ = true;
        SetDirty(false);
        UpdateCaption();
    });
    return result;
}

void frmRecorder::NewHistory() {
    if (dirty_ && !SaveHistory(false, true)) return;
    if (!engine_) return;
    engine_->ClearState();
    historyPath_.clear();
    dirty_ = true;
    SetDirty(false);
}

void frmRecorder::OpenHistory() {
    dialogs::Guarded(this, [&] {
        if (dirty_ && !SaveHistory(false, true)) return;
        if (!engine_) return;
        const std::u16string name =
            FromQString(ShowOpenFileDialog(this, kFilterHistory, kTitleOpenHistory, OpenHistoryHook));
        if (name.empty()) return;
        std::u16string folder, file;
        Split(name, folder, file);
        engine_->LoadState(folder, file);
        historyPath_ = name;
        dirty_ = true;
        SetDirty(false);
        ActivateAtList();
    });
}

void frmRecorder::ActivateAtList() {
    // The chooser that closed left the active window to the platform, which
    // may make none active, or the main window. The user goes on here, from
    // the history's first line, and a reader hears so once the window is active.
    if (recorder_->isEnabled()) recorder_->setFocus(Qt::OtherFocusReason);
    announceList_ = true;
    activateWindow();
    if (isActiveWindow()) AnnounceList();
}

void frmRecorder::AnnounceList() {
    // After the events of the activation and of the focus it gives back.
    QTimer::singleShot(0, this, [this] {
        if (!isActiveWindow() || !std::exchange(announceList_, false)) return;
        dialogs::TellWindowActive(this);
        dialogs::TellFocusedItem(recorder_->ListView());
    });
}

void frmRecorder::RevertHistory() {
    dialogs::Guarded(this, [&] {
        if (dirty_ && !SaveHistory(false, true)) return;
        if (!engine_ || historyPath_.empty()) return;
        std::u16string folder, file;
        Split(historyPath_, folder, file);
        engine_->LoadState(folder, file);
        dirty_ = true;
        SetDirty(false);
    });
}

}  // namespace zephrin::shell
